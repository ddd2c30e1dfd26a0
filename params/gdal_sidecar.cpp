#include "params/gdal_sidecar.h"

#include <cstdio>

namespace {

struct TypeName {
    const char* gdal;
    int bytes;
};

TypeName type_name(RawSampleType type) {
    switch (type) {
    case RawSampleType::cfloat32:
        return {"CFloat32", 8};
    case RawSampleType::cint16:
        return {"CInt16", 4};
    case RawSampleType::float32:
        return {"Float32", 4};
    case RawSampleType::byte:
        break;
    }
    return {"Byte", 1};
}

// The file name alone: the VRT lies in the raster's directory.
std::string file_name(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Text that reads back as the same double.
std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// The dataset-wide mask GDAL expects (255 valid, 0 invalid), turned from
// the module's (1 where invalid) by a lookup table.
std::string mask_band(const std::string& mask_vrt) {
    return "  <MaskBand>\n"
           "    <VRTRasterBand dataType=\"Byte\">\n"
           "      <ComplexSource>\n"
           "        <SourceFilename relativeToVRT=\"1\">" +
           escaped(file_name(mask_vrt)) +
           "</SourceFilename>\n"
           "        <SourceBand>1</SourceBand>\n"
           "        <LUT>0:255,1:0</LUT>\n"
           "      </ComplexSource>\n"
           "    </VRTRasterBand>\n"
           "  </MaskBand>\n";
}

} // namespace

std::string gdal_vrt_path(const std::string& raster) {
    return raster + ".vrt";
}

RawSampleType raw_sample_type(SampleFormat format) {
    return format == SampleFormat::scomplex ? RawSampleType::cint16 : RawSampleType::cfloat32;
}

std::string gdal_vrt_text(const RawRasterLayout& layout) {
    const TypeName type = type_name(layout.type);
    std::string text = "<VRTDataset rasterXSize=\"" + std::to_string(layout.width) +
                       "\" rasterYSize=\"" + std::to_string(layout.lines) + "\">\n";
    text += "  <VRTRasterBand dataType=\"" + std::string(type.gdal) +
            "\" band=\"1\" subClass=\"VRTRawRasterBand\">\n";
    text += "    <Description>" + escaped(layout.description) + "</Description>\n";
    if (layout.has_nodata)
        text += "    <NoDataValue>" + number(layout.nodata) + "</NoDataValue>\n";
    if (layout.scale != 1.0)
        text += "    <Offset>0</Offset>\n    <Scale>" + number(layout.scale) + "</Scale>\n";
    text += "    <SourceFilename relativeToVRT=\"1\">" + escaped(file_name(layout.raster)) +
            "</SourceFilename>\n";
    text += "    <ImageOffset>0</ImageOffset>\n";
    text += "    <PixelOffset>" + std::to_string(type.bytes) + "</PixelOffset>\n";
    text += "    <LineOffset>" + std::to_string(static_cast<long long>(layout.width) * type.bytes) +
            "</LineOffset>\n";
    text += "    <ByteOrder>LSB</ByteOrder>\n";
    text += "  </VRTRasterBand>\n";
    if (!layout.mask_vrt.empty())
        text += mask_band(layout.mask_vrt);
    return text + "</VRTDataset>\n";
}
