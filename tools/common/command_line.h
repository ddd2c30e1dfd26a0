#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

// The command-line conventions every tool of the project shares, on CLI11:
// "--name value" or "--name=value", the last of a repeated option wins, a
// flag takes no value, -h/--help and --version ("<tool> <version>") exit 0,
// bad usage is one line "<tool>: <problem> (see <tool> --help)" and exit 2.
void set_up_app(CLI::App& app, const std::string& footer);

// Parses argv; returns -1 when the tool is to run, else its exit status.
int parse_command_line(CLI::App& app, int argc, const char* const* argv);

// An option of `values` values (shown as `text` in the help) handed to
// take(), which stores them and returns false to refuse them: "option NAME:
// 'VALUES' is not EXPECTED".
CLI::Option* add_checked(CLI::App& app, const std::string& name, const std::string& text,
                         const std::string& help, const std::string& expected, int values,
                         std::function<bool(const std::vector<std::string>&)> take);
// The same for one value.
CLI::Option* add_checked(CLI::App& app, const std::string& name, const std::string& text,
                         const std::string& help, const std::string& expected,
                         std::function<bool(const std::string&)> take);
// A path option refusing an empty path.
CLI::Option* add_path(CLI::App& app, const std::string& name, std::string* path,
                      const std::string& help);

// A whole decimal number (no leading blank, nothing after it) within [low, high].
bool parse_whole_number(const std::string& text, long low, long high, int* value);

// A finite floating-point number, the whole text.
bool parse_finite_number(const std::string& text, double* value);
