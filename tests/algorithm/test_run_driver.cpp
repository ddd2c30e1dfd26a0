// Whole runs through Execute: progress and reports, the work files of a run
// (names, place, removal), the new offset file's name, concurrent runs
// against one master directory, relative and non-ASCII paths.
#include "synthetic_pair.h"

#include <cctype>
#include <dirent.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Record = stFineCoregistrationInfo;

// Names in dir that start with "Temp_", sorted.
std::vector<std::string> temp_files(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::string(e->d_name).rfind("Temp_", 0) == 0)
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// True when names are exactly base + each suffix, base "Temp_<decimal>".
bool named_from_one_base(const std::vector<std::string>& names, std::vector<std::string> suffixes) {
    if (names.empty() || names.size() != suffixes.size())
        return false;
    const std::string& first = names[0];
    const std::size_t end = first.find_first_not_of("0123456789", 5);
    if (end == 5 || end == std::string::npos)
        return false;
    std::vector<std::string> expected;
    for (const std::string& s : suffixes)
        expected.push_back(first.substr(0, end) + s);
    std::sort(expected.begin(), expected.end());
    return names == expected;
}

const std::vector<std::string> kStageOneFiles{"_offs", "_snr", "_offsets.txt"};
const std::vector<std::string> kAllWorkFiles{"_offs", "_snr", "_offsets.txt", "coffs",
                                             "coffsets.txt"};

struct ExecuteRun {
    bool ok = false;
    std::vector<std::pair<int, QString>> posted;
    std::vector<double> percent;
    std::vector<QString> messages;
    std::vector<void*> senders;
    std::vector<std::string> tempsInStageOne; // at stage 1's first progress
    const void* algo = nullptr;               // the object that ran (gone now)
};

ExecuteRun execute(const Record& info, const std::string& workDir) {
    RecordingCoregistration algo;
    ExecuteRun r;
    r.algo = &algo;
    algo.m_progress.connect([&](double p, const QString& m, void* s) {
        if (!m.isEmpty() && r.tempsInStageOne.empty())
            r.tempsInStageOne = temp_files(workDir);
        r.percent.push_back(p);
        r.messages.push_back(m);
        r.senders.push_back(s);
        return 0;
    });
    boost::any slot = info;
    algo.SetParams(slot);
    ::testing::internal::CaptureStdout();
    r.ok = algo.Execute();
    ::testing::internal::GetCapturedStdout();
    r.posted = algo.posted;
    return r;
}

class RunDriver : public ::testing::Test {
protected:
    void SetUp() override { dir = fresh_test_dir(); }

    // Slave shifted by (3, 2), given as the coarse offset; a 4 x 4 grid.
    Record prepared_record(const std::string& where) {
        PairSpec p;
        p.dx = 3;
        p.dy = 2;
        files = write_pair(where, p, 3, 2);
        return run_record(files.master, files.slave, files.off, 32, 4, 4, 3.0);
    }

    std::string dir;
    PairFiles files;
};

void expect_fitted(const std::string& offFile, double range, double azimuth) {
    stOffsetParInfo par{};
    ASSERT_TRUE(read_offset_file(offFile, par)) << offFile;
    EXPECT_NEAR(par.range_offset_polynomial[0], range, 0.02);
    EXPECT_NEAR(par.azimuth_offset_polynomial[0], azimuth, 0.02);
    EXPECT_EQ(par.offset_estimation_range_samples, 4);
}

TEST_F(RunDriver, SuccessfulRunReportsProgressThenSuccessAndRemovesItsWorkFiles) {
    const Record info = prepared_record(dir);
    const ExecuteRun r = execute(info, dir);
    ASSERT_TRUE(r.ok);

    // 0, one value per grid position with the stage's message, 100.
    ASSERT_EQ(r.percent.size(), 18u);
    EXPECT_EQ(r.percent.front(), 0.0);
    EXPECT_EQ(r.percent.back(), 100.0);
    EXPECT_TRUE(r.messages.front().isEmpty());
    EXPECT_TRUE(r.messages.back().isEmpty());
    for (int k = 0; k < 16; k++) {
        EXPECT_DOUBLE_EQ(r.percent[k + 1], (k / 16.0 + 0.001) * 100.0);
        EXPECT_LT(r.percent[k], r.percent[k + 1]);
        EXPECT_EQ(r.messages[k + 1], QString("FineCoregistration..."));
    }
    for (void* sender : r.senders)
        EXPECT_EQ(sender, r.algo);
    ASSERT_EQ(r.posted.size(), 1u);
    EXPECT_EQ(r.posted[0].first, 666);
    EXPECT_EQ(r.posted[0].second, QString("Fine coregistration success !"));

    EXPECT_TRUE(named_from_one_base(r.tempsInStageOne, kStageOneFiles));
    EXPECT_TRUE(temp_files(dir).empty());
    expect_fitted(dir + "/pair_new.off", 3.0, 2.0);
    stOffsetParInfo rewritten{};
    ASSERT_TRUE(read_offset_file(files.off, rewritten));
    EXPECT_EQ(rewritten.offset_estimation_azimuth_spacing, 53); // stage 1's grid
}

TEST_F(RunDriver, OverwriteReplacesTheOffsetFile) {
    Record info = prepared_record(dir);
    info.overwriteOffsetPar = true;
    ASSERT_TRUE(execute(info, dir).ok);
    expect_fitted(files.off, 3.0, 2.0);
    EXPECT_FALSE(file_exists(dir + "/pair_new.off"));
}

struct NewNameCase {
    const char* off;      // offset file, relative to the test directory
    const char* expected; // the new offset file
};

class RunDriverNewName : public RunDriver, public ::testing::WithParamInterface<NewNameCase> {};

// The new name is the path up to its last "." (anywhere) + "_new.off".
TEST_P(RunDriverNewName, NewOffsetFileIsNamedAtTheLastDot) {
    Record info = prepared_record(dir);
    const std::string off = dir + "/" + GetParam().off;
    std::filesystem::create_directories(std::filesystem::path(off).parent_path());
    std::filesystem::copy_file(files.off, off);
    info.offsetParPath = QString::fromStdString(off);
    ASSERT_TRUE(execute(info, dir).ok);
    expect_fitted(dir + "/" + GetParam().expected, 3.0, 2.0);
}

INSTANTIATE_TEST_SUITE_P(Names, RunDriverNewName,
                         ::testing::Values(NewNameCase{"scene.off", "scene_new.off"},
                                           NewNameCase{"v1.2/pair.x.off", "v1.2/pair.x_new.off"},
                                           NewNameCase{"scene.a/pair", "scene_new.off"}));

TEST_F(RunDriver, StageTwoFailureKeepsAllWorkFiles) {
    const Record info = prepared_record(dir);
    ASSERT_EQ(::mkdir((dir + "/pair_new.off").c_str(), 0755), 0);
    const ExecuteRun r = execute(info, dir);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.posted.size(), 1u);
    EXPECT_EQ(r.posted[0].first, 110);
    EXPECT_EQ(r.posted[0].second, QString("Failed to write the off file !"));
    EXPECT_EQ(r.percent.back(), 100.0);

    const std::vector<std::string> kept = temp_files(dir);
    EXPECT_TRUE(named_from_one_base(kept, kAllWorkFiles));
    if (!kept.empty()) { // "_offs" sorts first
        EXPECT_EQ(read_file_bytes(dir + "/" + kept[0]).size(), 16u * 8u);
    }
}

struct StageOneFailureCase {
    const char* name;
    void (*spoil)(Record&);
    std::size_t workFilesLeft; // with their rows, as a failed stage leaves them
};

class RunDriverStageOneFailure : public RunDriver,
                                 public ::testing::WithParamInterface<StageOneFailureCase> {};

// A failure before stage 1 wrote a row leaves no empty reservation behind.
TEST_P(RunDriverStageOneFailure, LeavesNoEmptyReservation) {
    Record info = prepared_record(dir);
    GetParam().spoil(info);
    const ExecuteRun r = execute(info, dir);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.posted.size(), 1u);
    EXPECT_EQ(r.posted[0].first, 110);
    ASSERT_FALSE(r.percent.empty());
    EXPECT_EQ(r.percent.front(), 0.0);
    EXPECT_EQ(r.percent.back(), 100.0);
    std::size_t left = 0;
    for (const std::string& name : temp_files(dir)) {
        const bool offsets = name.size() > 5 && name.compare(name.size() - 5, 5, "_offs") == 0;
        if (offsets) {
            EXPECT_GT(read_file_bytes(dir + "/" + name).size(), 0u) << name;
            left++;
        }
    }
    EXPECT_EQ(left, GetParam().workFilesLeft);
    EXPECT_FALSE(file_exists(dir + "/pair_new.off"));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunDriverStageOneFailure,
    ::testing::Values(
        StageOneFailureCase{"MissingMaster",
                            [](Record& i) { i.masterImagePath += QString(".none"); }, 0},
        StageOneFailureCase{"MissingOffFile", [](Record& i) { i.offsetParPath += ".none"; }, 0},
        StageOneFailureCase{"ThresholdNeverReached", [](Record& i) { i.snrThreshold = 1e9; }, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunDriver, RelativeMasterPathResolvesAgainstTheCurrentDirectory) {
    Record info = prepared_record(dir);
    const std::string sub = dir + "/sub";
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(sub.c_str()), 0);
    info.masterImagePath = "../master.slc";
    const ExecuteRun r = execute(info, dir);
    ASSERT_EQ(::chdir(previous), 0);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(named_from_one_base(r.tempsInStageOne, kStageOneFiles));
    EXPECT_TRUE(temp_files(sub).empty());
    EXPECT_TRUE(temp_files(dir).empty());
}

TEST_F(RunDriver, NonAsciiDirectoryNameWorks) {
    const std::string utf8 = dir + "/\xe6\x95\xb0\xe6\x8d\xae \xc3\xa9"; // "数据 é"
    ASSERT_EQ(::mkdir(utf8.c_str(), 0755), 0);
    const Record info = prepared_record(utf8);
    const ExecuteRun r = execute(info, utf8);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(named_from_one_base(r.tempsInStageOne, kStageOneFiles));
    EXPECT_TRUE(temp_files(utf8).empty());
    expect_fitted(utf8 + "/pair_new.off", 3.0, 2.0);
}

// One byte each way through a pipe pair; false after 30 s without an answer.
bool meet(int sendFd, int receiveFd) {
    const char token = 1;
    if (::write(sendFd, &token, 1) != 1)
        return false;
    pollfd p{receiveFd, POLLIN, 0};
    char got;
    return ::poll(&p, 1, 30000) == 1 && ::read(receiveFd, &got, 1) == 1;
}

// Runs one co-registration in a forked child, meeting the other child twice
// inside stage 1 to look at the master directory while both runs hold their
// work files. Exit status: 0 success with two distinct sets seen.
[[noreturn]] void child_run(const Record& info, const std::string& masterDir, int sendFd,
                            int receiveFd) {
    if (!std::freopen("/dev/null", "w", stdout))
        ::_exit(20);
    RecordingCoregistration algo;
    bool met = false;
    std::size_t offsetsSeen = 0;
    algo.m_progress.connect([&](double, const QString& m, void*) {
        if (met || m.isEmpty())
            return 0;
        met = meet(sendFd, receiveFd);
        for (const std::string& name : temp_files(masterDir))
            offsetsSeen += name.size() > 5 && name.compare(name.size() - 5, 5, "_offs") == 0;
        met = met && meet(sendFd, receiveFd);
        return 0;
    });
    boost::any slot = info;
    algo.SetParams(slot);
    const bool ok = algo.Execute();
    const bool succeeded = ok && algo.posted.size() == 1 && algo.posted[0].first == 666;
    ::_exit(!succeeded ? 1 : !met ? 2 : offsetsSeen != 2 ? 3 : 0);
}

// Two runs of different slaves against one master at the same time, in two
// processes (the module keeps process-wide state, so not in two threads).
TEST_F(RunDriver, ConcurrentRunsAgainstOneMasterNeverShareWorkFiles) {
    const Record first = prepared_record(dir);
    // The second slave from the same field, shifted by (-4, 1).
    const SpeckleField field(256 + 2 * kFieldPad, 256 + 2 * kFieldPad, PairSpec().seed);
    const std::string slave2 = dir + "/slave2.slc", off2 = dir + "/pair2.off";
    ASSERT_TRUE(write_field_image(slave2, field, 4, -1, 256, 256, false));
    ASSERT_TRUE(write_image_xml(slave2, 256, 256, "FCOMPLEX"));
    ASSERT_TRUE(write_coarse_offset_file(off2, -4, 1));
    const Record second = run_record(files.master, slave2, off2, 32, 4, 4, 3.0);

    int aToB[2], bToA[2];
    ASSERT_EQ(::pipe(aToB), 0);
    ASSERT_EQ(::pipe(bToA), 0);
    std::fflush(nullptr);
    const pid_t a = ::fork();
    if (a == 0)
        child_run(first, dir, aToB[1], bToA[0]);
    const pid_t b = ::fork();
    if (b == 0)
        child_run(second, dir, bToA[1], aToB[0]);
    for (int fd : {aToB[0], aToB[1], bToA[0], bToA[1]})
        ::close(fd);
    int statusA = 0, statusB = 0;
    ASSERT_EQ(::waitpid(a, &statusA, 0), a);
    ASSERT_EQ(::waitpid(b, &statusB, 0), b);
    ASSERT_TRUE(WIFEXITED(statusA));
    ASSERT_TRUE(WIFEXITED(statusB));
    EXPECT_EQ(WEXITSTATUS(statusA), 0);
    EXPECT_EQ(WEXITSTATUS(statusB), 0);

    expect_fitted(dir + "/pair_new.off", 3.0, 2.0);
    expect_fitted(dir + "/pair2_new.off", -4.0, 1.0);
    EXPECT_TRUE(temp_files(dir).empty());
}

} // namespace
