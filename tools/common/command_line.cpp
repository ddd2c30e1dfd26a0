#include "command_line.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

const OptionSpec* find_option(const std::vector<OptionSpec>& table, const std::string& name) {
    for (const OptionSpec& option : table)
        if (name == option.name)
            return &option;
    return nullptr;
}

// strtol and strtod skip leading blanks; a value must be the number alone.
bool starts_clean(const std::string& text) {
    return !text.empty() && !std::isspace(static_cast<unsigned char>(text[0]));
}

} // namespace

std::string split_options(int argc, const char* const* argv, const std::vector<OptionSpec>& table,
                          GivenOptions* given) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg.compare(0, 2, "--") != 0 || arg == "--")
            return "unexpected argument '" + arg + "'";
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const OptionSpec* option = find_option(table, name);
        if (option == nullptr)
            return "unknown option '" + name + "'";
        std::string value;
        if (!option->takesValue) {
            if (equals != std::string::npos)
                return "option " + name + " takes no value";
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc && std::string(argv[i + 1]).compare(0, 2, "--") != 0) {
            value = argv[++i];
        } else {
            return "option " + name + " needs a value";
        }
        given->emplace_back(name, value);
    }
    return {};
}

bool parse_whole_number(const std::string& text, long* value) {
    if (!starts_clean(text))
        return false;
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    *value = n;
    return true;
}

bool parse_finite_number(const std::string& text, double* value) {
    if (!starts_clean(text))
        return false;
    errno = 0;
    char* end = nullptr;
    const double x = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(x))
        return false;
    *value = x;
    return true;
}
