#include "numeric/alloc.h"

#include "numeric/fatal.h"

#include <cstdint>
#include <cstdlib>

// The count printed after the colon is a 32-bit "%d": only zero reaches these
// messages, so it always reads 0.
void* calloc_1d(std::size_t count, std::size_t size) {
    if (count == 0)
        fatal_error("\nERROR: calloc_1d: number of elements <= 0: %d\n", static_cast<int>(count));
    if (size == 0)
        fatal_error("\nERROR: calloc_1d: element size <= 0: %d\n", static_cast<int>(size));
    // A negative 32-bit count arrives as a huge unsigned size: refuse a
    // product that overflows before asking the heap.
    void* p = (count > SIZE_MAX / size) ? nullptr : std::calloc(count, size);
    if (p == nullptr)
        fatal_error("\nERROR calloc_1d: memory allocation error for data values\n\n");
    return p;
}

namespace detail {

char* calloc_2d_block(std::size_t ncols, std::size_t nlines, std::size_t size) {
    if (ncols == 0)
        fatal_error("\nERROR: calloc_2d: number of columns <= 0: %d\n", static_cast<int>(ncols));
    if (nlines == 0)
        fatal_error("\nERROR: calloc_2d: number of lines <= 0: %d\n", static_cast<int>(nlines));
    if (size == 0)
        fatal_error("\nERROR: calloc_2d: element size <= 0: %d\n", static_cast<int>(size));
    // A huge (negative 32-bit) request ends in the allocation message, never
    // in a short block from a wrapped product.
    const bool overflows = ncols > SIZE_MAX / nlines || ncols * nlines > SIZE_MAX / size;
    void* p = overflows ? nullptr : std::calloc(ncols * nlines, size);
    if (p == nullptr)
        fatal_error("\nERROR calloc_2d: memory allocation error for data values\n\n");
    return static_cast<char*>(p);
}

void* calloc_2d_lines(std::size_t nlines, std::size_t pointer_size) {
    void* p = (nlines > SIZE_MAX / pointer_size) ? nullptr : std::malloc(nlines * pointer_size);
    if (p == nullptr)
        fatal_error("\nERROR calloc_2d: memory allocation error for line pointers\n\n");
    return p;
}

} // namespace detail

// The 1-based family keeps one spare element below index nl. Sizes are
// computed in 32-bit signed arithmetic, then widened, as the numerical
// routines expect. A lower bound above 1 would put the returned address before
// the block, so it is refused rather than handed out.
template <class T>
static T* unit_offset_vector(int nl, int nh, const char* bound_error, const char* failure) {
    if (nl > 1)
        run_time_error(bound_error);
    const int count = nh - nl + 2;
    T* block = count > 0 ? static_cast<T*>(std::malloc(static_cast<std::size_t>(count) * sizeof(T)))
                         : nullptr;
    if (block == nullptr)
        run_time_error(failure);
    return block + (1 - nl);
}

double* dvector(int nl, int nh) {
    return unit_offset_vector<double>(nl, nh, "lower bound above 1 in dvector()",
                                      "allocation failure in dvector()");
}

int* ivector(int nl, int nh) {
    return unit_offset_vector<int>(nl, nh, "lower bound above 1 in ivector()",
                                   "allocation failure in ivector()");
}

double** dmatrix(int nrl, int nrh, int ncl, int nch) {
    const int nrow = nrh - nrl + 1;
    const int ncol = nch - ncl + 1;
    // An empty matrix would store its first row pointer outside the pointer
    // block, and a lower bound above 1 addresses before it: both are refused.
    if (nrow < 1 || ncol < 1)
        run_time_error("empty matrix requested in dmatrix()");
    if (nrl > 1 || ncl > 1)
        run_time_error("lower bound above 1 in dmatrix()");

    double** rows =
        static_cast<double**>(std::malloc(static_cast<std::size_t>(nrow + 1) * sizeof(double*)));
    if (rows == nullptr)
        run_time_error("allocation failure 1 in dmatrix()");
    double** m = rows + (1 - nrl);

    const long long elements = static_cast<long long>(nrow) * ncol + 1;
    double* data =
        static_cast<double*>(std::malloc(static_cast<std::size_t>(elements) * sizeof(double)));
    if (data == nullptr)
        run_time_error("allocation failure 2 in dmatrix()");
    m[nrl] = data + (1 - ncl);
    for (int i = nrl + 1; i <= nrh; i++)
        m[i] = m[i - 1] + ncol;
    return m;
}

void free_dvector(double* v, int nl, int /*nh*/) {
    std::free(v + (nl - 1));
}

void free_ivector(int* v, int nl, int /*nh*/) {
    std::free(v + (nl - 1));
}

void free_dmatrix(double** m, int nrl, int /*nrh*/, int ncl, int /*nch*/) {
    std::free(m[nrl] + (ncl - 1));
    std::free(m + (nrl - 1));
}
