#include "params/keyword_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

int size_of(const std::string& text) {
    return static_cast<int>(text.size());
}

TEST(KeywordSearch, FirstOccurrenceWinsEvenInsideLongerWord) {
    const std::string text = "interferogram_width:   4000\nwidth: 12\n";
    int value = -1;
    EXPECT_EQ(rd_int(text.c_str(), size_of(text), "width", &value), 0);
    EXPECT_EQ(value, 4000);
}

TEST(KeywordSearch, BoundedByGivenLength) {
    const std::string text = "a: 1\nkey: 5\nk: 123456";
    int value = -1;
    CaptureStdout();
    EXPECT_EQ(rd_int(text.c_str(), 7, "key", &value), -1);
    EXPECT_EQ(GetCapturedStdout(), "WARNING: subroutine rd_int, keyword not found: key\n");
    EXPECT_EQ(value, 0);
    // The last entry has no line end: its value stops at the given length.
    EXPECT_EQ(rd_int(text.c_str(), size_of(text) - 4, "k:", &value), 0);
    EXPECT_EQ(value, 12);
    EXPECT_EQ(rd_int(text.c_str(), size_of(text), "k:", &value), 0);
    EXPECT_EQ(value, 123456);
    // A keyword that ends exactly at the end of the text is found.
    char s[4] = "xyz";
    EXPECT_EQ(rd_str(text.c_str(), size_of(text), "3456", s, sizeof s), 0);
    EXPECT_STREQ(s, "");
}

TEST(ValueExtraction, TrimsCarriageReturnQuotesAndTrailingText) {
    const std::string text = "initial_range_offset: 12\r\n"
                             "title:  \"ERS-2  pair\" \t\r\n"
                             "spacing:\t2.329 m;next: 1\n"
                             "count: 12 lines\n";
    int i = 0;
    double d = 0.0;
    char title[32];
    CaptureStdout();
    EXPECT_EQ(rd_int(text.c_str(), size_of(text), "initial_range_offset", &i), 0);
    EXPECT_EQ(i, 12);
    EXPECT_EQ(rd_str(text.c_str(), size_of(text), "title", title, sizeof title), 0);
    EXPECT_STREQ(title, "ERS-2  pair");
    EXPECT_EQ(rd_dbl(text.c_str(), size_of(text), "spacing", &d), 0);
    EXPECT_EQ(d, 2.329);
    EXPECT_EQ(rd_str(text.c_str(), size_of(text), "spacing", title, sizeof title), 0);
    EXPECT_STREQ(title, "2.329 m");
    EXPECT_EQ(rd_int(text.c_str(), size_of(text), "count", &i), 0);
    EXPECT_EQ(i, 12);
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(ValueExtraction, EmptyValuesWarnPerReader) {
    const std::string text = "a:\nb: ;\n";
    int i = 7;
    double d = 7.0;
    double v[2] = {7.0, 7.0};
    char s[8] = "xyz";
    CaptureStdout();
    EXPECT_EQ(rd_int(text.c_str(), size_of(text), "a", &i), -1);
    EXPECT_EQ(rd_dbl(text.c_str(), size_of(text), "b", &d), -1);
    EXPECT_EQ(rd_vec(text.c_str(), size_of(text), "a", v, 2), -1);
    EXPECT_EQ(rd_str(text.c_str(), size_of(text), "b", s, sizeof s), 0);
    EXPECT_EQ(GetCapturedStdout(), "WARNING rd_int: no value given for data with key: a\n"
                                   "WARNING rd_dbl: no value given for data with key: b\n"
                                   "WARNING rd_vec: insufficient number of values: 2    key: a\n");
    EXPECT_EQ(i, 0);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(v[0], 0.0);
    EXPECT_EQ(v[1], 0.0);
    EXPECT_STREQ(s, "");
}

TEST(ValueExtraction, CorruptedNumbersWarnWithTheValueText) {
    const std::string text = "n: abc\nx: .e5\n";
    int i = 7;
    double d = 7.0;
    CaptureStdout();
    EXPECT_EQ(rd_int(text.c_str(), size_of(text), "n", &i), -1);
    EXPECT_EQ(rd_dbl(text.c_str(), size_of(text), "x", &d), -1);
    EXPECT_EQ(GetCapturedStdout(),
              "WARNING rd_int: corrupted data value with key: n  value: abc\n"
              "WARNING rd_dbl: corrupted data value with key: x  value: .e5\n");
    EXPECT_EQ(i, 0);
    EXPECT_EQ(d, 0.0);
}

TEST(ValueExtraction, MissingKeywordWarnsAndClears) {
    const std::string text = "other: 1\n";
    int i = 7;
    double d = 7.0;
    double v[3] = {7.0, 7.0, 7.0};
    char s[8] = "xyz";
    CaptureStdout();
    EXPECT_EQ(rd_str(text.c_str(), size_of(text), "title", s, sizeof s), -1);
    EXPECT_EQ(rd_int(text.c_str(), size_of(text), "width", &i), -1);
    EXPECT_EQ(rd_dbl(text.c_str(), size_of(text), "spacing", &d), -1);
    EXPECT_EQ(rd_vec(text.c_str(), size_of(text), "poly", v, 3), -1);
    EXPECT_EQ(rd_vec(text.c_str(), size_of(text), "poly", v, 0), -1);
    EXPECT_EQ(GetCapturedStdout(), "WARNING: subroutine rd_str, keyword not found: title\n"
                                   "WARNING: subroutine rd_int, keyword not found: width\n"
                                   "WARNING: subroutine rd_dbl, keyword not found: spacing\n"
                                   "WARNING: subroutine rd_vec, keyword not found: poly\n"
                                   "WARNING: subroutine rd_vec, keyword not found: poly\n");
    EXPECT_STREQ(s, "");
    EXPECT_EQ(i, 0);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(v[0] + v[1] + v[2], 0.0);
}

TEST(VectorReader, MixedSeparatorsAndTooFewValues) {
    const std::string six = "range_offset_polynomial: 1.5,-2e-3 3, 4,\t5.25 6 7\n";
    const std::string five = "range_offset_polynomial: 1.5,-2e-3 3, 4,5.25\n";
    double v[6];
    CaptureStdout();
    EXPECT_EQ(rd_vec(six.c_str(), size_of(six), "range_offset_polynomial", v, 6), 0);
    const double expected[6] = {1.5, -2e-3, 3.0, 4.0, 5.25, 6.0};
    for (int k = 0; k < 6; k++)
        EXPECT_EQ(v[k], expected[k]) << k;
    EXPECT_EQ(GetCapturedStdout(), "");

    CaptureStdout();
    EXPECT_EQ(rd_vec(five.c_str(), size_of(five), "range_offset_polynomial", v, 6), -1);
    EXPECT_EQ(GetCapturedStdout(),
              "WARNING rd_vec: insufficient number of values: 6    key: range_offset_polynomial\n");
    for (int k = 0; k < 5; k++)
        EXPECT_EQ(v[k], expected[k]) << k;
    EXPECT_EQ(v[5], 0.0);
}

TEST(VectorReader, InvalidTokenKeepsEarlierValues) {
    const std::string text = "v: 1 x2 3\n";
    double v[3] = {7.0, 7.0, 7.0};
    CaptureStdout();
    EXPECT_EQ(rd_vec(text.c_str(), size_of(text), "v", v, 3), -1);
    EXPECT_EQ(GetCapturedStdout(),
              "WARNING rd_vec: invalid entry for data with key: v    value: x2\n");
    EXPECT_EQ(v[0], 1.0);
    EXPECT_EQ(v[1], 0.0);
    EXPECT_EQ(v[2], 0.0);
    // A count of zero only looks for the keyword.
    EXPECT_EQ(rd_vec(text.c_str(), size_of(text), "v", v, 0), 0);
}

TEST(Truncation, OverlongValuesAreCutToTheBuffer) {
    const std::string letters(100, 'a');
    const std::string text = "n: " + letters + "\n";
    int i = 7;
    CaptureStdout();
    EXPECT_EQ(rd_int(text.c_str(), size_of(text), "n", &i), -1);
    EXPECT_EQ(GetCapturedStdout(), "WARNING rd_int: corrupted data value with key: n  value: " +
                                       std::string(79, 'a') + "\n");

    char s[16];
    EXPECT_EQ(rd_str(text.c_str(), size_of(text), "n", s, sizeof s), 0);
    EXPECT_EQ(std::string(s), std::string(15, 'a'));

    // 258 value bytes; the vector scratch keeps 255 of them, so "23" loses
    // its last digit and the third number is gone.
    const std::string wide = "v: 1" + std::string(253, ' ') + "23 4\n";
    double v[3];
    CaptureStdout();
    EXPECT_EQ(rd_vec(wide.c_str(), size_of(wide), "v", v, 3), -1);
    EXPECT_EQ(GetCapturedStdout(), "WARNING rd_vec: insufficient number of values: 3    key: v\n");
    EXPECT_EQ(v[0], 1.0);
    EXPECT_EQ(v[1], 2.0);
    EXPECT_EQ(v[2], 0.0);
}

TEST(ReadParText, LoadsWholeStreamWithTerminatingZero) {
    const std::string path = std::string(FC_TEST_TMP_DIR) + "/par_text.txt";
    const std::string content = "first: 1\nsecond: 2";
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(content.c_str(), f);
    std::fclose(f);

    f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::fgetc(f); // the reader rewinds by itself
    int length = -1;
    char* text = read_par_text(f, &length);
    std::fclose(f);
    ASSERT_EQ(length, size_of(content));
    EXPECT_EQ(std::memcmp(text, content.data(), content.size()), 0);
    EXPECT_EQ(text[length], '\0');
    int value = 0;
    EXPECT_EQ(rd_int(text, length, "second", &value), 0);
    EXPECT_EQ(value, 2);
    std::free(text);
}

} // namespace
