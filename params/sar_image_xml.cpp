#include "params/sar_image_xml.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <exception>
#include <fstream>
#include <iterator>
#include <sstream>

namespace pt = boost::property_tree;

namespace {

constexpr int kMaxStateVectors = 255;

// Element paths of the file, all under its root element.
class ImageParTree {
public:
    explicit ImageParTree(const pt::ptree& tree) : tree_(tree) {}

    std::string text(const char* path, const char* fallback) const {
        return tree_.get<std::string>(full(path), std::string(fallback));
    }
    double real(const char* path) const { return tree_.get<double>(full(path)); }
    int integer(const char* path) const { return tree_.get<int>(full(path)); }
    boost::optional<const pt::ptree&> optional_child(const char* path) const {
        return tree_.get_child_optional(full(path));
    }
    const pt::ptree& child(const char* path) const { return tree_.get_child(full(path)); }

private:
    static pt::ptree::path_type full(const char* path) {
        return pt::ptree::path_type(std::string("kivInSARParameter.") + path);
    }
    const pt::ptree& tree_;
};

// The first four white-space separated numbers of the text; coefficients
// the text does not supply are 0.
void read_doppler(const std::string& text, double coefficients[4]) {
    for (int i = 0; i < 4; i++)
        coefficients[i] = 0.0;
    std::istringstream stream(text);
    for (int i = 0; i < 4; i++) {
        double value;
        if (!(stream >> value))
            break;
        coefficients[i] = value;
    }
}

// Visits the "stateVector" children of orbitInfo in document order and
// returns the last number seen (0 when there is none). Numbers outside the
// array are ignored entirely.
int read_state_vectors(const pt::ptree& orbit, stStateVector* vectors) {
    int last = 0;
    for (const auto& child : orbit) {
        if (child.first != "stateVector")
            continue;
        const pt::ptree& node = child.second;
        const int num = node.get<int>("<xmlattr>.num");
        if (num < 1 || num > kMaxStateVectors)
            continue;
        stStateVector& v = vectors[num - 1];
        v.xPosition = node.get<double>("xPosition");
        v.yPosition = node.get<double>("yPosition");
        v.zPosition = node.get<double>("zPosition");
        v.xVelocity = node.get<double>("xVelocity");
        v.yVelocity = node.get<double>("yVelocity");
        v.zVelocity = node.get<double>("zVelocity");
        last = num;
    }
    return last;
}

// The XML parser descends recursively, one level per nested element, with no
// limit of its own: a hostile file of some ten thousand nested elements would
// overflow the stack and end the host's process. Image parameter files nest
// a handful of levels, so anything deeper than this is refused as malformed.
constexpr int kMaxElementDepth = 64;

bool nesting_within_limit(const std::string& text) {
    int depth = 0;
    for (std::size_t i = text.find('<'); i != std::string::npos; i = text.find('<', i + 1)) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (next == '?' || next == '!')
            continue; // declarations, comments and CDATA open no element
        if (next == '/') {
            depth--;
            continue;
        }
        const std::size_t end = text.find('>', i);
        if (end == std::string::npos)
            break;
        if (text[end - 1] != '/' && ++depth > kMaxElementDepth)
            return false;
    }
    return true;
}

} // namespace

bool read_sar_image_xml(std::string path, stSarImageInfo& info) {
    pt::ptree tree;
    try {
        std::ifstream file(path, std::ios::binary);
        if (!file)
            return false;
        const std::string text((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
        if (!nesting_within_limit(text))
            return false;
        // Flags 0: element text stays exactly as written, white space included.
        std::istringstream stream(text);
        pt::read_xml(stream, tree, 0);
    } catch (const std::exception&) {
        return false;
    }
    // Missing or unconvertible numeric elements throw from here on; that is
    // the caller's to handle.
    const ImageParTree root(tree);

    info.sensor = root.text("productInfo.missionInfo.sensor", "Unknown");
    info.rawDataStartTime = root.text("productInfo.missionInfo.rawDataStartTime", "UNKNOWN");
    info.orbitDirection = root.text("productInfo.missionInfo.orbitDirection", "DESCENDING");
    info.lookDirection = root.text("productInfo.missionInfo.lookDirection", "RIGHT");

    const auto azimuth = root.optional_child("productInfo.missionInfo.azimuthAngle");
    if (!azimuth)
        return false;
    info.azimuthAngle = azimuth->get_value<double>();

    info.imageGeometry = root.text("productInfo.missionInfo.imageGeometry", "SLANT_RANGE");
    info.polarizationMode = root.text("productInfo.missionInfo.polarizationMode", "SINGLE");
    info.polarizationType = root.text("productInfo.missionInfo.polarizationType", "HH");

    info.startTime = root.real("productInfo.sceneInfo.startTime");
    info.centerTime = root.real("productInfo.sceneInfo.centerTime");
    info.endTime = root.real("productInfo.sceneInfo.endTime");
    info.azimuthLineTime = root.real("productInfo.sceneInfo.azimuthLineTime");
    info.nearSlantRange = root.real("productInfo.sceneInfo.nearSlantRange");
    info.centerSlantRange = root.real("productInfo.sceneInfo.centerSlantRange");
    info.farSlantRange = root.real("productInfo.sceneInfo.farSlantRange");
    info.sceneCenterLatitude = root.real("productInfo.sceneInfo.sceneCenterLatitude");
    info.sceneCenterLongitude = root.real("productInfo.sceneInfo.sceneCenterLongitude");
    info.incidenceAngle = root.real("productInfo.sceneInfo.incidenceAngle");
    info.headingAngle = root.real("productInfo.sceneInfo.headingAngle");

    info.numberOfColumns = root.integer("productInfo.imageDataInfo.numberOfColumns");
    info.numberOfRows = root.integer("productInfo.imageDataInfo.numberOfRows");
    info.azimuthLooks = root.integer("productInfo.imageDataInfo.azimuthLooks");
    info.rangeLooks = root.integer("productInfo.imageDataInfo.rangeLooks");
    info.slantRangeSpacing = root.real("productInfo.imageDataInfo.slantRangeSpacing");
    info.azimuthSpacing = root.real("productInfo.imageDataInfo.azimuthSpacing");
    info.imageDataType = root.text("productInfo.imageDataInfo.imageDataType", "");

    info.azimuthDeskew = root.text("radarParameters.azimuthDeskew", "");
    info.radarWavelength = root.real("radarParameters.radarWavelength");
    info.radarCenterFrequency = root.real("radarParameters.radarCenterFrequency");
    info.adcSamplingRate = root.real("radarParameters.adcSamplingRate");
    info.chirpBandWidth = root.real("radarParameters.chirpBandWidth");
    info.pulseRepetitionFrequency = root.real("radarParameters.pulseRepetitionFrequency");
    info.azimuthProcBandwidth = root.real("radarParameters.azimuthProcBandwidth");
    read_doppler(root.text("radarParameters.dopplerCentroidCoefficients", ""),
                 info.dopplerCentroidCoefficients);

    info.sarToEarthCenter = root.real("orbitInfo.sarToEarthCenter");
    info.earthRadiusBelowSensor = root.real("orbitInfo.earthRadiusBelowSensor");
    info.earthSemiMajorAxis = root.real("orbitInfo.earthSemiMajorAxis");
    info.earthSemiMinorAxis = root.real("orbitInfo.earthSemiMinorAxis");
    info.numStateVectors = root.integer("orbitInfo.numStateVectors");
    info.firstStateTime = root.real("orbitInfo.firstStateTime");
    info.stateVectorTimeSpacing = root.real("orbitInfo.stateVectorTimeSpacing");

    const int last = read_state_vectors(root.child("orbitInfo"), info.stateVector);
    return info.numStateVectors == last;
}
