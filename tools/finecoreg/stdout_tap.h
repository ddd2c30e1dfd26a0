#pragma once

#include <cstdio>
#include <functional>
#include <string>

// While alive, the C stream stdout (where the plug-in's printf diagnostics go)
// writes through this tap: every byte is passed on unchanged to file
// descriptor 1, and every complete line is also handed to a callback. No
// thread and no pipe: if the module ends the process on its fatal path, exit
// flushes the tap like any stream, so nothing is lost.
class StdoutTap {
public:
    using LineHandler = std::function<void(const std::string& line)>;

    // beforeWrite runs before each chunk goes out (to clear a progress bar).
    StdoutTap(LineHandler onLine, std::function<void()> beforeWrite);
    ~StdoutTap();

    StdoutTap(const StdoutTap&) = delete;
    StdoutTap& operator=(const StdoutTap&) = delete;

    // True when stdout was redirected; otherwise stdout is left as it was.
    bool active() const { return tapStream_ != nullptr; }

private:
    static ssize_t write_through(void* cookie, const char* data, std::size_t size);

    LineHandler onLine_;
    std::function<void()> beforeWrite_;
    std::string partialLine_;
    std::FILE* original_ = nullptr;
    std::FILE* tapStream_ = nullptr;
};
