#include "params/sar_image_xml.h"
#include "params/sar_image_xml_writer.h"

#include <boost/property_tree/exceptions.hpp>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
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

// Entry k holds the values of the state vector at document position d.
void expect_entry_from(const stSarImageInfo& info, int k, int d) {
    const stStateVector& v = info.stateVector[k];
    const double base = 1000.0 * (d + 1);
    EXPECT_EQ(v.xPosition, base) << "entry " << k;
    EXPECT_EQ(v.yPosition, base + 1);
    EXPECT_EQ(v.zPosition, base + 2);
    EXPECT_EQ(v.xVelocity, base + 3);
    EXPECT_EQ(v.yVelocity, base + 4);
    EXPECT_EQ(v.zVelocity, base + 5) << "entry " << k;
}

TEST(ReadSarImageXml, MinimalFileWithDefaults) {
    stSarImageInfo info{};
    ASSERT_TRUE(read_sar_image_xml(write_xml(XmlParts{}), info));
    EXPECT_EQ(info.sensor, "TSX-1");
    EXPECT_EQ(info.rawDataStartTime, "UNKNOWN");
    EXPECT_EQ(info.orbitDirection, "DESCENDING");
    EXPECT_EQ(info.lookDirection, "RIGHT");
    EXPECT_EQ(info.imageGeometry, "SLANT_RANGE");
    EXPECT_EQ(info.polarizationMode, "SINGLE");
    EXPECT_EQ(info.polarizationType, "HH");
    EXPECT_EQ(info.azimuthDeskew, "");
    EXPECT_EQ(info.azimuthAngle, 12.5);
    EXPECT_EQ(info.startTime, 100.25);
    EXPECT_EQ(info.azimuthLineTime, 3e-4);
    EXPECT_EQ(info.headingAngle, -170.0);
    EXPECT_EQ(info.numberOfColumns, 1024);
    EXPECT_EQ(info.numberOfRows, 2048); // white space around the number is allowed
    EXPECT_EQ(info.rangeLooks, 2);
    EXPECT_EQ(info.imageDataType, "FCOMPLEX");
    EXPECT_EQ(info.radarCenterFrequency, 9.65e9);
    EXPECT_EQ(info.earthSemiMinorAxis, 6356752.314);
    EXPECT_EQ(info.dopplerCentroidCoefficients[0], 1.5);
    EXPECT_EQ(info.dopplerCentroidCoefficients[1], -2e-3);
    EXPECT_EQ(info.dopplerCentroidCoefficients[3], 4.0);
    EXPECT_EQ(info.numStateVectors, 3);
    EXPECT_EQ(info.stateVectorTimeSpacing, 10.0);
    for (int k = 0; k < 3; k++)
        expect_entry_from(info, k, k);
    EXPECT_EQ(info.stateVector[3].xPosition, 0.0);
}

TEST(ReadSarImageXml, LastStateVectorNumberDecides) {
    XmlParts p;
    stSarImageInfo info{};
    p.nums = {"3", "1", "2"};
    EXPECT_FALSE(read_sar_image_xml(write_xml(p), info));
    expect_entry_from(info, 2, 0);
    expect_entry_from(info, 0, 1);
    expect_entry_from(info, 1, 2);

    p.num_state_vectors = "5";
    p.nums = {"1", "2", "3", "4", "5", "2"};
    EXPECT_FALSE(read_sar_image_xml(write_xml(p), info));
    expect_entry_from(info, 1, 5); // the duplicate overwrote entry 1
    expect_entry_from(info, 4, 4);
}

TEST(ReadSarImageXml, NumbersOutsideTheArrayAreIgnored) {
    XmlParts p;
    p.nums = {"1", "2", "3", "0", "256", "-1"};
    stSarImageInfo info{};
    EXPECT_TRUE(read_sar_image_xml(write_xml(p), info));
    for (int k = 0; k < 3; k++)
        expect_entry_from(info, k, k);
    EXPECT_EQ(info.stateVector[254].xPosition, 0.0);
}

TEST(ReadSarImageXml, NoStateVectorChildReadsAsNumberZero) {
    XmlParts p;
    p.nums.clear();
    p.num_state_vectors = "0";
    stSarImageInfo info{};
    EXPECT_TRUE(read_sar_image_xml(write_xml(p), info));
    p.num_state_vectors = "2";
    EXPECT_FALSE(read_sar_image_xml(write_xml(p), info));
    EXPECT_EQ(info.numStateVectors, 2);
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
        for (int k = 0; k < 4; k++)
            EXPECT_EQ(info.dopplerCentroidCoefficients[k], c.expected[k]) << c.text << " " << k;
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
    EXPECT_EQ(out.sensor, in.sensor);
    EXPECT_EQ(out.polarizationType, "HH");
    EXPECT_EQ(out.imageDataType, "SCOMPLEX");
    EXPECT_EQ(out.numberOfColumns, 1234);
    EXPECT_EQ(out.numberOfRows, 5678);
    EXPECT_EQ(out.azimuthLooks, 1);
    EXPECT_EQ(out.azimuthAngle, in.azimuthAngle);
    EXPECT_EQ(out.farSlantRange, in.farSlantRange);
    EXPECT_EQ(out.dopplerCentroidCoefficients[2], -1e-300);
    EXPECT_EQ(out.numStateVectors, 4);
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
