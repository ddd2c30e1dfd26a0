#include "resampling/pending_output.h"

#include "resampling/resample_error.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

std::string temporary_name(const std::string& target) {
    return target + ".tmp." + std::to_string(static_cast<long>(::getpid()));
}

PendingOutput::PendingOutput(std::string target)
    : target_(std::move(target)), temp_(temporary_name(target_)) {
    stream_ = std::fopen(temp_.c_str(), "wb");
    if (stream_ == nullptr)
        throw ResampleError("cannot create " + target_ + ": " + std::strerror(errno));
}

PendingOutput::~PendingOutput() {
    if (stream_ != nullptr)
        std::fclose(stream_);
    if (!committed_)
        std::remove(temp_.c_str());
}

void PendingOutput::write(const void* data, std::size_t bytes) {
    if (std::fwrite(data, 1, bytes, stream_) != bytes)
        throw ResampleError("cannot write " + target_ + ": " + std::strerror(errno));
}

void PendingOutput::close() {
    std::FILE* stream = stream_;
    stream_ = nullptr;
    if (std::fflush(stream) != 0 || ::fsync(::fileno(stream)) != 0) {
        const int e = errno;
        std::fclose(stream);
        throw ResampleError("cannot write " + target_ + ": " + std::strerror(e));
    }
    if (std::fclose(stream) != 0)
        throw ResampleError("cannot write " + target_ + ": " + std::strerror(errno));
}

void PendingOutput::commit() {
    if (std::rename(temp_.c_str(), target_.c_str()) != 0)
        throw ResampleError("cannot write " + target_ + ": " + std::strerror(errno));
    committed_ = true;
}

void commit_all(std::vector<PendingOutput*> outputs) {
    for (PendingOutput* output : outputs)
        output->commit();
}
