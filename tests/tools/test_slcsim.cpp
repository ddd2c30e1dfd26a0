// The simulator writes the inputs whose true offsets the end-to-end tests
// compare against: its geometry must hold exactly where it can (whole-sample
// offsets), and the tool must write what the library writes.
#include "tests/support/run_process.h"
#include "tests/support/scratch.h"
#include "tools/slcsim/slcsim.h"

namespace {

using namespace scratch;

SlcSimOptions options_in(const std::string& dir, int width, int lines) {
    SlcSimOptions o;
    o.width = width;
    o.lines = lines;
    o.master_path = dir + "/master.slc";
    o.slave_path = dir + "/slave.slc";
    o.offset_par_path = dir + "/pair.off";
    o.truth_path = dir + "/truth.off";
    return o;
}

// slave(x + 5, y - 3) = master(x, y) exactly: an integer offset needs no
// interpolation. Slave samples whose master position lies outside the
// master still hold speckle.
TEST(SlcSim, IntegerOffsetCopiesTheMasterExactly) {
    SlcSimOptions o = options_in(fresh_test_dir(), 160, 128);
    o.range_offset_polynomial[0] = 5.0;
    o.azimuth_offset_polynomial[0] = -3.0;
    std::string error;
    ASSERT_TRUE(simulate_slc_pair(o, &error)) << error;
    const std::vector<fcomplex> m = read_values<fcomplex>(o.master_path);
    const std::vector<fcomplex> s = read_values<fcomplex>(o.slave_path);
    ASSERT_EQ(m.size(), 160u * 128u);
    ASSERT_EQ(s.size(), m.size());
    for (int y = 3; y < 128; y++)
        for (int x = 0; x + 5 < 160; x++) {
            ASSERT_EQ(s[(y - 3) * 160 + x + 5].re, m[y * 160 + x].re) << x << ", " << y;
            ASSERT_EQ(s[(y - 3) * 160 + x + 5].im, m[y * 160 + x].im) << x << ", " << y;
        }
    EXPECT_GT(std::fabs(s[2 * 160 + 2].re) + std::fabs(s[127 * 160 + 3].re), 0.0f);
    EXPECT_EQ(read_off(o.truth_path).range_offset_polynomial[0], 5.0);
}

// The same options through the tool give the same bytes in every file, and
// bad usage ends with status 2.
TEST(SlcSim, ToolWritesWhatTheLibraryWrites) {
    const std::string dir = fresh_test_dir();
    SlcSimOptions o = options_in(dir, 96, 80);
    o.format = SlcFormat::scomplex;
    o.range_offset_polynomial[0] = 2.6;
    o.azimuth_offset_polynomial[2] = -2e-3;
    o.coherence = 0.8;
    o.seed = 11;
    o.initial_range_offset = 3;
    std::string error;
    ASSERT_TRUE(simulate_slc_pair(o, &error)) << error;
    const ProcessRun run =
        run_process(SLCSIM_TOOL, {"--width", "96", "--lines", "80", "--range-poly", "2.6",
                                  "--azimuth-poly", "0,0,-2e-3", "--coherence", "0.8", "--seed",
                                  "11", "--format", "SCOMPLEX", "--out-dir", dir + "/tool"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* file : {"master.slc", "slave.slc", "master.xml", "pair.off", "truth.off"}) {
        EXPECT_FALSE(read_bytes(dir + "/" + file).empty()) << file;
        EXPECT_EQ(read_bytes(dir + "/tool/" + file), read_bytes(dir + "/" + file)) << file;
    }
    expect_one_line_error(run_process(SLCSIM_TOOL, {"--out-dir", dir, "--coherence", "0"}),
                          "slcsim", 2, "option --coherence: '0' is not a number in (0, 1]");
}

} // namespace
