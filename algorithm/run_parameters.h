#pragma once

#include "algorithm/FineCoregistrationInfo.h"

// Largest window side the stage accepts: the five oversampled work arrays of
// 2W x 2H complex samples then stay below about 2.7 GB.
constexpr int kMaxWindowSide = 4096;
// Largest grid the stage accepts in either direction; keeps NA * NR and every
// progress and file-size product within 32 bits.
constexpr int kMaxGridSamples = 16384;

// Checks a parameter record before anything is opened or written. Returns the
// English failure message, or nullptr when the record can be run.
const char* check_run_parameters(const stFineCoregistrationInfo& info);
