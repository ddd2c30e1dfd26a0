#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace slcsim {

// In-place complex transform of one fixed length, double precision, any
// length (mixed radix: 4, 2, 3, 5, then remaining primes by direct sums).
// Unnormalised: the inverse of a forward transform is n times the input.
// The simulator's own transform, independent of the module's.
class ComplexFft {
public:
    ComplexFft(std::size_t n, bool inverse);
    std::size_t size() const { return n_; }
    void transform(std::complex<double>* data);

private:
    void work(std::complex<double>* out, const std::complex<double>* in, std::size_t fstride,
              const std::size_t* factors);
    void radix2(std::complex<double>* out, std::size_t fstride, std::size_t m) const;
    void radix4(std::complex<double>* out, std::size_t fstride, std::size_t m) const;
    void generic(std::complex<double>* out, std::size_t fstride, std::size_t p, std::size_t m);

    std::size_t n_;
    bool inverse_;
    std::vector<std::complex<double>> twiddles_;
    std::vector<std::size_t> factors_; // pairs (radix p, remaining length m)
    std::vector<std::complex<double>> input_;
    std::vector<std::complex<double>> scratch_;
};

// Smallest length >= n whose only prime factors are 2, 3 and 5.
std::size_t smooth_length(std::size_t n);

} // namespace slcsim
