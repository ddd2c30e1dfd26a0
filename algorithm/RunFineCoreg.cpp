#include "algorithm/FineCoregistration.h"
#include "algorithm/path_encoding.h"
#include "algorithm/run_parameters.h"
#include "algorithm/work_files.h"

#include <QFile>
#include <sys/stat.h>

namespace {

// The reserved offsets file holds no measurement while it is empty: if the
// run ends before stage 1 wrote its first row (a failure, or an exception
// from the XML reader passing to the host) it is not a work file worth
// keeping.
class EmptyReservationCleanup {
public:
    explicit EmptyReservationCleanup(const std::string& path) : path_(path) {}
    ~EmptyReservationCleanup() {
        struct stat st;
        if (!dismissed_ && ::stat(path_.c_str(), &st) == 0 && st.st_size == 0)
            QFile::remove(from_native_path(path_));
    }
    EmptyReservationCleanup(const EmptyReservationCleanup&) = delete;
    EmptyReservationCleanup& operator=(const EmptyReservationCleanup&) = delete;
    void dismiss() { dismissed_ = true; }

private:
    std::string path_;
    bool dismissed_ = false;
};

} // namespace

bool FineCoregistration::RunFineCoreg(stFineCoregistrationInfo& info) {
    // A bad record is refused before anything is opened or written.
    if (const char* problem = check_run_parameters(info))
        return fail(problem);

    const std::string master = absolute_native_path(info.masterImagePath);
    WorkFiles files;
    if (!reserve_work_files(master, files)) {
        // No name could be reserved (say, a directory this run may not write
        // to). A fixed fallback name could belong to another run whose files
        // this run can still overwrite; empty names never open, so stage 1
        // reports that it cannot create its files, in its own order.
        files = WorkFiles{};
    }

    EmptyReservationCleanup cleanup(files.offsets);
    if (!offset_pwr(info, files.offsets, files.snr, files.listing))
        return false;
    cleanup.dismiss();
    if (!offset_fit(info, files.offsets, files.snr, files.culledOffsets, files.culledListing))
        return false;

    QFile::remove(from_native_path(files.offsets));
    QFile::remove(from_native_path(files.listing));
    QFile::remove(from_native_path(files.snr));
    QFile::remove(from_native_path(files.culledOffsets));
    QFile::remove(from_native_path(files.culledListing));
    return true;
}
