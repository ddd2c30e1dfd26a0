// The fuzz input is a parameter text: every reader is run over it with the
// offset file's keywords, short keywords that match anywhere, and keywords
// cut from the end of the input so matches touch the end of the text.
#include "params/keyword_reader.h"
#include "params/offset_par.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kKeywords[] = {
    "title",
    "initial_range_offset",
    "offset_estimation_threshhold",
    "range_offset_polynomial",
    "number_of_nonzero_range_pixels:",
    "width",
    ":",
    "\"",
    "a",
    "1",
    "e",
    "",
};

void run_readers(const char* text, int length, const char* keyword) {
    char small[4];
    char title[128];
    int i = 0;
    double d = 0.0;
    double vec[40];
    rd_str(text, length, keyword, small, sizeof small);
    rd_str(text, length, keyword, title, sizeof title);
    rd_int(text, length, keyword, &i);
    rd_dbl(text, length, keyword, &d);
    for (int count : {0, 6, 40})
        rd_vec(text, length, keyword, vec, count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20))
        return 0;
    // Exactly length + 1 bytes, the last one zero, as read_par_text leaves
    // them: any read past the terminator is an overflow.
    char* text = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(text, data, size);
    text[size] = '\0';
    const int length = static_cast<int>(size);

    for (const char* keyword : kKeywords)
        run_readers(text, length, keyword);
    // Keywords taken from the tail of the input (up to the first zero byte,
    // which would end them early) match right at the end of the text.
    for (std::size_t n : {1, 2, 5, 8}) {
        if (n > size)
            break;
        const std::string keyword(text + size - n, n);
        run_readers(text, length, keyword.c_str());
    }
    // A shorter length than the buffer: the readers must stay inside it.
    if (size > 1)
        run_readers(text, length / 2, "e");

    std::free(text);

    // The same text through a stream, as the offset parameter reader sees it.
    if (size > 0) {
        std::FILE* stream = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
        if (stream != nullptr) {
            stOffsetParInfo par;
            read_offset_par(stream, &par);
            std::fclose(stream);
        }
    }
    return 0;
}
