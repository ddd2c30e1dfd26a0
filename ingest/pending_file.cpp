#include "ingest/pending_file.h"

#include "ingest/ingest.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace ingest {

namespace {

std::string system_error() {
    return std::strerror(errno);
}

} // namespace

PendingFile::PendingFile(std::string target)
    : target_(std::move(target)),
      temp_(target_ + ".tmp" + std::to_string(static_cast<long>(getpid()))) {
    stream_ = std::fopen(temp_.c_str(), "wb");
    if (stream_ == nullptr)
        throw ImportError(target_, "cannot be written: " + system_error());
}

PendingFile::~PendingFile() {
    if (stream_ != nullptr)
        std::fclose(stream_);
    if (!committed_)
        std::remove(temp_.c_str());
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
}

OutputsGuard::~OutputsGuard() {
    for (auto it = paths_.rbegin(); it != paths_.rend(); ++it)
        std::remove(it->c_str()); // a directory last, once emptied
}

} // namespace ingest
