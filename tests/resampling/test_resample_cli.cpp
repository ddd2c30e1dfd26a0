// finecoreg-resample as a user runs it, and as a careless user does: outputs
// that are inputs under another spelling, names that collide, sizes that
// lie each end with one line naming the file and leave the directory
// exactly as it was.
#include "tests/support/offset_field_tiff.h"
#include "tests/support/run_process.h"
#include "tests/support/scratch.h"
#include "tools/slcsim/slcsim.h"

#include <cmath>
#include <csignal>
#include <map>
#include <set>

namespace {

using namespace scratch;

// Every regular file under dir (symbolic links not followed) with its bytes.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && !entry.is_symlink())
            files[entry.path().string()] = read_bytes(entry.path().string());
    return files;
}

std::string simulated_pair(const std::string& dir, int side = 128, double doppler = 0.0) {
    SlcSimOptions sim;
    sim.width = sim.lines = side;
    sim.doppler = doppler;
    sim.range_offset_polynomial[0] = 1.3;
    sim.master_path = dir + "/m.slc";
    sim.slave_path = dir + "/s.slc";
    sim.offset_par_path = dir + "/pair.off";
    sim.truth_path = dir + "/fit.off";
    std::string error;
    EXPECT_TRUE(simulate_slc_pair(sim, &error)) << error;
    return dir;
}

std::vector<std::string> pair_args(const std::string& d, const std::string& out) {
    return {d + "/m.slc", d + "/s.slc", d + "/fit.off", out, "--quiet"};
}

TEST(ResampleTool, ReportsTheCentroidAndTheMeanCoherence) {
    const std::string dir = simulated_pair(fresh_test_dir(), 256, 0.1);
    const ProcessRun run =
        run_process(RESAMPLE_TOOL, {dir + "/m.slc", dir + "/s.slc", dir + "/fit.off",
                                    dir + "/r.slc", "--interferogram", dir, "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("doppler centroid: 0.1000 cycles/line (xml)"), std::string::npos)
        << run.out;
    const std::size_t at = run.out.find("\nmean coherence: ");
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_GE(std::stod(run.out.substr(at + 17)), 0.99) << run.out;
    EXPECT_TRUE(fs::exists(dir + "/coherence.xml"));
}

TEST(ResampleTool, BadUsageIsTwoAndAFailureOneLineNamingTheFile) {
    const std::string dir = fresh_test_dir();
    expect_one_line_error(run_process(RESAMPLE_TOOL, {"a", "b", "c", "d", "--doppler", "0.7"}),
                          "finecoreg-resample", 2, "option --doppler: '0.7'");
    expect_one_line_error(run_process(RESAMPLE_TOOL, {"m", "s", "r"}), "finecoreg-resample", 2,
                          "FITTED_OFF is needed unless --field gives the offsets");
    expect_one_line_error(run_process(RESAMPLE_TOOL, pair_args(dir, dir + "/o.slc")),
                          "finecoreg-resample", 1,
                          ": " + dir + "/m.xml: cannot read the image parameter file\n");
}

// A row's staging that replaces the fit with the given polynomials' text.
std::function<std::vector<std::string>(const std::string&)> fitted(const char* range,
                                                                   const char* azimuth) {
    return [=](const std::string& d) {
        write_bytes(d + "/fit.off", std::string("initial_range_offset: 1\n"
                                                "initial_azimuth_offset: 0\n"
                                                "range_offset_polynomial: ") +
                                        range + "\nazimuth_offset_polynomial: " + azimuth + "\n");
        return pair_args(d, d + "/r.slc");
    };
}

// A row's staging that writes f.tif, a field of 5 x 5 cells every 30
// samples holding range offset `range` (NaN: none), and gives the tool's
// arguments for the field alone.
std::function<std::vector<std::string>(const std::string&)> field_of(double range) {
    return [=](const std::string& d) {
        const double r[6] = {range, 0, 0, 0, 0, 0}, zero[6] = {0, 0, 0, 0, 0, 0};
        write_field_geotiff(d + "/f.tif", sampled_field(r, zero, 4.0, 30.0, 5, 5));
        return std::vector<std::string>{d + "/m.slc", d + "/s.slc", d + "/r.slc",
                                        "--field",    d + "/f.tif", "--quiet"};
    };
}

struct HostileRow {
    const char* what;
    // Stages the case in the pair's directory; gives the tool's arguments.
    std::function<std::vector<std::string>(const std::string& d)> stage;
    const char* part; // of the one-line error
};

TEST(ResampleTool, HostileOutputsAndInputsAreRefusedAndLeaveEverythingAsItWas) {
    const HostileRow rows[] = {
        {"output is the slave, spelt ./",
         [](const std::string& d) { return pair_args(d, d + "/./s.slc"); },
         "would overwrite the slave image"},
        {"output is the master through ..",
         [](const std::string& d) {
             fs::create_directory(d + "/sub");
             return pair_args(d, d + "/sub/../m.slc");
         },
         "would overwrite the master image"},
        {"output through a symlinked directory",
         [](const std::string& d) {
             fs::create_directory_symlink(d, d + "/link");
             return pair_args(d, d + "/link/s.slc");
         },
         "would overwrite the slave image"},
        {"output's XML is the master's (named from the file name only)",
         [](const std::string& d) { return pair_args(d, d + "/m.out"); },
         "XML would overwrite the master XML"},
        {"interferogram's fixed name is the output",
         [](const std::string& d) {
             fs::create_directory(d + "/ifg");
             auto args = pair_args(d, d + "/ifg/coherence");
             args.insert(args.end(), {"--interferogram", d + "/ifg"});
             return args;
         },
         "would overwrite the resampled slave"},
        {"master named like the interferogram",
         [](const std::string& d) {
             fs::rename(d + "/m.slc", d + "/interferogram.slc");
             fs::rename(d + "/m.xml", d + "/interferogram.xml");
             return std::vector<std::string>{d + "/interferogram.slc",
                                             d + "/s.slc",
                                             d + "/fit.off",
                                             d + "/r.slc",
                                             "--interferogram",
                                             d,
                                             "--quiet"};
         },
         "would overwrite the master XML"},
        {"interferogram directory missing",
         [](const std::string& d) {
             auto args = pair_args(d, d + "/r.slc");
             args.insert(args.end(), {"--interferogram", d + "/none"});
             return args;
         },
         "none: the interferogram directory does not exist"},
        {"interferogram directory is a file",
         [](const std::string& d) {
             auto args = pair_args(d, d + "/r.slc");
             args.insert(args.end(), {"--interferogram", d + "/fit.off"});
             return args;
         },
         "fit.off: the interferogram directory is not a directory"},
        {"looks larger than the image",
         [](const std::string& d) {
             auto args = pair_args(d, d + "/r.slc");
             args.insert(args.end(), {"--interferogram", d, "--looks", "1000", "5"});
             return args;
         },
         "leave no cell"},
        {"master XML claims 10^9 lines",
         [](const std::string& d) {
             write_image_xml(d + "/m.slc", 128, 1000000000, "FCOMPLEX");
             return pair_args(d, d + "/r.slc");
         },
         "m.slc: is short"},
        {"master XML claims 2^31-1 columns",
         [](const std::string& d) {
             write_image_xml(d + "/m.slc", 2147483647, 128, "FCOMPLEX");
             return pair_args(d, d + "/r.slc");
         },
         "m.slc: is short"},
        {"three-term range polynomial", fitted("1.3 0 0", "0 0 0 0 0 0"),
         "fit.off: range_offset_polynomial holds 3 coefficients, not 6"},
        {"slave shorter than its XML says",
         [](const std::string& d) {
             fs::resize_file(d + "/s.slc", 128 * 128 * 8 - 8);
             return pair_args(d, d + "/r.slc");
         },
         "s.slc: is short: 131064 bytes, 128 x 128 FCOMPLEX samples need 131072"},
        {"range polynomial that folds a line onto itself",
         fitted("1.3 0 0 0 -0.006 0", "0 0 0 0 0 0"), "folds master line 0 onto itself"},
        {"offsets beyond the images", fitted("1e30 0 0 0 0 0", "0 0 0 0 0 0"),
         "range_offset_polynomial gives 1e+30 samples at master sample 0, line 0: beyond"},
        {"every sample masked", fitted("128 0 0 0 0 0", "0 0 0 0 0 0"),
         "r.slc: every sample would be masked"},
        {"slave XML's Doppler centroid beyond half a cycle per line",
         [](const std::string& d) {
             stSarImageInfo info = make_sar_image_info(128, 128, "FCOMPLEX");
             info.pulseRepetitionFrequency = 1000.0;
             info.dopplerCentroidCoefficients[0] = 1e30;
             EXPECT_TRUE(write_sar_image_xml(d + "/s.xml", info));
             return pair_args(d, d + "/r.slc");
         },
         "s.xml: its Doppler centroid is"},
        {"non-finite coefficient", fitted("1.3 0 0 0 0 0", "0 nan 0 0 0 0"),
         "azimuth_offset_polynomial coefficient c1 is not finite"},
        {"field without a finite cell", field_of(NAN),
         "f.tif: the offset field holds no trusted (finite) cell"},
        {"field beyond the images", field_of(1e6),
         "f.tif: the offset field gives 1e+06 samples at master sample 0, line 0: beyond"},
        {"field putting the master grid outside the slave", field_of(124),
         "r.slc: every sample would be masked: the offsets of " /* the field's path */},
        {"output is the field",
         [](const std::string& d) {
             auto args = field_of(1.3)(d);
             args[2] = d + "/f.tif";
             return args;
         },
         "would overwrite the offset field"},
    };
    for (const HostileRow& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string dir = simulated_pair(fresh_test_dir());
        const std::vector<std::string> args = row.stage(dir);
        const auto before = snapshot(dir);
        expect_one_line_error(run_process(RESAMPLE_TOOL, args), "finecoreg-resample", 1, row.part);
        EXPECT_TRUE(snapshot(dir) == before);
    }
}

// A signal at any moment of a resample and its interferogram leaves the
// inputs as they were and no temporary: each output is there whole (a step
// that finished) or not at all; a run that finished first has them all.
TEST(ResampleTool, ASignalAtAnyMomentLeavesNoTemporary) {
    const std::string dir = simulated_pair(fresh_test_dir(), 1024);
    fs::create_directory(dir + "/ifg");
    const auto before = snapshot(dir);
    const std::string out = dir + "/r.slc";
    const std::set<std::string> outputs{out,
                                        dir + "/r.xml",
                                        out + ".mask",
                                        out + ".vrt",
                                        out + ".mask.vrt",
                                        dir + "/ifg/interferogram",
                                        dir + "/ifg/interferogram.xml",
                                        dir + "/ifg/interferogram.vrt",
                                        dir + "/ifg/coherence",
                                        dir + "/ifg/coherence.xml",
                                        dir + "/ifg/coherence.vrt"};
    auto args = pair_args(dir, out);
    args.insert(args.end(), {"--interferogram", dir + "/ifg"});
    std::vector<char*> argv{const_cast<char*>(RESAMPLE_TOOL)};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (int signal : {SIGINT, SIGTERM})
        for (int delay_ms : {5, 40, 120, 300, 500}) {
            SCOPED_TRACE(std::to_string(signal) + " after " + std::to_string(delay_ms) + " ms");
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::execv(RESAMPLE_TOOL, argv.data());
                ::_exit(127);
            }
            ::usleep(static_cast<useconds_t>(delay_ms) * 1000);
            ::kill(pid, signal);
            int status = 0;
            ::waitpid(pid, &status, 0);
            const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            EXPECT_TRUE(finished || (WIFSIGNALED(status) && WTERMSIG(status) == signal));
            auto after = snapshot(dir);
            for (const std::string& name : outputs)
                EXPECT_TRUE(after.erase(name) == 1 || !finished) << name;
            EXPECT_TRUE(after == before);
            for (const std::string& name : outputs)
                fs::remove(name);
        }
}

} // namespace
