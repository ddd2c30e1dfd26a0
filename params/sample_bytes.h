#pragma once

#include "params/sample_format.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The little-endian sample fields of the raw SLC files, independent of the
// machine's byte order.

inline float get_le32(const unsigned char* in) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; i++)
        bits |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline std::int16_t get_le16(const unsigned char* in) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(in[0] | (in[1] << 8)));
}

inline void put_le32(unsigned char* out, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; i++)
        out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

inline void put_le16(unsigned char* out, std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    out[0] = static_cast<unsigned char>(bits);
    out[1] = static_cast<unsigned char>(bits >> 8);
}

// n samples of a raw line as complex values: FCOMPLEX as stored, SCOMPLEX
// each count times 0.001 in double precision, rounded to single.
template <class Complex>
void decode_samples(const unsigned char* bytes, SampleFormat format, std::size_t n, Complex* out) {
    const auto size = static_cast<std::size_t>(bytes_per_sample(format));
    for (std::size_t i = 0; i < n; i++) {
        const unsigned char* in = bytes + i * size;
        if (format == SampleFormat::scomplex)
            out[i] = {static_cast<float>(get_le16(in) * 0.001),
                      static_cast<float>(get_le16(in + 2) * 0.001)};
        else
            out[i] = {get_le32(in), get_le32(in + 4)};
    }
}

// The SCOMPLEX count of a value: value x 1000 rounded, clamped to 16 bits
// (a NaN to the largest) and each clamp counted, so values never wrap.
// Rounds halves away from zero as std::round does, without its library call
// (the resampler's SCOMPLEX output spends most of its encoding time there):
// x minus its truncation is exact in double precision.
template <class Counter> std::int16_t saturated_counts(double value, Counter* saturated) {
    const double counts = value * 1000.0;
    if (counts > -32768.5 && counts < 32767.5) {
        const int whole = static_cast<int>(counts); // toward zero
        const double rest = counts - whole;
        return static_cast<std::int16_t>(whole + (rest >= 0.5) - (rest <= -0.5));
    }
    ++*saturated;
    return counts < 0.0 ? INT16_MIN : INT16_MAX;
}

// n complex values as a raw line of the format (see saturated_counts).
template <class Complex, class Counter>
void encode_samples(const Complex* samples, SampleFormat format, std::size_t n,
                    unsigned char* bytes, Counter* saturated) {
    const auto size = static_cast<std::size_t>(bytes_per_sample(format));
    for (std::size_t i = 0; i < n; i++) {
        unsigned char* out = bytes + i * size;
        if (format == SampleFormat::scomplex) {
            put_le16(out, saturated_counts(samples[i].real(), saturated));
            put_le16(out + 2, saturated_counts(samples[i].imag(), saturated));
        } else {
            put_le32(out, static_cast<float>(samples[i].real()));
            put_le32(out + 4, static_cast<float>(samples[i].imag()));
        }
    }
}
