#include "algorithm/FineCoregistration.h"
#include "algorithm/path_encoding.h"
#include "algorithm/run_parameters.h"
#include "algorithm/work_files.h"

#include <QFile>
#include <sys/stat.h>

namespace {

bool is_empty_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && st.st_size == 0;
}

} // namespace

bool FineCoregistration::RunFineCoreg(stFineCoregistrationInfo& info) {
    // A bad record is refused before anything is opened or written.
    if (const char* problem = check_run_parameters(info))
        return fail(problem);

    const std::string master = absolute_native_path(info.masterImagePath);
    WorkFiles files;
    if (!reserve_work_files(master, files)) {
        // No name could be reserved: stage 1 meets the same directory and
        // reports the failure in its own terms (it cannot create the file).
        const std::size_t slash = master.rfind('/');
        files = work_files_for_base(
            (slash == std::string::npos ? std::string() : master.substr(0, slash + 1)) + "Temp_0");
    }

    if (!offset_pwr(info, files.offsets, files.snr, files.listing)) {
        // The reservation holds no measurement when stage 1 stopped before
        // its first row: it is not a work file worth keeping.
        if (is_empty_file(files.offsets))
            QFile::remove(from_native_path(files.offsets));
        return false;
    }
    if (!offset_fit(info, files.offsets, files.snr, files.culledOffsets, files.culledListing))
        return false;

    QFile::remove(from_native_path(files.offsets));
    QFile::remove(from_native_path(files.listing));
    QFile::remove(from_native_path(files.snr));
    QFile::remove(from_native_path(files.culledOffsets));
    QFile::remove(from_native_path(files.culledListing));
    return true;
}
