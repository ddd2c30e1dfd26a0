#pragma once

// Shared helpers of the stage, run and end-to-end tests: files the module
// reads, the work files it writes, and access to the private stage operations.
#include "algorithm/FineCoregistration.h"
#include "numeric/fcomplex.h"
#include "params/offset_par.h"
#include "params/sar_image_xml_writer.h"

#include <QString>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>


// Records every error report while keeping the base's behaviour.
class RecordingCoregistration : public FineCoregistration {
public:
    std::vector<std::pair<int, QString>> posted;
    void SetErrorInfo(int code, const QString& message) override {
        posted.emplace_back(code, message);
        FineCoregistration::SetErrorInfo(code, message);
    }
};

inline std::string make_test_dir(const std::string& name) {
    const std::string dir = std::string(FC_TEST_TMP_DIR) + "/" + name;
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

// The file's bytes; "" when it is absent or no regular file.
inline std::string read_file_bytes(const std::string& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[1 << 16];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            bytes.append(chunk, got);
        std::fclose(f);
    }
    return bytes;
}

inline bool write_whole_file(const std::string& path, const void* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return (std::fclose(f) == 0) && ok;
}

inline bool write_whole_file(const std::string& path, const std::string& bytes) {
    return write_whole_file(path, bytes.data(), bytes.size());
}

inline bool file_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The XML parameter file beside an image: its path up to the last "." + ".xml".
inline bool write_image_xml(const std::string& imagePath, int width, int lines,
                            const std::string& type) {
    const std::size_t dot = imagePath.rfind('.');
    const std::string xml =
        (dot == std::string::npos ? imagePath : imagePath.substr(0, dot)) + ".xml";
    return write_sar_image_xml(xml, make_sar_image_info(width, lines, type));
}

inline bool write_offset_file(const std::string& path, const stOffsetParInfo& par) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    write_offset_par(f, &par);
    return std::fclose(f) == 0;
}

inline bool write_coarse_offset_file(const std::string& path, int rangeOffset, int azimuthOffset) {
    stOffsetParInfo par{};
    par.initial_range_offset = rangeOffset;
    par.initial_azimuth_offset = azimuthOffset;
    return write_offset_file(path, par);
}

inline bool read_offset_file(const std::string& path, stOffsetParInfo& par) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return false;
    read_offset_par(f, &par);
    std::fclose(f);
    return true;
}

// A binary file as whole values of T (a trailing partial value is dropped).
template <class T> std::vector<T> read_values(const std::string& path) {
    const std::string bytes = read_file_bytes(path);
    std::vector<T> v(bytes.size() / sizeof(T));
    std::copy(bytes.begin(), bytes.begin() + v.size() * sizeof(T),
              reinterpret_cast<char*>(v.data()));
    return v;
}

inline std::vector<fcomplex> read_complex_file(const std::string& path) {
    return read_values<fcomplex>(path);
}

inline std::vector<float> read_float_file(const std::string& path) {
    return read_values<float>(path);
}

inline bool write_complex_image(const std::string& path, const std::vector<fcomplex>& samples) {
    return write_whole_file(path, samples.data(), samples.size() * sizeof(fcomplex));
}

inline stFineCoregistrationInfo run_record(const std::string& master, const std::string& slave,
                                           const std::string& off, int window, int nr, int na,
                                           double threshold = 7.0) {
    stFineCoregistrationInfo info;
    info.masterImagePath = QString::fromStdString(master);
    info.slaveImagePath = QString::fromStdString(slave);
    info.offsetParPath = QString::fromStdString(off);
    info.windowWidth = window;
    info.windowHeight = window;
    info.rangeSamples = nr;
    info.azimuthSamples = na;
    info.snrThreshold = threshold;
    return info;
}
