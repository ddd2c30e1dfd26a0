// Whole runs: the driver's work files (names, place, which stay after a
// failure) and the plug-in as a host sees it (parameter slot, paths). The
// fault table drives Execute through its progress and codes.
#include "algorithm/FineCoregistration.h"
#include "algorithm/path_encoding.h"
#include "algorithm/run_driver.h"
#include "algorithm/work_files.h"
#include "tests/support/scratch.h"

#include <unistd.h>

namespace {

using namespace scratch;

// Names in dir that start with "Temp_", sorted.
std::vector<std::string> temp_files(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind("Temp_", 0) == 0)
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes `rows` bytes into each of the given work files, as a stage would.
void fill(const std::vector<const std::string*>& paths, const std::string& rows) {
    for (const std::string* path : paths)
        write_bytes(*path, rows);
}

TEST(WorkFileReservation, DrawsFreshNamesInTheMasterDirectory) {
    const std::string dir = fresh_test_dir();
    WorkFiles first, second;
    ASSERT_TRUE(reserve_work_files(dir + "/master.slc", first));
    ASSERT_TRUE(reserve_work_files(dir + "/master.slc", second));
    const std::string base = first.offsets.substr(0, first.offsets.size() - 5);
    EXPECT_EQ(base.rfind(dir + "/Temp_", 0), 0u) << base;
    EXPECT_EQ(base.find_first_not_of("0123456789", dir.size() + 6), std::string::npos) << base;
    EXPECT_EQ(first.culledListing, base + "coffsets.txt");
    EXPECT_NE(first.offsets, second.offsets);
    EXPECT_EQ(temp_files(dir).size(), 2u); // the two offsets files, as reservations
    EXPECT_FALSE(reserve_work_files(dir + "/no/master.slc", first));
}

// Empty stage-1 files hold nothing and go; those with rows stay as evidence,
// and so does everything after a stage-2 failure.
TEST(DriveRun, AfterAFailureOnlyWorkFilesWithDataStay) {
    const std::string dir = fresh_test_dir();
    bool fitted = false;
    EXPECT_FALSE(drive_run(dir + "/m.slc", {[&](const WorkFiles& f) {
                                                fill({&f.snr, &f.listing}, "");
                                                fill({&f.offsets}, "rows");
                                                return false;
                                            },
                                            [&](const WorkFiles&) { return fitted = true; }}));
    EXPECT_FALSE(fitted);
    const std::vector<std::string> left = temp_files(dir);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].substr(left[0].size() - 5), "_offs");
    fs::remove(dir + "/" + left[0]);

    EXPECT_FALSE(drive_run(dir + "/m.slc", {[&](const WorkFiles&) { return false; },
                                            [&](const WorkFiles&) { return true; }}));
    EXPECT_TRUE(temp_files(dir).empty());

    EXPECT_FALSE(drive_run(dir + "/m.slc", {[&](const WorkFiles& f) {
                                                fill({&f.snr, &f.listing}, "");
                                                return true;
                                            },
                                            [&](const WorkFiles& f) {
                                                fill({&f.culledOffsets}, "");
                                                return false;
                                            }}));
    EXPECT_EQ(temp_files(dir).size(), 4u);
}

// Without a name, stage 1 gets empty paths (which never open) instead of a
// fixed name another run might hold.
TEST(DriveRun, UnwritableDirectoryGivesEmptyNames) {
    WorkFiles seen = work_files_for_base("x");
    EXPECT_FALSE(drive_run("/proc/m.slc", {[&](const WorkFiles& f) {
                                               seen = f;
                                               return false;
                                           },
                                           [&](const WorkFiles&) { return true; }}));
    EXPECT_EQ(seen.offsets + seen.snr + seen.listing + seen.culledOffsets + seen.culledListing, "");
}

// ------------------------------------------------------------- the plug-in

class RecordingCoregistration : public FineCoregistration {
public:
    std::vector<std::pair<int, std::string>> posted;
    int reports = 0;
    RecordingCoregistration() {
        m_progress.connect([this](double, const QString&, void*) { return reports++, 0; });
    }
    void SetErrorInfo(int code, const QString& message) override {
        posted.emplace_back(code, message.toStdString());
        FineCoregistration::SetErrorInfo(code, message);
    }
    bool execute(boost::any slot) {
        SetParams(slot);
        ::testing::internal::CaptureStdout();
        const bool ok = Execute();
        ::testing::internal::GetCapturedStdout();
        return ok;
    }
};

TEST(PluginSlot, EmptyOrWronglyTypedSlotSetsStatus100AndNothingElse) {
    for (boost::any slot : {boost::any(), boost::any(QString("not a record")), boost::any(3)}) {
        RecordingCoregistration algo;
        EXPECT_FALSE(algo.execute(slot));
        EXPECT_EQ(algo.GetStatus(), 100);
        EXPECT_EQ(algo.reports, 0);
        EXPECT_TRUE(algo.posted.empty());
    }
}

// The work files go beside the master, named relative to the directory the
// host runs in.
TEST(PluginPaths, RelativeMasterPathResolvesAgainstTheCurrentDirectory) {
    const std::string dir = fresh_test_dir();
    const PairFiles files = write_pair(dir, PairSpec{256, 256, 256, 256, 3, 2}, 3, 2);
    fs::create_directory(dir + "/sub");
    stFineCoregistrationInfo info;
    info.masterImagePath = "../master.slc";
    info.slaveImagePath = QString::fromStdString(files.slave);
    info.offsetParPath = QString::fromStdString(files.off);
    info.windowWidth = info.windowHeight = 32;
    info.rangeSamples = info.azimuthSamples = 4;
    info.snrThreshold = 3.0;
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir((dir + "/sub").c_str()), 0);
    RecordingCoregistration algo;
    const bool ok = algo.execute(info);
    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(temp_files(dir + "/sub").empty());
    EXPECT_TRUE(fs::exists(dir + "/pair_new.off"));
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

} // namespace
