#pragma once

#include <string>

struct stStateVector {
    double xPosition;
    double yPosition;
    double zPosition;
    double xVelocity;
    double yVelocity;
    double zVelocity;
};

// Image parameter record read from the XML file beside an SLC image. The
// constructor initialises only the strings; the reader sets the rest.
struct stSarImageInfo {
    std::string sensor;
    std::string rawDataStartTime;
    std::string orbitDirection;
    std::string lookDirection;
    double azimuthAngle;
    std::string imageGeometry;
    std::string polarizationMode;
    std::string polarizationType;
    double startTime;
    double centerTime;
    double endTime;
    double azimuthLineTime;
    double nearSlantRange;
    double centerSlantRange;
    double farSlantRange;
    double sceneCenterLatitude;
    double sceneCenterLongitude;
    double incidenceAngle;
    double headingAngle;
    int numberOfColumns;
    int numberOfRows;
    int azimuthLooks;
    int rangeLooks;
    double slantRangeSpacing;
    double azimuthSpacing;
    std::string imageDataType;
    std::string azimuthDeskew;
    double radarWavelength;
    double radarCenterFrequency;
    double adcSamplingRate;
    double chirpBandWidth;
    double pulseRepetitionFrequency;
    double azimuthProcBandwidth;
    double dopplerCentroidCoefficients[4];
    double sarToEarthCenter;
    double earthRadiusBelowSensor;
    double earthSemiMajorAxis;
    double earthSemiMinorAxis;
    int numStateVectors;
    double firstStateTime;
    double stateVectorTimeSpacing;
    stStateVector stateVector[255];
};

// Parses the file (byte-string path) into info. False when the file cannot be
// parsed, "azimuthAngle" is missing, or the last state vector number differs
// from numStateVectors. A missing or unconvertible numeric element throws the
// property tree's exception to the caller.
bool read_sar_image_xml(std::string path, stSarImageInfo& info);
