// Bad inputs and faults of the environment through the finecoreg tool: the
// scenes and spoilers of the Execute matrix (tests/algorithm), run as a user
// runs the tool. Each row must end with the status it names and, on failure,
// one "finecoreg: ..." line; the offset file, the other runs' work files and
// the directories are checked afterwards.
#include "tests/algorithm/fault_scene.h"
#include "tests/support/run_process.h"

#include <sys/wait.h>

namespace {

using namespace fault;

enum class Answer {
    Refused,           // status 1, the module's code 110 message, the offset file as it was
    RefusedInStageTwo, // the same, the offset file as stage 1 rewrote it
    RefusedByTheTool,  // status 1 before or after the module ran, the offset file as it was
    BadUsage,          // status 2, the offset file as it was
    Succeeds,          // status 0, the fitted model beside the offset file
};

struct Row {
    const char* name;
    void (*spoil)(Scene&);
    Answer answer;
    // The whole message of a refusal by the module, else a part of the line;
    // "{master_xml}" and "{slave}" stand for the scene's paths.
    const char* message;
    const char* printed; // a text the module must print on standard output, or ""
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

// Exit status of a child that could not give up its capabilities.
constexpr int kCannotGiveUp = 125;

// Starts the tool with stdout and stderr in anonymous files, as run_process
// does, but by fork: the child may have to give up capabilities before it
// executes the tool.
pid_t start_tool(const std::vector<std::string>& args, bool withoutFileAccessOverride,
                 std::FILE* out, std::FILE* err) {
    const std::vector<char*> argv = argv_of(FINECOREG_TOOL, args);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::fileno(out), 1);
        ::dup2(::fileno(err), 2);
        if (withoutFileAccessOverride && !give_up_file_access_override())
            ::_exit(kCannotGiveUp);
        ::execv(FINECOREG_TOOL, argv.data());
        ::_exit(127);
    }
    return pid;
}

ProcessRun finish_tool(pid_t pid, std::FILE* out, std::FILE* err) {
    ProcessRun run;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = read_and_close(out);
    run.err = read_and_close(err);
    return run;
}

std::vector<std::string> arguments(const Scene& s) {
    return {"--master",
            s.master,
            "--slave",
            s.slave,
            "--off",
            s.off,
            "--window-width",
            std::to_string(s.windowWidth),
            "--window-height",
            std::to_string(s.windowHeight),
            "--range-samples",
            std::to_string(s.rangeSamples),
            "--azimuth-samples",
            std::to_string(s.azimuthSamples),
            "--snr-threshold",
            std::to_string(s.threshold),
            "--quiet"};
}

ProcessRun run_tool(const Scene& s) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    return finish_tool(start_tool(arguments(s), s.withoutFileAccessOverride, out, err), out, err);
}

std::string with_paths(std::string text, const Scene& s) {
    for (const auto& [name, path] :
         {std::pair<std::string, std::string>{"{master_xml}", xml_of(s.master)},
          {"{slave}", s.slave}})
        for (std::size_t at; (at = text.find(name)) != std::string::npos;)
            text.replace(at, name.size(), path);
    return text;
}

class FaultMatrixCli : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrixCli, ToolAnswersAsTheRowSays) {
    const Row& row = GetParam();
    Scene s;
    std::string offBefore;
    if (const std::string skip = spoiled_scene(s, row.spoil, offBefore); !skip.empty())
        GTEST_SKIP() << skip;

    const ProcessRun run = run_tool(s);
    if (run.status == kCannotGiveUp)
        GTEST_SKIP() << "cannot give up the file access override capabilities";
    const std::string message = with_paths(row.message, s);
    EXPECT_NE(run.out.find(row.printed), std::string::npos) << run.out;
    switch (row.answer) {
    case Answer::Refused:
    case Answer::RefusedInStageTwo:
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.err, "finecoreg: " + message + "\n");
        break;
    case Answer::RefusedByTheTool:
    case Answer::BadUsage:
        expect_one_line_error(run, "finecoreg", row.answer == Answer::BadUsage ? 2 : 1, message);
        break;
    case Answer::Succeeds:
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        expect_fitted_shift(new_off_of(s));
        EXPECT_EQ(own_work_files(s), std::vector<std::string>());
        break;
    }
    if (row.answer == Answer::RefusedInStageTwo) {
        expect_rewritten_by_stage_one(s);
    } else if (row.answer != Answer::Succeeds) {
        EXPECT_EQ(read_file_bytes(s.off), offBefore);
    }
    if (row.answer != Answer::Succeeds) {
        EXPECT_FALSE(file_exists(new_off_of(s)));
    }
    expect_planted_files_untouched(s);
    expect_no_temporary_files(s);
}

const char* const kWindow = "Window width and height must be powers of two from 4 to 4096 !";
const char* const kGrid =
    "Number of offset estimates in range and azimuth must be from 1 to 16384 !";

INSTANTIATE_TEST_SUITE_P(
    Rows, FaultMatrixCli,
    ::testing::Values(
        Row{"SoundScene", nothing, Answer::Succeeds, "", "final solution: "},
        Row{"MissingMaster", missing_master, Answer::RefusedByTheTool, "master image not found: ",
            ""},
        Row{"UnreadableMaster", unreadable_master, Answer::Refused,
            "Failed to open the master image !", ""},
        Row{"UnreadableSlaveXml", unreadable_slave_xml, Answer::Refused, kBadXml, ""},
        Row{"UnreadableOffFile", unreadable_off, Answer::Refused, "Failed to open the off file !",
            ""},
        Row{"EmptyMaster", empty_master, Answer::Refused, kNoPoints, ""},
        Row{"EmptySlave", empty_slave, Answer::Refused, kNoPoints, ""},
        Row{"SlaveShorterThanItsXml", slave_shorter_than_its_xml, Answer::Succeeds, "",
            "\nWARNING: attempt to read beyond end of SLC-2 file\n\n"},
        Row{"MalformedMasterXml", malformed_master_xml, Answer::Refused, kBadXml, ""},
        Row{"SlaveXmlWithoutAzimuthAngle", slave_xml_without_azimuth_angle, Answer::Refused,
            kBadXml, ""},
        Row{"MasterXmlWithoutStartTime", master_xml_without_start_time, Answer::RefusedByTheTool,
            "malformed image parameter file {master_xml}: No such node "
            "(kivInSARParameter.productInfo.sceneInfo.startTime)",
            ""},
        Row{"StateVectorsOutOfOrder", state_vectors_out_of_order, Answer::Refused, kBadXml, ""},
        Row{"StateVectorNumbersOutOfRange", state_vector_numbers_out_of_range, Answer::Succeeds,
            "", ""},
        Row{"NegativeWidthInMasterXml", negative_width_in_master_xml, Answer::Refused,
            "Invalid image size in xml parameter file !", ""},
        Row{"EmptyOffFile", empty_off, Answer::Succeeds, "",
            "WARNING: subroutine rd_int, keyword not found: initial_range_offset\n"},
        Row{"GarbledOffFile", garbled_off, Answer::Succeeds, "",
            "WARNING: subroutine rd_vec, keyword not found: range_offset_polynomial\n"},
        Row{"HugeCoarseRangeOffset", huge_coarse_range_offset, Answer::Refused, kNoOffsets, ""},
        Row{"HugeCoarseAzimuthOffset", huge_coarse_azimuth_offset, Answer::Refused, kNoOffsets,
            ""},
        Row{"HugePolynomials", huge_polynomials, Answer::Refused, kNoOffsets, ""},
        Row{"NaNRangePolynomial", nan_range_polynomial, Answer::Refused, kNoOffsets, ""},
        Row{"OffFileWithoutPolynomials", off_without_polynomials, Answer::Succeeds, "",
            "WARNING: subroutine rd_vec, keyword not found: azimuth_offset_polynomial\n"},
        Row{"CoarseOffsetsOutsideTheSlave", coarse_offsets_outside_the_slave, Answer::Refused,
            kNoOffsets, ""},
        Row{"AllZeroSlave", all_zero_slave, Answer::Refused, kNoPoints, ""},
        Row{"AllZeroPatches", all_zero_patches, Answer::Refused, kNoOffsets, ""},
        Row{"WindowOfZero", [](Scene& s) { s.windowWidth = 0; }, Answer::BadUsage,
            "option --window-width: '0' is not a positive whole number", ""},
        Row{"NegativeWindow", [](Scene& s) { s.windowHeight = -64; }, Answer::BadUsage,
            "option --window-height: '-64' is not a positive whole number", ""},
        Row{"WindowNotAPowerOfTwo", [](Scene& s) { s.windowWidth = 48; }, Answer::Refused, kWindow,
            ""},
        Row{"WindowTooLarge", [](Scene& s) { s.windowHeight = 8192; }, Answer::Refused, kWindow,
            ""},
        Row{"WindowTooWideForItsHeight",
            [](Scene& s) {
                s.windowWidth = 128;
                s.windowHeight = 16;
            },
            Answer::Refused, "Window width must be less than eight times the window height !", ""},
        Row{"WindowWiderThanTheImage", window_wider_than_the_image, Answer::Refused, kNoOffsets,
            ""},
        Row{"GridOfZero", [](Scene& s) { s.azimuthSamples = 0; }, Answer::BadUsage,
            "option --azimuth-samples: '0' is not a positive whole number", ""},
        Row{"NegativeGrid", [](Scene& s) { s.rangeSamples = -3; }, Answer::BadUsage,
            "option --range-samples: '-3' is not a positive whole number", ""},
        Row{"GridTooLarge", [](Scene& s) { s.rangeSamples = 16385; }, Answer::Refused, kGrid, ""},
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
        Row{"NonAsciiDirectory", non_ascii_directory, Answer::Succeeds, "", ""},
        Row{"MissingSlaveInNonAsciiDirectory",
            [](Scene& s) {
                non_ascii_directory(s);
                missing_slave(s);
            },
            Answer::RefusedByTheTool, "slave image not found: {slave}", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Two runs of different slaves against one master directory at once, in two
// tool processes, beside the planted work files of other runs.
TEST(FaultMatrixCli, TwoRunsAtOnceAgainstOneMasterDirectory) {
    Scene s;
    open_scene(s);
    PairSpec p;
    p.w1 = p.l1 = p.w2 = p.l2 = 512; // long enough runs to overlap
    p.dx = kRangeShift;
    p.dy = kAzimuthShift;
    write_pair(s.master_dir(), p, kRangeShift, kAzimuthShift);
    s.rangeSamples = s.azimuthSamples = 32;
    // The second slave is the master's scene shifted by the same amount, with
    // its own offset file.
    Scene second;
    second.master = s.master;
    second.slave = s.master_dir() + "/slave2.slc";
    second.off = s.master_dir() + "/pair2.off";
    second.rangeSamples = second.azimuthSamples = 32;
    std::filesystem::copy_file(s.slave, second.slave);
    std::filesystem::copy_file(xml_of(s.slave), xml_of(second.slave));
    std::filesystem::copy_file(s.off, second.off);

    std::FILE* files[4] = {std::tmpfile(), std::tmpfile(), std::tmpfile(), std::tmpfile()};
    const pid_t a = start_tool(arguments(s), false, files[0], files[1]);
    const pid_t b = start_tool(arguments(second), false, files[2], files[3]);
    const ProcessRun first = finish_tool(a, files[0], files[1]);
    const ProcessRun other = finish_tool(b, files[2], files[3]);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(first.err + other.err, "");
    for (const std::string& fitted : {new_off_of(s), new_off_of(second)}) {
        stOffsetParInfo par{};
        ASSERT_TRUE(read_offset_file(fitted, par)) << fitted;
        EXPECT_NEAR(eval_offset_poly(par.range_offset_polynomial, 256.0, 256.0), kRangeShift, 0.02);
        EXPECT_NEAR(eval_offset_poly(par.azimuth_offset_polynomial, 256.0, 256.0), kAzimuthShift,
                    0.02);
    }
    expect_planted_files_untouched(s);
    expect_no_temporary_files(s);
    EXPECT_EQ(own_work_files(s), std::vector<std::string>());
}

} // namespace
