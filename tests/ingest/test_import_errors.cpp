// Every refused input or output: an ImportError naming the file, and nothing
// left in the output directory, not even a temporary file.
#include "ingest/ingest.h"
#include "raster_fixtures.h"

#include <fstream>
#include <functional>

namespace {

using namespace fixtures;

void truncate_to_half(const std::string& path) {
    fs::resize_file(path, fs::file_size(path) / 2);
}

// A VRT of side x side CFloat32 samples whose band is the given XML.
void write_vrt(const std::string& path, long side, const std::string& band) {
    std::ofstream(path) << "<VRTDataset rasterXSize=\"" << side << "\" rasterYSize=\"" << side
                        << "\">\n"
                        << band << "</VRTDataset>\n";
}

TEST(ImportErrors, EachNamesTheFileAndLeavesNothingBehind) {
    const std::string dir = fresh_test_dir();
    const std::string in = dir + "/in/", out = dir + "/out/";
    fs::create_directories(in);
    write_raster(in + "c16.tif", GDT_CInt16, 64, 48, speckle(64, 48, 2));
    write_raster(in + "c32.tif", GDT_CFloat32, 64, 48, speckle(64, 48, 3));
    write_raster(in + "real.tif", GDT_Float32, 8, 8, speckle(8, 8, 4));
    // Strips of a few lines: half the file still opens, and the copy fails midway.
    write_raster(in + "cut.tif", GDT_CFloat32, 64, 512, speckle(64, 512, 5));
    truncate_to_half(in + "cut.tif");
    write_raster(in + "cut.slc", GDT_CFloat32, 64, 48, speckle(64, 48, 6), "ENVI");
    truncate_to_half(in + "cut.slc");
    std::ofstream(in + "text.tif") << "not a raster\n";
    // 256 x 256 raw samples promised over 64 bytes.
    std::ofstream(in + "short.raw") << std::string(64, '\x01');
    write_vrt(in + "short.vrt", 256,
              "<VRTRasterBand dataType=\"CFloat32\" band=\"1\" subClass=\"VRTRawRasterBand\">"
              "<SourceFilename relativeToVRT=\"1\">short.raw</SourceFilename><PixelOffset>8"
              "</PixelOffset><LineOffset>2048</LineOffset></VRTRasterBand>\n");
    // 2^31 - 1 samples square over a small GeoTIFF: 2^66 bytes to write.
    write_vrt(in + "huge.vrt", 2147483647,
              "<VRTRasterBand dataType=\"CFloat32\" band=\"1\"><SimpleSource><SourceFilename "
              "relativeToVRT=\"1\">c32.tif</SourceFilename><SourceBand>1</SourceBand>"
              "</SimpleSource></VRTRasterBand>\n");
    std::ofstream(in + "blocker") << "a file where a directory is expected\n";
    const ingest::IntegerOffset zero{0, 0};

    const struct {
        const char* what;
        std::string file; // the file the message names
        std::string part;
        std::function<void()> run;
    } rows[] = {
        {"real band", in + "real.tif", "not complex",
         [&] { ingest::import_image({in + "real.tif"}, out + "x.slc"); }},
        {"missing band", in + "c16.tif", "has no band 2 (it has 1)",
         [&] {
             ingest::import_image({in + "c16.tif", 2}, out + "x.slc");
         }},
        {"window outside", in + "c16.tif", "is not inside the 64 x 48 raster",
         [&] {
             ingest::import_image({in + "c16.tif", 1, {{60, 0, 8, 8}}}, out + "x.slc");
         }},
        {"not a raster", in + "text.tif", "cannot open as a raster",
         [&] { ingest::import_image({in + "text.tif"}, out + "x.slc"); }},
        {"missing file", in + "none.tif", "cannot open as a raster",
         [&] { ingest::import_image({in + "none.tif"}, out + "x.slc"); }},
        {"truncated raw file", in + "cut.slc", "is truncated",
         [&] { ingest::import_image({in + "cut.slc"}, out + "x.slc"); }},
        {"raw VRT over a short file", in + "short.vrt",
         "is truncated: " + in + "short.raw holds 64 bytes, the raster needs 524288",
         [&] { ingest::import_image({in + "short.vrt"}, out + "x.slc"); }},
        {"larger than the free space", out + "x.slc",
         "needs 36893488113059364872 bytes, but its file system has ",
         [&] { ingest::import_image({in + "huge.vrt"}, out + "x.slc"); }},
        {"pair larger than the free space", out + "p/master.slc", "bytes free",
         [&] {
             ingest::import_pair({{in + "huge.vrt"}, {in + "huge.vrt"}, out + "p", std::nullopt});
         }},
        {"truncated tiff", in + "cut.tif", "read failed",
         [&] { ingest::import_image({in + "cut.tif"}, out + "x.slc"); }},
        {"unwritable output", in + "blocker/x.slc", "cannot be written",
         [&] { ingest::import_image({in + "c16.tif"}, in + "blocker/x.slc"); }},
        {"image named .xml", out + "x.xml", "XML would overwrite the image",
         [&] { ingest::import_image({in + "c16.tif"}, out + "x.xml"); }},
        {"pair of two sample types", in + "c32.tif", "need the same sample type",
         [&] {
             ingest::import_pair({{in + "c16.tif"}, {in + "c32.tif"}, out + "p", zero});
         }},
        {"pair, slave fails after the master", in + "cut.tif", "read failed",
         [&] {
             ingest::import_pair({{in + "c32.tif"}, {in + "cut.tif"}, out + "p", zero});
         }},
        {"pair, estimate fails", in + "cut.tif", "read failed",
         [&] {
             ingest::import_pair({{in + "c32.tif"}, {in + "cut.tif"}, out + "p", std::nullopt});
         }},
        {"pair, directory not creatable", in + "blocker/p", "cannot create the output directory",
         [&] {
             ingest::import_pair(
                 {{in + "c16.tif"}, {in + "c16.tif"}, in + "blocker/p", std::nullopt});
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fs::create_directories(out);
        try {
            row.run();
            ADD_FAILURE() << "no error";
        } catch (const ingest::ImportError& e) {
            EXPECT_EQ(e.file(), row.file);
            EXPECT_EQ(std::string(e.what()).rfind(row.file + ": ", 0), 0u) << e.what();
            EXPECT_NE(std::string(e.what()).find(row.part), std::string::npos) << e.what();
        }
        EXPECT_TRUE(fs::is_empty(out));
    }
}

} // namespace
