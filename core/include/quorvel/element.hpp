// The element model: one real function of one real variable with a closed, bounded support.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <variant>
#include <vector>

#include "quorvel/error.hpp"
#include "quorvel/profile.hpp"

namespace quorvel {

// One cubic piece c0 + c1 t + c2 t^2 + c3 t^3, t = u - a, on [a, b) of a shape's local
// coordinate u = (x - center) / stretch.
struct Segment {
    double c0, c1, c2, c3, a, b;
};
using SegmentList = std::shared_ptr<const std::vector<Segment>>;

struct Element;

struct Delta {
    double x;
};
struct Box {
    double a, b;
};
struct Hat {
    double a, c, b;
};
struct Shape {
    SegmentList segments;
    double center;
    double stretch;
    // Set on B-splines, which are non-negative: a value that rounds below 0 (next to a support
    // end, where the true value is within rounding of 0) is taken as 0. Derivatives clear it.
    bool nonnegative = false;
    // Optional (B-splines): the same pieces written from their ends, value
    // c0 + c1 s + c2 s^2 + c3 s^3 with s = b - u, exact where a piece vanishes at its end.
    // Points in the second half of a piece are valued from its end, so a value next to a support
    // end or a knot keeps its relative accuracy instead of cancelling to a few ulp of 0.
    SegmentList from_end{};
    // Optional (B-splines, NaN otherwise): the center the element reports when its pieces are
    // placed at `center` = 0 instead, where the knots center + stretch a would not all round to
    // the given doubles.
    double nominal_center = std::numeric_limits<double>::quiet_NaN();
};
struct Profile {
    ProfileKind kind;
    double center, lower, upper, cutoff;
};
enum class MapKind { Reciprocal, Affine };
struct Mapped {
    MapKind map;
    double a, b;
    std::shared_ptr<const Element> inner;
    double lower, upper;
    bool jacobian;
};

using ElementVariant = std::variant<Delta, Box, Hat, Shape, Profile, Mapped>;

struct Element : ElementVariant {
    using ElementVariant::variant;
};

struct Support {
    double lower, upper;
};

Support support(const Element& e);
double center(const Element& e);
Result<Element> derivative(const Element& e, std::uint64_t order);

// Value and slope (d/dx) at the point origin + y. Every offset from a point that defines the
// element is formed as (origin - point) + y, so an origin near the element keeps a small offset y
// exact to rounding however far from 0 the element sits: quadrature evaluates its nodes this way.
double evaluate_at(const Element& e, double origin, double y);
double slope_at(const Element& e, double origin, double y);

inline double evaluate(const Element& e, double x) {
    return evaluate_at(e, x, 0.0);
}
inline double slope(const Element& e, double x) {
    return slope_at(e, x, 0.0);
}

// Derivative of the value at origin + y with respect to a parameter of the element: Center and
// Scale for every kind, the line-shape parameters for profiles (0 outside the support).
Result<double> parameter_derivative_at(const Element& e, ParameterKind p, double origin, double y);

// {evaluate_at(e, origin, y), parameter_derivative_at(e, p, origin, y)} for a profile and a
// placement parameter (Center or Scale), bitwise, with the shape's costly factor computed once.
std::array<double, 2> value_and_placement_derivative_at(const Profile& e, ParameterKind p,
                                                        double origin, double y);

inline Result<double> parameter_derivative(const Element& e, ParameterKind p, double x) {
    return parameter_derivative_at(e, p, x, 0.0);
}

// The change of variable of a mapped element: x = forward(u), u = inverse(x), and du/dx at x.
double mapped_forward(const Mapped& m, double u);
double mapped_inverse(const Mapped& m, double x);
double mapped_du_dx(const Mapped& m, double x);

// The inner point of a mapped element at origin + y, as an origin and an offset in u, with du/dx
// there. An affine map carries the offset over exactly, u = (origin - a) / b + y / b; a
// reciprocal map has no such split and gives the inner point whole (offset 0).
struct MappedPoint {
    double origin, y, du_dx;
};
MappedPoint mapped_point(const Mapped& m, double origin, double y);

// Non-empty, finite, a < b in each segment, sorted and non-overlapping.
Status check_segments(std::span<const Segment> segments);

} // namespace quorvel
