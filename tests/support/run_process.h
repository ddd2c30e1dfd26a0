#pragma once

// Runs an executable as a user would and keeps what it leaves behind: exit
// status, standard output, standard error.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct ProcessRun {
    int status = -1; // the exit status; -1 if it did not start or a signal ended it
    std::string out, err;
};

inline std::string read_and_close(std::FILE* f) {
    std::string text;
    char buffer[4096];
    std::rewind(f);
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        text.append(buffer, n);
    std::fclose(f);
    return text;
}

// Both streams go to anonymous files of this process. `prepare` runs in the
// child before the program; when it fails the child ends with status 125.
inline ProcessRun run_process(const char* program, const std::vector<std::string>& args,
                              const std::function<bool()>& prepare = {}) {
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::fileno(out), 1);
        ::dup2(::fileno(err), 2);
        if (prepare && !prepare())
            ::_exit(125);
        ::execv(program, argv.data());
        ::_exit(127);
    }
    ProcessRun run;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
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
