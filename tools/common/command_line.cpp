#include "command_line.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// strtol and strtod skip leading blanks; a value must be the number alone.
bool starts_clean(const std::string& text) {
    return !text.empty() && !std::isspace(static_cast<unsigned char>(text[0]));
}

} // namespace

void set_up_app(CLI::App& app, const std::string& footer) {
    app.set_version_flag("--version", app.get_name() + " " + FC_VERSION, "Show the version");
    app.set_help_flag("-h,--help", "Show this text");
    app.footer(footer);
    app.get_formatter()->column_width(26);
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.option_defaults()->disable_flag_override();
}

int parse_command_line(CLI::App& app, int argc, const char* const* argv) {
    try {
        app.parse(argc, argv);
        return -1;
    } catch (const CLI::Success& e) { // help or version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        const std::vector<std::string> extras = app.remaining(true);
        if (!extras.empty()) { // before what CLI11 checks first (required options)
            const std::string& first = extras.front(); // CLI11 lists them backwards
            message =
                (first[0] == '-' ? "unknown option '" : "unexpected argument '") + first + "'";
        }
        for (char& c : message)
            if (c == '\n')
                c = ' ';
        const char* tool = app.get_name().c_str();
        std::fprintf(stderr, "%s: %s (see %s --help)\n", tool, message.c_str(), tool);
        return 2;
    }
}

CLI::Option* add_checked(CLI::App& app, const std::string& name, const std::string& text,
                         const std::string& help, const std::string& expected, int values,
                         std::function<bool(const std::vector<std::string>&)> take) {
    auto check = [name, expected, values, take](const std::vector<std::string>& v) {
        if (static_cast<int>(v.size()) != values || !take(v))
            throw CLI::ValidationError("option " + name + ": '" + CLI::detail::join(v, " ") +
                                       "' is not " + expected);
    };
    return app.add_option_function<std::vector<std::string>>(name, check, help)
        ->expected(values)
        ->allow_extra_args(false)
        ->option_text(text);
}

CLI::Option* add_checked(CLI::App& app, const std::string& name, const std::string& text,
                         const std::string& help, const std::string& expected,
                         std::function<bool(const std::string&)> take) {
    return add_checked(app, name, text, help, expected, 1,
                       [take](const std::vector<std::string>& v) { return take(v[0]); });
}

CLI::Option* add_path(CLI::App& app, const std::string& name, std::string* path,
                      const std::string& help) {
    return add_checked(app, name, "PATH", help, "a path", [path](const std::string& text) {
        *path = text;
        return !text.empty();
    });
}

bool parse_whole_number(const std::string& text, long low, long high, int* value) {
    if (!starts_clean(text))
        return false;
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < low || n > high)
        return false;
    *value = static_cast<int>(n);
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
