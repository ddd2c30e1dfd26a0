#include "params/pending_output.h"

#include "params/file_error.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string system_error(int e) {
    return std::strerror(e);
}

// The temporaries pending now, for the signal handler: fixed storage, and a
// slot's state says when its path may be read (2) or is being written (1).
constexpr int kSlots = 64;
char pendingPaths[kSlots][PATH_MAX];
std::atomic<int> slotState[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

int claim_slot(const std::string& path) {
    if (path.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < kSlots; i++) {
        int expected = 0;
        if (slotState[i].compare_exchange_strong(expected, 1)) {
            std::memcpy(pendingPaths[i], path.c_str(), path.size() + 1);
            slotState[i].store(2);
            return i;
        }
    }
    return -1; // not removed on a signal; every other way out still removes it
}

void release_slot(int slot) {
    if (slot >= 0)
        slotState[slot].store(0);
}

extern "C" void remove_pending_and_reraise(int signal) {
    for (int i = 0; i < kSlots; i++)
        if (slotState[i].load() == 2)
            ::unlink(pendingPaths[i]);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Where the output really goes: through a symbolic link to its target.
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

// A "<name>.tmp.<pid>" left beside the target by a process that was killed
// before its rename: removed once that process is gone, never one of a live
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

std::string bytes_text(long double bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0Lf", bytes);
    return text;
}

} // namespace

std::string pending_temporary_name(const std::string& target) {
    return target + ".tmp." + std::to_string(static_cast<long>(::getpid()));
}

PendingOutput::PendingOutput(const std::string& target, Mode mode)
    : target_(resolved_target(target)), temp_(pending_temporary_name(target_)) {
    remove_stale_temporaries(target_);
    slot_ = claim_slot(temp_); // before the file exists, so no moment is missed
    const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const int e = errno;
    if (fd >= 0) {
        // The new file keeps the permission bits of the one it replaces; a
        // file written for the first time gets what the user's umask gives.
        struct stat old;
        if (::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode))
            (void)::fchmod(fd, old.st_mode & 07777);
        stream_ = mode == Mode::stream ? ::fdopen(fd, "wb") : nullptr;
        if (mode == Mode::external)
            ::close(fd);
    }
    if (fd < 0 || (mode == Mode::stream && stream_ == nullptr)) {
        if (fd >= 0) {
            ::close(fd);
            ::unlink(temp_.c_str());
        }
        release_slot(slot_);
        throw FileError(target, "cannot be written: " + system_error(fd < 0 ? e : errno));
    }
}

PendingOutput::~PendingOutput() {
    if (stream_ != nullptr)
        std::fclose(stream_);
    if (!committed_)
        ::unlink(temp_.c_str());
    release_slot(slot_);
}

void PendingOutput::write(const void* data, std::size_t bytes) {
    if (std::fwrite(data, 1, bytes, stream_) != bytes)
        throw FileError(target_, "write failed: " + system_error(errno));
    written_ += static_cast<std::int64_t>(bytes);
    if (written_ - handed_ >= (std::int64_t{4} << 20))
        hand_out();
}

void PendingOutput::hand_out() {
    if (stream_ == nullptr || written_ == handed_)
        return;
    if (std::fflush(stream_) != 0)
        throw FileError(target_, "write failed: " + system_error(errno));
#ifdef SYNC_FILE_RANGE_WRITE
    // Only a start: close() still syncs, so a failure here changes nothing.
    (void)::sync_file_range(::fileno(stream_), handed_, written_ - handed_, SYNC_FILE_RANGE_WRITE);
#endif
    handed_ = written_;
}

void PendingOutput::close() {
    if (stream_ == nullptr)
        return;
    std::FILE* stream = stream_;
    stream_ = nullptr;
    bool ok = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    ok = ok && ::fsync(::fileno(stream)) == 0;
    const int e = errno;
    ok = std::fclose(stream) == 0 && ok;
    if (!ok)
        throw FileError(target_, "write failed: " + system_error(e != 0 ? e : errno));
}

void PendingOutput::commit() {
    close();
    if (std::rename(temp_.c_str(), target_.c_str()) != 0)
        throw FileError(target_, "cannot be written: " + system_error(errno));
    committed_ = true;
    release_slot(slot_);
    slot_ = -1;
}

void commit_together(const std::vector<PendingOutput*>& outputs) {
    for (PendingOutput* output : outputs)
        output->hand_out(); // all written out side by side, then each synced
    for (PendingOutput* output : outputs)
        output->close();
    CommittedOutputs done;
    for (PendingOutput* output : outputs) {
        output->commit();
        done.add(output->target());
    }
    done.release();
}

CommittedOutputs::~CommittedOutputs() {
    for (auto it = paths_.rbegin(); it != paths_.rend(); ++it)
        std::remove(it->c_str()); // a directory last, once emptied
}

void remove_pending_outputs_on_signals() {
    struct sigaction action {};
    action.sa_handler = remove_pending_and_reraise;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM})
        ::sigaction(signal, &action, nullptr);
}

void check_free_space(const std::string& path, long double bytes) {
    std::error_code error;
    fs::path dir = fs::absolute(path, error).parent_path();
    struct statvfs vfs;
    while (::statvfs(dir.c_str(), &vfs) != 0) {
        if (dir == dir.root_path() || dir.empty())
            return; // the output's own creation reports what is wrong
        dir = dir.parent_path();
    }
    const long double available = static_cast<long double>(vfs.f_bavail) * vfs.f_frsize;
    if (bytes > available)
        throw FileError(path, "needs " + bytes_text(bytes) + " bytes, but its file system has " +
                                  bytes_text(available) + " bytes free");
}
