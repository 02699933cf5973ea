// Rectangles, triangles, trapezoids, tabulated and shifted shapes placed at centers. Parameter
// arrays hold one shared entry or one per center; their lengths are checked before any element
// is built, and the first failing element ends the call.
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorvel/element_checks.hpp"
#include "interpolation.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/format.hpp"

namespace quorvel {

namespace {

// The trapezoid of plateau half width `top` and base half width `bottom`, plateau value 1.
Result<ScaledShape> trapezoid_shape(double top, double bottom) {
    if (!(std::isfinite(top) && top >= 0.0 && std::isfinite(bottom) && top <= bottom &&
          bottom > 0.0))
        return invalid_input("trapezoid needs 0 <= top <= bottom, bottom > 0; got " +
                             fmt_fixed(top) + ", " + fmt_fixed(bottom));
    if (top == bottom)
        return ScaledShape{std::make_shared<const std::vector<Segment>>(
                               std::vector<Segment>{Segment{1.0, 0.0, 0.0, 0.0, -bottom, bottom}}),
                           1.0};
    // A zero plateau leaves the triangle of half base `bottom`.
    if (top == 0.0) {
        const std::array xs{-bottom, -top, bottom};
        const std::array ys{0.0, 1.0, 0.0};
        return linear_shape(xs, ys);
    }
    const std::array xs{-bottom, -top, top, bottom};
    const std::array ys{0.0, 1.0, 1.0, 0.0};
    return linear_shape(xs, ys);
}

Status check_length(const char* what, std::size_t k, std::size_t n) {
    if (k == 1 || k == n) return {};
    return invalid_input(std::string(what) + " has length " + std::to_string(k) +
                         ", expected 1 or " + std::to_string(n));
}

// Entry i of a parameter array, or its single shared entry.
double entry(Values values, std::size_t i) {
    return values.size() == 1 ? values[0] : values[i];
}

// A shape at a finite center with a finite stretch can still reach infinity at its ends, or
// have ends too far apart for a double, when the stretch or the center is huge; such an element
// could not be integrated. The stored stretch includes the shape's representation scale.
Result<Element> placed_shape(const ScaledShape& shape, double center, double stretch) {
    QUORVEL_TRY(check_piecewise_placement(center, stretch));
    const Element e = Shape{shape.segments, center, stretch * shape.scale};
    const Support s = support(e);
    if (!std::isfinite(s.lower) || !std::isfinite(s.upper))
        return invalid_input("piecewise element support must be finite, got [" +
                             fmt_fixed(s.lower) + ", " + fmt_fixed(s.upper) + "]");
    QUORVEL_TRY(check_support_width("piecewise element", s.lower, s.upper));
    return e;
}

} // namespace

namespace {

// One element per center, made from the center and its entry of a parameter with 1 or
// len(centers) values, after that parameter's length rule.
template <class Make>
Result<Elements> per_center(const char* name, Values centers, Values parameter, Make make) {
    QUORVEL_TRY(check_length(name, parameter.size(), centers.size()));
    Elements out;
    out.reserve(centers.size());
    for (std::size_t i = 0; i < centers.size(); ++i) {
        QUORVEL_TRY_ASSIGN(Element e, make(centers[i], entry(parameter, i)));
        out.push_back(std::move(e));
    }
    return out;
}

} // namespace

Result<Elements> rectangles(Values centers, Values widths) {
    return per_center("widths", centers, widths, [](double x0, double w) -> Result<Element> {
        const double a = x0 - w * 0.5;
        const double b = x0 + w * 0.5;
        QUORVEL_TRY(check_box(a, b));
        QUORVEL_TRY(check_support_width("box", a, b));
        return Box{a, b};
    });
}

Result<Elements> triangles(Values centers, Values hwhm) {
    return per_center("hwhm", centers, hwhm, [](double x0, double h) -> Result<Element> {
        // Feet at twice the half width at half maximum from the peak.
        const double a = x0 - h * 2.0;
        const double b = x0 + h * 2.0;
        QUORVEL_TRY(check_hat(a, x0, b));
        QUORVEL_TRY(check_support_width("hat", a, b));
        return Hat{a, x0, b};
    });
}

Result<Elements> trapezoids(Values centers, Values top, Values bottom) {
    const std::size_t n = centers.size();
    QUORVEL_TRY(check_length("top", top.size(), n));
    QUORVEL_TRY(check_length("bottom", bottom.size(), n));
    // One shared pair gives one shared segment list, validated even when there is no center.
    std::optional<ScaledShape> shared;
    if (top.size() == 1 && bottom.size() == 1) {
        QUORVEL_TRY_ASSIGN(shared, trapezoid_shape(top[0], bottom[0]));
    }
    Elements out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::optional<ScaledShape> shape = shared;
        if (!shape) {
            QUORVEL_TRY_ASSIGN(shape, trapezoid_shape(entry(top, i), entry(bottom, i)));
        }
        QUORVEL_TRY_ASSIGN(Element e, placed_shape(*shape, centers[i], 1.0));
        out.push_back(std::move(e));
    }
    return out;
}

Result<Elements> tabulated(Values centers, const Tables& x, const Tables& y, Interpolation interp) {
    const std::size_t n = centers.size();
    if (y.rows != n)
        return invalid_input("y has " + std::to_string(y.rows) + " shapes, expected " +
                             std::to_string(n));
    if (x.rows != 1 && x.rows != n)
        return invalid_input("x has " + std::to_string(x.rows) + " shapes, expected 1 or " +
                             std::to_string(n));
    Elements out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        QUORVEL_TRY_ASSIGN(const ScaledShape shape,
                           interpolated_shape(x.row(x.rows == 1 ? 0 : i), y.row(i), interp));
        QUORVEL_TRY_ASSIGN(Element e, placed_shape(shape, centers[i], 1.0));
        out.push_back(std::move(e));
    }
    return out;
}

Result<Elements> shifted(Values shape_x, Values shape_y, Values centers, Values stretch,
                         Interpolation interp) {
    QUORVEL_TRY_ASSIGN(const ScaledShape shape, interpolated_shape(shape_x, shape_y, interp));
    return per_center("stretch", centers, stretch,
                      [&](double center, double s) { return placed_shape(shape, center, s); });
}

} // namespace quorvel
