// The algorithm object as a host sees it: the parameter slot, the progress
// signal, the error information, and the refusal of bad records.
#include "algorithm/FineCoregistration.h"
#include "algorithm/path_encoding.h"
#include "algorithm/work_files.h"

#include <QString>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Records every error report while keeping the base's behaviour.
class RecordingCoregistration : public FineCoregistration {
public:
    std::vector<std::pair<int, QString>> posted;
    void SetErrorInfo(int code, const QString& message) override {
        posted.emplace_back(code, message);
        FineCoregistration::SetErrorInfo(code, message);
    }
};

struct ProgressLog {
    std::vector<double> percent;
    std::vector<QString> messages;
    std::vector<void*> senders;
    void attach(Oskal::IOskal& algo) {
        algo.m_progress.connect([this](double p, const QString& m, void* s) {
            percent.push_back(p);
            messages.push_back(m);
            senders.push_back(s);
            return 0;
        });
    }
};

stFineCoregistrationInfo valid_record(const QString& dir) {
    stFineCoregistrationInfo info;
    info.masterImagePath = dir + "/no_such_master.slc";
    info.slaveImagePath = dir + "/no_such_slave.slc";
    info.offsetParPath = dir + "/no_such.off";
    info.windowWidth = 64;
    info.windowHeight = 64;
    info.rangeSamples = 8;
    info.azimuthSamples = 8;
    info.snrThreshold = 7.0;
    return info;
}

TEST(ExecuteFrame, EmptyOrWronglyTypedSlotSetsStatus100AndNothingElse) {
    for (boost::any slot : {boost::any(), boost::any(QString("not a record")), boost::any(3)}) {
        RecordingCoregistration algo;
        ProgressLog log;
        log.attach(algo);
        algo.SetParams(slot);
        EXPECT_FALSE(algo.Execute());
        EXPECT_EQ(algo.GetStatus(), 100);
        EXPECT_TRUE(log.percent.empty());
        EXPECT_TRUE(algo.posted.empty());
    }
}

TEST(ExecuteFrame, FailingRunReportsOnce110WithProgress0And100) {
    RecordingCoregistration algo;
    ProgressLog log;
    log.attach(algo);
    boost::any slot = valid_record(FC_TEST_TMP_DIR);
    algo.SetParams(slot);

    EXPECT_FALSE(algo.Execute());
    ASSERT_EQ(log.percent, (std::vector<double>{0.0, 100.0}));
    for (std::size_t i = 0; i < 2; i++) {
        EXPECT_TRUE(log.messages[i].isEmpty());
        EXPECT_EQ(log.senders[i], static_cast<void*>(&algo));
    }
    ASSERT_EQ(algo.posted.size(), 1u);
    EXPECT_EQ(algo.posted[0].first, 110);
    EXPECT_EQ(algo.posted[0].second, QString("Failed to open the master image !"));
    int code = 0;
    QString message;
    algo.GetErrorInfo(code, message);
    EXPECT_EQ(code, 110);

    // The slot still holds the record exactly as the host left it.
    const auto& kept = boost::any_cast<const stFineCoregistrationInfo&>(algo.GetParams());
    EXPECT_EQ(kept.masterImagePath, QString(FC_TEST_TMP_DIR) + "/no_such_master.slc");
    EXPECT_EQ(kept.windowWidth, 64);
}

TEST(ExecuteFrame, TwoObjectsAreIndependent) {
    std::unique_ptr<Oskal::IOskal> first(GetAlgoObj());
    std::unique_ptr<Oskal::IOskal> second(GetAlgoObj());
    ASSERT_NE(first.get(), second.get());
    boost::any slot = valid_record(FC_TEST_TMP_DIR);
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

struct BadRecordCase {
    const char* name;
    void (*spoil)(stFineCoregistrationInfo&);
    const char* message;
};

class BadRecord : public ::testing::TestWithParam<BadRecordCase> {};

TEST_P(BadRecord, IsRefusedWith110BeforeAnythingIsWritten) {
    const std::string dir = std::string(FC_TEST_TMP_DIR) + "/bad_record_" + GetParam().name;
    ::mkdir(dir.c_str(), 0755);
    stFineCoregistrationInfo info = valid_record(QString::fromStdString(dir));
    GetParam().spoil(info);
    RecordingCoregistration algo;
    boost::any slot = info;
    algo.SetParams(slot);
    EXPECT_FALSE(algo.Execute());
    ASSERT_EQ(algo.posted.size(), 1u);
    EXPECT_EQ(algo.posted[0].first, 110);
    EXPECT_EQ(algo.posted[0].second, QString(GetParam().message));
    EXPECT_EQ(::rmdir(dir.c_str()), 0) << "the refused run left a file behind";
}

const char* kWindowMessage = "Window width and height must be powers of two from 4 to 4096 !";
const char* kGridMessage =
    "Number of offset estimates in range and azimuth must be from 1 to 16384 !";

INSTANTIATE_TEST_SUITE_P(
    Records, BadRecord,
    ::testing::Values(
        BadRecordCase{"ZeroWidth", [](stFineCoregistrationInfo& i) { i.windowWidth = 0; },
                      kWindowMessage},
        BadRecordCase{"NegativeHeight", [](stFineCoregistrationInfo& i) { i.windowHeight = -64; },
                      kWindowMessage},
        BadRecordCase{"NotPowerOfTwo", [](stFineCoregistrationInfo& i) { i.windowWidth = 48; },
                      kWindowMessage},
        BadRecordCase{"TooSmall", [](stFineCoregistrationInfo& i) { i.windowHeight = 2; },
                      kWindowMessage},
        BadRecordCase{"TooLarge", [](stFineCoregistrationInfo& i) { i.windowWidth = 8192; },
                      kWindowMessage},
        BadRecordCase{"TooWideForFilter",
                      [](stFineCoregistrationInfo& i) {
                          i.windowWidth = 512;
                          i.windowHeight = 64;
                      },
                      "Window width must be less than eight times the window height !"},
        BadRecordCase{"NoRangeSamples", [](stFineCoregistrationInfo& i) { i.rangeSamples = 0; },
                      kGridMessage},
        BadRecordCase{"NegativeAzimuthSamples",
                      [](stFineCoregistrationInfo& i) { i.azimuthSamples = -3; }, kGridMessage},
        BadRecordCase{"NaNThreshold",
                      [](stFineCoregistrationInfo& i) { i.snrThreshold = std::nan(""); },
                      "SNR threshold is not a number !"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WorkFiles, NamesFollowTheBaseWithTheFiveSuffixes) {
    const WorkFiles f = work_files_for_base("/data/Temp_417");
    EXPECT_EQ(f.offsets, "/data/Temp_417_offs");
    EXPECT_EQ(f.snr, "/data/Temp_417_snr");
    EXPECT_EQ(f.listing, "/data/Temp_417_offsets.txt");
    EXPECT_EQ(f.culledOffsets, "/data/Temp_417coffs");
    EXPECT_EQ(f.culledListing, "/data/Temp_417coffsets.txt");
}

TEST(WorkFiles, ReservationsInOneDirectoryNeverCollide) {
    const std::string dir = std::string(FC_TEST_TMP_DIR) + "/reserve";
    ::mkdir(dir.c_str(), 0755);
    std::vector<WorkFiles> taken;
    for (int n = 0; n < 50; n++) {
        WorkFiles f;
        ASSERT_TRUE(reserve_work_files(dir + "/master.slc", f));
        EXPECT_EQ(f.offsets.rfind(dir + "/Temp_", 0), 0u);
        for (const WorkFiles& other : taken)
            ASSERT_NE(f.offsets, other.offsets);
        taken.push_back(f);
    }
    for (const WorkFiles& f : taken)
        ::unlink(f.offsets.c_str());
    ::rmdir(dir.c_str());
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
