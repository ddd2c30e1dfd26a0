#pragma once

#include "params/sar_image_xml.h"

#include <string>

// Writes an XML image parameter file holding every element read_sar_image_xml
// reads, with the record's values (numbers at full precision, strings
// verbatim) and stateVector elements numbered 1..numStateVectors. False when
// numStateVectors is outside 0..255 or the file cannot be written.
bool write_sar_image_xml(const std::string& path, const stSarImageInfo& info);

// A record the writer turns into a minimal valid file: the given raster and
// sample format, the reader's defaults for the strings, one look in each
// direction, every other number 0 and no state vectors.
stSarImageInfo make_sar_image_info(int number_of_columns, int number_of_rows,
                                   const std::string& image_data_type);
