// The Faddeeva function w(z) = exp(-z^2) erfc(-iz) in the upper half plane.
#pragma once

#include <span>

namespace quorvel {

struct ComplexValue {
    double re, im;
};

struct WithSlope {
    ComplexValue w, slope;
};

// w(x + iy) for y >= 0, each part to a relative error of a few 1e-14 (where it is not near
// a zero crossing) for every finite x and y; infinite or NaN arguments give NaN. For y < 0 the
// value is that of Weideman's 40-term rational series, which is not an approximation there.
// The series' coefficient table is built once per process on first use.
ComplexValue faddeeva(double x, double y);

// The instruction sets faddeeva_re_many can run on: the best one the processor has, or the
// baseline one; both give the same bits.
enum class LaneSet { Best, Baseline };

// re[k] = faddeeva(x[k], y[k]).re for every k, bit for bit, for many points at once (faster than
// one by one).
void faddeeva_re_many(std::span<const double> x, std::span<const double> y, double* re,
                      LaneSet set = LaneSet::Best);

// w(x + iy) and its slope w'(z) = -2 z w(z) + 2i / sqrt(pi), the slope computed without the
// cancellation of that formula at large |z| (where w' ~ -i / (sqrt(pi) z^2)).
WithSlope faddeeva_with_slope(double x, double y);

} // namespace quorvel
