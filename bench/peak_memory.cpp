// Peak resident memory of one run (both stages) on a large sparse pair:
//   fc_peak_memory prepare DIR WIDTH LINES   writes the pair
//   fc_peak_memory run DIR                   runs it, prints the peak in KiB
//   fc_peak_memory resample DIR              resamples the slave onto the master
//                                            (zero offsets, files written and then
//                                            removed), prints the peak in KiB
// The images are sparse files: only the lines around the eight grid rows hold
// speckle (the slave equal to the master), so a 4 GiB pair costs seconds to
// write and the run still measures, fits and succeeds.
#include "bench_support.h"
#include "estimation/stage_one.h"
#include "fitting/stage_two.h"
#include "params/file_naming.h"
#include "params/offset_par_file.h"
#include "params/sar_image_xml_writer.h"
#if __has_include("resampling/resample_file.h")
#include "resampling/resample_file.h"
#define FC_HAVE_RESAMPLING 1
#endif
#include "tools/slcsim/gaussian_source.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWindow = 64;
constexpr int kGrid = 8;

bool prepare(const std::string& dir, int width, int lines) {
    ::mkdir(dir.c_str(), 0755);
    const std::string images[2] = {dir + "/master.slc", dir + "/slave.slc"};
    std::FILE* files[2];
    for (int k = 0; k < 2; k++) {
        files[k] = std::fopen(images[k].c_str(), "wb");
        if (!files[k] || ::ftruncate(::fileno(files[k]), static_cast<off_t>(width) * 8 * lines))
            return false;
        if (!write_sar_image_xml(image_xml_path(images[k]),
                                 make_sar_image_info(width, lines, "FCOMPLEX")))
            return false;
    }
    const int spacing = (lines - 96) / (kGrid - 1);
    for (int i = 0; i < kGrid; i++) {
        const int first = std::max(0, 48 + i * spacing - kWindow);
        const int last = std::min(lines, 48 + i * spacing + kWindow);
        for (int k = 0; k < 2; k++)
            ::fseeko(files[k], static_cast<off_t>(first) * width * 8, SEEK_SET);
        for (int y = first; y < last; y++) {
            const std::vector<fcomplex> line =
                slcsim::white_speckle(static_cast<std::size_t>(width), 5 + y, 25.0);
            for (int k = 0; k < 2; k++)
                std::fwrite(line.data(), sizeof(fcomplex), line.size(), files[k]);
        }
    }
    bool ok = true;
    for (int k = 0; k < 2; k++)
        ok = std::fclose(files[k]) == 0 && ok;
    stOffsetParInfo par{};
    return ok && write_offset_par_file(dir + "/pair.off", par);
}

bool run(const std::string& dir) {
    const RunRequest request = bench_request(dir + "/master.slc", dir + "/slave.slc",
                                             dir + "/pair.off", kWindow, kGrid, kGrid);
    const WorkFiles files{dir + "/work_offs", dir + "/work_snr", dir + "/work_offsets.txt",
                          dir + "/work_coffs", dir + "/work_coffsets.txt"};
    QuietReporter reporter;
    std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
    const bool ok = quiet && estimate_offsets(request, files, reporter) &&
                    fit_offsets(request, files, reporter);
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "%ld\n", usage.ru_maxrss);
    return ok;
}

#ifdef FC_HAVE_RESAMPLING
bool resample(const std::string& dir) {
    ResampleFileRequest request{dir + "/master.slc",
                                dir + "/slave.slc",
                                dir + "/pair.off",
                                dir + "/resampled.slc",
                                {DopplerChoice::Mode::off, 0.0}};
    bool ok = true;
    try {
        resample_file(request, nullptr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        ok = false;
    }
    for (const char* name : {"/resampled.slc", "/resampled.xml", "/resampled.slc.mask"})
        std::remove((dir + name).c_str());
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "%ld\n", usage.ru_maxrss);
    return ok;
}
#endif

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "prepare" && argc == 5)
        return prepare(argv[2], std::atoi(argv[3]), std::atoi(argv[4])) ? 0 : 1;
    if (mode == "run" && argc == 3)
        return run(argv[2]) ? 0 : 1;
#ifdef FC_HAVE_RESAMPLING
    if (mode == "resample" && argc == 3)
        return resample(argv[2]) ? 0 : 1;
#endif
    std::fprintf(stderr, "usage: %s prepare DIR WIDTH LINES | run DIR | resample DIR\n", argv[0]);
    return 2;
}
