// Tabulated shapes: piecewise linear interpolation of a point table, one linear segment per
// interval, and monotone piecewise cubic Hermite (PCHIP) interpolation with Fritsch-Carlson
// slopes by the weighted harmonic mean inside and the shape-preserving three-point formula at
// the ends.
#include "interpolation.hpp"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "quorvel/element_checks.hpp"
#include "quorvel/format.hpp"

namespace quorvel {

namespace {

// Equal lengths >= 2, then every x, then every y finite, then x strictly increasing.
Status check_shape_table(Values xs, Values ys) {
    if (xs.size() != ys.size() || xs.size() < 2)
        return invalid_input("a tabulated shape needs x and y of equal length >= 2");
    for (double v : xs) {
        if (!std::isfinite(v)) return invalid_input("a tabulated shape must be finite");
    }
    for (double v : ys) {
        if (!std::isfinite(v)) return invalid_input("a tabulated shape must be finite");
    }
    for (std::size_t k = 1; k < xs.size(); ++k) {
        if (!(xs[k - 1] < xs[k]))
            return invalid_input("a tabulated shape needs strictly increasing x");
    }
    return {};
}

// Signs are sign bits, so -0 and +0 differ; NaN has no sign and matches nothing.
bool same_sign(double p, double q) {
    return !std::isnan(p) && !std::isnan(q) && std::signbit(p) == std::signbit(q);
}

// End slope from the two intervals next to the end (h0, delta0 the outer one), kept from
// overshooting: zero when it points against the data, at most 3 delta0 where the data turn.
double end_slope(double h0, double h1, double delta0, double delta1) {
    if (std::isnan(delta0)) return 0.0;
    const double d = ((2.0 * h0 + h1) * delta0 - h0 * delta1) / (h0 + h1);
    if (!same_sign(d, delta0)) return 0.0;
    if (!same_sign(delta1, delta0) && 3.0 * std::abs(delta0) < std::abs(d)) return 3.0 * delta0;
    return d;
}

// The abscissae divided by the table's representation scale (exactly: it is a power of two).
std::vector<double> scaled(Values xs, double scale) {
    std::vector<double> out(xs.begin(), xs.end());
    if (scale != 1.0) {
        for (double& v : out)
            v /= scale;
    }
    return out;
}

// One cubic segment per interval with the Hermite slopes d.
Result<ScaledShape> pchip_shape(Values table_x, Values ys) {
    QUORVEL_TRY(check_shape_table(table_x, ys));
    const std::size_t n = table_x.size();
    const double scale = representation_scale(table_x[n - 1] - table_x[0]);
    const std::vector<double> xs = scaled(table_x, scale);
    std::vector<double> h(n - 1), delta(n - 1), d(n);
    for (std::size_t k = 0; k + 1 < n; ++k) {
        h[k] = xs[k + 1] - xs[k];
        delta[k] = (ys[k + 1] - ys[k]) / h[k];
    }
    if (n == 2) {
        d[0] = d[1] = delta[0];
    } else {
        for (std::size_t k = 1; k + 1 < n; ++k) {
            if (delta[k - 1] * delta[k] > 0.0) {
                const double w1 = 2.0 * h[k] + h[k - 1];
                const double w2 = h[k] + 2.0 * h[k - 1];
                d[k] = (w1 + w2) / (w1 / delta[k - 1] + w2 / delta[k]);
            } else {
                d[k] = 0.0;
            }
        }
        d[0] = end_slope(h[0], h[1], delta[0], delta[1]);
        d[n - 1] = end_slope(h[n - 2], h[n - 3], delta[n - 2], delta[n - 3]);
    }
    std::vector<Segment> segments;
    segments.reserve(n - 1);
    for (std::size_t k = 0; k + 1 < n; ++k) {
        const double c2 = (3.0 * delta[k] - 2.0 * d[k] - d[k + 1]) / h[k];
        const double c3 = (d[k] + d[k + 1] - 2.0 * delta[k]) / (h[k] * h[k]);
        segments.push_back(Segment{ys[k], d[k], c2, c3, xs[k], xs[k + 1]});
    }
    // Coefficients that overflowed to infinity are rejected here.
    QUORVEL_TRY(check_segments(segments));
    return ScaledShape{std::make_shared<const std::vector<Segment>>(std::move(segments)), scale};
}

} // namespace

Result<Interpolation> parse_interpolation(std::string_view text) {
    if (const auto interp = find_named(interpolation_names, text)) return *interp;
    return invalid_input("interpolation must be " + quoted_alternatives(interpolation_names) +
                         ", got " + fmt_quoted(text));
}

Result<ScaledShape> linear_shape(Values table_x, Values ys) {
    QUORVEL_TRY(check_shape_table(table_x, ys));
    const double scale = representation_scale(table_x.back() - table_x.front());
    const std::vector<double> xs = scaled(table_x, scale);
    std::vector<Segment> segments;
    segments.reserve(xs.size() - 1);
    for (std::size_t k = 0; k + 1 < xs.size(); ++k) {
        const double slope = (ys[k + 1] - ys[k]) / (xs[k + 1] - xs[k]);
        segments.push_back(Segment{ys[k], slope, 0.0, 0.0, xs[k], xs[k + 1]});
    }
    QUORVEL_TRY(check_segments(segments));
    return ScaledShape{std::make_shared<const std::vector<Segment>>(std::move(segments)), scale};
}

Result<ScaledShape> interpolated_shape(Values xs, Values ys, Interpolation interp) {
    return interp == Interpolation::Linear ? linear_shape(xs, ys) : pchip_shape(xs, ys);
}

} // namespace quorvel
