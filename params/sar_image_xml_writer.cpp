#include "params/sar_image_xml_writer.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cstdio>
#include <exception>
#include <sstream>

namespace pt = boost::property_tree;

namespace {

// Seventeen significant digits: every double reads back to the same bits.
std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string number(int value) {
    return std::to_string(value);
}

void put_text(pt::ptree& parent, const char* path, const std::string& text) {
    parent.put(pt::ptree::path_type(path), text);
}

pt::ptree build_tree(const stSarImageInfo& info) {
    pt::ptree product;
    put_text(product, "missionInfo.sensor", info.sensor);
    put_text(product, "missionInfo.rawDataStartTime", info.rawDataStartTime);
    put_text(product, "missionInfo.orbitDirection", info.orbitDirection);
    put_text(product, "missionInfo.lookDirection", info.lookDirection);
    put_text(product, "missionInfo.azimuthAngle", number(info.azimuthAngle));
    put_text(product, "missionInfo.imageGeometry", info.imageGeometry);
    put_text(product, "missionInfo.polarizationMode", info.polarizationMode);
    put_text(product, "missionInfo.polarizationType", info.polarizationType);
    put_text(product, "sceneInfo.startTime", number(info.startTime));
    put_text(product, "sceneInfo.centerTime", number(info.centerTime));
    put_text(product, "sceneInfo.endTime", number(info.endTime));
    put_text(product, "sceneInfo.azimuthLineTime", number(info.azimuthLineTime));
    put_text(product, "sceneInfo.nearSlantRange", number(info.nearSlantRange));
    put_text(product, "sceneInfo.centerSlantRange", number(info.centerSlantRange));
    put_text(product, "sceneInfo.farSlantRange", number(info.farSlantRange));
    put_text(product, "sceneInfo.sceneCenterLatitude", number(info.sceneCenterLatitude));
    put_text(product, "sceneInfo.sceneCenterLongitude", number(info.sceneCenterLongitude));
    put_text(product, "sceneInfo.incidenceAngle", number(info.incidenceAngle));
    put_text(product, "sceneInfo.headingAngle", number(info.headingAngle));
    put_text(product, "imageDataInfo.numberOfColumns", number(info.numberOfColumns));
    put_text(product, "imageDataInfo.numberOfRows", number(info.numberOfRows));
    put_text(product, "imageDataInfo.azimuthLooks", number(info.azimuthLooks));
    put_text(product, "imageDataInfo.rangeLooks", number(info.rangeLooks));
    put_text(product, "imageDataInfo.slantRangeSpacing", number(info.slantRangeSpacing));
    put_text(product, "imageDataInfo.azimuthSpacing", number(info.azimuthSpacing));
    put_text(product, "imageDataInfo.imageDataType", info.imageDataType);

    pt::ptree radar;
    put_text(radar, "azimuthDeskew", info.azimuthDeskew);
    put_text(radar, "radarWavelength", number(info.radarWavelength));
    put_text(radar, "radarCenterFrequency", number(info.radarCenterFrequency));
    put_text(radar, "adcSamplingRate", number(info.adcSamplingRate));
    put_text(radar, "chirpBandWidth", number(info.chirpBandWidth));
    put_text(radar, "pulseRepetitionFrequency", number(info.pulseRepetitionFrequency));
    put_text(radar, "azimuthProcBandwidth", number(info.azimuthProcBandwidth));
    const double* doppler = info.dopplerCentroidCoefficients;
    put_text(radar, "dopplerCentroidCoefficients",
             number(doppler[0]) + " " + number(doppler[1]) + " " + number(doppler[2]) + " " +
                 number(doppler[3]));

    pt::ptree orbit;
    put_text(orbit, "sarToEarthCenter", number(info.sarToEarthCenter));
    put_text(orbit, "earthRadiusBelowSensor", number(info.earthRadiusBelowSensor));
    put_text(orbit, "earthSemiMajorAxis", number(info.earthSemiMajorAxis));
    put_text(orbit, "earthSemiMinorAxis", number(info.earthSemiMinorAxis));
    put_text(orbit, "numStateVectors", number(info.numStateVectors));
    put_text(orbit, "firstStateTime", number(info.firstStateTime));
    put_text(orbit, "stateVectorTimeSpacing", number(info.stateVectorTimeSpacing));
    for (int k = 0; k < info.numStateVectors; k++) {
        const stStateVector& v = info.stateVector[k];
        pt::ptree node;
        put_text(node, "<xmlattr>.num", number(k + 1));
        put_text(node, "xPosition", number(v.xPosition));
        put_text(node, "yPosition", number(v.yPosition));
        put_text(node, "zPosition", number(v.zPosition));
        put_text(node, "xVelocity", number(v.xVelocity));
        put_text(node, "yVelocity", number(v.yVelocity));
        put_text(node, "zVelocity", number(v.zVelocity));
        orbit.add_child("stateVector", node);
    }

    pt::ptree root;
    root.add_child("productInfo", product);
    root.add_child("radarParameters", radar);
    root.add_child("orbitInfo", orbit);
    pt::ptree tree;
    tree.add_child("kivInSARParameter", root);
    return tree;
}

} // namespace

bool write_sar_image_xml(const std::string& path, const stSarImageInfo& info) {
    if (info.numStateVectors < 0 || info.numStateVectors > 255)
        return false;
    std::ostringstream text;
    try {
        pt::write_xml(text, build_tree(info), pt::xml_writer_make_settings<std::string>(' ', 2));
    } catch (const std::exception&) {
        return false;
    }
    const std::string bytes = text.str();
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    ok = (std::fclose(stream) == 0) && ok;
    return ok;
}

stSarImageInfo make_sar_image_info(int number_of_columns, int number_of_rows,
                                   const std::string& image_data_type) {
    stSarImageInfo info{};
    info.sensor = "Unknown";
    info.rawDataStartTime = "UNKNOWN";
    info.orbitDirection = "DESCENDING";
    info.lookDirection = "RIGHT";
    info.imageGeometry = "SLANT_RANGE";
    info.polarizationMode = "SINGLE";
    info.polarizationType = "HH";
    info.numberOfColumns = number_of_columns;
    info.numberOfRows = number_of_rows;
    info.imageDataType = image_data_type;
    info.azimuthLooks = 1;
    info.rangeLooks = 1;
    return info;
}
