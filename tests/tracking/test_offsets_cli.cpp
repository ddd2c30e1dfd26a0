// finecoreg-offsets as a user runs it: a summary on success, and for every
// failure one line naming the file, exit 1 and the directory as it was.
#include "tests/support/run_process.h"
#include "tests/support/scratch.h"
#include "tools/slcsim/slcsim.h"

#include <functional>
#include <map>

namespace {

using namespace scratch;

std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[entry.path().string()] = read_bytes(entry.path().string());
    return files;
}

std::string simulated_pair(const std::string& dir) {
    SlcSimOptions sim;
    sim.width = sim.lines = 192;
    sim.range_offset_polynomial[0] = 0.6;
    sim.master_path = dir + "/m.slc";
    sim.slave_path = dir + "/s.slc";
    sim.offset_par_path = dir + "/pair.off";
    sim.truth_path = dir + "/truth.off";
    std::string error;
    EXPECT_TRUE(simulate_slc_pair(sim, &error)) << error;
    return dir;
}

std::vector<std::string> args(const std::string& d, std::vector<std::string> more = {}) {
    std::vector<std::string> a = {d + "/m.slc", d + "/s.slc", d + "/out.tif", "--quiet"};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

TEST(OffsetsTool, SummarisesTheWindowsAndRefusesBadUsage) {
    const std::string dir = simulated_pair(fresh_test_dir());
    const ProcessRun run = run_process(OFFSETS_TOOL, args(dir, {"--gross", dir + "/truth.off"}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    // The gross offset of 0.6 places the slave windows one sample right: the
    // last column's reach past the slave's edge.
    EXPECT_NE(run.out.find("windows:          72 good, 9 no data"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("median sigma:     0.02"), std::string::npos) << run.out;
    expect_one_line_error(run_process(OFFSETS_TOOL, args(dir, {"--window", "48", "64"})),
                          "finecoreg-offsets", 2, "option --window");
    expect_one_line_error(run_process(OFFSETS_TOOL, args(dir, {"--step", "0", "4"})),
                          "finecoreg-offsets", 2, "option --step");
}

struct FailureRow {
    const char* what;
    std::function<std::vector<std::string>(const std::string& d)> stage;
    std::function<std::string(const std::string& d)> part; // of the one-line error
};

TEST(OffsetsTool, FailuresAreOneLineNamingTheFileAndLeaveNothingBehind) {
    const FailureRow rows[] = {
        {"unreadable master",
         [](const std::string& d) {
             fs::remove(d + "/m.slc");
             return args(d);
         },
         [](const std::string& d) { return d + "/m.slc: cannot be opened"; }},
        {"gross raster that is no raster",
         [](const std::string& d) {
             write_bytes(d + "/g.tif", "not a raster\n");
             return args(d, {"--gross", d + "/g.tif"});
         },
         [](const std::string& d) { return d + "/g.tif: cannot be read as a raster"; }},
        {"window larger than the image",
         [](const std::string& d) {
             return args(d, {"--window", "256", "256"});
         },
         [](const std::string& d) { return d + "/m.slc: a window of 256 x 256"; }},
        {"nothing measured: every slave window outside the slave",
         [](const std::string& d) {
             return args(d, {"--gross", "500,0"});
         },
         [](const std::string& d) { return d + "/m.slc: no window gave an offset"; }},
        {"output is the slave",
         [](const std::string& d) {
             return std::vector<std::string>{d + "/m.slc", d + "/s.slc", d + "/./s.slc"};
         },
         [](const std::string& d) { return d + "/./s.slc"; }},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string dir = simulated_pair(fresh_test_dir());
        const std::vector<std::string> a = row.stage(dir);
        const auto before = snapshot(dir);
        expect_one_line_error(run_process(OFFSETS_TOOL, a), "finecoreg-offsets", 1, row.part(dir));
        EXPECT_EQ(snapshot(dir), before);
    }
}

} // namespace
