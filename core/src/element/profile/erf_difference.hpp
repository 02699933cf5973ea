// Differences of error functions without cancellation, for the smoothed box.
#pragma once

namespace quorvel {

// Stable erf(b) - erf(a) for a <= b, with full relative accuracy in the tails.
double erf_difference(double a, double b);

// (erf(m + h) - erf(m - h)) / h for 0 <= h <= m and 4 m h < 1 (a window narrow against its
// distance from 0, where the difference of erfc values would cancel), by a series about m.
double erf_narrow_window(double m, double h);

} // namespace quorvel
