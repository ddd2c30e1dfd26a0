#include "params/offset_par_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the record really goes: through a symbolic link to its target, so
// the link a user made stays a link.
std::string resolved_target(const std::string& path) {
    char resolved[PATH_MAX];
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
        ::realpath(path.c_str(), resolved) != nullptr)
        return resolved;
    return path;
}

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

// A "<name>.tmp.<pid>" left beside the target by a run that was killed
// before its rename: removed when that process is gone, never one of a live
// process (which may be writing it right now).
void remove_stale_temporaries(const std::string& target) {
    const std::string dir = directory_of(target);
    const std::string prefix = target.substr(target.rfind('/') + 1) + ".tmp.";
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.c_str()), &::closedir);
    if (!listing)
        return;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid <= 0 || *end != '\0' || pid == static_cast<long>(::getpid()))
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            std::remove((dir + "/" + name).c_str());
    }
}

} // namespace

bool write_offset_par_file(const std::string& path, const stOffsetParInfo& par) {
    const std::string target = resolved_target(path);
    remove_stale_temporaries(target);
    // The new file keeps the permission bits of the one it replaces; a file
    // written for the first time gets what the user's umask gives.
    struct stat old;
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    const std::string temp = target + ".tmp." + std::to_string(static_cast<long>(getpid()));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    std::FILE* stream = ::fdopen(fd, "w");
    if (stream == nullptr) {
        ::close(fd);
        std::remove(temp.c_str());
        return false;
    }
    write_offset_par(stream, &par);
    bool ok = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    if (replacing)
        ok = ::fchmod(fd, old.st_mode & 07777) == 0 && ok;
    ok = (fsync(fd) == 0) && ok;
    ok = (std::fclose(stream) == 0) && ok;
    if (ok && std::rename(temp.c_str(), target.c_str()) == 0)
        return true;
    std::remove(temp.c_str());
    return false;
}
