// The vocabulary every line-shape kind file uses. Each kind file defines, for its parameter
// record K, in namespace line_shape:
//   value(k, t), slope(k, t)           the shape and its t-derivative at t = x - center
//   value_and_slope(k, t)              optional: both, bitwise the two above, sharing their work
//   width(k)                           half width at half maximum, or a width of that role
//   step_scale(k, d)                   quadrature panel width at distance d >= 0 from the center
//   step_bound(k, d)                   optional: a bound of step_scale over [0, d] where the
//                                      steps shrink again in the tails (else step_scale(k, d))
//   extent(k, cutoff)                  left and right extents of the support for a cutoff
//   parameter_derivative(k, p, t)      derivative of the value for a line-shape parameter p
//   extent_rates(k, p, cutoff)         derivatives of the extents for that parameter
//   render(k)                          "Gaussian { sigma: 0.5 }" for messages
// and, for the kinds a Space constructor builds, its validating make_ function. The parameter
// functions return nullopt for a parameter the kind does not have. dispatch.cpp visits the
// variant and calls them, so a kind added to ProfileKind without its file does not compile.
// They are inline: value, slope and step_scale run per quadrature node and are expanded into
// the visit.
#pragma once

#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "../constants.hpp"
#include "quorvel/error.hpp"
#include "quorvel/format.hpp"
#include "quorvel/profile.hpp"

namespace quorvel::line_shape {

namespace c = constants;

// Left and right extents of a support from the center.
struct Extent {
    double left, right;
};

inline double sign(double t) {
    return t < 0.0 ? -1.0 : 1.0;
}

inline Status check_width(const char* name, double v) {
    if (v > 0.0 && v < INFINITY) return {};
    return invalid_input(std::string(name) + " must be finite and > 0, got " + fmt_fixed(v));
}

// u / (1 + u^2), also where u^2 overflows.
inline double cauchy_ratio(double u) {
    if (std::abs(u) <= 1.0) return u / (u * u + 1.0);
    const double r = 1.0 / u;
    return r / (r * r + 1.0);
}

// u / (w (1 + u^2)^2), the Lorentzian's slope factor, in an order that neither overflows nor
// underflows on the way where the result is a normal double (for |u| > 1 it is
// ((u / (1 + u^2)) / w) (1 / u) (u / (1 + u^2))).
inline double cauchy_slope(double u, double w) {
    if (std::abs(u) <= 1.0) {
        const double l = 1.0 / (u * u + 1.0);
        return (u * l / w) * l;
    }
    const double r = 1.0 / u;
    const double ul = r / (r * r + 1.0);
    return ((ul / w) * r) * ul;
}

// atan(b) - atan(a) for a <= b; for a and b of one sign as atan((b - a) / (1 + a b)), which does
// not cancel where both are large.
inline double atan_difference(double a, double b) {
    if (a <= 0.0 && b >= 0.0) return std::atan(b) - std::atan(a);
    if (a < 0.0) return atan_difference(-b, -a);
    const double ab = a * b;
    if (ab >= 0x1p100) return (1.0 / a - 1.0 / b) / (1.0 + 1.0 / ab); // 1 + ab would lose 1
    return std::atan((b - a) / (1.0 + ab));
}

inline bool zero_or_positive_finite(double v) {
    return v == 0.0 || (v > 0.0 && v < INFINITY);
}

// "name: value" with the value in debug form.
inline std::string field(std::string_view name, double v) {
    return std::string(name) + ": " + fmt_debug(v);
}

} // namespace quorvel::line_shape
