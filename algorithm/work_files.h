#pragma once

#include "params/file_naming.h"

#include <string>

// Draws "Temp_<n>" in the directory of masterPath (a native byte string; the
// directory is everything up to its last "/") such that no other live run
// uses it: several slaves are routinely co-registered against one master at
// once. The draw is seeded from a fine clock and the process id, repeated
// while any of the five names exists, and the offsets file is created
// exclusively as the reservation. Returns false when no name can be reserved
// (for example an unwritable directory); stage 1 then reports the failure.
bool reserve_work_files(const std::string& masterPath, WorkFiles& files);
