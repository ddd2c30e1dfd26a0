#include "resampling/doppler_choice.h"

#include "params/file_error.h"
#include "resampling/resample_lines.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

namespace {

// The centroid of lines [first, first + count) from all their pairs; false
// without signal.
bool block_centroid(SlaveLineSource& slave, int first, int count, double* centroid) {
    const std::size_t width = static_cast<std::size_t>(slave.width());
    std::vector<std::complex<float>> lines(width * static_cast<std::size_t>(count));
    slave.read(first, count, lines.data());
    std::complex<double> sum = 0.0;
    for (std::size_t i = width; i < lines.size(); i++) {
        const std::complex<double> step =
            std::complex<double>(lines[i]) * std::conj(std::complex<double>(lines[i - width]));
        if (std::isfinite(step.real()) && std::isfinite(step.imag())) // no-data is no vote
            sum += step;
    }
    if (sum == 0.0)
        return false;
    *centroid = std::arg(sum) / (2.0 * M_PI);
    return true;
}

double block_scatter(const std::vector<double>& raw);

void unwrap_and_smooth(std::vector<double>& centroids, double* scatter) {
    for (std::size_t k = 1; k < centroids.size(); k++)
        centroids[k] -= std::round(centroids[k] - centroids[k - 1]);
    *scatter = block_scatter(centroids);
    if (centroids.size() < 3)
        return;
    // The straight line through each node and its two neighbours (the two
    // nearest at the ends), read at the node: noise averaged, a ramp kept.
    const std::size_t n = centroids.size();
    std::vector<double> smooth(n);
    for (std::size_t k = 1; k + 1 < n; k++)
        smooth[k] = (centroids[k - 1] + centroids[k] + centroids[k + 1]) / 3.0;
    smooth[0] = (5.0 * centroids[0] + 2.0 * centroids[1] - centroids[2]) / 6.0;
    smooth[n - 1] = (5.0 * centroids[n - 1] + 2.0 * centroids[n - 2] - centroids[n - 3]) / 6.0;
    centroids.swap(smooth);
}

// The scatter of one block's estimate, from the nodes' second differences
// (blind to a linear sweep; the median ignores the odd jump between bursts):
// each is the sum of four block errors weighted 1, -2, 1, six times the
// variance of one.
double block_scatter(const std::vector<double>& raw) {
    if (raw.size() < 3)
        return 0.0;
    std::vector<double> second(raw.size() - 2);
    for (std::size_t k = 0; k + 2 < raw.size(); k++)
        second[k] = std::fabs(raw[k] - 2.0 * raw[k + 1] + raw[k + 2]);
    std::nth_element(second.begin(), second.begin() + second.size() / 2, second.end());
    return 1.4826 * second[second.size() / 2] / std::sqrt(6.0);
}

// Followed when the smoothed profile spans more than kDopplerVariation and
// more than ten times its own scatter (a third of the blocks' variance):
// narrow images have noisy blocks.
bool varies(const DopplerProfile& profile) {
    if (profile.centroids.size() < 2)
        return false;
    const auto [lo, hi] = std::minmax_element(profile.centroids.begin(), profile.centroids.end());
    const double scatter = profile.scatter / std::sqrt(3.0);
    return *hi - *lo > std::max(kDopplerVariation, 10.0 * scatter);
}

std::string xml_problem(const XmlDoppler& xml, const std::string& subject) {
    char prf[64];
    std::snprintf(prf, sizeof prf, "%g", xml.prf);
    return "its Doppler centroid" + subject + " over a pulse repetition frequency of " + prf +
           " Hz, outside (-0.5, 0.5) cycles per line";
}

// The XML's range terms in cycles per line per sample^k, checked to stay
// within half a cycle over the image's width.
std::array<double, 3> xml_range_terms(const XmlDoppler& xml, int width) {
    const std::array<double, 3> terms{xml.coefficients[1] / xml.prf, xml.coefficients[2] / xml.prf,
                                      xml.coefficients[3] / xml.prf};
    double lowest = 0.0, highest = 0.0;
    DopplerModel(std::vector<double>{0.0}, std::vector<double>{0.0}, terms)
        .extent(width, 1, &lowest, &highest);
    if (!(std::fabs(lowest) < 0.5 && std::fabs(highest) < 0.5)) {
        char reach[96];
        std::snprintf(reach, sizeof reach, "'s range terms reach %g Hz",
                      (std::fabs(lowest) > std::fabs(highest) ? lowest : highest) * xml.prf);
        throw FileError(xml.file, xml_problem(xml, reach));
    }
    return terms;
}

double mean_over_range(const std::array<double, 3>& terms, int width) {
    const DopplerModel range_only(std::vector<double>{0.0}, std::vector<double>{0.0}, terms);
    double sum = 0.0;
    for (int x = 0; x < width; x++)
        sum += range_only.centroid(x, 0.0);
    return width > 0 ? sum / width : 0.0;
}

void describe_extent(ChosenDoppler& chosen, int width, int lines) {
    chosen.model.extent(width, lines, &chosen.lowest, &chosen.highest);
    if (chosen.model.is_constant())
        chosen.mean = chosen.lowest;
    else
        chosen.mean = chosen.model.centroid(0.5 * (width - 1), 0.5 * (lines - 1));
}

ChosenDoppler automatic(const XmlDoppler* xml, SlaveLineSource& slave) {
    ChosenDoppler chosen;
    const bool in_xml =
        xml != nullptr && xml->prf > 0.0 &&
        std::any_of(xml->coefficients, xml->coefficients + 4, [](double c) { return c != 0.0; });
    std::array<double, 3> terms{0.0, 0.0, 0.0};
    double xml_constant = 0.0;
    if (in_xml) {
        xml_constant = xml->coefficients[0] / xml->prf;
        if (!doppler_in_range(xml_constant)) {
            char value[64];
            std::snprintf(value, sizeof value, " is %g Hz", xml->coefficients[0]);
            throw FileError(xml->file, xml_problem(*xml, value));
        }
        terms = xml_range_terms(*xml, slave.width());
    }
    const double range_mean = mean_over_range(terms, slave.width());
    DopplerProfile profile = estimate_doppler_profile(slave);
    if (varies(profile)) {
        for (double& c : profile.centroids)
            c -= range_mean;
        chosen.model = DopplerModel(profile.lines, profile.centroids, terms);
        chosen.source = "estimated";
        if (in_xml) {
            char text[240];
            std::snprintf(text, sizeof text,
                          "the slave XML gives one Doppler centroid along azimuth (%.4f "
                          "cycles/line) but the data's runs from %.4f to %.4f; the data's is "
                          "followed",
                          xml_constant, profile.centroids.front() + range_mean,
                          profile.centroids.back() + range_mean);
            chosen.warnings.push_back(text);
        }
        return chosen;
    }
    const double data = estimate_doppler_centroid(slave);
    if (!in_xml) {
        chosen.model = DopplerModel(data);
        chosen.source = "estimated";
        return chosen;
    }
    std::string warning;
    const double mean = reconcile_doppler(xml_constant + range_mean, data, &warning);
    chosen.source = warning.empty() ? "xml" : "estimated";
    if (!warning.empty())
        chosen.warnings.push_back(warning);
    const double constant = warning.empty() ? xml_constant : mean - range_mean;
    chosen.model =
        terms == std::array<double, 3>{0.0, 0.0, 0.0}
            ? DopplerModel(constant)
            : DopplerModel(std::vector<double>{0.0}, std::vector<double>{constant}, terms);
    return chosen;
}

} // namespace

DopplerProfile estimate_doppler_profile(SlaveLineSource& slave) {
    DopplerProfile profile;
    const int lines = slave.lines();
    if (lines < 2 || slave.width() < 1)
        return profile;
    const int block = std::min(kDopplerProfileBlockLines, lines);
    const int blocks = std::min(kDopplerProfileBlocks, std::max(1, lines / block));
    for (int k = 0; k < blocks; k++) {
        const int first =
            blocks == 1
                ? 0
                : static_cast<int>(static_cast<long long>(k) * (lines - block) / (blocks - 1));
        double centroid = 0.0;
        if (!block_centroid(slave, first, block, &centroid))
            continue;
        profile.lines.push_back(first + 0.5 * block - 0.5);
        profile.centroids.push_back(centroid);
    }
    unwrap_and_smooth(profile.centroids, &profile.scatter);
    return profile;
}

std::string ChosenDoppler::description() const {
    char text[160];
    if (lowest == highest)
        std::snprintf(text, sizeof text, "%.4f cycles/line (%s)", mean, source.c_str());
    else
        std::snprintf(text, sizeof text, "%.4f to %.4f cycles/line (%s, following %s)", lowest,
                      highest, source.c_str(),
                      !model.varies_in_azimuth() ? "range"
                      : model.has_range_terms()  ? "azimuth and range"
                                                 : "azimuth");
    return text;
}

ChosenDoppler choose_doppler_model(const DopplerChoice& choice, const XmlDoppler* xml,
                                   SlaveLineSource& slave) {
    ChosenDoppler chosen;
    if (choice.mode == DopplerChoice::Mode::off) {
        chosen.source = "off";
    } else if (choice.mode == DopplerChoice::Mode::given) {
        check_given_doppler(choice.value);
        chosen.model = DopplerModel(choice.value);
        chosen.source = "given";
    } else {
        chosen = automatic(xml, slave);
    }
    describe_extent(chosen, slave.width(), slave.lines());
    return chosen;
}
