// The image parameter file: written by the writer, then edited where a test
// needs a file the writer does not make.
#include "params/sar_image_xml.h"
#include "tests/support/scratch.h"

#include <boost/property_tree/exceptions.hpp>
#include <regex>

namespace {

using namespace scratch;
namespace pt = boost::property_tree;

// A file for info, each (pattern, replacement) applied to its text.
std::string xml_file(const stSarImageInfo& info,
                     const std::vector<std::pair<std::string, std::string>>& edits = {}) {
    const std::string path = fresh_test_dir() + "/image.xml";
    EXPECT_TRUE(write_sar_image_xml(path, info));
    std::string text = read_bytes(path);
    for (const auto& [pattern, by] : edits)
        text = std::regex_replace(text, std::regex(pattern), by);
    write_bytes(path, text);
    return path;
}

// State vector k (0-based, in document order) holds 1000 (k + 1) + component.
stSarImageInfo with_state_vectors(int count) {
    stSarImageInfo info = make_sar_image_info(1024, 2048, "FCOMPLEX");
    info.numStateVectors = count;
    for (int k = 0; k < count; k++) {
        const double b = 1000.0 * (k + 1);
        info.stateVector[k] = {b, b + 1, b + 2, b + 3, b + 4, b + 5};
    }
    return info;
}

TEST(ReadSarImageXml, MissingStringsTakeTheirDefaults) {
    stSarImageInfo info = with_state_vectors(0);
    info.imageDataType = info.rawDataStartTime = info.orbitDirection = info.imageGeometry = "x";
    const std::string path = xml_file(
        info, {{"<(sensor|rawDataStartTime|orbitDirection|lookDirection|imageGeometry|"
                "polarizationMode|polarizationType|imageDataType|azimuthDeskew)>[^<]*</\\1>",
                ""},
               {"<numberOfRows>2048<", "<numberOfRows> 2048\n<"}});
    stSarImageInfo read{};
    ASSERT_TRUE(read_sar_image_xml(path, read));
    EXPECT_EQ(
        std::vector<std::string>({read.sensor, read.rawDataStartTime, read.orbitDirection,
                                  read.lookDirection, read.imageGeometry, read.polarizationMode,
                                  read.polarizationType, read.imageDataType, read.azimuthDeskew}),
        std::vector<std::string>(
            {"Unknown", "UNKNOWN", "DESCENDING", "RIGHT", "SLANT_RANGE", "SINGLE", "HH", "", ""}));
    EXPECT_EQ(read.numberOfRows, 2048); // white space around a number is allowed
}

// Each state vector goes to the entry its number names; numbers outside the
// array are ignored, and the file is good when the last number counted
// equals numStateVectors.
TEST(ReadSarImageXml, StateVectorNumberRules) {
    const struct {
        std::vector<std::string> nums;
        std::string count;
        bool good;
        std::vector<std::pair<int, int>> entries; // (entry, document position or -1 for none)
    } cases[] = {
        {{"3", "1", "2"}, "3", false, {{2, 0}, {0, 1}, {1, 2}}},
        {{"1", "2", "3", "4", "5", "2"}, "5", false, {{1, 5}, {4, 4}}}, // the duplicate wins
        {{"1", "2", "3", "0", "256", "-1"}, "3", true, {{0, 0}, {1, 1}, {2, 2}, {254, -1}}},
        {{}, "0", true, {{0, -1}}},
        {{}, "2", false, {{0, -1}}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<std::string, std::string>> edits;
        for (std::size_t k = 0; k < c.nums.size(); k++)
            edits.emplace_back("num=\"" + std::to_string(k + 1) + "\"",
                               "num=\"#" + c.nums[k] + "\"");
        edits.emplace_back("num=\"#", "num=\"");
        edits.emplace_back("<numStateVectors>[0-9]+<", "<numStateVectors>" + c.count + "<");
        stSarImageInfo info{};
        EXPECT_EQ(read_sar_image_xml(xml_file(with_state_vectors(c.nums.size()), edits), info),
                  c.good)
            << c.count;
        EXPECT_EQ(info.numStateVectors, std::stoi(c.count));
        for (auto [k, d] : c.entries) {
            EXPECT_EQ(info.stateVector[k].xPosition, d < 0 ? 0.0 : 1000.0 * (d + 1)) << k;
            EXPECT_EQ(info.stateVector[k].zVelocity, d < 0 ? 0.0 : 1000.0 * (d + 1) + 5) << k;
        }
    }
}

TEST(ReadSarImageXml, MissingOrBadNumbersThrowToTheCaller) {
    stSarImageInfo info{};
    EXPECT_THROW(read_sar_image_xml(
                     xml_file(with_state_vectors(0), {{"<startTime>[^<]*</startTime>", ""}}), info),
                 pt::ptree_bad_path);
    EXPECT_THROW(
        read_sar_image_xml(
            xml_file(with_state_vectors(0), {{"<numberOfRows>2048<", "<numberOfRows>2048 lines<"}}),
            info),
        pt::ptree_bad_data);
    EXPECT_THROW(
        read_sar_image_xml(xml_file(with_state_vectors(3), {{"num=\"3\"", "num=\"x\""}}), info),
        pt::ptree_bad_data);
}

TEST(ReadSarImageXml, UnreadableFilesGiveFalseAndLeaveTheRecord) {
    stSarImageInfo info{};
    info.sensor = "kept";
    const std::string dir = fresh_test_dir();
    EXPECT_FALSE(read_sar_image_xml(dir + "/none.xml", info));
    write_bytes(dir + "/broken.xml", "<kivInSARParameter><productInfo></kivInSARParameter>");
    EXPECT_FALSE(read_sar_image_xml(dir + "/broken.xml", info));
    // Deep nesting is refused before the recursive parser sees it: 100 000
    // levels overflowed the stack (a crash, not a false).
    std::string deep;
    for (int i = 0; i < 100000; i++)
        deep += "<a>";
    write_bytes(dir + "/deep.xml", deep);
    EXPECT_FALSE(read_sar_image_xml(dir + "/deep.xml", info));
    EXPECT_EQ(info.sensor, "kept");
}

TEST(ReadSarImageXml, TypeKeepsItsWhiteSpaceAndDopplerTakesUpToFourNumbers) {
    stSarImageInfo info{};
    ASSERT_TRUE(read_sar_image_xml(
        xml_file(
            with_state_vectors(0),
            {{"<dopplerCentroidCoefficients>[^<]*<", "<dopplerCentroidCoefficients> 1\n2 3 4 5<"},
             {"<imageDataType>[^<]*<", "<imageDataType>\n  SCOMPLEX\n<"}}),
        info));
    EXPECT_EQ(info.imageDataType, "\n  SCOMPLEX\n");
    EXPECT_EQ(
        std::vector<double>(info.dopplerCentroidCoefficients, info.dopplerCentroidCoefficients + 4),
        (std::vector<double>{1.0, 2.0, 3.0, 4.0}));
}

TEST(WriteSarImageXml, RoundTripsThroughTheReader) {
    stSarImageInfo in = with_state_vectors(4);
    in.sensor = "A<&>\"'B";
    in.azimuthAngle = 1.0 / 3.0;
    in.farSlantRange = 856123.456789012;
    in.dopplerCentroidCoefficients[2] = -1e-300;
    in.stateVector[3].zPosition = 3e6 + 1.0 / 7.0;
    stSarImageInfo out{};
    ASSERT_TRUE(read_sar_image_xml(xml_file(in), out));
    EXPECT_EQ(out.sensor, in.sensor);
    EXPECT_EQ(out.azimuthAngle, in.azimuthAngle);
    EXPECT_EQ(out.farSlantRange, in.farSlantRange);
    EXPECT_EQ(out.dopplerCentroidCoefficients[2], -1e-300);
    EXPECT_EQ(out.stateVector[3].zPosition, in.stateVector[3].zPosition);
    in.numStateVectors = 256;
    EXPECT_FALSE(write_sar_image_xml(fresh_test_dir() + "/x.xml", in));
    EXPECT_FALSE(write_sar_image_xml("/no/dir/x.xml", make_sar_image_info(8, 8, "FCOMPLEX")));
}

} // namespace
