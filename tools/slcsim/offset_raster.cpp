#include "offset_raster.h"

#include "params/file_error.h"
#include "params/pending_output.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace slcsim {

namespace {

constexpr char kMagic[8] = {'F', 'C', 'O', 'F', 'F', 'S', 'E', 'T'};
constexpr std::size_t kHeaderBytes = 16;

std::uint32_t get_u32(const unsigned char* b) {
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
           std::uint32_t{b[3]} << 24;
}

void put_u32(std::uint32_t v, unsigned char* b) {
    for (int i = 0; i < 4; i++)
        b[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::size_t plane_size(const OffsetRaster& r) {
    return static_cast<std::size_t>(r.width) * static_cast<std::size_t>(r.lines);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

void read_plane(std::FILE* file, const std::string& path, std::vector<float>* plane) {
    std::vector<unsigned char> bytes(plane->size() * 4);
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size())
        throw FileError(path, "shorter than its header says");
    for (std::size_t i = 0; i < plane->size(); i++) {
        const std::uint32_t bits = get_u32(&bytes[4 * i]);
        std::memcpy(&(*plane)[i], &bits, 4);
        if (!std::isfinite((*plane)[i]))
            throw FileError(path, "holds an offset that is not finite");
    }
}

void write_plane(PendingOutput& out, const std::vector<float>& plane) {
    std::vector<unsigned char> bytes(plane.size() * 4);
    for (std::size_t i = 0; i < plane.size(); i++) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &plane[i], 4);
        put_u32(bits, &bytes[4 * i]);
    }
    out.write(bytes.data(), bytes.size());
}

} // namespace

OffsetRaster read_offset_raster(const std::string& path, int width, int lines) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw FileError(path, "cannot be read");
    unsigned char header[kHeaderBytes];
    if (std::fread(header, 1, kHeaderBytes, file.get()) != kHeaderBytes ||
        std::memcmp(header, kMagic, sizeof kMagic) != 0)
        throw FileError(path, "not an offset raster (no FCOFFSET header)");
    OffsetRaster raster;
    raster.width = static_cast<int>(std::min<std::uint32_t>(get_u32(header + 8), INT32_MAX));
    raster.lines = static_cast<int>(std::min<std::uint32_t>(get_u32(header + 12), INT32_MAX));
    if (raster.width != width || raster.lines != lines)
        throw FileError(path, "holds " + std::to_string(raster.width) + " x " +
                                  std::to_string(raster.lines) + " offsets, the images are " +
                                  std::to_string(width) + " x " + std::to_string(lines));
    raster.range.resize(plane_size(raster));
    raster.azimuth.resize(plane_size(raster));
    read_plane(file.get(), path, &raster.range);
    read_plane(file.get(), path, &raster.azimuth);
    if (std::fgetc(file.get()) != EOF)
        throw FileError(path, "longer than its header says");
    return raster;
}

void write_offset_raster(const std::string& path, const OffsetRaster& raster) {
    PendingOutput out(path);
    unsigned char header[kHeaderBytes];
    std::memcpy(header, kMagic, sizeof kMagic);
    put_u32(static_cast<std::uint32_t>(raster.width), header + 8);
    put_u32(static_cast<std::uint32_t>(raster.lines), header + 12);
    out.write(header, kHeaderBytes);
    write_plane(out, raster.range);
    write_plane(out, raster.azimuth);
    out.commit();
}

Offset RasterField::at(double x, double y) const {
    const int last_x = raster_.width - 1, last_y = raster_.lines - 1;
    x = std::clamp(x, 0.0, static_cast<double>(last_x));
    y = std::clamp(y, 0.0, static_cast<double>(last_y));
    const int x0 = std::min(static_cast<int>(x), std::max(last_x - 1, 0));
    const int y0 = std::min(static_cast<int>(y), std::max(last_y - 1, 0));
    const int x1 = std::min(x0 + 1, last_x), y1 = std::min(y0 + 1, last_y);
    const double fx = x - x0, fy = y - y0;
    const auto bilinear = [&](const std::vector<float>& p) {
        const auto at = [&](int ix, int iy) {
            return static_cast<double>(
                p[static_cast<std::size_t>(iy) * static_cast<std::size_t>(raster_.width) +
                  static_cast<std::size_t>(ix)]);
        };
        return (1.0 - fy) * ((1.0 - fx) * at(x0, y0) + fx * at(x1, y0)) +
               fy * ((1.0 - fx) * at(x0, y1) + fx * at(x1, y1));
    };
    return {bilinear(raster_.range), bilinear(raster_.azimuth)};
}

} // namespace slcsim
