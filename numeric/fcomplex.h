#pragma once

// One complex sample as the images, work files and transforms hold it:
// two 32-bit floats, real part first, no padding.
struct fcomplex {
    float re;
    float im;
};

static_assert(sizeof(fcomplex) == 8, "fcomplex must be two packed floats");
