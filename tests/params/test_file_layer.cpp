// The file layer: pending outputs, "is this output an input?", side-car
// names, the strict offset-file reader and the raw sample encoding.
#include "params/file_error.h"
#include "params/file_naming.h"
#include "params/offset_file.h"
#include "params/output_check.h"
#include "params/pending_output.h"
#include "params/sample_bytes.h"
#include "tests/support/scratch.h"

#include <cmath>
#include <csignal>
#include <sys/wait.h>

namespace {

using namespace scratch;

TEST(PendingOutput, NothingReachesTheTargetUnlessCommitted) {
    const std::string dir = fresh_test_dir(), target = dir + "/out";
    write_bytes(target, "old");
    {
        PendingOutput output(target);
        output.write("new", 3);
        EXPECT_EQ(read_bytes(target), "old");
    }
    EXPECT_EQ(read_bytes(target), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    PendingOutput output(target);
    output.write("new", 3);
    output.commit();
    EXPECT_EQ(read_bytes(target), "new");
}

TEST(PendingOutput, CommitTogetherUndoesTheRenamesBeforeAFailedOne) {
    const std::string dir = fresh_test_dir();
    fs::create_directories(dir + "/blocked/inside"); // a rename cannot replace it
    PendingOutput first(dir + "/first"), second(dir + "/blocked");
    EXPECT_THROW(commit_together({&first, &second}), FileError);
    EXPECT_FALSE(fs::exists(dir + "/first"));
}

TEST(PendingOutput, ASignalRemovesTheTemporaryAndStillEndsTheProcess) {
    const std::string dir = fresh_test_dir();
    for (int signal : {SIGINT, SIGTERM}) {
        const pid_t child = ::fork();
        if (child == 0) {
            remove_pending_outputs_on_signals();
            PendingOutput output(dir + "/out");
            output.write("partial", 7);
            std::raise(signal);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
        EXPECT_TRUE(fs::is_empty(dir));
    }
}

TEST(OutputCheck, AFileIsTheSameWhateverItsSpelling) {
    const std::string dir = fresh_test_dir();
    write_bytes(dir + "/s.slc", "slave");
    fs::create_directory(dir + "/sub");
    fs::create_directory_symlink(dir + "/sub", dir + "/link");
    fs::create_hard_link(dir + "/s.slc", dir + "/hard.slc");
    EXPECT_TRUE(same_file(dir + "/./s.slc", dir + "/s.slc"));
    EXPECT_TRUE(same_file(dir + "/sub/../s.slc", dir + "/s.slc"));
    EXPECT_TRUE(same_file(dir + "/hard.slc", dir + "/s.slc"));
    EXPECT_TRUE(same_file(dir + "/link/new", dir + "/sub/new")); // neither exists yet
    EXPECT_FALSE(same_file(dir + "/sub/new", dir + "/new"));
    EXPECT_FALSE(same_file(dir + "/s.slc", dir + "/sub/s.slc"));
    try {
        check_outputs_are_not_inputs({{dir + "/out", "output"}, {dir + "/link/../s.slc", "mask"}},
                                     {{dir + "/s.slc", "slave image"}});
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.file(), dir + "/link/../s.slc");
        EXPECT_EQ(e.problem(), "the mask would overwrite the slave image " + dir + "/s.slc");
    }
    EXPECT_THROW(
        check_outputs_are_not_inputs({{dir + "/a", "one"}, {dir + "/sub/../a", "two"}}, {}),
        FileError);
}

TEST(FileNaming, SideCarsFromTheFileNameOnly) {
    EXPECT_EQ(sidecar_path("/d/scene.slc", ".xml"), "/d/scene.xml");
    EXPECT_EQ(sidecar_path("run.v2/resampled", ".xml"), "run.v2/resampled.xml");
    EXPECT_EQ(sidecar_path("a.b/c.d.slc", ".xml"), "a.b/c.d.xml");
    EXPECT_EQ(sidecar_path("/d/.hidden", ".xml"), "/d/.hidden.xml");
    EXPECT_EQ(sidecar_path("name", ".xml"), "name.xml");
    // The co-registration run keeps its own rule, the dot anywhere in the path.
    EXPECT_EQ(image_xml_path("run.v2/resampled"), "run.xml");
}

TEST(OffsetFile, ReadsSixFiniteCoefficientsOrNamesTheKeyword) {
    const std::string path = fresh_test_dir() + "/fit.off";
    const std::string coarse = "initial_range_offset:  3\ninitial_azimuth_offset: -2\n";
    write_bytes(path, coarse + "range_offset_polynomial: 2.5 1e-3 -7e-4 0 0 2.5e-7\n"
                               "azimuth_offset_polynomial:\t-1.8, 0, 0, 0, 0, 0\n");
    const OffsetFile file = read_offset_file(path);
    EXPECT_EQ(file.initial_range_offset, 3);
    EXPECT_EQ(file.initial_azimuth_offset, -2);
    EXPECT_EQ(file.polynomials.range[1], 1e-3);
    EXPECT_EQ(file.polynomials.range[5], 2.5e-7);
    EXPECT_EQ(file.polynomials.azimuth[0], -1.8);
    const std::pair<std::string, std::string> bad[] = {
        {"range_offset_polynomial: 1 2 3\nazimuth_offset_polynomial: 0 0 0 0 0 0\n",
         "range_offset_polynomial holds 3 coefficients, not 6"},
        {"range_offset_polynomial: 1 2 3 4 5 6 7\n", "holds more than 6 coefficients"},
        {"range_offset_polynomial: 1 2 inf 4 5 6\n", "coefficient c2 is not finite"},
        {"range_offset_polynomial: 1 2 x 4 5 6\n", "holds \"x 4 5 6\", not a number"},
        {"range_offset_polynomial: 0 0 0 0 0 0\n", "no azimuth_offset_polynomial"},
    };
    for (const auto& [text, problem] : bad) {
        write_bytes(path, coarse + text);
        try {
            read_offset_file(path);
            ADD_FAILURE() << "no error for " << text;
        } catch (const FileError& e) {
            EXPECT_EQ(e.file(), path);
            EXPECT_NE(e.problem().find(problem), std::string::npos) << e.problem();
        }
    }
    write_bytes(path, "initial_range_offset: 2.5x\n");
    EXPECT_THROW(read_offset_file(path), FileError);
}

} // namespace

// The SCOMPLEX encoding rounds as std::round does (halves away from zero)
// and clamps at the 16-bit limits, on a sweep over every half-count edge.
TEST(SampleBytes, CountsRoundLikeStdRoundAndClampAtSixteenBits) {
    long saturated = 0;
    for (long k = -33000 * 4; k <= 33000 * 4; k++)
        for (double nudge : {-1e-9, 0.0, 1e-9}) {
            const double value = (k * 0.25 + nudge) / 1000.0;
            const double rounded = std::round(value * 1000.0);
            const long before = saturated;
            const std::int16_t counts = saturated_counts(value, &saturated);
            if (rounded < -32768.0 || rounded > 32767.0) {
                ASSERT_EQ(saturated, before + 1) << value;
                ASSERT_EQ(counts, rounded < 0 ? INT16_MIN : INT16_MAX) << value;
            } else {
                ASSERT_EQ(counts, rounded) << value;
            }
        }
    long nan_count = 0;
    EXPECT_EQ(saturated_counts(std::nan(""), &nan_count), INT16_MAX);
    EXPECT_EQ(nan_count, 1);
}
