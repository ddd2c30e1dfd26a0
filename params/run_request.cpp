#include "params/run_request.h"

#include "numeric/parallel_loop.h"

#include <cmath>

namespace {

bool is_power_of_two(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

} // namespace

const char* check_run_request(const RunRequest& request) {
    // The transforms need power-of-two lengths 2W and 2H, and the peak fit
    // needs at least a 3 x 3 neighbourhood on the oversampled surface.
    if (!is_power_of_two(request.windowWidth) || !is_power_of_two(request.windowHeight) ||
        request.windowWidth < 4 || request.windowHeight < 4 ||
        request.windowWidth > kMaxWindowSide || request.windowHeight > kMaxWindowSide)
        return "Window width and height must be powers of two from 4 to 4096 !";
    // The interpolation filter's taps (W/4 + 1 of them) must fit the
    // oversampled height, or negative and positive lags would overlap.
    if (request.windowWidth >= 8 * request.windowHeight)
        return "Window width must be less than eight times the window height !";
    if (request.rangeSamples < 1 || request.azimuthSamples < 1 ||
        request.rangeSamples > kMaxGridSamples || request.azimuthSamples > kMaxGridSamples)
        return "Number of offset estimates in range and azimuth must be from 1 to 16384 !";
    if (std::isnan(request.snrThreshold))
        return "SNR threshold is not a number !";
    if (const char* range = thread_count_problem(request.threads)) {
        static const std::string message = std::string("Number of threads must be ") + range + " !";
        return message.c_str();
    }
    return nullptr;
}

std::string too_few_estimates_message(int kept) {
    return "The final fit kept " + std::to_string(kept) + " offset estimates; it needs at least " +
           std::to_string(kMinKeptEstimates) + " !";
}

std::string window_exceeds_image_message(const RunRequest& request, int columns, int rows) {
    if (columns < 1 || rows < 1 || (request.windowWidth <= columns && request.windowHeight <= rows))
        return {};
    return "Window of " + std::to_string(request.windowWidth) + " x " +
           std::to_string(request.windowHeight) + " is larger than the master image of " +
           std::to_string(columns) + " x " + std::to_string(rows) + " !";
}
