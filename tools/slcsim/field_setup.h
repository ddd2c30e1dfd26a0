#pragma once

#include "offset_field.h"
#include "slcsim.h"

#include <string>

namespace slcsim {

// The offset fields the options ask for, bump centres defaulting to the
// image's centre. False with a message when the offset raster cannot be
// used (the file named).
bool make_offset_fields(const SlcSimOptions& options, OffsetFields* fields, std::string* error);

// Message for field options that cannot be simulated, or empty.
std::string invalid_field_options(const SlcSimOptions& options);

} // namespace slcsim
