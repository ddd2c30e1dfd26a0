#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The one way an output file is written: under a temporary name beside its
// target ("<target>.tmp.<pid>"), flushed and synced, and renamed over the
// target only by commit(). A failure, an exception, the owner's destruction
// or (in a program that asked for it) SIGINT/SIGTERM removes the temporary,
// so no half-written file ever carries the target's name. A target that is
// a symbolic link is written through to the file it names, so the link a
// user made stays a link; a replaced file keeps its permission bits.
class PendingOutput {
public:
    enum class Mode {
        stream,  // written through write() or stream()
        external // written by someone else (an XML writer, GDAL) at temp_path()
    };
    // FileError naming target when the temporary cannot be created.
    explicit PendingOutput(const std::string& target, Mode mode = Mode::stream);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    const std::string& target() const { return target_; }
    const std::string& temp_path() const { return temp_; }
    std::FILE* stream() { return stream_; }
    // FileError on a short write. Every 4 MiB written through it are handed
    // out (below), so the sync at close() has little left to wait for.
    void write(const void* data, std::size_t bytes);
    // Flushes what write() was given and has the system start writing it
    // out, without waiting for it (FileError when the flush fails).
    void hand_out();
    // Flushes, syncs and closes, still under the temporary name (once; later
    // calls do nothing). FileError when any of it fails.
    void close();
    // close(), then the rename over the target.
    void commit();

private:
    std::string target_;
    std::string temp_;
    std::FILE* stream_ = nullptr;
    int slot_ = -1;                         // in the table the signal handler removes from, or -1
    std::int64_t written_ = 0, handed_ = 0; // bytes through write(), and handed out
    bool committed_ = false;
};

// The temporary name a PendingOutput of target writes under.
std::string pending_temporary_name(const std::string& target);

// Commits outputs that belong together (an image, its XML, its mask) in
// order; when one rename fails, those already renamed are removed again.
void commit_together(const std::vector<PendingOutput*>& outputs);

// Files (and directories, removed once empty) a multi-step output has already
// committed: removed again, newest first, unless released.
class CommittedOutputs {
public:
    ~CommittedOutputs();
    void add(const std::string& path) { paths_.push_back(path); }
    void release() { paths_.clear(); }

private:
    std::vector<std::string> paths_;
};

// Makes SIGINT and SIGTERM remove every pending temporary before ending the
// process as they would have. For programs: a library leaves its host's
// signals alone.
void remove_pending_outputs_on_signals();

// FileError naming path when bytes more would not fit in the free space of
// the file system that is to hold it (the nearest existing directory's).
void check_free_space(const std::string& path, long double bytes);
