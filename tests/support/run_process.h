#pragma once

// Runs an executable as a user would and keeps what it leaves behind: exit
// status, standard output, standard error.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

struct ProcessRun {
    int status = -1; // the exit status; -1 if it did not start or was killed
    std::string out, err;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The program, then args, then the terminating null, as execv wants them.
inline std::vector<char*> argv_of(const char* program, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

inline std::string read_and_close(std::FILE* f) {
    std::string text;
    char buffer[4096];
    std::rewind(f);
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        text.append(buffer, n);
    std::fclose(f);
    return text;
}

// Both streams go to anonymous files of this process: tests running in
// parallel never share one.
inline ProcessRun run_process(const char* program, const std::vector<std::string>& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
    posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
    ProcessRun run;
    pid_t pid = 0;
    int wstatus = 0;
    const std::vector<char*> argv = argv_of(program, args);
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) == 0 &&
        ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        run.status = WEXITSTATUS(wstatus);
    posix_spawn_file_actions_destroy(&actions);
    run.out = read_and_close(out);
    run.err = read_and_close(err);
    return run;
}

// A refusal: `status`, nothing on stdout and one line on stderr, "<tool>: "
// first, holding `part`.
inline void expect_one_line_error(const ProcessRun& run, const std::string& tool, int status,
                                  const std::string& part) {
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind(tool + ": ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}
