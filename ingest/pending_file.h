#pragma once

// An output written under a temporary name beside its target and renamed over
// it only when complete: a failure or a crash never leaves a half-written file
// under the target's name.

#include <cstdio>
#include <string>
#include <vector>

namespace ingest {

class PendingFile {
public:
    // Opens the temporary file for binary writing; ImportError naming target
    // when it cannot be created.
    explicit PendingFile(std::string target);
    ~PendingFile(); // removes the temporary file unless committed
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& temp_path() const { return temp_; }
    void write(const void* data, std::size_t bytes);
    // Flushes, syncs and closes the stream, leaving the file under its temporary name.
    void close();
    // Renames the closed temporary file to the target.
    void commit();

private:
    std::string target_;
    std::string temp_;
    std::FILE* stream_ = nullptr;
    bool committed_ = false;
    int slot_ = -1; // in the table a signal handler removes from, or -1
};

// Makes SIGINT and SIGTERM remove every PendingFile's temporary file before
// they end the process as they would have. For programs only: a library
// leaves its host's signals alone.
void remove_pending_files_on_signals();

// Removes the listed files unless released: undoes a multi-file output when a
// later step fails.
class OutputsGuard {
public:
    ~OutputsGuard();
    void add(const std::string& path) { paths_.push_back(path); }
    void release() { paths_.clear(); }

private:
    std::vector<std::string> paths_;
};

} // namespace ingest
