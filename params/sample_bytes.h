#pragma once

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
