// Import of one raster: the raw file's bytes against an encoding written out
// here by hand, the XML file read back by the module's reader, the notes.
#include "ingest/ingest.h"
#include "params/sar_image_xml.h"
#include "raster_fixtures.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

using namespace fixtures;

struct ImportCase {
    const char* name;
    GDALDataType type;
    int width, lines;
    std::optional<ingest::Window> window;
    const char* format;
    bool converted;
};

// Values that probe each type: the int16 extremes, a float part that rounds,
// int32 parts beyond 2^24 and float64 parts that lose bits.
std::complex<double> value(GDALDataType type, std::size_t k) {
    const double i = static_cast<double>(k);
    switch (type) {
    case GDT_CInt16:
        return {std::fmod(i * 977.0, 65536.0) - 32768.0, 32767.0 - std::fmod(i * 331.0, 65536.0)};
    case GDT_CInt32:
        return {16777217.0 + i, 0.0 - 1000003.0 * i}; // +0 at i = 0, as an integer holds it
    default:
        return {i / 3.0 - 17.0, -1e-7 * i};
    }
}

// Little-endian encoding of one part, as the module's files hold it.
std::string encoded(double part, bool scomplex) {
    const float f = static_cast<float>(part);
    std::uint32_t bits = 0;
    if (scomplex)
        bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(part));
    else
        std::memcpy(&bits, &f, 4);
    std::string out;
    for (int b = 0; b < (scomplex ? 2 : 4); b++)
        out += static_cast<char>((bits >> (8 * b)) & 0xff);
    return out;
}
FC_PRINTS_AS_NAME(ImportCase)

class ImageImport : public testing::TestWithParam<ImportCase> {};

TEST_P(ImageImport, RawBytesExactAndXmlReadBack) {
    const ImportCase& c = GetParam();
    const std::string dir = fresh_test_dir();
    Samples values(static_cast<std::size_t>(c.width) * c.lines);
    for (std::size_t k = 0; k < values.size(); k++)
        values[k] = value(c.type, k);
    write_raster(dir + "/in.tif", c.type, c.width, c.lines, values);

    const ingest::ImageImportResult r =
        ingest::import_image({dir + "/in.tif", 1, c.window}, dir + "/out.slc");
    const ingest::Window w = c.window.value_or(ingest::Window{0, 0, c.width, c.lines});
    const bool scomplex = std::string(c.format) == "SCOMPLEX";
    std::string expected;
    for (const auto& v : crop(values, c.width, w.x, w.y, w.width, w.lines))
        expected += encoded(v.real(), scomplex) + encoded(v.imag(), scomplex);
    EXPECT_TRUE(read_bytes(dir + "/out.slc") == expected); // no dump of megabytes on failure
    EXPECT_EQ(read_bytes(dir + "/out.slc").size(), expected.size());

    EXPECT_EQ(r.xml_path, dir + "/out.xml");
    stSarImageInfo info;
    ASSERT_TRUE(read_sar_image_xml(r.xml_path, info));
    EXPECT_EQ(info.numberOfColumns, w.width);
    EXPECT_EQ(info.numberOfRows, w.lines);
    EXPECT_EQ(info.imageDataType, c.format);
    const bool noted = std::any_of(r.notes.begin(), r.notes.end(), [](const std::string& n) {
        return n.find("converted to FCOMPLEX") != std::string::npos;
    });
    EXPECT_EQ(noted, c.converted);
    EXPECT_EQ(r.vrt_path, dir + "/out.slc.vrt");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4)
        << "no temporary file left beside the outputs";
    if (!HasFailure())
        fs::remove_all(dir); // tens of megabytes for the several-block case
}

INSTANTIATE_TEST_SUITE_P(
    Types, ImageImport,
    testing::Values(ImportCase{"CInt16", GDT_CInt16, 11, 9, std::nullopt, "SCOMPLEX", false},
                    // 16 KiB lines: the copy takes several blocks of lines, the last partial
                    ImportCase{"CFloat32", GDT_CFloat32, 2048, 1100, std::nullopt, "FCOMPLEX",
                               false},
                    ImportCase{"CInt32", GDT_CInt32, 11, 9, std::nullopt, "FCOMPLEX", true},
                    ImportCase{"CFloat64", GDT_CFloat64, 11, 9, std::nullopt, "FCOMPLEX", true},
                    ImportCase{"CInt16Window", GDT_CInt16, 11, 9, ingest::Window{3, 2, 5, 4},
                               "SCOMPLEX", false}),
    [](const testing::TestParamInfo<ImportCase>& info) { return info.param.name; });

} // namespace
