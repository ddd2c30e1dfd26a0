#pragma once

#include "params/offset_par.h"

#include <string>

// Writes the record to path through a temporary file beside it, checked for
// write errors and renamed over path: a crash or a full disk never leaves a
// truncated offset parameter file. False (and path untouched) on any failure.
[[nodiscard]] bool write_offset_par_file(const std::string& path, const stOffsetParInfo& par);
