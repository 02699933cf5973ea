// The vocabulary every line-shape kind file uses. Each kind file (one per alternative of
// ProfileKind; kinds.hpp states the required set as the concept LineShapeKind) defines, for its
// parameter record K, in namespace line_shape:
//   Descriptor<K>                      its name, wire number, stored fields and remake
//   value(k, t), slope(k, t)           the shape and its t-derivative at t = x - center
//   width(k)                           half width at half maximum, or a width of that role
//   step_scale(k, d)                   quadrature panel width at distance d >= 0 from the center
//   extent(k, cutoff)                  left and right extents of the support for a cutoff
// and optionally
//   value_and_slope(k, t)              both, bitwise the two above, sharing their work
//   step_bound(k, d)                   a bound of step_scale over [0, d] where the steps shrink
//                                      again in the tails (else step_scale(k, d))
//   integral(k, a, b)                  the integral of the value over offsets [a, b], closed form
//   parameter_derivative(k, p, t)      derivative of the value for a line-shape parameter p
//   extent_rates(k, p, cutoff)         derivatives of the extents for that parameter
//   values_many(kinds, t, out, lists)  values at many offsets together (HasValuesMany)
//   joint_constant, joint_rate, joint_values
//                                      value, slope and parameter derivatives from one
//                                      evaluation (HasJointRates)
// (the last two return nullopt for a parameter the kind does not have; a kind without them has
// no line-shape parameters), and, for the kinds a Space constructor builds, its validating make_
// function. They are inline: value, slope and step_scale run per quadrature node and are
// expanded into the visits of dispatch.cpp.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "quorvel/constants.hpp"
#include "quorvel/error.hpp"
#include "quorvel/format.hpp"
#include "quorvel/profile.hpp"

namespace quorvel::line_shape {

namespace c = constants;

// Whether a stored field is one of the kind's free parameters (serialized, and given to its
// make_ function) or derived from them at construction (inv_peak).
enum class Stored { Free, Derived };

// A field of a kind record: its name (as rendered in messages), the member, and its role.
template <class K, class T> struct Field {
    std::string_view name;
    T K::*member;
    Stored stored;
};

template <class K, class T> constexpr Field<K, T> free_field(std::string_view name, T K::*member) {
    return {name, member, Stored::Free};
}
template <class K, class T>
constexpr Field<K, T> derived_field(std::string_view name, T K::*member) {
    return {name, member, Stored::Derived};
}

// Everything about a kind that is not numerics, specialised in each kind file:
//   name     the variant name, as rendered in messages
//   one, many  the family as a description names one element or several ("smoothed box")
//   wire     its number in serialized data (never reused or changed), or nullopt for a kind
//            that is never an element of a space
//   fields   a tuple of Field, in rendering order
//   remake   the kind rebuilt from its free fields through the checks of its constructor
template <class K> struct Descriptor;

// A line shape's value and slope at a point with its derivatives by up to two of its parameters.
struct JointValues {
    double value, slope;
    std::array<double, 2> rates;
};

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

// u / (w (1 + u^2)^2), the slope factor of 1 / (1 + u^2), in an order that neither overflows nor
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


} // namespace quorvel::line_shape
