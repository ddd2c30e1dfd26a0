// Bad inputs and faults of the environment, one table run two ways: through
// the plug-in's Execute in a child process (which must live and post what
// the row says) and through the finecoreg tool (which must end with the
// row's status and, on failure, one "finecoreg: ..." line). The scene is a
// small shifted pair beside the work files of two other runs; afterwards the
// offset file, those files and the directories are checked.
#include "algorithm/FineCoregistration.h"
#include "tests/support/run_process.h"
#include "tests/support/scratch.h"

#include <climits>
#include <fcntl.h>
#include <regex>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using namespace scratch;

// The slave holds the master's scene 3 samples and 2 lines further on, given
// as the coarse offset; a 4 x 4 grid of 32 x 32 windows.
constexpr int kSide = 128, kRangeShift = 3, kAzimuthShift = 2;
const char* const kMountPoints[] = {"/pair", "/full", "/offdir"};

struct Scene {
    std::string root, master, slave, off;
    int windowWidth = 32, windowHeight = 32, rangeSamples = 4, azimuthSamples = 4;
    double threshold = 3.0;
    rlim_t cpuSeconds = RLIM_INFINITY;
    std::string skip; // why this environment cannot stage the row
    std::vector<std::pair<std::string, std::string>> planted; // path, bytes
    std::vector<std::string> mounts;
    ~Scene() { // last-in first-out, lazily so that a file still open cannot keep one
        for (auto m = mounts.rbegin(); m != mounts.rend(); ++m)
            ::umount2(m->c_str(), MNT_DETACH);
    }
    std::string master_dir() const { return fs::path(master).parent_path().string(); }
    std::string new_off() const { return new_offset_par_path(off); }
};

// What a child does before the run; false when it cannot stage the row.
bool limit_child(const Scene& s) {
    const rlimit cpu{s.cpuSeconds, s.cpuSeconds};
    return ::setrlimit(RLIMIT_CPU, &cpu) == 0;
}

// Builds the pair in <root>/pair beside the five work files of two other
// runs: one named like this run's, one under the fixed name "Temp_0".
void open_scene(Scene& s) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
    for (const char* sub : kMountPoints) // what an earlier run of the test left
        ::umount2((std::string(FC_TEST_TMP_DIR) + "/" + name + sub).c_str(), MNT_DETACH);
    s.root = fresh_test_dir();
    fs::create_directories(s.root + "/pair");
    const PairFiles files = write_pair(
        s.root + "/pair", PairSpec{kSide, kSide, kSide, kSide, kRangeShift, kAzimuthShift},
        kRangeShift, kAzimuthShift);
    s.master = files.master;
    s.slave = files.slave;
    s.off = files.off;
    for (const char* base : {"/pair/Temp_0", "/pair/Temp_1234567"})
        for (const char* suffix : {"_offs", "_snr", "_offsets.txt", "coffs", "coffsets.txt"}) {
            s.planted.emplace_back(s.root + base + suffix, std::string("another run's ") + suffix);
            write_bytes(s.planted.back().first, s.planted.back().second);
        }
}

void move_file(std::string& path, const std::string& dir) {
    const std::string to = dir + "/" + fs::path(path).filename().string();
    fs::copy_file(path, to, fs::copy_options::overwrite_existing);
    fs::remove(path);
    path = to;
}

// The master, its XML file and the other runs' work files go to dir.
void move_master(Scene& s, const std::string& dir) {
    std::string xml = image_xml_path(s.master);
    move_file(xml, dir);
    move_file(s.master, dir);
    for (auto& planted : s.planted)
        move_file(planted.first, dir);
}

bool mount_or_skip(Scene& s, const std::string& dir, const char* type, unsigned long flags,
                   const char* options) {
    fs::create_directories(dir);
    if (::mount(type ? type : dir.c_str(), dir.c_str(), type, flags, options) != 0) {
        s.skip = "cannot mount here: " + std::string(std::strerror(errno));
        return false;
    }
    s.mounts.push_back(dir);
    return true;
}

// Makes dir a read-only view of itself.
void mount_read_only(Scene& s, const std::string& dir) {
    if (mount_or_skip(s, dir, nullptr, MS_BIND, nullptr) &&
        ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        s.skip = "cannot remount read-only here";
}

// A tmpfs of 1 MiB at <root>/full, taking the master's files and, when
// asked, the offset file, then filled until exactly keepBlocks are free.
void full_disk(Scene& s, bool off, unsigned long keepBlocks) {
    const std::string dir = s.root + "/full";
    if (!mount_or_skip(s, dir, "tmpfs", 0, "size=1m"))
        return;
    move_master(s, dir);
    if (off)
        move_file(s.off, dir);
    // Only ever the small file system just mounted.
    struct statvfs vfs;
    if (::statvfs(dir.c_str(), &vfs) != 0 || vfs.f_blocks * vfs.f_frsize > (2u << 20)) {
        s.skip = "no small file system at " + dir;
        return;
    }
    const int fd = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = fd >= 0;
    if (ok) {
        const std::string block(vfs.f_frsize, '\0');
        while (::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size())) {
        }
        struct stat st;
        ok = ::fstat(fd, &st) == 0 &&
             static_cast<unsigned long>(st.st_size) >= keepBlocks * vfs.f_frsize &&
             ::ftruncate(fd, st.st_size - keepBlocks * vfs.f_frsize) == 0 &&
             ::statvfs(dir.c_str(), &vfs) == 0 && vfs.f_bavail == keepBlocks;
    }
    if (fd >= 0)
        ::close(fd);
    if (!ok)
        s.skip = "cannot leave exactly " + std::to_string(keepBlocks) + " free blocks";
}

void replace_all(const std::string& path, const std::string& pattern, const std::string& by) {
    const std::string text = read_bytes(path);
    ASSERT_TRUE(std::regex_search(text, std::regex(pattern))) << pattern << " not in " << path;
    write_bytes(path, std::regex_replace(text, std::regex(pattern), by));
}

void non_ascii_directory(Scene& s) {
    const std::string dir = s.root + "/\xe6\x95\xb0\xe6\x8d\xae \xc3\xa9"; // "数据 é"
    fs::create_directories(dir);
    move_master(s, dir);
    std::string slaveXml = image_xml_path(s.slave);
    move_file(slaveXml, dir);
    move_file(s.slave, dir);
    move_file(s.off, dir);
}

// An absurd raster in the master's XML file is refused before anything is
// allocated or read: within a second of processor time.
void absurd_master_size(Scene& s, int columns, int rows) {
    write_image_xml(s.master, columns, rows);
    s.cpuSeconds = 1;
}

// ------------------------------------------------------------------ table

enum class Answer {
    Refused,           // code 110 from stage 1, the offset file as it was
    RefusedInStageTwo, // code 110 from stage 2, the offset file as stage 1 rewrote it
    Succeeds,          // code 666, the fitted model beside the offset file
    SucceedsUnusable,  // code 666 from too few estimates; the tool refuses the fit it got
    Throws,            // the XML reader's exception leaves Execute
};

struct Row {
    const char* name;
    void (*spoil)(Scene&);
    Answer answer;
    const char* message; // the code 110 message, or the exception's text
    const char* printed; // a text the module must print on standard output, or ""
    // The tool's own refusal (a part of its one line; "{slave}" and
    // "{master_xml}" stand for those paths) and status, when it answers
    // before the module does.
    const char* toolMessage = nullptr;
    int toolStatus = 1;
};
FC_PRINTS_AS_NAME(Row)

const char* const kNoPoints = "No points available for determining average intensity !";
const char* const kNoOffsets = "No offsets found above SNR threshold !";
const char* const kBadXml = "Open xml parameter file error!";
const char* const kBadSize = "Invalid image size in xml parameter file !";
const char* const kWindow = "Window width and height must be powers of two from 4 to 4096 !";
const char* const kGrid =
    "Number of offset estimates in range and azimuth must be from 1 to 16384 !";

const Row kRows[] = {
    {"SoundScene", [](Scene&) {}, Answer::Succeeds, "", "final solution: "},
    {"MissingMaster", [](Scene& s) { fs::remove(s.master); }, Answer::Refused,
     "Failed to open the master image !", "", "master image not found: "},
    {"MissingSlave", [](Scene& s) { fs::remove(s.slave); }, Answer::Refused,
     "Failed to open the slave image !", "", "slave image not found: {slave}"},
    {"MissingOffFile", [](Scene& s) { fs::remove(s.off); }, Answer::Refused,
     "Failed to open the off file !", "", "offset parameter file not found: "},
    // 90 of the 128 lines its XML promises, and 3 bytes of a sample: the slave
    // windows of the last grid row (lines 64..95) run past the end.
    {"SlaveShorterThanItsXml", [](Scene& s) { fs::resize_file(s.slave, 90 * kSide * 8 + 3); },
     Answer::Succeeds, "", "\nWARNING: attempt to read beyond end of SLC-2 file\n\n",
     "{slave}: is short: 92163 bytes, 128 x 128 FCOMPLEX samples need 131072"},
    {"MasterColumnsAtTheIntLimit", [](Scene& s) { absurd_master_size(s, INT_MAX, kSide); },
     Answer::Refused, kBadSize, ""},
    {"MasterOf50MillionColumns", [](Scene& s) { absurd_master_size(s, 50000000, kSide); },
     Answer::Refused, kBadSize, ""},
    {"MasterRowsAtTheIntLimit", [](Scene& s) { absurd_master_size(s, kSide, INT_MAX); },
     Answer::Refused, kBadSize, ""},
    {"MalformedMasterXml",
     [](Scene& s) {
         write_bytes(image_xml_path(s.master), "<kivInSARParameter><productInfo><missionInfo>");
     },
     Answer::Refused, kBadXml, ""},
    {"MasterXmlWithoutStartTime",
     [](Scene& s) { replace_all(image_xml_path(s.master), "<startTime>[^<]*</startTime>", ""); },
     Answer::Throws, "No such node (kivInSARParameter.productInfo.sceneInfo.startTime)", "",
     "malformed image parameter file {master_xml}: No such node "
     "(kivInSARParameter.productInfo.sceneInfo.startTime)"},
    {"EmptyOffFile", [](Scene& s) { fs::resize_file(s.off, 0); }, Answer::Succeeds, "",
     "WARNING: subroutine rd_int, keyword not found: initial_range_offset\n"},
    // Near the 32-bit limit or beyond: every slave window lies far outside.
    {"HugeCoarseRangeOffset",
     [](Scene& s) { write_off(s.off, coarse_offsets(2147483600, kAzimuthShift)); }, Answer::Refused,
     kNoOffsets, ""},
    {"NaNRangePolynomial",
     [](Scene& s) {
         stOffsetParInfo par{};
         par.range_offset_polynomial[0] = std::nan("");
         write_off(s.off, par);
     },
     Answer::Refused, kNoOffsets, ""},
    // The coarse offsets stay; with both constant terms 0 they start the model.
    {"OffFileWithoutPolynomials",
     [](Scene& s) { replace_all(s.off, "[a-z]+_offset_polynomial:[^\n]*\n", ""); },
     Answer::Succeeds, "",
     "WARNING: subroutine rd_vec, keyword not found: azimuth_offset_polynomial\n"},
    {"AllZeroSlave", [](Scene& s) { zero_samples(s.slave, kSide, [](int, int) { return true; }); },
     Answer::Refused, kNoPoints, ""},
    {"WindowOfZero", [](Scene& s) { s.windowWidth = 0; }, Answer::Refused, kWindow, "",
     "option --window-width: '0' is not a positive whole number", 2},
    {"WindowNotAPowerOfTwo", [](Scene& s) { s.windowWidth = 48; }, Answer::Refused, kWindow, ""},
    {"NegativeGrid", [](Scene& s) { s.rangeSamples = -3; }, Answer::Refused, kGrid, "",
     "option --range-samples: '-3' is not a positive whole number", 2},
    // 40 columns between the margins of 128 samples: a spacing of 0.
    {"GridDenserThanTheImage", [](Scene& s) { s.rangeSamples = 40; }, Answer::Refused,
     "Number of offset estimates in range or azimuth exceeds the image size !", ""},
    {"MasterDirectoryReadOnly", [](Scene& s) { mount_read_only(s, s.master_dir()); },
     Answer::Refused, "Failed to create the offsets file !", ""},
    {"OffDirectoryReadOnly",
     [](Scene& s) {
         fs::create_directories(s.root + "/offdir");
         move_file(s.off, s.root + "/offdir");
         mount_read_only(s, s.root + "/offdir");
     },
     Answer::Refused, "Cannot open output ISP offset parameter file !", ""},
    // The work files can be created, but no row reaches the disk.
    {"MasterDirectoryOnAFullDisk", [](Scene& s) { full_disk(s, true, 0); }, Answer::Refused,
     "Failed to write to output offsets file !", ""},
    // One free block for each of stage 1's three work files, none for stage 2's.
    {"StageTwoOnAFullDisk", [](Scene& s) { full_disk(s, false, 3); }, Answer::RefusedInStageTwo,
     "error writing to binary culled offsets file !", ""},
    {"NonAsciiDirectory", non_ascii_directory, Answer::Succeeds, "", ""},
    // One position: the plug-in fits it with equal weight and calls that a
    // success; the tool does not pass the fit on.
    {"OneEstimate", [](Scene& s) { s.rangeSamples = s.azimuthSamples = 1; },
     Answer::SucceedsUnusable, "", "final solution: 0 offset estimates accepted out of 1 samples",
     "The final fit kept 0 offset estimates; it needs at least 6 !"},
    // Said before the run by the tool; the plug-in finds no offsets.
    {"WindowLargerThanTheImage", [](Scene& s) { s.windowWidth = s.windowHeight = 256; },
     Answer::Refused, kNoOffsets, "",
     "Window of 256 x 256 is larger than the master image of "
     "128 x 128 !"},
};

// ------------------------------------------------------------ the runs

// What a run showed: its exit status (-1 when a signal ended it), standard
// output and error; through Execute also the lines its child wrote.
struct Outcome {
    ProcessRun run;
    std::string thrown;
    bool ok = false;
    std::vector<std::pair<int, std::string>> posted;
    std::vector<double> percent;
    int leaks = 0;
};

// Execute in a child process that reports one item a line on standard error
// (the module keeps standard output) and ends with status 0 unless the
// module ends it first.
struct PrintingCoregistration : FineCoregistration {
    void SetErrorInfo(int code, const QString& message) override {
        std::fprintf(stderr, "posted %d %s\n", code, message.toStdString().c_str());
        FineCoregistration::SetErrorInfo(code, message);
    }
};

[[noreturn]] void execute_in_child(const Scene& s) {
    PrintingCoregistration algo;
    // 0 and 100 with an empty message around the stages' reports, all from
    // the object.
    algo.m_progress.connect([&algo](double percent, const QString& message, void* sender) {
        const bool edge = percent == 0.0 || percent == 100.0;
        const bool right = sender == &algo && message == (edge ? "" : "FineCoregistration...");
        return std::fprintf(stderr, "%s %.17g\n", right ? "progress" : "stray", percent), 0;
    });
    stFineCoregistrationInfo info;
    info.masterImagePath = QString::fromStdString(s.master);
    info.slaveImagePath = QString::fromStdString(s.slave);
    info.offsetParPath = QString::fromStdString(s.off);
    info.windowWidth = s.windowWidth;
    info.windowHeight = s.windowHeight;
    info.rangeSamples = s.rangeSamples;
    info.azimuthSamples = s.azimuthSamples;
    info.snrThreshold = s.threshold;
    boost::any slot = info;
    algo.SetParams(slot);
    try {
        std::fprintf(stderr, "ok %d\n", algo.Execute() ? 1 : 0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "thrown %s\n", e.what());
    }
    std::fflush(stdout);
#if defined(__SANITIZE_ADDRESS__)
    std::fprintf(stderr, "leaks %d\n", __lsan_do_recoverable_leak_check());
#endif
    ::_exit(0);
}

Outcome execute(const Scene& s) {
    Outcome o;
    // The child runs Execute instead of the program.
    o.run = run_process("/bin/true", {}, [&] {
        if (limit_child(s))
            execute_in_child(s);
        return false;
    });
    std::istringstream lines(o.run.err);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space), value = line.substr(space + 1);
        if (key == "ok")
            o.ok = value == "1";
        else if (key == "thrown")
            o.thrown = value;
        else if (key == "progress" || key == "stray")
            o.percent.push_back(key == "stray" ? -1.0 : std::stod(value));
        else if (key == "leaks")
            o.leaks = std::stoi(value);
        else if (key == "posted")
            o.posted.emplace_back(std::stoi(value), value.substr(value.find(' ') + 1));
    }
    return o;
}

// threads > 1: the tool's own run driver in its process instead of the plug-in.
Outcome run_tool(const Scene& s, int threads = 1) {
    std::vector<std::string> args{"--master",
                                  s.master,
                                  "--slave",
                                  s.slave,
                                  "--off",
                                  s.off,
                                  "--quiet",
                                  "--snr-threshold",
                                  std::to_string(s.threshold),
                                  "--threads",
                                  std::to_string(threads)};
    for (const auto& [option, value] : {std::pair{"--window-width", s.windowWidth},
                                        {"--window-height", s.windowHeight},
                                        {"--range-samples", s.rangeSamples},
                                        {"--azimuth-samples", s.azimuthSamples}})
        args.insert(args.end(), {option, std::to_string(value)});
    Outcome o;
    o.run = run_process(FINECOREG_TOOL, args, [&] { return limit_child(s); });
    return o;
}

// ----------------------------------------------------------- the checks

// Names in the master directory starting with "Temp_" that were not planted.
std::vector<std::string> own_work_files(const Scene& s) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(s.master_dir())) {
        const std::string path = entry.path().string();
        if (entry.path().filename().string().rfind("Temp_", 0) == 0 &&
            std::none_of(s.planted.begin(), s.planted.end(),
                         [&](const auto& planted) { return planted.first == path; }))
            names.push_back(path);
    }
    return names;
}

enum class Via { execute, tool, threads };

class FaultTable : public ::testing::TestWithParam<std::tuple<Row, Via>> {};

TEST_P(FaultTable, AnswersAsTheRowSays) {
    const auto& [row, via] = GetParam();
    Scene s;
    open_scene(s);
    row.spoil(s);
    if (!s.skip.empty())
        GTEST_SKIP() << s.skip;
    const std::string offBefore = read_bytes(s.off);
    const Outcome o = via == Via::execute ? execute(s) : run_tool(s, via == Via::threads ? 3 : 1);
    if (o.run.status == 125)
        GTEST_SKIP() << "cannot limit the child";
    const bool toolRefuses = via != Via::execute && row.toolMessage;
    if (!toolRefuses)
        EXPECT_NE(o.run.out.find(row.printed), std::string::npos) << o.run.out;
    if (via == Via::execute) {
        ASSERT_EQ(o.run.status, 0) << "the run ended the process:\n" << o.run.err;
        EXPECT_EQ(o.leaks, 0);
        ASSERT_FALSE(o.percent.empty());
        EXPECT_EQ(std::count(o.percent.begin(), o.percent.end(), -1.0), 0) << "stray progress";
        EXPECT_EQ(o.percent.front(), 0.0);
        // No 100 when the exception passed Execute.
        EXPECT_EQ(o.percent.back(), row.answer == Answer::Throws ? 0.0 : 100.0);
        const bool succeeds =
            row.answer == Answer::Succeeds || row.answer == Answer::SucceedsUnusable;
        EXPECT_EQ(o.ok, succeeds);
        EXPECT_EQ(o.thrown, row.answer == Answer::Throws ? row.message : "");
        using Posts = std::vector<std::pair<int, std::string>>;
        const Posts posts = row.answer == Answer::Throws ? Posts{}
                            : succeeds ? Posts{{666, "Fine coregistration success !"}}
                                       : Posts{{110, row.message}};
        EXPECT_EQ(o.posted, posts);
    } else if (toolRefuses) {
        std::string part = row.toolMessage;
        for (const auto& [name, path] : {std::pair<std::string, std::string>{"{slave}", s.slave},
                                         {"{master_xml}", image_xml_path(s.master)},
                                         {"{new_off}", s.new_off()}})
            if (const std::size_t at = part.find(name); at != std::string::npos)
                part.replace(at, name.size(), path);
        if (row.answer == Answer::SucceedsUnusable) { // after the module's transcript
            EXPECT_EQ(o.run.status, row.toolStatus);
            EXPECT_EQ(o.run.err, "finecoreg: " + part + "\n");
        } else {
            expect_one_line_error(o.run, "finecoreg", row.toolStatus, part);
        }
    } else {
        EXPECT_EQ(o.run.status, row.answer == Answer::Succeeds ? 0 : 1);
        EXPECT_EQ(o.run.err, row.answer == Answer::Succeeds
                                 ? ""
                                 : "finecoreg: " + std::string(row.message) + "\n");
    }

    if (row.answer == Answer::Succeeds && !toolRefuses) {
        // The fitted model gives the pair's shift all over the grid.
        const stOffsetParInfo par = read_off(s.new_off());
        for (double x : {48.0, 78.0})
            for (double y : {48.0, 78.0}) {
                EXPECT_NEAR(eval_offset_poly(par.range_offset_polynomial, x, y), kRangeShift, 0.1);
                EXPECT_NEAR(eval_offset_poly(par.azimuth_offset_polynomial, x, y), kAzimuthShift,
                            0.1);
            }
        EXPECT_EQ(own_work_files(s), std::vector<std::string>());
    } else if (row.answer == Answer::SucceedsUnusable) {
        // The plug-in keeps what it wrote; the tool withdraws it on any
        // number of threads.
        EXPECT_EQ(fs::exists(s.new_off()), via == Via::execute);
        EXPECT_EQ(own_work_files(s), std::vector<std::string>());
    } else if (row.answer == Answer::RefusedInStageTwo) {
        EXPECT_EQ(read_off(s.off).offset_estimation_range_samples, s.rangeSamples);
        EXPECT_FALSE(fs::exists(s.new_off()));
    } else {
        EXPECT_EQ(read_bytes(s.off), offBefore);
        EXPECT_FALSE(fs::exists(s.new_off()));
        // After stage 1 fails, only work files with rows in them stay.
        for (const std::string& path : own_work_files(s))
            EXPECT_TRUE(!toolRefuses && row.answer != Answer::Throws && fs::file_size(path) > 0)
                << path;
    }
    for (const auto& [path, bytes] : s.planted)
        EXPECT_EQ(read_bytes(path), bytes) << path;
    // No temporary file of the offset file writer ("<off>.tmp.<pid>") is left.
    for (const std::string& dir : {s.master_dir(), fs::path(s.off).parent_path().string()})
        for (const auto& entry : fs::directory_iterator(dir))
            EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos)
                << entry.path();
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultTable,
                         ::testing::Combine(::testing::ValuesIn(kRows),
                                            ::testing::Values(Via::execute, Via::tool,
                                                              Via::threads)),
                         [](const auto& info) {
                             const Via via = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param).name) +
                                    (via == Via::tool      ? "_Tool"
                                     : via == Via::threads ? "_ToolOnThreads"
                                                           : "_Execute");
                         });

} // namespace
