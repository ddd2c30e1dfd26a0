#pragma once

// The fitted offsets of a pair: slave position = master position + offset,
// c0..c5 of 1, x, y, x*y, x^2, y^2 at master range sample x and line y.
struct OffsetPolynomials {
    double range[6] = {0, 0, 0, 0, 0, 0};
    double azimuth[6] = {0, 0, 0, 0, 0, 0};
};
