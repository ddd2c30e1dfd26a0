#include "algorithm/FineCoregistration.h"
#include "algorithm/path_encoding.h"
#include "algorithm/run_driver.h"

#include <QCoreApplication>

namespace {

RunRequest request_from(const stFineCoregistrationInfo& info) {
    RunRequest request;
    request.masterPath = absolute_native_path(info.masterImagePath);
    request.slavePath = absolute_native_path(info.slaveImagePath);
    request.offsetParPath = absolute_native_path(info.offsetParPath);
    request.windowWidth = info.windowWidth;
    request.windowHeight = info.windowHeight;
    request.rangeSamples = info.rangeSamples;
    request.azimuthSamples = info.azimuthSamples;
    request.snrThreshold = info.snrThreshold;
    request.overwrite = info.overwriteOffsetPar;
    return request;
}

// Shows a stage's reports the way the host expects them: progress on the
// signal with the translated message, failures as code 110.
class HostReporter : public StageReporter {
public:
    explicit HostReporter(FineCoregistration& owner)
        : owner_(owner),
          message_(QCoreApplication::translate("FineCoregistration", "FineCoregistration...")) {}
    void progress(double percent) override { owner_.m_progress(percent, message_, &owner_); }
    void failure(const char* message) override { post_failure(owner_, message); }

private:
    FineCoregistration& owner_;
    QString message_;
};

} // namespace

bool FineCoregistration::RunFineCoreg(stFineCoregistrationInfo& info) {
    // A bad record is refused before anything is opened or written.
    if (const char* problem = check_run_request(request_from(info)))
        return fail(problem);
    return drive_run(absolute_native_path(info.masterImagePath),
                     {[&](const WorkFiles& files) {
                          std::string offsets = files.offsets, snr = files.snr,
                                      listing = files.listing;
                          return offset_pwr(info, offsets, snr, listing);
                      },
                      [&](const WorkFiles& files) {
                          std::string offsets = files.offsets, snr = files.snr,
                                      culledOffsets = files.culledOffsets,
                                      culledListing = files.culledListing;
                          return offset_fit(info, offsets, snr, culledOffsets, culledListing);
                      }});
}

bool FineCoregistration::offset_pwr(stFineCoregistrationInfo& info, std::string& offsetsPath,
                                    std::string& snrPath, std::string& listingPath) {
    HostReporter reporter(*this);
    return estimate_offsets(request_from(info), {offsetsPath, snrPath, listingPath, {}, {}},
                            reporter);
}

bool FineCoregistration::offset_fit(stFineCoregistrationInfo& info, std::string& offsetsPath,
                                    std::string& snrPath, std::string& culledOffsetsPath,
                                    std::string& culledListingPath) {
    HostReporter reporter(*this);
    return fit_offsets(request_from(info),
                       {offsetsPath, snrPath, {}, culledOffsetsPath, culledListingPath}, reporter);
}
