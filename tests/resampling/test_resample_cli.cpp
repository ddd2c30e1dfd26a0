// finecoreg-resample as a user runs it.
#include "tests/support/run_process.h"
#include "tests/support/scratch.h"
#include "tools/slcsim/slcsim.h"

namespace {

using namespace scratch;

TEST(ResampleTool, ReportsTheCentroidAndTheMeanCoherence) {
    const std::string dir = fresh_test_dir();
    SlcSimOptions sim;
    sim.width = sim.lines = 256;
    sim.range_offset_polynomial[0] = 1.3;
    sim.doppler = 0.1;
    sim.master_path = dir + "/m.slc";
    sim.slave_path = dir + "/s.slc";
    sim.offset_par_path = dir + "/pair.off";
    sim.truth_path = dir + "/truth.off";
    std::string error;
    ASSERT_TRUE(simulate_slc_pair(sim, &error)) << error;
    const ProcessRun run =
        run_process(RESAMPLE_TOOL, {dir + "/m.slc", dir + "/s.slc", dir + "/truth.off",
                                    dir + "/r.slc", "--interferogram", dir, "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("doppler centroid: 0.100000 cycles/line (xml)"), std::string::npos)
        << run.out;
    const std::size_t at = run.out.find("\nmean coherence: ");
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_GE(std::stod(run.out.substr(at + 17)), 0.99) << run.out;
    EXPECT_TRUE(fs::exists(dir + "/coherence.xml"));
}

TEST(ResampleTool, BadUsageIsTwoAndAFailureOneLineNamingTheFile) {
    const std::string dir = fresh_test_dir();
    const ProcessRun usage = run_process(RESAMPLE_TOOL, {"a", "b", "c", "d", "--doppler", "0.7"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.err.rfind("finecoreg-resample: option --doppler needs", 0), 0u) << usage.err;
    const ProcessRun failed = run_process(
        RESAMPLE_TOOL, {dir + "/m.slc", dir + "/s.slc", dir + "/f.off", dir + "/o.slc", "--quiet"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err,
              "finecoreg-resample: " + dir + "/m.xml: cannot read the image parameter file\n");
}

} // namespace
