// The Faddeeva function w(z) = exp(-z^2) erfc(-iz) in the upper half plane.
#pragma once

namespace quorvel {

struct ComplexValue {
    double re, im;
};

// w(x + iy) by Weideman's 40-term rational series; the coefficient table is built once per
// process on first use.
ComplexValue faddeeva(double x, double y);

} // namespace quorvel
