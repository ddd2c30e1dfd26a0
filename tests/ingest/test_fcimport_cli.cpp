// finecoreg-import run as a user runs it, on a synthetic pair with a known
// offset under non-ASCII paths.
#include "raster_fixtures.h"
#include "tests/support/run_process.h"

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace fixtures;

TEST(FcimportCli, PairWritesAllFilesWithTheEstimatedOffset) {
    const std::string dir = fresh_test_dir() + "/données_主";
    fs::create_directories(dir);
    // Slave position = master position + (5, -4): the slave is the field cut 5
    // samples left of and 4 lines below the master's cut.
    const Samples field = speckle(112, 96, 7);
    write_raster(dir + "/maître.tif", GDT_CInt16, 96, 80, crop(field, 112, 8, 8, 96, 80));
    write_raster(dir + "/esclave.tif", GDT_CInt16, 96, 80, crop(field, 112, 3, 12, 96, 80));
    const std::string out = dir + "/sortie";

    const ProcessRun run =
        run_process(FCIMPORT_TOOL, {"pair", dir + "/maître.tif", dir + "/esclave.tif", out});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("coarse offset: range 5 samples, azimuth -4 lines (estimated"),
              std::string::npos)
        << run.out;
    for (const char* name : {"master.slc", "master.xml", "slave.slc", "slave.xml", "pair.off"})
        EXPECT_TRUE(fs::is_regular_file(out + "/" + name)) << name;
    EXPECT_EQ(fs::file_size(out + "/slave.slc"), 96u * 80u * 4u); // SCOMPLEX
    const stOffsetParInfo par = read_off(out + "/pair.off");
    EXPECT_EQ(par.initial_range_offset, 5);
    EXPECT_EQ(par.initial_azimuth_offset, -4);
    EXPECT_EQ(par.range_offset_polynomial[0], 5.0);
    EXPECT_EQ(par.azimuth_offset_polynomial[0], -4.0);
    EXPECT_EQ(par.number_of_slc_range_pixels, 96);

    // A refusal: status 1, one line naming the file, nothing on stdout.
    expect_one_line_error(run_process(FCIMPORT_TOOL, {"image", dir + "/none.tif", out + "/x.slc"}),
                          "finecoreg-import", 1, dir + "/none.tif: cannot open");
}

// Ended by a signal midway through a large copy: the temporary output goes,
// and the process ends by that signal as it would have.
TEST(FcimportCli, SignalRemovesTheTemporaryOutput) {
    const std::string dir = fresh_test_dir();
    write_raster(dir + "/small.tif", GDT_CFloat32, 16, 16, speckle(16, 16, 1));
    std::ofstream(dir + "/large.vrt")
        << "<VRTDataset rasterXSize=\"16384\" rasterYSize=\"16384\"><VRTRasterBand "
           "dataType=\"CFloat32\" band=\"1\"><SimpleSource><SourceFilename relativeToVRT=\"1\">"
           "small.tif</SourceFilename></SimpleSource></VRTRasterBand></VRTDataset>\n";
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        fs::create_directories(dir + "/out");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::execl(FCIMPORT_TOOL, FCIMPORT_TOOL, "image", (dir + "/large.vrt").c_str(),
                    (dir + "/out/large.slc").c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Until the temporary file holds data (or the copy is done).
        for (int k = 0; k < 20000; k++) {
            const auto it = fs::directory_iterator(dir + "/out");
            if (it != fs::directory_iterator() && fs::file_size(it->path()) > 0)
                break;
            ::usleep(500);
        }
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_TRUE(fs::is_empty(dir + "/out"));
    }
}

} // namespace
