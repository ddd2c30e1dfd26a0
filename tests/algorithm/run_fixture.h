#pragma once

// Shared helpers of the stage and end-to-end tests: files the module reads,
// the work files it writes, and access to the private stage operations.
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

struct FineCoregistrationTestAccess {
    static bool offset_pwr(FineCoregistration& f, stFineCoregistrationInfo& info, std::string& offs,
                           std::string& snr, std::string& listing) {
        return f.offset_pwr(info, offs, snr, listing);
    }
    static bool offset_fit(FineCoregistration& f, stFineCoregistrationInfo& info, std::string& offs,
                           std::string& snr, std::string& coffs, std::string& clisting) {
        return f.offset_fit(info, offs, snr, coffs, clisting);
    }
};

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

inline std::string read_file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

inline bool write_coarse_offset_file(const std::string& path, int rangeOffset, int azimuthOffset) {
    stOffsetParInfo par{};
    par.initial_range_offset = rangeOffset;
    par.initial_azimuth_offset = azimuthOffset;
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    write_offset_par(f, &par);
    return std::fclose(f) == 0;
}

inline bool read_offset_file(const std::string& path, stOffsetParInfo& par) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return false;
    read_offset_par(f, &par);
    std::fclose(f);
    return true;
}

inline std::vector<fcomplex> read_complex_file(const std::string& path) {
    const std::string bytes = read_file_bytes(path);
    std::vector<fcomplex> v(bytes.size() / sizeof(fcomplex));
    std::copy(bytes.begin(), bytes.begin() + v.size() * sizeof(fcomplex),
              reinterpret_cast<char*>(v.data()));
    return v;
}

inline std::vector<float> read_float_file(const std::string& path) {
    const std::string bytes = read_file_bytes(path);
    std::vector<float> v(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + v.size() * sizeof(float),
              reinterpret_cast<char*>(v.data()));
    return v;
}

inline bool write_complex_image(const std::string& path, const std::vector<fcomplex>& samples) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok =
        std::fwrite(samples.data(), sizeof(fcomplex), samples.size(), f) == samples.size();
    return (std::fclose(f) == 0) && ok;
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
