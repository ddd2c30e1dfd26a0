#include "params/keyword_reader.h"

#include "numeric/fatal.h"

#include <cstdlib>
#include <cstring>

namespace {

// Scratch of the numeric readers: values are copied here (truncated to fit)
// so the conversion sees a terminated string.
constexpr std::size_t kNumberScratchSize = 80;
constexpr std::size_t kVectorScratchSize = 256;

char number_scratch[kNumberScratchSize];
char* vector_scratch = nullptr;

char* vector_scratch_buffer() {
    if (vector_scratch == nullptr) {
        vector_scratch = static_cast<char*>(std::malloc(kVectorScratchSize));
        if (vector_scratch == nullptr)
            fatal_error("\nERROR: memory allocation error in subroutine rd_vec\n\n");
    }
    return vector_scratch;
}

bool is_leading_separator(char c) {
    return c == '\t' || c == ' ' || c == '"' || c == ':';
}
bool is_trailing_separator(char c) {
    return c == '\t' || c == '\r' || c == ' ' || c == '"';
}
bool is_value_end(char c) {
    return c == '\n' || c == ';';
}
bool is_token_separator(char c) {
    return c == ' ' || c == ',' || c == '\t';
}

// Value bytes of an entry: [begin, end) inside the text, possibly empty.
struct ValueSpan {
    const char* begin;
    std::size_t size;
};

// Finds the first byte-exact occurrence of keyword anywhere in the first
// length bytes and extracts the value that follows it. False when the
// keyword does not occur.
bool find_value(const char* text, int length, const char* keyword, ValueSpan* value) {
    const std::size_t text_size = length > 0 ? static_cast<std::size_t>(length) : 0;
    const std::size_t key_size = std::strlen(keyword);
    if (key_size > text_size)
        return false;
    for (std::size_t p = 0; p + key_size <= text_size; p++) {
        if (std::memcmp(text + p, keyword, key_size) != 0)
            continue;
        std::size_t begin = p + key_size;
        while (begin < text_size && is_leading_separator(text[begin]))
            begin++;
        // A last line without line end: the value runs to the end of the text.
        std::size_t end = begin;
        while (end < text_size && !is_value_end(text[end]))
            end++;
        while (end > begin && is_trailing_separator(text[end - 1]))
            end--;
        value->begin = text + begin;
        value->size = end - begin;
        return true;
    }
    return false;
}

// Copies the value into a buffer of capacity bytes, truncating to fit, and
// terminates it.
void copy_value(const ValueSpan& value, char* buffer, std::size_t capacity) {
    const std::size_t n = value.size < capacity - 1 ? value.size : capacity - 1;
    std::memcpy(buffer, value.begin, n);
    buffer[n] = '\0';
}

} // namespace

bool find_keyword_value(const char* text, int length, const char* keyword, const char** value,
                        std::size_t* size) {
    ValueSpan span;
    if (!find_value(text, length, keyword, &span))
        return false;
    *value = span.begin;
    *size = span.size;
    return true;
}

char* read_par_text(std::FILE* stream, int* length) {
    std::fseek(stream, 0L, SEEK_END);
    long size = std::ftell(stream);
    std::rewind(stream);
    // An unseekable stream reports -1: treat it as empty rather than
    // allocating a negative size.
    if (size < 0)
        size = 0;
    char* text = static_cast<char*>(std::malloc(static_cast<std::size_t>(size) + 1));
    if (text == nullptr)
        fatal_error("\nERROR: memory allocation failure for parameter file buffer\n\n");
    std::memset(text, 0, static_cast<std::size_t>(size) + 1);
    // A short read leaves the rest of the buffer zero.
    std::size_t read = std::fread(text, 1, static_cast<std::size_t>(size), stream);
    (void)read;
    *length = static_cast<int>(size);
    return text;
}

int rd_str(const char* text, int length, const char* keyword, char* value, std::size_t value_size) {
    ValueSpan span;
    if (!find_value(text, length, keyword, &span)) {
        if (value_size > 0)
            value[0] = '\0';
        std::printf("WARNING: subroutine rd_str, keyword not found: %s\n", keyword);
        return -1;
    }
    if (value_size > 0)
        copy_value(span, value, value_size);
    return 0;
}

int rd_int(const char* text, int length, const char* keyword, int* value) {
    *value = 0;
    ValueSpan span;
    if (!find_value(text, length, keyword, &span)) {
        std::printf("WARNING: subroutine rd_int, keyword not found: %s\n", keyword);
        return -1;
    }
    if (span.size == 0) {
        std::printf("WARNING rd_int: no value given for data with key: %s\n", keyword);
        return -1;
    }
    copy_value(span, number_scratch, kNumberScratchSize);
    int converted;
    if (std::sscanf(number_scratch, "%d", &converted) != 1) {
        std::printf("WARNING rd_int: corrupted data value with key: %s  value: %s\n", keyword,
                    number_scratch);
        return -1;
    }
    *value = converted;
    return 0;
}

int rd_dbl(const char* text, int length, const char* keyword, double* value) {
    *value = 0.0;
    ValueSpan span;
    if (!find_value(text, length, keyword, &span)) {
        std::printf("WARNING: subroutine rd_dbl, keyword not found: %s\n", keyword);
        return -1;
    }
    if (span.size == 0) {
        std::printf("WARNING rd_dbl: no value given for data with key: %s\n", keyword);
        return -1;
    }
    copy_value(span, number_scratch, kNumberScratchSize);
    double converted;
    if (std::sscanf(number_scratch, "%le", &converted) != 1) {
        std::printf("WARNING rd_dbl: corrupted data value with key: %s  value: %s\n", keyword,
                    number_scratch);
        return -1;
    }
    *value = converted;
    return 0;
}

int rd_vec(const char* text, int length, const char* keyword, double* values, int count) {
    for (int i = 0; i < count; i++)
        values[i] = 0.0;
    ValueSpan span;
    if (!find_value(text, length, keyword, &span)) {
        std::printf("WARNING: subroutine rd_vec, keyword not found: %s\n", keyword);
        return -1;
    }
    if (count <= 0)
        return 0;
    char* scratch = vector_scratch_buffer();
    copy_value(span, scratch, kVectorScratchSize);

    char* cursor = scratch;
    for (int i = 0; i < count; i++) {
        while (*cursor != '\0' && is_token_separator(*cursor))
            cursor++;
        if (*cursor == '\0') {
            std::printf("WARNING rd_vec: insufficient number of values: %d    key: %s\n", count,
                        keyword);
            return -1;
        }
        char* token = cursor;
        while (*cursor != '\0' && !is_token_separator(*cursor))
            cursor++;
        if (*cursor != '\0')
            *cursor++ = '\0';
        double converted;
        if (std::sscanf(token, "%le", &converted) != 1) {
            std::printf("WARNING rd_vec: invalid entry for data with key: %s    value: %s\n",
                        keyword, token);
            return -1;
        }
        values[i] = converted;
    }
    return 0;
}
