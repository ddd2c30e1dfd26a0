#pragma once

#include <cstdint>

// Reference for fft_nd (same arguments and results), kept as the plain loop
// nest so the table-driven, reordered module transform can be checked
// against it bit for bit.
void fft_nd_reference(float* data, const std::uint32_t* nn, int ndim, int isign);
