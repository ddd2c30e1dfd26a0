#pragma once

#include <QString>

// Parameter record of one run; the host stores it in the algorithm object's
// parameter slot. A plain value type: copying duplicates every field.
struct stFineCoregistrationInfo {
    QString masterImagePath;
    QString slaveImagePath;
    QString offsetParPath;
    int windowHeight = 0;
    int windowWidth = 0;
    int azimuthSamples = 0;
    int rangeSamples = 0;
    bool overwriteOffsetPar = false;
    double snrThreshold = 0.0;
    double extraValue = 0.0;
    QString extraText;
};
