#include "stdout_tap.h"

#include <cerrno>
#include <unistd.h>

StdoutTap::StdoutTap(LineHandler onLine, std::function<void()> beforeWrite)
    : onLine_(std::move(onLine)), beforeWrite_(std::move(beforeWrite)) {
    cookie_io_functions_t io{};
    io.write = &StdoutTap::write_through;
    std::FILE* tap = ::fopencookie(this, "w", io);
    if (!tap)
        return;
    // Keep the buffering stdout would have: by line on a terminal, else by
    // block.
    std::setvbuf(tap, nullptr, ::isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, BUFSIZ);
    std::fflush(stdout);
    original_ = stdout;
    tapStream_ = tap;
    // glibc's stdout is an assignable variable; printf in every loaded
    // library writes through it.
    stdout = tap;
}

StdoutTap::~StdoutTap() {
    if (!tapStream_)
        return;
    std::fflush(tapStream_);
    stdout = original_;
    std::fclose(tapStream_);
    if (!partialLine_.empty() && onLine_)
        onLine_(partialLine_);
}

ssize_t StdoutTap::write_through(void* cookie, const char* data, std::size_t size) {
    auto* self = static_cast<StdoutTap*>(cookie);
    if (self->beforeWrite_)
        self->beforeWrite_();
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(STDOUT_FILENO, data + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // a closed stdout still lets the lines be seen below
        written += static_cast<std::size_t>(n);
    }
    for (std::size_t i = 0; i < size; i++) {
        if (data[i] != '\n') {
            self->partialLine_ += data[i];
            continue;
        }
        if (self->onLine_)
            self->onLine_(self->partialLine_);
        self->partialLine_.clear();
    }
    return static_cast<ssize_t>(size);
}
