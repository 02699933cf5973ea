// The point origin + y of the local evaluations (evaluate_at, slope_at, parameter_derivative_at)
// as seen from a point p that defines an element.
#pragma once

namespace quorvel {

// Offsets are formed as (origin - p) + y: the difference of nearby doubles is exact, so a small y
// keeps its precision wherever the element sits. Comparisons are made against p - origin, which
// is exactly equivalent to comparing that offset with 0 (the sign of a rounded sum is exact) and
// saves a rounding per test. With y = 0 every operation is the plain one at x = origin.
struct LocalPoint {
    double origin, y;

    double from(double p) const { return (origin - p) + y; } // x - p
    double to(double p) const { return (p - origin) - y; }   // p - x
    bool before(double p) const { return y < p - origin; }   // x < p
    bool after(double p) const { return y > p - origin; }    // x > p
    bool at(double p) const { return y == p - origin; }      // x == p
    bool outside(double lo, double hi) const { return before(lo) || after(hi); }
};

} // namespace quorvel
