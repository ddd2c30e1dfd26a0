// stages_consumer MASTER SLAVE OFF: co-registers the pair through the
// installed stage library and prints the fitted constant offsets.
#include "algorithm/run_driver.h"

#include <cstdio>

namespace {

struct Reporter : StageReporter {
    void progress(double) override {}
    void failure(const char* message) override { std::fprintf(stderr, "%s\n", message); }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: stages_consumer MASTER SLAVE OFF\n");
        return 2;
    }
    RunRequest request;
    request.masterPath = argv[1];
    request.slavePath = argv[2];
    request.offsetParPath = argv[3];
    request.rangeSamples = request.azimuthSamples = 16;
    Reporter reporter;
    RunResult result;
    if (!run_fine_coreg(request, reporter, &result))
        return 1;
    std::printf("kept %d of %d, offsets %.3f %.3f\n", result.fit.kept, result.fit.samples,
                result.fit.rangePolynomial[0], result.fit.azimuthPolynomial[0]);
    return 0;
}
