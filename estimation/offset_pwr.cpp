#include "algorithm/FineCoregistration.h"
#include "algorithm/file_handle.h"
#include "algorithm/path_encoding.h"
#include "algorithm/run_parameters.h"
#include "estimation/corr_peak.h"
#include "estimation/interp_patch.h"
#include "estimation/patch_prep.h"
#include "estimation/slc_lines.h"
#include "numeric/alloc.h"
#include "params/offset_par.h"
#include "params/offset_par_file.h"
#include "params/sar_image_xml.h"

#include <QCoreApplication>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

namespace {

// Grid rows and columns start this far inside the master image.
constexpr int kGridMargin = 48;

// Nearest integer, halves away from zero. A value beyond the 32-bit range, or
// NaN, from a garbled offset parameter file saturates (NaN to the lowest):
// the slave window then lies outside the slave instead of the conversion
// being undefined.
int rnd(double v) {
    if (!(v > INT_MIN))
        return INT_MIN;
    if (!(v < INT_MAX))
        return INT_MAX;
    return v >= 0.0 ? static_cast<int>(v + 0.5) : static_cast<int>(v - 0.5);
}

// The image parameter file: the path up to its last "." (anywhere in the
// path), then ".xml"; a path without "." gets ".xml" appended.
std::string xml_path_for(const std::string& imagePath) {
    const std::size_t dot = imagePath.rfind('.');
    return (dot == std::string::npos ? imagePath : imagePath.substr(0, dot)) + ".xml";
}

int count_zero_samples(fcomplex** patch, int width, int height) {
    int zeros = 0;
    for (int r = 0; r < height; r++)
        for (int m = 0; m < width; m++)
            if (patch[r][m].re == 0.0f && patch[r][m].im == 0.0f)
                zeros++;
    return zeros;
}

} // namespace

bool FineCoregistration::offset_pwr(stFineCoregistrationInfo& info, std::string& offsetsPath,
                                    std::string& snrPath, std::string& listingPath) {
    if (const char* problem = check_run_parameters(info))
        return fail(problem);

    const int W = info.windowWidth;
    const int H = info.windowHeight;
    const int NA = info.azimuthSamples;
    const int NR = info.rangeSamples;
    const double T = info.snrThreshold;

    const std::string masterPath = absolute_native_path(info.masterImagePath);
    const std::string slavePath = absolute_native_path(info.slaveImagePath);
    const std::string offParPath = absolute_native_path(info.offsetParPath);

    FileHandle master = open_file(masterPath, "rb");
    if (!master)
        return fail("Failed to open the master image !");
    FileHandle slave = open_file(slavePath, "rb");
    if (!slave)
        return fail("Failed to open the slave image !");

    auto masterInfo = std::make_unique<stSarImageInfo>();
    auto slaveInfo = std::make_unique<stSarImageInfo>();
    if (!read_sar_image_xml(xml_path_for(masterPath), *masterInfo) ||
        !read_sar_image_xml(xml_path_for(slavePath), *slaveInfo))
        return fail("Open xml parameter file error!");

    FileHandle offParIn = open_file(offParPath, "r");
    if (!offParIn)
        return fail("Failed to open the off file !");
    FileHandle offsetsFile = open_file(offsetsPath, "wb");
    if (!offsetsFile)
        return fail("Failed to create the offsets file !");
    FileHandle snrFile = open_file(snrPath, "wb");
    if (!snrFile)
        return fail("Failed to create the snr file !");
    stOffsetParInfo par{};
    read_offset_par(offParIn.get(), &par);
    offParIn.reset();
    FileHandle listing = open_file(listingPath, "w");
    if (!listing)
        return fail("Cannot open text offsets listing file!");

    const int w1 = masterInfo->numberOfColumns;
    const int l1 = masterInfo->numberOfRows;
    const int w2 = slaveInfo->numberOfColumns;
    const int l2 = slaveInfo->numberOfRows;
    // A raster size below one sample would reach the allocators as a huge
    // unsigned count and end the host's process.
    if (w1 < 1 || l1 < 1 || w2 < 1 || l2 < 1)
        return fail("Invalid image size in xml parameter file !");

    par.offset_estimation_window_width = W;
    par.offset_estimation_window_height = H;
    par.offset_estimation_threshhold = T;
    const SampleFormat format = sample_format_of(masterInfo->imageDataType);
    const int b = bytes_per_sample(format);
    Block1D<unsigned char> readBuffer(static_cast<std::size_t>(std::max(w1, w2)) * b);

    if (par.range_offset_polynomial[0] == 0.0 && par.azimuth_offset_polynomial[0] == 0.0) {
        par.range_offset_polynomial[0] = par.initial_range_offset;
        par.azimuth_offset_polynomial[0] = par.initial_azimuth_offset;
    }
    par.offset_estimation_starting_range = kGridMargin;
    par.offset_estimation_ending_range = w1 - kGridMargin;
    par.offset_estimation_range_samples = NR;
    par.offset_estimation_range_spacing = NR > 1 ? (w1 - 2 * kGridMargin) / (NR - 1) : W;
    par.offset_estimation_starting_azimuth = kGridMargin;
    par.offset_estimation_ending_azimuth = l1 - kGridMargin;
    par.offset_estimation_azimuth_samples = NA;
    par.offset_estimation_azimuth_spacing = NA > 1 ? (l1 - 2 * kGridMargin) / (NA - 1) : H;
    const int rangeSpacing = par.offset_estimation_range_spacing;
    const int azimuthSpacing = par.offset_estimation_azimuth_spacing;
    // More positions than samples (or lines) between the margins give a
    // spacing of 0: all of them would be measured at one place, and stage 2
    // could not tell them apart. Refused before the offset file is rewritten.
    if ((NR > 1 && rangeSpacing == 0) || (NA > 1 && azimuthSpacing == 0))
        return fail("Number of offset estimates in range or azimuth exceeds the image size !");

    Array2D<fcomplex> M1(w1, H), M2(w2, H), P1(W, H), P2(W, H);
    Array2D<fcomplex> O1(2 * W, 2 * H), O2(2 * W, 2 * H), I1(2 * W, 2 * H), I2(2 * W, 2 * H);
    Block1D<float> snrRow(NR);
    Block1D<fcomplex> offsetsRow(NR);
    Array2D<fcomplex> X(2 * W, 2 * H);
    double rangePeak = 0.0;
    double azimuthPeak = 0.0;
    interp_patch(P1.get(), O1.get(), W, H, 2, 1);
    corr_peak(X.get(), 2 * W, 2 * H, 3, &rangePeak, &azimuthPeak, 1);

    SlcLineReader masterLines(master.get(), w1, format, readBuffer.get(),
                              "WARNING: attempt to read beyond end of SLC-1 file\n\n");
    SlcLineReader slaveLines(slave.get(), w2, format, readBuffer.get(),
                             "\nWARNING: attempt to read beyond end of SLC-2 file\n\n");

    double average1 = 0.0;
    if (!average_intensity(masterLines, format, w1, l1, &average1))
        return fail("No points available for determining average intensity !");
    const double clip1 = 5.0 * average1;
    std::printf("average image 1 intensity: %10.3e  clip1: %10.3e\n", average1, clip1);
    // The slave's case is reported like the master's instead of ending the
    // host's process.
    double average2 = 0.0;
    if (!average_intensity(slaveLines, format, w2, l2, &average2))
        return fail("No points available for determining average intensity !");
    const double clip2 = 5.0 * average2;

    const int hh = H / 2;
    const int hw = W / 2;
    const int positions = NA * NR;
    const QString progressMessage =
        QCoreApplication::translate("FineCoregistration", "FineCoregistration...");
    long long total = 0;

    for (int i = 0; i < NA; i++) {
        zero_2d(M1.get(), w1, H);
        zero_2d(M2.get(), w2, H);
        zero_1d(offsetsRow.get(), NR, sizeof(fcomplex));
        zero_1d(snrRow.get(), NR, sizeof(float));
        int rowCount = 0;

        const int ya = kGridMargin + i * azimuthSpacing;
        const int ia = rnd(eval_offset_poly(par.azimuth_offset_polynomial, (w1 - 1) * 0.5, ya));
        // Slave positions are 64-bit: a huge coarse offset must fail the
        // bounds test, not overflow.
        const long long ys = static_cast<long long>(ya) + ia;

        if (ya + hh < l1 && ys + hh < l2 && ya - hh >= 0 && ys - hh >= 0) {
            masterLines.seek_line(ya - hh);
            for (int r = 0; r < H; r++)
                masterLines.read_line_into(M1[r]);
            slaveLines.seek_line(ys - hh);
            for (int r = 0; r < H; r++)
                slaveLines.read_line_into(M2[r]);

            for (int j = 0; j < NR; j++) {
                const int k = i * NR + j;
                m_progress((static_cast<double>(k) / positions + 0.001) * 100.0, progressMessage,
                           this);

                const int xr = kGridMargin + j * rangeSpacing;
                const int ir = rnd(eval_offset_poly(par.range_offset_polynomial, xr, ya));
                const long long xs = static_cast<long long>(xr) + ir;
                if (!(xr + hw < w1 && xs + hw < w2 && xs - hw >= 0 && xr - hw >= 0))
                    continue;

                for (int r = 0; r < H; r++)
                    for (int m = 0; m < W; m++) {
                        P1[r][m] = M1[r][xr - hw + m];
                        P2[r][m] = M2[r][xs - hw + m];
                    }
                const int zeroLimit = (H * W) / 16;
                if (count_zero_samples(P1.get(), W, H) > zeroLimit ||
                    count_zero_samples(P2.get(), W, H) > zeroLimit)
                    continue;

                for (fcomplex** patch : {P1.get(), P2.get()}) {
                    double rangeSlope = 0.0;
                    double azimuthSlope = 0.0;
                    phase_slope(patch, 0, 0, W, H, &rangeSlope, &azimuthSlope);
                    deramp_patch(patch, W, H, -rangeSlope, -azimuthSlope);
                }
                interp_patch(P1.get(), O1.get(), W, H, 2, 0);
                interp_patch(P2.get(), O2.get(), W, H, 2, 0);
                intensity_xcorr(O1.get(), O2.get(), I1.get(), I2.get(), X.get(), W, H, clip1,
                                clip2);

                const double snr = corr_peak(X.get(), 2 * W, 2 * H, 3, &rangePeak, &azimuthPeak, 0);
                snrRow[j] = static_cast<float>(snr);
                // A peak search that failed (SNR 0, shifts not written) is
                // never accepted, even under a negative threshold.
                if (static_cast<double>(snrRow[j]) > T && snr != 0.0) {
                    offsetsRow[j].re = static_cast<float>(rangePeak * 0.5 + ir);
                    offsetsRow[j].im = static_cast<float>(azimuthPeak * 0.5 + ia);
                    rowCount++;
                    std::fprintf(listing.get(), "%5d %5d %12.4f %12.4f %10.3f\n", xr, ya,
                                 offsetsRow[j].re, offsetsRow[j].im, snrRow[j]);
                }
            }
        }

        std::fwrite(offsetsRow.get(), sizeof(fcomplex), NR, offsetsFile.get());
        std::fwrite(snrRow.get(), sizeof(float), NR, snrFile.get());
        if (std::ferror(offsetsFile.get()))
            return fail("Failed to write to output offsets file !");
        if (std::ferror(snrFile.get()))
            return fail("Failed to write to output snr file !");
        total += rowCount;
    }

    if (total == 0)
        return fail("No offsets found above SNR threshold !");

    // Buffered rows reach the disk only when flushed: a full disk must be
    // reported here, not found by stage 2 as missing rows.
    if (std::fflush(offsetsFile.get()) != 0 || std::ferror(offsetsFile.get()))
        return fail("Failed to write to output offsets file !");
    if (std::fflush(snrFile.get()) != 0 || std::ferror(snrFile.get()))
        return fail("Failed to write to output snr file !");
    std::fflush(listing.get());

    if (!write_offset_par_file(offParPath, par))
        return fail("Cannot open output ISP offset parameter file !");
    return true;
}
