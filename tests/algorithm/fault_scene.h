#pragma once

// Bad inputs and faults of the environment for whole runs, shared by the
// matrix run through Execute and the one run through the finecoreg tool: a
// scene (a small shifted pair, its offset file, the run's settings and the
// work files of two other runs in the master directory) and one spoiler per
// row that breaks it.
#include "synthetic_pair.h"

#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <linux/capability.h>
#include <memory>
#include <regex>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fault {

namespace fs = std::filesystem;

// The scene's pair: the slave holds the master's scene 3 samples and 2 lines
// further on, given as the coarse offset; a 4 x 4 grid of 32 x 32 windows.
constexpr int kSide = 128;
constexpr int kRangeShift = 3, kAzimuthShift = 2;

// Unmounted (lazily, so a file still open cannot keep it) when the scene ends.
class ScratchMount {
public:
    explicit ScratchMount(std::string path) : path_(std::move(path)) {}
    ~ScratchMount() { ::umount2(path_.c_str(), MNT_DETACH); }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

private:
    std::string path_;
};

struct PlantedFile {
    std::string path, bytes;
};

struct Scene {
    std::string root;               // the test's scratch directory
    std::string master, slave, off; // the run's inputs
    int windowWidth = 32, windowHeight = 32, rangeSamples = 4, azimuthSamples = 4;
    double threshold = 3.0;
    // Run without the capabilities that let root ignore permission bits.
    bool withoutFileAccessOverride = false;
    std::string skip; // why this environment cannot stage the row
    std::vector<PlantedFile> planted;
    std::vector<std::unique_ptr<ScratchMount>> mounts; // released last-in first-out

    ~Scene() {
        while (!mounts.empty())
            mounts.pop_back();
    }

    std::string master_dir() const { return fs::path(master).parent_path().string(); }
    std::string off_dir() const { return fs::path(off).parent_path().string(); }
    stFineCoregistrationInfo record() const {
        stFineCoregistrationInfo info =
            run_record(master, slave, off, windowWidth, rangeSamples, azimuthSamples, threshold);
        info.windowHeight = windowHeight;
        return info;
    }
};

inline std::string xml_of(const std::string& image) {
    const std::size_t dot = image.rfind('.');
    return (dot == std::string::npos ? image : image.substr(0, dot)) + ".xml";
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
}

// Root reads and writes whatever the permission bits say; without these two
// capabilities it is held to them like any user. They leave the bounding set
// too, so a program executed afterwards does not regain them. Call in a child.
inline bool give_up_file_access_override() {
    if (::geteuid() != 0)
        return true;
    const int caps[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH};
    for (int cap : caps)
        if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0)
            return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    for (int cap : caps) {
        const unsigned bit = 1u << (cap % 32);
        data[cap / 32].effective &= ~bit;
        data[cap / 32].permitted &= ~bit;
        data[cap / 32].inheritable &= ~bit;
    }
    return ::syscall(SYS_capset, &header, data) == 0;
}

// --------------------------------------------------------------- the scene

inline const char* const kMountPoints[] = {"/pair", "/full", "/offdir"};

// Builds the pair in <root>/pair and plants there the five work files of two
// other runs: one drawn like this run's, one under the fixed name "Temp_0".
inline void open_scene(Scene& s) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
    s.root = std::string(FC_TEST_TMP_DIR) + "/" + name;
    std::error_code ignored; // what an earlier run of the test left
    for (const char* sub : kMountPoints) {
        ::umount2((s.root + sub).c_str(), MNT_DETACH);
        fs::permissions(s.root + sub, fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(s.root);
    fs::create_directories(s.root + "/pair");

    PairSpec p;
    p.w1 = p.l1 = p.w2 = p.l2 = kSide;
    p.dx = kRangeShift;
    p.dy = kAzimuthShift;
    const PairFiles files = write_pair(s.root + "/pair", p, kRangeShift, kAzimuthShift);
    s.master = files.master;
    s.slave = files.slave;
    s.off = files.off;

    for (const char* base : {"Temp_0", "Temp_1234567"})
        for (const char* suffix : {"_offs", "_snr", "_offsets.txt", "coffs", "coffsets.txt"}) {
            const std::string path = s.root + "/pair/" + base + suffix;
            s.planted.push_back({path, std::string("work file of another run: ") + path + "\n"});
            write_bytes(path, s.planted.back().bytes);
        }
}

inline void move_file(std::string& path, const std::string& dir) {
    const std::string to = dir + "/" + fs::path(path).filename().string();
    fs::copy_file(path, to, fs::copy_options::overwrite_existing);
    fs::remove(path);
    path = to;
}

// The master, its XML file and the other runs' work files go to dir.
inline void move_master(Scene& s, const std::string& dir) {
    std::string xml = xml_of(s.master);
    move_file(xml, dir);
    move_file(s.master, dir);
    for (PlantedFile& f : s.planted)
        move_file(f.path, dir);
}

inline bool mount_tmpfs(Scene& s, const std::string& dir, const char* size) {
    fs::create_directories(dir);
    const std::string options = std::string("size=") + size;
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        s.skip = "cannot mount a tmpfs here: " + std::string(std::strerror(errno));
        return false;
    }
    s.mounts.push_back(std::make_unique<ScratchMount>(dir));
    return true;
}

// Makes dir a read-only view of itself.
inline bool mount_read_only(Scene& s, const std::string& dir) {
    if (::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        s.skip = "cannot bind-mount here: " + std::string(std::strerror(errno));
        return false;
    }
    s.mounts.push_back(std::make_unique<ScratchMount>(dir));
    if (::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        s.skip = "cannot remount read-only here: " + std::string(std::strerror(errno));
        return false;
    }
    return true;
}

// Fills the file system holding dir until exactly `keepBlocks` blocks are free.
inline bool fill_file_system(Scene& s, const std::string& dir, unsigned long keepBlocks) {
    struct statvfs vfs;
    const int fd = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = fd >= 0 && ::statvfs(dir.c_str(), &vfs) == 0;
    if (ok) {
        const std::string block(vfs.f_frsize, '\0');
        while (::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size())) {
        }
        struct stat st;
        ok = ::fstat(fd, &st) == 0 &&
             static_cast<unsigned long>(st.st_size) >= keepBlocks * vfs.f_frsize &&
             ::ftruncate(fd, st.st_size - keepBlocks * vfs.f_frsize) == 0 &&
             ::statvfs(dir.c_str(), &vfs) == 0 && vfs.f_bavail == keepBlocks;
    }
    if (fd >= 0)
        ::close(fd);
    if (!ok)
        s.skip = "cannot leave exactly " + std::to_string(keepBlocks) + " free blocks in " + dir;
    return ok;
}

inline void replace_all(const std::string& path, const std::string& pattern,
                        const std::string& by) {
    const std::string text = read_file_bytes(path);
    ASSERT_TRUE(std::regex_search(text, std::regex(pattern))) << pattern << " not in " << path;
    write_bytes(path, std::regex_replace(text, std::regex(pattern), by));
}

inline void write_off(Scene& s, const stOffsetParInfo& par) {
    std::FILE* f = std::fopen(s.off.c_str(), "w");
    ASSERT_NE(f, nullptr);
    write_offset_par(f, &par);
    ASSERT_EQ(std::fclose(f), 0);
}

inline stOffsetParInfo coarse(double range, double azimuth) {
    stOffsetParInfo par{};
    par.range_offset_polynomial[0] = range;
    par.azimuth_offset_polynomial[0] = azimuth;
    return par;
}

// Sets to zero the samples of an image of the scene for which pick(x, y) holds.
template <class Pick> void zero_where(const std::string& image, Pick pick) {
    std::vector<fcomplex> samples = read_complex_file(image);
    for (std::size_t k = 0; k < samples.size(); k++)
        if (pick(static_cast<int>(k % kSide), static_cast<int>(k / kSide)))
            samples[k] = {0.0f, 0.0f};
    ASSERT_TRUE(write_complex_image(image, samples));
}

// A master XML file with five state vectors, whose "num" attributes and count
// are then edited.
inline void state_vectors(Scene& s, const std::vector<std::string>& nums, const char* count) {
    stSarImageInfo info = make_sar_image_info(kSide, kSide, "FCOMPLEX");
    info.numStateVectors = static_cast<int>(nums.size());
    ASSERT_TRUE(write_sar_image_xml(xml_of(s.master), info));
    for (std::size_t k = 0; k < nums.size(); k++)
        replace_all(xml_of(s.master), "num=\"" + std::to_string(k + 1) + "\"",
                    "num=\"#" + nums[k] + "\"");
    replace_all(xml_of(s.master), "num=\"#", "num=\"");
    replace_all(xml_of(s.master), "<numStateVectors>[0-9]+<",
                std::string("<numStateVectors>") + count + "<");
}

// ------------------------------------------------------------- the spoilers

// Messages several rows expect, through Execute and through the tool.
inline const char* const kNoPoints = "No points available for determining average intensity !";
inline const char* const kNoOffsets = "No offsets found above SNR threshold !";
inline const char* const kBadXml = "Open xml parameter file error!";

// Builds the scene and spoils it as a row says; offBefore receives the offset
// file as it was. Returns why the row cannot run here, empty when it can.
inline std::string spoiled_scene(Scene& s, void (*spoil)(Scene&), std::string& offBefore) {
    open_scene(s);
    spoil(s);
    if (s.skip.empty())
        offBefore = read_file_bytes(s.off);
    return s.skip;
}

inline void nothing(Scene&) {}

inline void missing_master(Scene& s) {
    fs::remove(s.master);
}
inline void missing_slave(Scene& s) {
    fs::remove(s.slave);
}

// Permission bits bind root only without its override capabilities.
inline void unreadable_master(Scene& s) {
    fs::permissions(s.master, fs::perms::none);
    s.withoutFileAccessOverride = true;
}
inline void unreadable_slave_xml(Scene& s) {
    fs::permissions(xml_of(s.slave), fs::perms::none);
    s.withoutFileAccessOverride = true;
}
inline void unreadable_off(Scene& s) {
    fs::permissions(s.off, fs::perms::none);
    s.withoutFileAccessOverride = true;
}

inline void empty_master(Scene& s) {
    fs::resize_file(s.master, 0);
}
inline void empty_slave(Scene& s) {
    fs::resize_file(s.slave, 0);
}
// 90 of the 128 lines its XML promises, and 3 bytes of a sample: the slave
// windows of the last grid row (lines 64..95) run past the end.
inline void slave_shorter_than_its_xml(Scene& s) {
    fs::resize_file(s.slave, 90 * kSide * 8 + 3);
}

inline void malformed_master_xml(Scene& s) {
    write_bytes(xml_of(s.master), "<kivInSARParameter><productInfo><missionInfo>");
}
inline void slave_xml_without_azimuth_angle(Scene& s) {
    replace_all(xml_of(s.slave), "<azimuthAngle>[^<]*</azimuthAngle>", "");
}
inline void master_xml_without_start_time(Scene& s) {
    replace_all(xml_of(s.master), "<startTime>[^<]*</startTime>", "");
}
inline void state_vectors_out_of_order(Scene& s) {
    state_vectors(s, {"3", "1", "2"}, "3");
}
// Numbers outside 1..255 are ignored: the last one counted is 3.
inline void state_vector_numbers_out_of_range(Scene& s) {
    state_vectors(s, {"1", "2", "3", "0", "256"}, "3");
}
inline void negative_width_in_master_xml(Scene& s) {
    ASSERT_TRUE(write_image_xml(s.master, -kSide, kSide, "FCOMPLEX"));
}

inline void empty_off(Scene& s) {
    fs::resize_file(s.off, 0);
}
// Bytes of every value, no keyword: every field takes its default.
inline void garbled_off(Scene& s) {
    std::mt19937 generator(5);
    std::string bytes(3000, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xff);
    write_bytes(s.off, bytes);
}
// Coarse offsets near the 32-bit limit: the slave position of every window
// (range) or row (azimuth) lies far outside the slave.
inline void huge_coarse_range_offset(Scene& s) {
    stOffsetParInfo par{};
    par.initial_range_offset = 2147483600;
    par.initial_azimuth_offset = kAzimuthShift;
    write_off(s, par);
}
inline void huge_coarse_azimuth_offset(Scene& s) {
    stOffsetParInfo par{};
    par.initial_range_offset = kRangeShift;
    par.initial_azimuth_offset = 2147483600;
    write_off(s, par);
}
// Beyond any 32-bit value.
inline void huge_polynomials(Scene& s) {
    replace_all(s.off, "range_offset_polynomial:[^\n]*",
                "range_offset_polynomial: 1e300 0 0 0 0 0");
    replace_all(s.off, "azimuth_offset_polynomial:[^\n]*",
                "azimuth_offset_polynomial: -1e300 0 0 0 0 0");
}
inline void nan_range_polynomial(Scene& s) {
    write_off(s, coarse(std::nan(""), kAzimuthShift));
}
// The coarse offsets stay; with both constant terms 0 they start the model.
inline void off_without_polynomials(Scene& s) {
    replace_all(s.off, "[a-z]+_offset_polynomial:[^\n]*\n", "");
}
inline void coarse_offsets_outside_the_slave(Scene& s) {
    write_off(s, coarse(1000.0, 0.0));
}

inline void all_zero_slave(Scene& s) {
    zero_where(s.slave, [](int, int) { return true; });
}
// Only the lines the average intensity samples keep data: every window then
// holds far more than a sixteenth of zero samples.
inline void all_zero_patches(Scene& s) {
    zero_where(s.master, [](int, int y) { return y % 32 != 16; });
}

inline void window_wider_than_the_image(Scene& s) {
    s.windowWidth = s.windowHeight = 2 * kSide;
}
// 40 columns between the margins of 128 samples: a spacing of 0.
inline void grid_denser_than_the_image(Scene& s) {
    s.rangeSamples = 40;
}

inline void master_directory_read_only(Scene& s) {
    mount_read_only(s, s.master_dir());
}
// Permission bits (as for any user): the directory cannot take a new file,
// but the other runs' files in it stay writable.
inline void master_directory_not_writable(Scene& s) {
    fs::permissions(s.master_dir(), fs::perms::owner_read | fs::perms::owner_exec |
                                        fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    s.withoutFileAccessOverride = true;
}
inline void off_directory_read_only(Scene& s) {
    fs::create_directories(s.root + "/offdir");
    move_file(s.off, s.root + "/offdir");
    mount_read_only(s, s.root + "/offdir");
}

// The master directory (with the offset file) on a file system with no free
// block: the work files can be created, but no row reaches the disk.
inline void master_directory_on_a_full_disk(Scene& s) {
    if (!mount_tmpfs(s, s.root + "/full", "1m"))
        return;
    move_master(s, s.root + "/full");
    move_file(s.off, s.root + "/full");
    fill_file_system(s, s.root + "/full", 0);
}
inline void off_on_a_full_disk(Scene& s) {
    if (!mount_tmpfs(s, s.root + "/full", "64k"))
        return;
    move_file(s.off, s.root + "/full");
    fill_file_system(s, s.root + "/full", 0);
}
// One free block for each of stage 1's three work files, none for stage 2's.
inline void stage_two_on_a_full_disk(Scene& s) {
    if (!mount_tmpfs(s, s.root + "/full", "1m"))
        return;
    move_master(s, s.root + "/full");
    fill_file_system(s, s.root + "/full", 3);
}

inline void non_ascii_directory(Scene& s) {
    const std::string dir = s.root + "/\xe6\x95\xb0\xe6\x8d\xae \xc3\xa9"; // "数据 é"
    fs::create_directories(dir);
    move_master(s, dir);
    std::string slaveXml = xml_of(s.slave);
    move_file(slaveXml, dir);
    move_file(s.slave, dir);
    move_file(s.off, dir);
}

// ------------------------------------------------------------ the checks

// The other runs' work files are all there, byte for byte.
inline void expect_planted_files_untouched(const Scene& s) {
    for (const PlantedFile& f : s.planted) {
        EXPECT_TRUE(file_exists(f.path)) << f.path;
        EXPECT_EQ(read_file_bytes(f.path), f.bytes) << f.path;
    }
}

// No temporary file of the offset file writer ("<off>.tmp.<pid>") is left.
inline void expect_no_temporary_files(const Scene& s) {
    for (const std::string& dir : {s.master_dir(), s.off_dir()})
        for (const auto& entry : fs::directory_iterator(dir))
            EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos)
                << entry.path();
}

// Names in the master directory starting with "Temp_" that were not planted.
inline std::vector<std::string> own_work_files(const Scene& s) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(s.master_dir())) {
        const std::string path = entry.path().string();
        const bool planted = std::any_of(s.planted.begin(), s.planted.end(),
                                         [&](const PlantedFile& f) { return f.path == path; });
        if (!planted && entry.path().filename().string().rfind("Temp_", 0) == 0)
            names.push_back(path);
    }
    return names;
}

// The offset file as stage 1 rewrites it: a whole file of the written layout
// with the run's grid.
inline void expect_rewritten_by_stage_one(const Scene& s) {
    stOffsetParInfo par{};
    ASSERT_TRUE(read_offset_file(s.off, par));
    EXPECT_EQ(par.offset_estimation_range_samples, s.rangeSamples);
    EXPECT_EQ(par.offset_estimation_window_width, s.windowWidth);
    std::FILE* f = std::tmpfile();
    write_offset_par(f, &par);
    std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    EXPECT_EQ(std::fread(&text[0], 1, text.size(), f), text.size());
    std::fclose(f);
    EXPECT_EQ(read_file_bytes(s.off), text);
}

// The fitted model gives the pair's shift all over the grid (samples and
// lines 48 to 78).
inline void expect_fitted_shift(const std::string& fittedOff) {
    stOffsetParInfo par{};
    ASSERT_TRUE(read_offset_file(fittedOff, par)) << fittedOff;
    for (double x : {48.0, 63.0, 78.0})
        for (double y : {48.0, 63.0, 78.0}) {
            EXPECT_NEAR(eval_offset_poly(par.range_offset_polynomial, x, y), kRangeShift, 0.1);
            EXPECT_NEAR(eval_offset_poly(par.azimuth_offset_polynomial, x, y), kAzimuthShift, 0.1);
        }
}

inline std::string new_off_of(const Scene& s) {
    return s.off.substr(0, s.off.rfind('.')) + "_new.off";
}

} // namespace fault
