#include "ingest/pending_file.h"

#include "ingest/ingest.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace ingest {

namespace {

std::string system_error() {
    return std::strerror(errno);
}

// The temporary files open now, for a signal handler: fixed storage, and a
// slot's state says when its path may be read (2) or is being written (1).
constexpr int kSlots = 16;
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
    return -1; // not removed on a signal; an ordinary failure still removes it
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

} // namespace

void remove_pending_files_on_signals() {
    struct sigaction action {};
    action.sa_handler = remove_pending_and_reraise;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM})
        ::sigaction(signal, &action, nullptr);
}

PendingFile::PendingFile(std::string target)
    : target_(std::move(target)),
      temp_(target_ + ".tmp" + std::to_string(static_cast<long>(getpid()))) {
    slot_ = claim_slot(temp_); // before the file exists, so no moment is missed
    stream_ = std::fopen(temp_.c_str(), "wb");
    if (stream_ == nullptr) {
        release_slot(slot_);
        throw ImportError(target_, "cannot be written: " + system_error());
    }
}

PendingFile::~PendingFile() {
    if (stream_ != nullptr)
        std::fclose(stream_);
    if (!committed_)
        std::remove(temp_.c_str());
    release_slot(slot_);
}

void PendingFile::write(const void* data, std::size_t bytes) {
    if (std::fwrite(data, 1, bytes, stream_) != bytes)
        throw ImportError(target_, "write failed: " + system_error());
}

void PendingFile::close() {
    if (stream_ == nullptr)
        return;
    bool ok = std::fflush(stream_) == 0 && fsync(fileno(stream_)) == 0;
    const std::string error = system_error();
    ok = std::fclose(stream_) == 0 && ok;
    stream_ = nullptr;
    if (!ok)
        throw ImportError(target_, "write failed: " + error);
}

void PendingFile::commit() {
    close();
    if (std::rename(temp_.c_str(), target_.c_str()) != 0)
        throw ImportError(target_, "cannot be written: " + system_error());
    committed_ = true;
    release_slot(slot_);
    slot_ = -1;
}

OutputsGuard::~OutputsGuard() {
    for (auto it = paths_.rbegin(); it != paths_.rend(); ++it)
        std::remove(it->c_str()); // a directory last, once emptied
}

} // namespace ingest
