#include "ingest/radar_metadata.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>

namespace ingest {

namespace {

constexpr double kSpeedOfLight = 299792458.0;

std::string normalized(const std::string& text) {
    std::string out;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// (original key, value) by normalized key, the first occurrence winning.
using Items = std::map<std::string, std::pair<std::string, std::string>>;

// The first of the space-separated normalized keys present with a value.
const std::pair<std::string, std::string>* find(const Items& items, const char* keys) {
    std::istringstream list(keys);
    for (std::string key; list >> key;) {
        const auto it = items.find(key);
        if (it != items.end() && !it->second.second.empty())
            return &it->second;
    }
    return nullptr;
}

struct NumberItem {
    const char* name;
    double stSarImageInfo::*field;
    const char* keys;
};

struct TextItem {
    const char* name;
    std::string stSarImageInfo::*field;
    const char* keys;
    const char* words; // the values accepted (a one-letter abbreviation too); "" any text
};

const NumberItem kNumbers[] = {
    {"radarWavelength", &stSarImageInfo::radarWavelength,
     "RADARWAVELENGTH WAVELENGTH CENTERWAVELENGTH"},
    {"radarCenterFrequency", &stSarImageInfo::radarCenterFrequency,
     "RADARCENTERFREQUENCY RADARFREQUENCY CENTERFREQUENCY CARRIERFREQUENCY"},
    {"pulseRepetitionFrequency", &stSarImageInfo::pulseRepetitionFrequency,
     "PULSEREPETITIONFREQUENCY PRF"},
    {"adcSamplingRate", &stSarImageInfo::adcSamplingRate,
     "ADCSAMPLINGRATE RANGESAMPLINGRATE RANGESAMPLINGFREQUENCY"},
    {"slantRangeSpacing", &stSarImageInfo::slantRangeSpacing,
     "SLANTRANGESPACING RANGEPIXELSPACING PIXELSPACING"},
    {"azimuthSpacing", &stSarImageInfo::azimuthSpacing,
     "AZIMUTHSPACING AZIMUTHPIXELSPACING LINESPACING"},
};

const TextItem kTexts[] = {
    {"lookDirection", &stSarImageInfo::lookDirection, "LOOKDIRECTION LOOKSIDE ANTENNAPOINTING",
     "RIGHT LEFT"},
    {"orbitDirection", &stSarImageInfo::orbitDirection, "ORBITDIRECTION PASSDIRECTION PASS",
     "ASCENDING DESCENDING"},
    {"polarizationType", &stSarImageInfo::polarizationType, "POLARISATION POLARIZATION",
     "HH HV VH VV"},
    {"sensor", &stSarImageInfo::sensor, "MISSIONID SATELLITEIDENTIFIER MISSION SENSOR", ""},
};

// The first number of a value such as "5.405e9" or "{0.0555, 0.0556}"; 0 when none.
double positive_number(const std::string& value) {
    const std::string::size_type start = value.find_first_not_of("{ ");
    const double number = start == std::string::npos ? 0.0 : std::strtod(&value[start], nullptr);
    return number > 0.0 && number < 1e300 ? number : 0.0;
}

// The accepted word the value spells out or abbreviates; empty when none.
std::string accepted(const std::string& value, const char* words) {
    if (*words == '\0')
        return value;
    const std::string v = normalized(value);
    std::istringstream list(words);
    for (std::string w; list >> w;)
        if (v == w || (v.size() == 1 && w.size() > 2 && v[0] == w[0]))
            return w;
    return "";
}

// ENVI states wavelength units apart; radar wavelengths are in metres otherwise.
double metres_per_wavelength_unit(const Items& items) {
    const auto* units = find(items, "WAVELENGTHUNITS");
    const std::map<std::string, double> scale = {
        {"CENTIMETERS", 1e-2}, {"MILLIMETERS", 1e-3}, {"MICROMETERS", 1e-6}};
    const auto it = units ? scale.find(normalized(units->second)) : scale.end();
    return it == scale.end() ? 1.0 : it->second;
}

// Fills in whichever of wavelength and frequency the other gives.
void pair_wavelength_and_frequency(stSarImageInfo& info, std::vector<std::string>& notes) {
    if (info.radarWavelength > 0.0 && info.radarCenterFrequency == 0.0) {
        info.radarCenterFrequency = kSpeedOfLight / info.radarWavelength;
        notes.push_back("radarCenterFrequency derived from radarWavelength");
    } else if (info.radarCenterFrequency > 0.0 && info.radarWavelength == 0.0) {
        info.radarWavelength = kSpeedOfLight / info.radarCenterFrequency;
        notes.push_back("radarWavelength derived from radarCenterFrequency");
    }
}

} // namespace

void apply_radar_metadata(const std::vector<std::string>& list, stSarImageInfo& info,
                          std::vector<std::string>& notes) {
    Items items;
    for (const std::string& item : list) {
        const std::string::size_type eq = item.find('=');
        if (eq != std::string::npos)
            items.emplace(normalized(item.substr(0, eq)),
                          std::make_pair(item.substr(0, eq), item.substr(eq + 1)));
    }
    const auto found = [&](const char* name, const std::pair<std::string, std::string>& item) {
        notes.push_back(std::string(name) + " " + item.second + " from metadata item " +
                        item.first);
    };
    for (const NumberItem& n : kNumbers)
        if (const auto* item = find(items, n.keys); item && positive_number(item->second) > 0) {
            info.*n.field = positive_number(item->second);
            found(n.name, *item);
        }
    info.radarWavelength *= metres_per_wavelength_unit(items);
    pair_wavelength_and_frequency(info, notes);
    std::string defaulted;
    for (const NumberItem& n : kNumbers)
        if (info.*n.field == 0.0)
            defaulted += std::string(defaulted.empty() ? "" : ", ") + n.name + " 0";
    for (const TextItem& t : kTexts) {
        const auto* item = find(items, t.keys);
        const std::string value = item ? accepted(item->second, t.words) : "";
        if (value.empty()) {
            defaulted += std::string(defaulted.empty() ? "" : ", ") + t.name + " " + info.*t.field;
            continue;
        }
        info.*t.field = value;
        found(t.name, *item);
    }
    if (const auto* start = find(items, "ACQUISITIONSTARTTIME FIRSTLINETIME")) {
        info.rawDataStartTime = start->second;
        found("rawDataStartTime", *start);
    }
    if (!defaulted.empty())
        notes.push_back("not in the raster's metadata, written with neutral values: " + defaulted);
}

} // namespace ingest
