#include "params/sar_image_xml.h"
#include "params/sar_image_xml_writer.h"

#include <boost/property_tree/exceptions.hpp>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

namespace pt = boost::property_tree;

// The variable pieces of a hand-written image parameter file; every other
// element is fixed. Empty element strings are left out of the file.
struct XmlParts {
    std::string azimuth_angle = "<azimuthAngle>12.5</azimuthAngle>";
    std::string start_time = "<startTime>100.25</startTime>";
    std::string rows = "<numberOfRows> 2048\n</numberOfRows>";
    std::string data_type = "<imageDataType>FCOMPLEX</imageDataType>";
    std::string doppler =
        "<dopplerCentroidCoefficients>1.5 -2e-3 3 4</dopplerCentroidCoefficients>";
    std::string num_state_vectors = "3";
    std::vector<std::string> nums = {"1", "2", "3"}; // "num" attributes in document order
};

// State vector number d (0-based, in document order) carries 1000 * (d + 1)
// plus the component index, so each entry shows which element wrote it.
std::string state_vector(const std::string& num, int d) {
    const char* names[6] = {"xPosition", "yPosition", "zPosition",
                            "xVelocity", "yVelocity", "zVelocity"};
    std::string s = "    <stateVector num=\"" + num + "\">\n";
    for (int k = 0; k < 6; k++)
        s += std::string("      <") + names[k] + ">" + std::to_string(1000 * (d + 1) + k) + "</" +
             names[k] + ">\n";
    return s + "    </stateVector>\n";
}

std::string image_xml(const XmlParts& p) {
    std::string s = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<kivInSARParameter>\n"
                    "  <productInfo>\n    <missionInfo>\n"
                    "      <sensor>TSX-1</sensor>\n" +
                    p.azimuth_angle + "    </missionInfo>\n    <sceneInfo>\n" + p.start_time +
                    "<centerTime>101</centerTime><endTime>102</endTime>"
                    "<azimuthLineTime>3e-4</azimuthLineTime><nearSlantRange>800000</nearSlantRange>"
                    "<centerSlantRange>810000</centerSlantRange>"
                    "<farSlantRange>820000</farSlantRange>"
                    "<sceneCenterLatitude>30.5</sceneCenterLatitude>"
                    "<sceneCenterLongitude>114.25</sceneCenterLongitude>"
                    "<incidenceAngle>35</incidenceAngle><headingAngle>-170</headingAngle>\n"
                    "    </sceneInfo>\n    <imageDataInfo>\n"
                    "<numberOfColumns>1024</numberOfColumns>" +
                    p.rows +
                    "<azimuthLooks>1</azimuthLooks><rangeLooks>2</rangeLooks>"
                    "<slantRangeSpacing>0.9</slantRangeSpacing><azimuthSpacing>2</azimuthSpacing>" +
                    p.data_type +
                    "\n    </imageDataInfo>\n  </productInfo>\n  <radarParameters>\n"
                    "<radarWavelength>0.031</radarWavelength>"
                    "<radarCenterFrequency>9.65e9</radarCenterFrequency>"
                    "<adcSamplingRate>1.1e8</adcSamplingRate><chirpBandWidth>1e8</chirpBandWidth>"
                    "<pulseRepetitionFrequency>3800</pulseRepetitionFrequency>"
                    "<azimuthProcBandwidth>2765</azimuthProcBandwidth>" +
                    p.doppler +
                    "\n  </radarParameters>\n  <orbitInfo>\n"
                    "<sarToEarthCenter>6.9e6</sarToEarthCenter>"
                    "<earthRadiusBelowSensor>6.37e6</earthRadiusBelowSensor>"
                    "<earthSemiMajorAxis>6378137</earthSemiMajorAxis>"
                    "<earthSemiMinorAxis>6356752.314</earthSemiMinorAxis>"
                    "<numStateVectors>" +
                    p.num_state_vectors +
                    "</numStateVectors>"
                    "<firstStateTime>50</firstStateTime>"
                    "<stateVectorTimeSpacing>10</stateVectorTimeSpacing>\n";
    for (size_t d = 0; d < p.nums.size(); d++)
        s += state_vector(p.nums[d], static_cast<int>(d));
    return s + "  </orbitInfo>\n</kivInSARParameter>\n";
}

// Each test writes its own file: CTest runs the tests of one binary in
// parallel processes sharing the scratch directory.
std::string write_xml(const XmlParts& p) {
    const std::string path = std::string(FC_TEST_TMP_DIR) + "/" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             ".xml";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    const std::string text = image_xml(p);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
}

std::vector<double> doppler(const stSarImageInfo& info) {
    return {info.dopplerCentroidCoefficients, info.dopplerCentroidCoefficients + 4};
}

// Entry k holds the values of the state vector at document position d (all
// zero for d < 0).
void expect_entry_from(const stSarImageInfo& info, int k, int d) {
    const stStateVector& v = info.stateVector[k];
    std::vector<double> expected(6, 0.0);
    for (int i = 0; d >= 0 && i < 6; i++)
        expected[i] = 1000.0 * (d + 1) + i;
    EXPECT_EQ(std::vector<double>(
                  {v.xPosition, v.yPosition, v.zPosition, v.xVelocity, v.yVelocity, v.zVelocity}),
              expected)
        << "entry " << k;
}

TEST(ReadSarImageXml, MinimalFileWithDefaults) {
    stSarImageInfo info{};
    ASSERT_TRUE(read_sar_image_xml(write_xml(XmlParts{}), info));
    EXPECT_EQ(std::tie(info.sensor, info.rawDataStartTime, info.orbitDirection, info.lookDirection,
                       info.imageGeometry, info.polarizationMode, info.polarizationType,
                       info.azimuthDeskew, info.imageDataType),
              std::make_tuple("TSX-1", "UNKNOWN", "DESCENDING", "RIGHT", "SLANT_RANGE", "SINGLE",
                              "HH", "", "FCOMPLEX"));
    EXPECT_EQ(std::tie(info.azimuthAngle, info.startTime, info.azimuthLineTime, info.headingAngle,
                       info.radarCenterFrequency, info.earthSemiMinorAxis,
                       info.stateVectorTimeSpacing),
              std::make_tuple(12.5, 100.25, 3e-4, -170.0, 9.65e9, 6356752.314, 10.0));
    // White space around a number is allowed (numberOfRows).
    EXPECT_EQ(
        std::tie(info.numberOfColumns, info.numberOfRows, info.rangeLooks, info.numStateVectors),
        std::make_tuple(1024, 2048, 2, 3));
    EXPECT_EQ(doppler(info), std::vector<double>({1.5, -2e-3, 3, 4}));
    for (int k = 0; k < 4; k++)
        expect_entry_from(info, k, k < 3 ? k : -1);
}

// Each state vector goes to the entry its number names; numbers outside the
// array are ignored, no state vector reads as number 0, and the file is good
// when the last number equals numStateVectors.
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
        XmlParts p;
        p.nums = c.nums;
        p.num_state_vectors = c.count;
        stSarImageInfo info{};
        EXPECT_EQ(read_sar_image_xml(write_xml(p), info), c.good) << c.count;
        EXPECT_EQ(info.numStateVectors, std::stoi(c.count));
        for (auto [k, d] : c.entries)
            expect_entry_from(info, k, d);
    }
}

TEST(ReadSarImageXml, MissingAzimuthAngleStopsAfterTheFirstStrings) {
    XmlParts p;
    p.azimuth_angle.clear();
    stSarImageInfo info{};
    info.startTime = -1.0;
    EXPECT_FALSE(read_sar_image_xml(write_xml(p), info));
    EXPECT_EQ(info.sensor, "TSX-1");
    EXPECT_EQ(info.lookDirection, "RIGHT");
    EXPECT_EQ(info.imageGeometry, "");
    EXPECT_EQ(info.startTime, -1.0);
}

TEST(ReadSarImageXml, MissingOrBadNumbersThrowToTheCaller) {
    stSarImageInfo info{};
    XmlParts p;
    p.start_time.clear();
    EXPECT_THROW(read_sar_image_xml(write_xml(p), info), pt::ptree_bad_path);

    p = XmlParts{};
    p.rows = "<numberOfRows>2048 lines</numberOfRows>";
    EXPECT_THROW(read_sar_image_xml(write_xml(p), info), pt::ptree_bad_data);

    p = XmlParts{};
    p.nums = {"1", "2", "x"};
    EXPECT_THROW(read_sar_image_xml(write_xml(p), info), pt::ptree_bad_data);
}

TEST(ReadSarImageXml, UnreadableFilesGiveFalseAndLeaveTheRecord) {
    stSarImageInfo info{};
    info.sensor = "kept";
    const std::string missing = std::string(FC_TEST_TMP_DIR) + "/no_such_file.xml";
    std::remove(missing.c_str());
    EXPECT_FALSE(read_sar_image_xml(missing, info));

    const std::string broken = std::string(FC_TEST_TMP_DIR) + "/broken.xml";
    std::FILE* f = std::fopen(broken.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("<kivInSARParameter><productInfo></kivInSARParameter>", f);
    std::fclose(f);
    EXPECT_FALSE(read_sar_image_xml(broken, info));
    EXPECT_EQ(info.sensor, "kept");

    // Deep nesting is refused before the recursive parser sees it: 100 000
    // levels overflowed the stack (a crash, not a false).
    const std::string deep = std::string(FC_TEST_TMP_DIR) + "/deep.xml";
    f = std::fopen(deep.c_str(), "w");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 100000; i++)
        std::fputs("<a>", f);
    std::fclose(f);
    EXPECT_FALSE(read_sar_image_xml(deep, info));
    EXPECT_EQ(info.sensor, "kept");
}

TEST(ReadSarImageXml, ImageDataTypeKeepsWhiteSpaceAndLineBreaks) {
    XmlParts p;
    p.data_type = "<imageDataType>\n        SCOMPLEX\n      </imageDataType>";
    stSarImageInfo info{};
    EXPECT_TRUE(read_sar_image_xml(write_xml(p), info));
    EXPECT_EQ(info.imageDataType, "\n        SCOMPLEX\n      ");
}

TEST(ReadSarImageXml, DopplerTakesUpToFourNumbers) {
    const struct {
        const char* text;
        double expected[4];
    } cases[] = {{"<dopplerCentroidCoefficients> 7.5\n-1 </dopplerCentroidCoefficients>",
                  {7.5, -1.0, 0.0, 0.0}},
                 {"<dopplerCentroidCoefficients>1 2 3 4 5</dopplerCentroidCoefficients>",
                  {1.0, 2.0, 3.0, 4.0}},
                 {"", {0.0, 0.0, 0.0, 0.0}}};
    for (const auto& c : cases) {
        XmlParts p;
        p.doppler = c.text;
        stSarImageInfo info;
        for (double& d : info.dopplerCentroidCoefficients)
            d = 99.0;
        EXPECT_TRUE(read_sar_image_xml(write_xml(p), info));
        EXPECT_EQ(doppler(info), std::vector<double>(c.expected, c.expected + 4)) << c.text;
    }
}

TEST(WriteSarImageXml, RoundTripsThroughTheReader) {
    stSarImageInfo in = make_sar_image_info(1234, 5678, "SCOMPLEX");
    in.sensor = "A<&>\"'B";
    in.azimuthAngle = 1.0 / 3.0;
    in.farSlantRange = 856123.456789012;
    in.dopplerCentroidCoefficients[2] = -1e-300;
    in.numStateVectors = 4;
    for (int k = 0; k < 4; k++)
        in.stateVector[k] = {k + 0.1, -k - 0.2, k * 1e6 + 1.0 / 7.0, 7.5, -7.5, k / 9.0};
    const std::string path = std::string(FC_TEST_TMP_DIR) + "/written.xml";
    ASSERT_TRUE(write_sar_image_xml(path, in));

    stSarImageInfo out{};
    ASSERT_TRUE(read_sar_image_xml(path, out));
    EXPECT_EQ(std::tie(out.sensor, out.polarizationType, out.imageDataType),
              std::make_tuple(in.sensor, "HH", "SCOMPLEX"));
    EXPECT_EQ(
        std::tie(out.numberOfColumns, out.numberOfRows, out.azimuthLooks, out.numStateVectors),
        std::make_tuple(1234, 5678, 1, 4));
    EXPECT_EQ(std::tie(out.azimuthAngle, out.farSlantRange, out.dopplerCentroidCoefficients[2]),
              std::make_tuple(in.azimuthAngle, in.farSlantRange, -1e-300));
    for (int k = 0; k < 4; k++) {
        EXPECT_EQ(out.stateVector[k].zPosition, in.stateVector[k].zPosition);
        EXPECT_EQ(out.stateVector[k].zVelocity, in.stateVector[k].zVelocity);
    }

    in.numStateVectors = 256;
    EXPECT_FALSE(write_sar_image_xml(path, in));
    EXPECT_FALSE(write_sar_image_xml(std::string(FC_TEST_TMP_DIR) + "/no/dir/x.xml",
                                     make_sar_image_info(8, 8, "FCOMPLEX")));
}

} // namespace
