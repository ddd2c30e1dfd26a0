#pragma once

#include <cstdio>
#include <string>
#include <vector>

// An output written under a temporary name beside its target
// ("<target>.tmp.<pid>") and renamed over it only by commit(): a failure
// never leaves a half-written file under the target's name.
class PendingOutput {
public:
    explicit PendingOutput(std::string target); // ResampleError when it cannot be created
    ~PendingOutput();                           // removes the temporary unless committed
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    const std::string& target() const { return target_; }
    const std::string& temp_path() const { return temp_; }
    void write(const void* data, std::size_t bytes);
    // Flushes and closes, still under the temporary name.
    void close();
    void commit();

private:
    std::string target_;
    std::string temp_;
    std::FILE* stream_ = nullptr;
    bool committed_ = false;
};

// The temporary name of a target written by someone else (the XML writer, GDAL).
std::string temporary_name(const std::string& target);

// Renames each temporary to its target, in order; the caller has checked
// every one was written completely.
void commit_all(std::vector<PendingOutput*> outputs);
