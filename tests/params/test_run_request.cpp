// What a run accepts before it opens anything, and the names of its files.
#include "params/file_naming.h"
#include "params/run_request.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(CheckRunRequest, RefusesWhatTheStagesCannotRun) {
    const char* const window = "Window width and height must be powers of two from 4 to 4096 !";
    const char* const grid =
        "Number of offset estimates in range and azimuth must be from 1 to 16384 !";
    const char* const filter = "Window width must be less than eight times the window height !";
    const struct {
        int width, height, nr, na;
        double threshold;
        const char* message; // nullptr: accepted
    } cases[] = {
        {4, 4, 1, 1, -5.0, nullptr},
        {4096, 4096, 16384, 16384, 7.0, nullptr},
        {2, 4, 1, 1, 7.0, window},
        {4, 2, 1, 1, 7.0, window},
        {0, 64, 1, 1, 7.0, window},
        {-64, 64, 1, 1, 7.0, window},
        {48, 64, 1, 1, 7.0, window},
        {64, 8192, 1, 1, 7.0, window},
        {448, 64, 1, 1, 7.0, window},
        {512, 64, 1, 1, 7.0, filter},
        {256, 64, 1, 1, 7.0, nullptr},
        {64, 64, 0, 1, 7.0, grid},
        {64, 64, 1, 0, 7.0, grid},
        {64, 64, 16385, 1, 7.0, grid},
        {64, 64, 1, 16385, 7.0, grid},
        {64, 64, 1, 1, std::nan(""), "SNR threshold is not a number !"},
    };
    for (const auto& c : cases) {
        RunRequest r;
        r.windowWidth = c.width;
        r.windowHeight = c.height;
        r.rangeSamples = c.nr;
        r.azimuthSamples = c.na;
        r.snrThreshold = c.threshold;
        const char* message = check_run_request(r);
        EXPECT_STREQ(message, c.message)
            << c.width << " x " << c.height << ", " << c.nr << " x " << c.na;
    }
}

TEST(FileNaming, NamesEndAtTheLastDotOfTheWholePath) {
    EXPECT_EQ(image_xml_path("/data/scene.slc"), "/data/scene.xml");
    EXPECT_EQ(image_xml_path("/data.old/image"), "/data.xml");
    EXPECT_EQ(image_xml_path("image"), "image.xml");
    EXPECT_EQ(new_offset_par_path("v1.2/pair.x.off"), "v1.2/pair.x_new.off");
    EXPECT_EQ(new_offset_par_path("plain"), "plain_new.off");
    EXPECT_EQ(fitted_offset_par_path("a.off", true), "a.off");
    EXPECT_EQ(fitted_offset_par_path("a.off", false), "a_new.off");
    const WorkFiles f = work_files_for_base("/d/Temp_9");
    EXPECT_EQ(
        f.offsets + f.snr + f.listing + f.culledOffsets + f.culledListing,
        "/d/Temp_9_offs/d/Temp_9_snr/d/Temp_9_offsets.txt/d/Temp_9coffs/d/Temp_9coffsets.txt");
}

} // namespace
