#include "params/offset_file.h"

#include "params/file_error.h"
#include "params/file_handle.h"
#include "params/keyword_reader.h"
#include "params/offset_par.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

class KeywordText {
public:
    explicit KeywordText(const std::string& path) : path_(path) {
        const FileHandle file = open_file(path, "rb");
        if (!file)
            throw FileError(path, std::string("cannot be read: ") +
                                      (errno == 0 ? "a directory" : std::strerror(errno)));
        text_ = load_par_text(file.get(), &length_);
    }

    std::string value(const char* keyword) const {
        const char* begin = nullptr;
        std::size_t size = 0;
        if (!find_keyword_value(text_.get(), length_, keyword, &begin, &size))
            throw FileError(path_, std::string("no ") + keyword);
        return std::string(begin, size);
    }

    int whole_number(const char* keyword) const {
        const std::string text = value(keyword);
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(text.c_str(), &end, 10);
        if (end == text.c_str() || errno != 0 || n < -2147483647L || n > 2147483647L)
            throw FileError(path_,
                            std::string(keyword) + " is not a whole number: \"" + text + "\"");
        return static_cast<int>(n);
    }

    void polynomial(const char* keyword, double out[6]) const {
        const std::string text = value(keyword);
        const char* p = text.c_str();
        int count = 0;
        for (;;) {
            while (*p == ' ' || *p == ',' || *p == '\t')
                p++;
            if (*p == '\0')
                break;
            char* end = nullptr;
            const double v = std::strtod(p, &end);
            if (end == p)
                throw FileError(path_, std::string(keyword) + " holds \"" +
                                           std::string(p).substr(0, 40) + "\", not a number");
            if (count == 6)
                throw FileError(path_, std::string(keyword) + " holds more than 6 coefficients");
            if (!std::isfinite(v))
                throw FileError(path_, std::string(keyword) + " coefficient c" +
                                           std::to_string(count) + " is not finite");
            out[count++] = v;
            p = end;
        }
        if (count != 6)
            throw FileError(path_, std::string(keyword) + " holds " + std::to_string(count) +
                                       " coefficients, not 6");
    }

private:
    std::string path_;
    ParText text_;
    int length_ = 0;
};

} // namespace

void check_offsets_within_images(const OffsetPolynomials& offsets, int master_width,
                                 int master_lines, int slave_width, int slave_lines,
                                 const std::string& path) {
    // A lattice with the corners: a quadratic's extremes over the grid lie
    // on its edges or inside, and 17 x 17 positions find any that matters.
    constexpr int kSteps = 16;
    const double limits[2] = {static_cast<double>(std::max(master_width, slave_width)),
                              static_cast<double>(std::max(master_lines, slave_lines))};
    const double* polynomials[2] = {offsets.range, offsets.azimuth};
    const char* names[2] = {"range_offset_polynomial", "azimuth_offset_polynomial"};
    const char* units[2] = {"samples", "lines"};
    for (int i = 0; i <= kSteps; i++)
        for (int j = 0; j <= kSteps; j++) {
            const double x = (master_width - 1) * (i / static_cast<double>(kSteps));
            const double y = (master_lines - 1) * (j / static_cast<double>(kSteps));
            for (int k = 0; k < 2; k++) {
                const double offset = eval_offset_poly(polynomials[k], x, y);
                if (std::fabs(offset) <= limits[k]) // false for NaN too
                    continue;
                char text[200];
                std::snprintf(text, sizeof text,
                              "%s gives %g %s at master sample %.0f, line %.0f: beyond the "
                              "images (%d x %d master, %d x %d slave)",
                              names[k], offset, units[k], x, y, master_width, master_lines,
                              slave_width, slave_lines);
                throw FileError(path, text);
            }
        }
}

OffsetFile read_offset_file(const std::string& path) {
    errno = 0;
    const KeywordText text(path);
    OffsetFile file;
    file.initial_range_offset = text.whole_number("initial_range_offset");
    file.initial_azimuth_offset = text.whole_number("initial_azimuth_offset");
    text.polynomial("range_offset_polynomial", file.polynomials.range);
    text.polynomial("azimuth_offset_polynomial", file.polynomials.azimuth);
    return file;
}
