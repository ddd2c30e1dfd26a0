#include "algorithm/work_files.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool any_exists(const WorkFiles& f) {
    return exists(f.offsets) || exists(f.snr) || exists(f.listing) || exists(f.culledOffsets) ||
           exists(f.culledListing);
}

} // namespace

bool reserve_work_files(const std::string& masterPath, WorkFiles& files) {
    const std::size_t slash = masterPath.rfind('/');
    const std::string directory =
        slash == std::string::npos ? std::string() : masterPath.substr(0, slash + 1);

    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::seed_seq seed{static_cast<unsigned>(now), static_cast<unsigned>(now >> 32),
                       static_cast<unsigned>(::getpid())};
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> draw(0, RAND_MAX);

    for (int attempt = 0; attempt < 100; attempt++) {
        files = work_files_for_base(directory + "Temp_" + std::to_string(draw(generator)));
        if (any_exists(files))
            continue;
        const int fd = ::open(files.offsets.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}
