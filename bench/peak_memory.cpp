// Peak resident memory of one run (both stages) on a large sparse pair:
//   fc_peak_memory prepare DIR WIDTH LINES   writes the pair
//   fc_peak_memory run DIR                   runs it, prints the peak in KiB
// The images are sparse files: only the lines around the eight grid rows hold
// speckle (the slave equal to the master), so a 4 GiB pair costs seconds to
// write and the run still measures, fits and succeeds.
#include "tests/algorithm/run_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kWindow = 64;
constexpr int kGrid = 8;

bool prepare(const std::string& dir, int width, int lines) {
    ::mkdir(dir.c_str(), 0755);
    const std::string images[2] = {dir + "/master.slc", dir + "/slave.slc"};
    std::vector<fcomplex> line(static_cast<std::size_t>(width));
    std::mt19937 generator(5);
    std::normal_distribution<float> gauss(0.0f, 5.0f);
    std::FILE* files[2];
    for (int k = 0; k < 2; k++) {
        files[k] = std::fopen(images[k].c_str(), "wb");
        if (!files[k] || ::ftruncate(::fileno(files[k]), static_cast<off_t>(width) * 8 * lines))
            return false;
        if (!write_image_xml(images[k], width, lines, "FCOMPLEX"))
            return false;
    }
    const int spacing = (lines - 96) / (kGrid - 1);
    for (int i = 0; i < kGrid; i++) {
        const int first = std::max(0, 48 + i * spacing - kWindow);
        const int last = std::min(lines, 48 + i * spacing + kWindow);
        for (int k = 0; k < 2; k++)
            ::fseeko(files[k], static_cast<off_t>(first) * width * 8, SEEK_SET);
        for (int y = first; y < last; y++) {
            for (fcomplex& s : line)
                s = {gauss(generator), gauss(generator)};
            for (int k = 0; k < 2; k++)
                std::fwrite(line.data(), sizeof(fcomplex), line.size(), files[k]);
        }
    }
    bool ok = true;
    for (int k = 0; k < 2; k++)
        ok = std::fclose(files[k]) == 0 && ok;
    return ok && write_coarse_offset_file(dir + "/pair.off", 0, 0);
}

bool run(const std::string& dir) {
    FineCoregistration algo;
    stFineCoregistrationInfo info = run_record(dir + "/master.slc", dir + "/slave.slc",
                                               dir + "/pair.off", kWindow, kGrid, kGrid, 7.0);
    std::string offs = dir + "/work_offs", snr = dir + "/work_snr";
    std::string listing = dir + "/work_offsets.txt", coffs = dir + "/work_coffs";
    std::string clisting = dir + "/work_coffsets.txt";
    std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
    const bool ok =
        quiet && FineCoregistrationTestAccess::offset_pwr(algo, info, offs, snr, listing) &&
        FineCoregistrationTestAccess::offset_fit(algo, info, offs, snr, coffs, clisting);
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "%ld\n", usage.ru_maxrss);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "prepare" && argc == 5)
        return prepare(argv[2], std::atoi(argv[3]), std::atoi(argv[4])) ? 0 : 1;
    if (mode == "run" && argc == 3)
        return run(argv[2]) ? 0 : 1;
    std::fprintf(stderr, "usage: %s prepare DIR WIDTH LINES | run DIR\n", argv[0]);
    return 2;
}
