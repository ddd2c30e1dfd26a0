#pragma once

#include <string>
#include <utility>
#include <vector>

// The command-line conventions every tool of the project shares: options
// "--name value" or "--name=value", flags without a value, a value never
// starting with "--", numbers that must parse completely.

struct OptionSpec {
    const char* name;
    bool takesValue;
};

// (name, value) in the order given; a flag's value is empty.
using GivenOptions = std::vector<std::pair<std::string, std::string>>;

// Splits argv[1..argc-1] against the table. Returns the error text (empty
// when every argument fits): "unexpected argument 'x'", "unknown option
// '--x'", "option --x takes no value", "option --x needs a value".
std::string split_options(int argc, const char* const* argv, const std::vector<OptionSpec>& table,
                          GivenOptions* given);

// A whole decimal number (no leading blank, nothing after it) within long.
bool parse_whole_number(const std::string& text, long* value);

// A finite floating-point number, the whole text.
bool parse_finite_number(const std::string& text, double* value);
