#include "params/keyword_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

// One reader call: rd_int ('i'), rd_dbl ('d'), rd_vec ('v', count values) or
// rd_str ('s', count = buffer size) on the first length bytes of text (-1:
// all of it), and what it should return, print and leave in the value: the
// string, or the numbers separated by blanks (numbers start as 7, strings as
// "xx...").
struct Read {
    std::string text;
    int length;
    char reader;
    const char* key;
    int count, status;
    std::string printed, value;
};

void expect_read(const Read& c) {
    const int length = c.length < 0 ? int(c.text.size()) : c.length;
    std::vector<double> v(std::max(c.count, 1), 7.0);
    std::string s(std::max(c.count, 1), 'x');
    s.back() = '\0';
    int i = 7, status = 0;
    testing::internal::CaptureStdout();
    switch (c.reader) {
    case 'i':
        status = rd_int(c.text.c_str(), length, c.key, &i);
        v = {double(i)};
        break;
    case 'd':
        status = rd_dbl(c.text.c_str(), length, c.key, v.data());
        v.resize(1);
        break;
    case 'v':
        status = rd_vec(c.text.c_str(), length, c.key, v.data(), c.count);
        v.resize(c.count);
        break;
    default:
        status = rd_str(c.text.c_str(), length, c.key, s.data(), s.size());
    }
    SCOPED_TRACE(testing::Message() << "rd_" << c.reader << " " << c.key << " in " << c.text);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_EQ(status, c.status);
    if (c.reader == 's') {
        EXPECT_EQ(std::string(s.c_str()), c.value);
    } else {
        std::istringstream in(c.value);
        std::vector<double> expected;
        for (double x; in >> x;)
            expected.push_back(x);
        EXPECT_EQ(v, expected);
    }
}

std::string warning(const std::string& text) {
    return "WARNING " + text + "\n";
}

std::string not_found(const char* reader, const char* key) {
    return std::string("WARNING: subroutine ") + reader + ", keyword not found: " + key + "\n";
}

TEST(KeywordReader, FindsBoundsAndTrimsValues) {
    const std::string longer = "interferogram_width:   4000\nwidth: 12\n";
    const std::string bounded = "a: 1\nkey: 5\nk: 123456";
    const std::string trimmed = "initial_range_offset: 12\r\n"
                                "title:  \"ERS-2  pair\" \t\r\n"
                                "spacing:\t2.329 m;next: 1\n"
                                "count: 12 lines\n";
    const std::string six = "range_offset_polynomial: 1.5,-2e-3 3, 4,\t5.25 6 7\n";
    const Read reads[] = {
        // The first occurrence wins, even inside a longer word.
        {longer, -1, 'i', "width", 0, 0, "", "4000"},
        // Only the given length is searched; a last entry without line end
        // stops there too, and a keyword ending at the very end is found.
        {bounded, 7, 'i', "key", 0, -1, not_found("rd_int", "key"), "0"},
        {bounded, 17, 'i', "k:", 0, 0, "", "12"},
        {bounded, -1, 'i', "k:", 0, 0, "", "123456"},
        {bounded, -1, 's', "3456", 4, 0, "", ""},
        // Carriage returns, quotes and text after the value are cut off.
        {trimmed, -1, 'i', "initial_range_offset", 0, 0, "", "12"},
        {trimmed, -1, 's', "title", 32, 0, "", "ERS-2  pair"},
        {trimmed, -1, 'd', "spacing", 0, 0, "", "2.329"},
        {trimmed, -1, 's', "spacing", 32, 0, "", "2.329 m"},
        {trimmed, -1, 'i', "count", 0, 0, "", "12"},
        // Separators of vectors: blanks, tabs and commas; extra values ignored.
        {six, -1, 'v', "range_offset_polynomial", 6, 0, "", "1.5 -2e-3 3 4 5.25 6"},
        {"v: 1 x2 3\n", -1, 'v', "v", 0, 0, "", ""}, // a count of zero only looks for the key
        // An overlong value is cut to the string buffer.
        {"n: " + std::string(100, 'a') + "\n", -1, 's', "n", 16, 0, "", std::string(15, 'a')},
    };
    for (const Read& r : reads)
        expect_read(r);
}

TEST(KeywordReader, WarnsAndClearsTheValue) {
    const std::string empty = "a:\nb: ;\n", corrupt = "n: abc\nx: .e5\n", missing = "other: 1\n";
    const std::string five = "range_offset_polynomial: 1.5,-2e-3 3, 4,5.25\n";
    const std::string no_value = "no value given for data with key: ";
    const std::string corrupted = "corrupted data value with key: ";
    const std::string too_few = "rd_vec: insufficient number of values: ";
    const Read reads[] = {
        {empty, -1, 'i', "a", 0, -1, warning("rd_int: " + no_value + "a"), "0"},
        {empty, -1, 'd', "b", 0, -1, warning("rd_dbl: " + no_value + "b"), "0"},
        {empty, -1, 'v', "a", 2, -1, warning(too_few + "2    key: a"), "0 0"},
        {empty, -1, 's', "b", 8, 0, "", ""}, // an empty string is no error
        {corrupt, -1, 'i', "n", 0, -1, warning("rd_int: " + corrupted + "n  value: abc"), "0"},
        {corrupt, -1, 'd', "x", 0, -1, warning("rd_dbl: " + corrupted + "x  value: .e5"), "0"},
        {missing, -1, 's', "title", 8, -1, not_found("rd_str", "title"), ""},
        {missing, -1, 'i', "width", 0, -1, not_found("rd_int", "width"), "0"},
        {missing, -1, 'd', "spacing", 0, -1, not_found("rd_dbl", "spacing"), "0"},
        {missing, -1, 'v', "poly", 3, -1, not_found("rd_vec", "poly"), "0 0 0"},
        {missing, -1, 'v', "poly", 0, -1, not_found("rd_vec", "poly"), ""},
        // Too few numbers keep those read; an invalid one ends the reading.
        {five, -1, 'v', "range_offset_polynomial", 6, -1,
         warning(too_few + "6    key: range_offset_polynomial"), "1.5 -2e-3 3 4 5.25 0"},
        {"v: 1 x2 3\n", -1, 'v', "v", 3, -1,
         warning("rd_vec: invalid entry for data with key: v    value: x2"), "1 0 0"},
        // Numbers are cut to the reader's scratch: 79 bytes for rd_int; 255 for
        // rd_vec, so "23" loses its last digit and the third number is gone.
        {"n: " + std::string(100, 'a') + "\n", -1, 'i', "n", 0, -1,
         warning("rd_int: " + corrupted + "n  value: " + std::string(79, 'a')), "0"},
        {"v: 1" + std::string(253, ' ') + "23 4\n", -1, 'v', "v", 3, -1,
         warning(too_few + "3    key: v"), "1 2 0"},
    };
    for (const Read& r : reads)
        expect_read(r);
}

} // namespace
