#pragma once

#include <cstddef>
#include <cstdlib>
#include <utility>

// Allocation layer of the numerical code. Nothing here returns an error:
// every failure prints its fixed message and ends the process (status -1).
//
// 0-based family: zero-filled blocks and 2-D arrays (line pointers over one
// contiguous block, the layout the multi-dimensional transform needs).
// 1-based family: uninitialised vectors and matrices whose index ranges are
// given at allocation, for the least-squares and SVD routines.

void* calloc_1d(std::size_t count, std::size_t size);

namespace detail {
// Checks the arguments of calloc_2d in their fixed order and allocates the
// zero-filled data block of ncols * nlines elements of size bytes.
char* calloc_2d_block(std::size_t ncols, std::size_t nlines, std::size_t size);
// Allocates nlines line pointers of pointer_size bytes (not cleared).
void* calloc_2d_lines(std::size_t nlines, std::size_t pointer_size);
} // namespace detail

// Two-dimensional array of nlines lines of ncols elements of size bytes; the
// caller receives the line-pointer array, line i addressing element i*ncols.
template <class T>
T** calloc_2d(std::size_t ncols, std::size_t nlines, std::size_t size = sizeof(T)) {
    char* block = detail::calloc_2d_block(ncols, nlines, size);
    T** lines = static_cast<T**>(detail::calloc_2d_lines(nlines, sizeof(T*)));
    for (std::size_t i = 0; i < nlines; i++)
        lines[i] = reinterpret_cast<T*>(block + i * ncols * size);
    return lines;
}

// Releases the data block (line pointer 0), then the line-pointer array.
template <class T> void free_2d(T** lines) {
    std::free(lines[0]);
    std::free(lines);
}

double* dvector(int nl, int nh);
int* ivector(int nl, int nh);
double** dmatrix(int nrl, int nrh, int ncl, int nch);

void free_dvector(double* v, int nl, int nh);
void free_ivector(int* v, int nl, int nh);
void free_dmatrix(double** m, int nrl, int nrh, int ncl, int nch);

// Owners that give the raw arrays above a scope: the kernels still receive
// the raw (unit-offset) pointers they are written for, and a stage releases
// everything on every path without clean-up ladders.
template <class T, T* (*Allocate)(int, int), void (*Release)(T*, int, int)> class UnitOffsetVector {
public:
    UnitOffsetVector(int nl, int nh) : v_(Allocate(nl, nh)), nl_(nl), nh_(nh) {}
    ~UnitOffsetVector() { Release(v_, nl_, nh_); }
    UnitOffsetVector(const UnitOffsetVector&) = delete;
    UnitOffsetVector& operator=(const UnitOffsetVector&) = delete;
    T* get() const { return v_; }
    operator T*() const { return v_; }

private:
    T* v_;
    int nl_, nh_;
};
using DVector = UnitOffsetVector<double, dvector, free_dvector>;
using IVector = UnitOffsetVector<int, ivector, free_ivector>;

class DMatrix {
public:
    DMatrix(int nrl, int nrh, int ncl, int nch)
        : m_(dmatrix(nrl, nrh, ncl, nch)), nrl_(nrl), nrh_(nrh), ncl_(ncl), nch_(nch) {}
    ~DMatrix() { free_dmatrix(m_, nrl_, nrh_, ncl_, nch_); }
    DMatrix(const DMatrix&) = delete;
    DMatrix& operator=(const DMatrix&) = delete;
    double** get() const { return m_; }
    operator double**() const { return m_; }

private:
    double** m_;
    int nrl_, nrh_, ncl_, nch_;
};

template <class T> class Array2D {
public:
    Array2D() = default;
    Array2D(std::size_t ncols, std::size_t nlines) : lines_(calloc_2d<T>(ncols, nlines)) {}
    ~Array2D() { reset(); }
    Array2D(Array2D&& other) noexcept : lines_(std::exchange(other.lines_, nullptr)) {}
    Array2D& operator=(Array2D&& other) noexcept {
        if (this != &other) {
            reset();
            lines_ = std::exchange(other.lines_, nullptr);
        }
        return *this;
    }
    Array2D(const Array2D&) = delete;
    Array2D& operator=(const Array2D&) = delete;

    void reset() {
        if (lines_)
            free_2d(lines_);
        lines_ = nullptr;
    }
    T** get() const { return lines_; }
    T* operator[](std::size_t line) const { return lines_[line]; }
    explicit operator bool() const { return lines_ != nullptr; }

private:
    T** lines_ = nullptr;
};

// Owner of a calloc_1d block.
template <class T> class Block1D {
public:
    Block1D() = default;
    explicit Block1D(std::size_t count) : p_(static_cast<T*>(calloc_1d(count, sizeof(T)))) {}
    ~Block1D() { std::free(p_); }
    Block1D(Block1D&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Block1D& operator=(Block1D&& other) noexcept {
        if (this != &other) {
            std::free(p_);
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    Block1D(const Block1D&) = delete;
    Block1D& operator=(const Block1D&) = delete;
    T* get() const { return p_; }
    T& operator[](std::size_t i) const { return p_[i]; }

private:
    T* p_ = nullptr;
};
