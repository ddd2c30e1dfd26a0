// Bad inputs and faults of the environment, each a whole run through Execute
// in a child process: the child must live and report exactly what the row
// says; the offset file, the other runs' work files and the directories are
// checked afterwards. Rows covered elsewhere are not repeated here: a missing
// image, directory or work-file path and the /dev/full work files
// (test_stage_one, test_offset_fit); bad windows and grids, concurrent runs
// and non-ASCII paths (test_run_driver).
#include "fault_scene.h"

#include <sstream>
#include <sys/wait.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using namespace fault;

enum class Answer {
    Refused,           // code 110 from stage 1, the offset file as it was
    RefusedInStageTwo, // code 110 from stage 2, the offset file as stage 1 rewrote it
    Succeeds,          // code 666, the fitted model beside the offset file
    Throws,            // the XML reader's exception leaves Execute
};

struct Row {
    const char* name;
    void (*spoil)(Scene&);
    Answer answer;
    const char* message; // the code 110 message, or the exception's text
    const char* printed; // a text the module must print on standard output, or ""
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

const char* const kSlaveEnd = "\nWARNING: attempt to read beyond end of SLC-2 file\n\n";

// What the child saw of its run.
struct Outcome {
    std::string skip;
    int exitStatus = -1; // -1: killed by a signal
    bool ok = false;
    std::vector<std::pair<int, std::string>> posted;
    std::string thrown;
    std::vector<double> percent;
    int leaks = 0;
    std::string out; // the module's standard output
};

// Runs Execute on the scene's record and writes what happened, one item a
// line, to resultPath; ends with status 0 unless the module ends it first.
[[noreturn]] void execute_in_child(const Scene& s, const std::string& resultPath,
                                   const std::string& outPath) {
    std::FILE* result = std::fopen(resultPath.c_str(), "w");
    if (result == nullptr || !std::freopen(outPath.c_str(), "w", stdout))
        ::_exit(20);
    if (s.withoutFileAccessOverride && !give_up_file_access_override()) {
        std::fprintf(result, "skip cannot give up the file access override capabilities\n");
        std::fclose(result);
        ::_exit(0);
    }
    {
        RecordingCoregistration algo;
        algo.m_progress.connect([result](double percent, const QString&, void*) {
            std::fprintf(result, "progress %.17g\n", percent);
            return 0;
        });
        boost::any slot = s.record();
        algo.SetParams(slot);
        try {
            std::fprintf(result, "ok %d\n", algo.Execute() ? 1 : 0);
        } catch (const std::exception& e) {
            std::fprintf(result, "thrown %s\n", e.what());
        }
        for (const auto& [code, message] : algo.posted)
            std::fprintf(result, "posted %d %s\n", code, message.toStdString().c_str());
    }
    std::fflush(stdout);
#if defined(__SANITIZE_ADDRESS__)
    std::fprintf(result, "leaks %d\n", __lsan_do_recoverable_leak_check());
#endif
    std::fclose(result);
    ::_exit(0);
}

Outcome execute(const Scene& s) {
    const std::string resultPath = s.root + ".result", outPath = s.root + ".out";
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0)
        execute_in_child(s, resultPath, outPath);
    Outcome o;
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return o;
    o.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = read_file_bytes(outPath);
    std::istringstream lines(read_file_bytes(resultPath));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space), value = line.substr(space + 1);
        if (key == "skip")
            o.skip = value;
        else if (key == "ok")
            o.ok = value == "1";
        else if (key == "thrown")
            o.thrown = value;
        else if (key == "progress")
            o.percent.push_back(std::stod(value));
        else if (key == "leaks")
            o.leaks = std::stoi(value);
        else if (key == "posted")
            o.posted.emplace_back(std::stoi(value), value.substr(value.find(' ') + 1));
    }
    return o;
}

class FaultMatrix : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrix, ExecuteAnswersAsTheRowSays) {
    const Row& row = GetParam();
    Scene s;
    std::string offBefore;
    if (const std::string skip = spoiled_scene(s, row.spoil, offBefore); !skip.empty())
        GTEST_SKIP() << skip;

    const Outcome o = execute(s);
    if (!o.skip.empty())
        GTEST_SKIP() << o.skip;
    ASSERT_EQ(o.exitStatus, 0) << "the run ended the process:\n" << o.out;
    EXPECT_EQ(o.leaks, 0);
    EXPECT_NE(o.out.find(row.printed), std::string::npos) << o.out;
    ASSERT_FALSE(o.percent.empty());
    EXPECT_EQ(o.percent.front(), 0.0);

    switch (row.answer) {
    case Answer::Refused:
    case Answer::RefusedInStageTwo:
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.thrown, "");
        ASSERT_EQ(o.posted.size(), 1u);
        EXPECT_EQ(o.posted[0].first, 110);
        EXPECT_EQ(o.posted[0].second, row.message);
        EXPECT_EQ(o.percent.back(), 100.0);
        if (row.answer == Answer::Refused) {
            EXPECT_EQ(read_file_bytes(s.off), offBefore);
        } else {
            expect_rewritten_by_stage_one(s);
        }
        EXPECT_FALSE(file_exists(new_off_of(s)));
        break;
    case Answer::Succeeds:
        EXPECT_TRUE(o.ok);
        EXPECT_EQ(o.posted, (std::vector<std::pair<int, std::string>>{
                                {666, "Fine coregistration success !"}}));
        EXPECT_EQ(o.percent.back(), 100.0);
        expect_fitted_shift(new_off_of(s));
        EXPECT_EQ(own_work_files(s), std::vector<std::string>());
        break;
    case Answer::Throws:
        EXPECT_EQ(o.thrown, row.message);
        EXPECT_TRUE(o.posted.empty());
        EXPECT_EQ(o.percent.size(), 1u); // no 100: the exception passed Execute
        EXPECT_EQ(read_file_bytes(s.off), offBefore);
        EXPECT_EQ(own_work_files(s), std::vector<std::string>());
        break;
    }
    expect_planted_files_untouched(s);
    expect_no_temporary_files(s);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FaultMatrix,
    ::testing::Values(
        Row{"SoundScene", nothing, Answer::Succeeds, "", ""},
        Row{"MissingSlave", missing_slave, Answer::Refused, "Failed to open the slave image !", ""},
        Row{"UnreadableMaster", unreadable_master, Answer::Refused,
            "Failed to open the master image !", ""},
        Row{"UnreadableSlaveXml", unreadable_slave_xml, Answer::Refused, kBadXml, ""},
        Row{"UnreadableOffFile", unreadable_off, Answer::Refused, "Failed to open the off file !",
            ""},
        Row{"EmptyMaster", empty_master, Answer::Refused, kNoPoints, ""},
        Row{"EmptySlave", empty_slave, Answer::Refused, kNoPoints, ""},
        Row{"SlaveShorterThanItsXml", slave_shorter_than_its_xml, Answer::Succeeds, "", kSlaveEnd},
        Row{"MalformedMasterXml", malformed_master_xml, Answer::Refused, kBadXml, ""},
        Row{"SlaveXmlWithoutAzimuthAngle", slave_xml_without_azimuth_angle, Answer::Refused,
            kBadXml, ""},
        Row{"MasterXmlWithoutStartTime", master_xml_without_start_time, Answer::Throws,
            "No such node (kivInSARParameter.productInfo.sceneInfo.startTime)", ""},
        Row{"StateVectorsOutOfOrder", state_vectors_out_of_order, Answer::Refused, kBadXml, ""},
        Row{"StateVectorNumbersOutOfRange", state_vector_numbers_out_of_range, Answer::Succeeds, "",
            ""},
        Row{"NegativeWidthInMasterXml", negative_width_in_master_xml, Answer::Refused,
            "Invalid image size in xml parameter file !", ""},
        Row{"EmptyOffFile", empty_off, Answer::Succeeds, "",
            "WARNING: subroutine rd_int, keyword not found: initial_range_offset\n"},
        Row{"GarbledOffFile", garbled_off, Answer::Succeeds, "",
            "WARNING: subroutine rd_vec, keyword not found: range_offset_polynomial\n"},
        Row{"HugeCoarseRangeOffset", huge_coarse_range_offset, Answer::Refused, kNoOffsets, ""},
        Row{"HugeCoarseAzimuthOffset", huge_coarse_azimuth_offset, Answer::Refused, kNoOffsets, ""},
        Row{"HugePolynomials", huge_polynomials, Answer::Refused, kNoOffsets, ""},
        Row{"NaNRangePolynomial", nan_range_polynomial, Answer::Refused, kNoOffsets, ""},
        Row{"OffFileWithoutPolynomials", off_without_polynomials, Answer::Succeeds, "",
            "WARNING: subroutine rd_vec, keyword not found: azimuth_offset_polynomial\n"},
        Row{"CoarseOffsetsOutsideTheSlave", coarse_offsets_outside_the_slave, Answer::Refused,
            kNoOffsets, ""},
        Row{"AllZeroSlave", all_zero_slave, Answer::Refused, kNoPoints, ""},
        Row{"AllZeroPatches", all_zero_patches, Answer::Refused, kNoOffsets, ""},
        Row{"WindowWiderThanTheImage", window_wider_than_the_image, Answer::Refused, kNoOffsets,
            ""},
        Row{"GridDenserThanTheImage", grid_denser_than_the_image, Answer::Refused,
            "Number of offset estimates in range or azimuth exceeds the image size !", ""},
        Row{"MasterDirectoryReadOnly", master_directory_read_only, Answer::Refused,
            "Failed to create the offsets file !", ""},
        Row{"MasterDirectoryNotWritable", master_directory_not_writable, Answer::Refused,
            "Failed to create the offsets file !", ""},
        Row{"OffDirectoryReadOnly", off_directory_read_only, Answer::Refused,
            "Cannot open output ISP offset parameter file !", ""},
        Row{"MasterDirectoryOnAFullDisk", master_directory_on_a_full_disk, Answer::Refused,
            "Failed to write to output offsets file !", ""},
        Row{"OffFileOnAFullDisk", off_on_a_full_disk, Answer::Refused,
            "Cannot open output ISP offset parameter file !", ""},
        Row{"StageTwoOnAFullDisk", stage_two_on_a_full_disk, Answer::RefusedInStageTwo,
            "error writing to binary culled offsets file !", ""},
        Row{"NonAsciiDirectory", non_ascii_directory, Answer::Succeeds, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
