// Interpolation error of candidate resampling kernels on band-limited data:
// a sum of random complex exponentials filling the central 80 % of the band
// (the simulator's default occupancy, and typical of SLCs), sampled on the
// integers and interpolated from those samples at random positions through
// the nearest-step weight table the resampler uses. The exact value is the
// sum itself. Prints the error power relative to the signal power, per
// kernel, for one dimension (the separable 2-D error is about 3 dB more).
//   fc_kernel_error [occupancy]
#include "resampling/sinc_kernel.h"
#include "resampling/weighted_sum.h"

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr int kLength = 2048;
constexpr int kTones = 400;
constexpr int kPositions = 20000;

struct Signal {
    std::vector<double> freq;
    std::vector<std::complex<double>> amp;
    std::complex<double> at(double t) const {
        std::complex<double> sum = 0.0;
        for (std::size_t k = 0; k < freq.size(); k++)
            sum += amp[k] * std::polar(1.0, 2.0 * M_PI * freq[k] * t);
        return sum;
    }
};

double error_db(const Signal& signal, const std::vector<std::complex<float>>& samples,
                const std::vector<double>& positions,
                const std::vector<std::complex<double>>& exact, const KernelShape& shape,
                bool unit_gain) {
    const SincKernel kernel(shape);
    const WeightTable table(kernel, unit_gain);
    double err = 0.0, power = 0.0;
    for (std::size_t i = 0; i < positions.size(); i++) {
        const double whole = std::floor(positions[i]);
        const std::complex<float>* first =
            &samples[static_cast<std::size_t>(static_cast<int>(whole) + kernel.first_tap())];
        const std::complex<float> v =
            weighted_sum(first, 1, table.at(positions[i] - whole), kernel.taps());
        err += std::norm(std::complex<double>(v) - exact[i]);
        power += std::norm(exact[i]);
    }
    (void)signal;
    return 10.0 * std::log10(err / power);
}

} // namespace

int main(int argc, char** argv) {
    const double occupancy = argc > 1 ? std::atof(argv[1]) : 0.8;
    std::mt19937_64 rng(17);
    std::uniform_real_distribution<double> uniform(-0.5 * occupancy, 0.5 * occupancy);
    std::normal_distribution<double> gauss;
    Signal signal;
    for (int k = 0; k < kTones; k++) {
        signal.freq.push_back(uniform(rng));
        signal.amp.emplace_back(gauss(rng), gauss(rng));
    }
    std::vector<std::complex<float>> samples(kLength);
    for (int n = 0; n < kLength; n++)
        samples[static_cast<std::size_t>(n)] = std::complex<float>(signal.at(n));
    std::uniform_real_distribution<double> where(64.0, kLength - 64.0);
    std::vector<double> positions(kPositions);
    std::vector<std::complex<double>> exact(kPositions);
    for (int i = 0; i < kPositions; i++) {
        positions[static_cast<std::size_t>(i)] = where(rng);
        exact[static_cast<std::size_t>(i)] = signal.at(positions[static_cast<std::size_t>(i)]);
    }

    std::printf("occupancy %.2f, error power relative to the signal, one dimension (dB)\n",
                occupancy);
    std::printf("%-16s %8s %8s %8s %8s %8s\n", "window", "8", "10", "12", "16", "unit-gain 16");
    struct Candidate {
        const char* name;
        KernelWindow window;
        double beta;
    };
    const Candidate candidates[] = {
        {"hann", KernelWindow::hann, 0.0},       {"blackman", KernelWindow::blackman, 0.0},
        {"kaiser b=2", KernelWindow::kaiser, 2}, {"kaiser b=2.5", KernelWindow::kaiser, 2.5},
        {"kaiser b=3", KernelWindow::kaiser, 3}, {"kaiser b=3.5", KernelWindow::kaiser, 3.5},
        {"kaiser b=4", KernelWindow::kaiser, 4}, {"kaiser b=4.5", KernelWindow::kaiser, 4.5},
        {"kaiser b=5", KernelWindow::kaiser, 5}, {"kaiser b=5.5", KernelWindow::kaiser, 5.5},
        {"kaiser b=6", KernelWindow::kaiser, 6}, {"kaiser b=7", KernelWindow::kaiser, 7},
        {"kaiser b=9", KernelWindow::kaiser, 9},
    };
    for (const Candidate& c : candidates) {
        std::printf("%-16s", c.name);
        for (int taps : {8, 10, 12, 16})
            std::printf(" %8.1f", error_db(signal, samples, positions, exact,
                                           {taps, c.window, c.beta}, false));
        std::printf(" %8.1f\n",
                    error_db(signal, samples, positions, exact, {16, c.window, c.beta}, true));
    }
    return 0;
}
