#include "ingest/radar_metadata.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>

namespace ingest {

namespace {

constexpr double kSpeedOfLight = 299792458.0;

std::string normalized_key(const std::string& key) {
    std::string out;
    for (char c : key)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Item values by normalized key, the first occurrence winning; keeps the
// original key for the notes.
struct Items {
    std::map<std::string, std::pair<std::string, std::string>> by_key;

    explicit Items(const std::vector<std::string>& list) {
        for (const std::string& item : list) {
            const std::string::size_type eq = item.find('=');
            if (eq != std::string::npos)
                by_key.emplace(normalized_key(item.substr(0, eq)),
                               std::make_pair(item.substr(0, eq), item.substr(eq + 1)));
        }
    }
    // The first of keys present: (original key, value).
    std::optional<std::pair<std::string, std::string>>
    find(std::initializer_list<const char*> keys) const {
        for (const char* key : keys) {
            const auto it = by_key.find(key);
            if (it != by_key.end() && !it->second.second.empty())
                return it->second;
        }
        return std::nullopt;
    }
};

// The first number of a value such as "5.405e9", "{0.0555}" or "0.0555, 0.0556".
std::optional<double> first_number(const std::string& value) {
    const char* text = value.c_str();
    while (*text == '{' || *text == ' ')
        text++;
    char* end = nullptr;
    const double number = std::strtod(text, &end);
    if (end == text || !(number > 0.0) || number > 1e300)
        return std::nullopt;
    return number;
}

// ENVI states wavelength units separately; radar wavelengths are in metres otherwise.
double metres_per_wavelength_unit(const Items& items) {
    const auto units = items.find({"wavelengthunits"});
    const std::string u = units ? normalized_key(units->second) : "meters";
    const std::map<std::string, double> scale = {
        {"centimeters", 1e-2}, {"millimeters", 1e-3}, {"micrometers", 1e-6}, {"nanometers", 1e-9}};
    const auto it = scale.find(u);
    return it == scale.end() ? 1.0 : it->second;
}

class Applier {
public:
    Applier(const Items& items, std::vector<std::string>& notes) : items_(items), notes_(notes) {}

    // Sets the number from the first key present; false when none is.
    bool number(const char* field, std::initializer_list<const char*> keys, double& target,
                double scale = 1.0) {
        const auto item = items_.find(keys);
        const std::optional<double> value = item ? first_number(item->second) : std::nullopt;
        if (!value)
            return false;
        target = *value * scale;
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", target);
        found(field, item->first, text);
        return true;
    }

    // Sets the text from the first key present when `accept` takes it (the
    // text then normalized by `accept`); false otherwise.
    template <typename Accept>
    bool text(const char* field, std::initializer_list<const char*> keys, std::string& target,
              Accept accept) {
        auto item = items_.find(keys);
        if (!item || !accept(item->second))
            return false;
        target = item->second;
        found(field, item->first, target);
        return true;
    }

    void defaulted(const char* field, const std::string& value) {
        defaulted_ += (defaulted_.empty() ? "" : ", ") + std::string(field) + " " + value;
    }

    void finish() {
        if (!defaulted_.empty())
            notes_.push_back("not in the raster's metadata, written with neutral values: " +
                             defaulted_);
    }

private:
    void found(const char* field, const std::string& key, const std::string& value) {
        notes_.push_back(std::string(field) + " " + value + " from metadata item " + key);
    }
    const Items& items_;
    std::vector<std::string>& notes_;
    std::string defaulted_;
};

bool accept_direction(std::string& value, std::initializer_list<const char*> words) {
    const std::string u = upper(value);
    for (const char* word : words)
        if (u == word || (u.size() == 1 && u[0] == word[0])) {
            value = word;
            return true;
        }
    return false;
}

void wavelength_and_frequency(const Items& items, Applier& apply, stSarImageInfo& info,
                              std::vector<std::string>& notes) {
    const bool wavelength =
        apply.number("radarWavelength", {"radarwavelength", "wavelength", "centerwavelength"},
                     info.radarWavelength, metres_per_wavelength_unit(items));
    const bool frequency = apply.number(
        "radarCenterFrequency",
        {"radarcenterfrequency", "radarfrequency", "centerfrequency", "carrierfrequency"},
        info.radarCenterFrequency);
    if (frequency && info.radarCenterFrequency < 1e3) { // stated in GHz
        info.radarCenterFrequency *= 1e9;
        notes.push_back("radarCenterFrequency taken as GHz");
    }
    if (wavelength && !frequency) {
        info.radarCenterFrequency = kSpeedOfLight / info.radarWavelength;
        notes.push_back("radarCenterFrequency derived from radarWavelength");
    } else if (frequency && !wavelength) {
        info.radarWavelength = kSpeedOfLight / info.radarCenterFrequency;
        notes.push_back("radarWavelength derived from radarCenterFrequency");
    } else if (!wavelength) {
        apply.defaulted("radarWavelength", "0");
        apply.defaulted("radarCenterFrequency", "0");
    }
}

} // namespace

void apply_radar_metadata(const std::vector<std::string>& list, stSarImageInfo& info,
                          std::vector<std::string>& notes) {
    const Items items(list);
    Applier apply(items, notes);
    wavelength_and_frequency(items, apply, info, notes);
    if (!apply.number("pulseRepetitionFrequency", {"pulserepetitionfrequency", "prf"},
                      info.pulseRepetitionFrequency))
        apply.defaulted("pulseRepetitionFrequency", "0");
    if (!apply.number("adcSamplingRate",
                      {"adcsamplingrate", "rangesamplingrate", "rangesamplingfrequency"},
                      info.adcSamplingRate))
        apply.defaulted("adcSamplingRate", "0");
    if (!apply.number("slantRangeSpacing",
                      {"slantrangespacing", "rangepixelspacing", "pixelspacing"},
                      info.slantRangeSpacing))
        apply.defaulted("slantRangeSpacing", "0");
    if (!apply.number("azimuthSpacing", {"azimuthspacing", "azimuthpixelspacing", "linespacing"},
                      info.azimuthSpacing))
        apply.defaulted("azimuthSpacing", "0");
    const auto look = [](std::string& v) { return accept_direction(v, {"RIGHT", "LEFT"}); };
    if (!apply.text("lookDirection", {"lookdirection", "lookside", "antennapointing"},
                    info.lookDirection, look))
        apply.defaulted("lookDirection", info.lookDirection);
    const auto pass = [](std::string& v) {
        return accept_direction(v, {"ASCENDING", "DESCENDING"});
    };
    if (!apply.text("orbitDirection", {"orbitdirection", "passdirection", "pass"},
                    info.orbitDirection, pass))
        apply.defaulted("orbitDirection", info.orbitDirection);
    const auto polarization = [](std::string& v) {
        v = upper(v);
        return v.size() == 2 &&
               std::all_of(v.begin(), v.end(), [](char c) { return c == 'H' || c == 'V'; });
    };
    if (!apply.text("polarizationType", {"polarisation", "polarization"}, info.polarizationType,
                    polarization))
        apply.defaulted("polarizationType", info.polarizationType);
    const auto any = [](std::string&) { return true; };
    if (!apply.text("sensor", {"missionid", "satelliteidentifier", "mission", "sensor"},
                    info.sensor, any))
        apply.defaulted("sensor", info.sensor);
    apply.text("rawDataStartTime", {"acquisitionstarttime", "firstlinetime"}, info.rawDataStartTime,
               any);
    apply.finish();
}

} // namespace ingest
