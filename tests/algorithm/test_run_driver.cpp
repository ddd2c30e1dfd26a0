// The algorithm object as a host sees it, and whole runs through Execute: the
// parameter slot, progress and reports, refusal of bad records, the work
// files of a run (names, place, removal), concurrent runs against one master
// directory, relative and non-ASCII paths.
#include "algorithm/path_encoding.h"
#include "synthetic_pair.h"

#include <dirent.h>
#include <memory>
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
    const std::size_t end = names[0].find_first_not_of("0123456789", 5);
    if (end == 5 || end == std::string::npos)
        return false;
    for (std::string& s : suffixes)
        s = names[0].substr(0, end) + s;
    std::sort(suffixes.begin(), suffixes.end());
    return names == suffixes;
}

const std::vector<std::string> kStageOneFiles{"_offs", "_snr", "_offsets.txt"};
const std::vector<std::string> kAllWorkFiles{"_offs", "_snr", "_offsets.txt", "coffs",
                                             "coffsets.txt"};

struct ExecuteRun {
    bool ok = false;
    int status = 0;
    std::vector<std::pair<int, QString>> posted;
    std::vector<double> percent;
    std::vector<QString> messages;
    std::vector<void*> senders;
    std::vector<std::string> tempsInStageOne; // at stage 1's first progress
    const void* algo = nullptr;               // the object that ran (gone now)
    boost::any slot;                          // the parameter slot after the run
};

ExecuteRun execute(boost::any slot, const std::string& workDir = "") {
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
    algo.SetParams(slot);
    ::testing::internal::CaptureStdout();
    r.ok = algo.Execute();
    ::testing::internal::GetCapturedStdout();
    r.status = algo.GetStatus();
    r.posted = algo.posted;
    r.slot = algo.GetParams();
    return r;
}

TEST(RunSlot, EmptyOrWronglyTypedSlotSetsStatus100AndNothingElse) {
    for (boost::any slot : {boost::any(), boost::any(QString("not a record")), boost::any(3)}) {
        const ExecuteRun r = execute(slot);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.status, 100);
        EXPECT_TRUE(r.percent.empty());
        EXPECT_TRUE(r.posted.empty());
    }
}

TEST(RunSlot, TwoObjectsAreIndependent) {
    std::unique_ptr<Oskal::IOskal> first(GetAlgoObj());
    std::unique_ptr<Oskal::IOskal> second(GetAlgoObj());
    ASSERT_NE(first.get(), second.get());
    const std::string none = std::string(FC_TEST_TMP_DIR) + "/none";
    boost::any slot = run_record(none + ".slc", none + ".slc", none + ".off", 64, 8, 8);
    first->SetParams(slot);
    EXPECT_FALSE(first->Execute());
    int code = 0;
    QString message;
    second->GetErrorInfo(code, message);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(second->GetParams().empty());
    EXPECT_FALSE(second->Execute());
    EXPECT_EQ(second->GetStatus(), 100);
    first->GetErrorInfo(code, message);
    EXPECT_EQ(code, 110);
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

// The record in the slot after a run is the one the host put there.
void expect_same_record(const boost::any& slot, const Record& info) {
    ASSERT_EQ(slot.type(), typeid(Record));
    const Record& kept = boost::any_cast<const Record&>(slot);
    EXPECT_EQ(kept.masterImagePath, info.masterImagePath);
    EXPECT_EQ(kept.offsetParPath, info.offsetParPath);
    EXPECT_EQ(kept.windowWidth, info.windowWidth);
    EXPECT_EQ(kept.rangeSamples, info.rangeSamples);
    EXPECT_EQ(std::memcmp(&kept.snrThreshold, &info.snrThreshold, sizeof(double)), 0); // NaN too
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
    expect_same_record(r.slot, info);

    EXPECT_TRUE(named_from_one_base(r.tempsInStageOne, kStageOneFiles));
    EXPECT_TRUE(temp_files(dir).empty());
    expect_fitted(dir + "/pair_new.off", 3.0, 2.0);
    stOffsetParInfo rewritten{};
    ASSERT_TRUE(read_offset_file(files.off, rewritten));
    EXPECT_EQ(rewritten.offset_estimation_azimuth_spacing, 53); // stage 1's grid
}

struct RunFailureCase {
    const char* name;
    void (*spoil)(Record&);
    const char* message;
    const std::vector<std::string>* kept; // the work files left, with their rows
};

class RunFailure : public RunDriver, public ::testing::WithParamInterface<RunFailureCase> {};

// One report, of code 110, between progress 0 and 100 (both with an empty
// message, both from the object). A bad record is refused before anything is
// opened or written; a failure before stage 1 wrote a row leaves no empty
// reservation; a later one keeps every work file written.
TEST_P(RunFailure, ReportsOnce110AndKeepsOnlyWorkFilesWithData) {
    Record info = prepared_record(dir);
    GetParam().spoil(info);
    const std::string offBefore = read_file_bytes(files.off);
    const ExecuteRun r = execute(info, dir);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.posted.size(), 1u);
    EXPECT_EQ(r.posted[0].first, 110);
    EXPECT_EQ(r.posted[0].second, QString(GetParam().message));
    ASSERT_GE(r.percent.size(), 2u);
    EXPECT_EQ(r.percent.front(), 0.0);
    EXPECT_EQ(r.percent.back(), 100.0);
    EXPECT_TRUE(r.messages.front().isEmpty());
    EXPECT_TRUE(r.messages.back().isEmpty());
    for (void* sender : r.senders)
        EXPECT_EQ(sender, r.algo);
    expect_same_record(r.slot, info);

    const std::vector<std::string> left = temp_files(dir);
    if (!GetParam().kept) {
        EXPECT_TRUE(left.empty());
        EXPECT_EQ(r.percent.size(), 2u);
        EXPECT_EQ(read_file_bytes(files.off), offBefore);
    } else {
        EXPECT_TRUE(named_from_one_base(left, *GetParam().kept));
        if (!left.empty()) { // "_offs" sorts first
            EXPECT_EQ(read_file_bytes(dir + "/" + left[0]).size(), 16u * 8u);
        }
    }
    EXPECT_FALSE(std::filesystem::is_regular_file(dir + "/pair_new.off"));
}

const char* const kWindow = "Window width and height must be powers of two from 4 to 4096 !";
const char* const kGrid =
    "Number of offset estimates in range and azimuth must be from 1 to 16384 !";

INSTANTIATE_TEST_SUITE_P(
    Runs, RunFailure,
    ::testing::Values(
        RunFailureCase{"ZeroWidth", [](Record& i) { i.windowWidth = 0; }, kWindow, nullptr},
        RunFailureCase{"NegativeHeight", [](Record& i) { i.windowHeight = -64; }, kWindow, nullptr},
        RunFailureCase{"NotPowerOfTwo", [](Record& i) { i.windowWidth = 48; }, kWindow, nullptr},
        RunFailureCase{"TooLow", [](Record& i) { i.windowHeight = 2; }, kWindow, nullptr},
        RunFailureCase{"TooNarrow", [](Record& i) { i.windowWidth = 2; }, kWindow, nullptr},
        RunFailureCase{"TooLarge", [](Record& i) { i.windowWidth = 8192; }, kWindow, nullptr},
        RunFailureCase{"TooWideForFilter",
                       [](Record& i) {
                           i.windowWidth = 512;
                           i.windowHeight = 64;
                       },
                       "Window width must be less than eight times the window height !", nullptr},
        RunFailureCase{"NoRangeSamples", [](Record& i) { i.rangeSamples = 0; }, kGrid, nullptr},
        RunFailureCase{"NoAzimuthSamples", [](Record& i) { i.azimuthSamples = 0; }, kGrid, nullptr},
        RunFailureCase{"NaNThreshold", [](Record& i) { i.snrThreshold = std::nan(""); },
                       "SNR threshold is not a number !", nullptr},
        RunFailureCase{"MissingMaster", [](Record& i) { i.masterImagePath += ".none"; },
                       "Failed to open the master image !", nullptr},
        RunFailureCase{"ThresholdNeverReached", [](Record& i) { i.snrThreshold = 1e9; },
                       "No offsets found above SNR threshold !", &kStageOneFiles},
        RunFailureCase{"NewOffsetFileBlocked",
                       [](Record& i) {
                           const std::string off = i.offsetParPath.toStdString();
                           ::mkdir((off.substr(0, off.rfind('.')) + "_new.off").c_str(), 0755);
                       },
                       "Failed to write the off file !", &kAllWorkFiles}),
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
    const ExecuteRun r = execute(prepared_record(utf8), utf8);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(named_from_one_base(r.tempsInStageOne, kStageOneFiles));
    EXPECT_TRUE(temp_files(utf8).empty());
    expect_fitted(utf8 + "/pair_new.off", 3.0, 2.0);
}

TEST(PathEncoding, GbkBytesRoundTrip) {
    const QString text = QString::fromUtf8("/data/\xe4\xb8\xad\xe6\x96\x87.slc"); // "中文"
    const std::string gbk = qstring_to_gbk(text);
    EXPECT_EQ(gbk, std::string("/data/\xd6\xd0\xce\xc4.slc"));
    EXPECT_EQ(gbk_to_qstring(gbk), text);
    // Native names are this system's own encoding (UTF-8 here).
    EXPECT_EQ(to_native_path(text), std::string("/data/\xe4\xb8\xad\xe6\x96\x87.slc"));
    EXPECT_EQ(from_native_path(to_native_path(text)), text);
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
    EXPECT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0) << statusA;
    EXPECT_TRUE(WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0) << statusB;

    expect_fitted(dir + "/pair_new.off", 3.0, 2.0);
    expect_fitted(dir + "/pair2_new.off", -4.0, 1.0);
    EXPECT_TRUE(temp_files(dir).empty());
}

} // namespace
