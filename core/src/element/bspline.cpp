// B-splines of a knot vector as shapes, one cubic segment per non-empty knot interval; the
// clamped and periodic families build their knot vectors and call the same procedure.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "checks.hpp"
#include "quorvel/constructors.hpp"

namespace quorvel {

namespace {

constexpr std::uint64_t max_degree = 3;

std::unexpected<CoreError> degree_error(std::uint64_t d) {
    return invalid_input("B-spline degree must be 0..=3, got " + std::to_string(d));
}

// B-spline i of degree d at x by the Cox-de Boor recursion; a term whose denominator is not
// positive contributes nothing.
double cox_de_boor(const std::vector<double>& t, std::size_t i, std::size_t d, double x) {
    std::array<double, max_degree + 1> n{};
    for (std::size_t j = 0; j <= d; ++j)
        n[j] = (t[i + j] <= x && x < t[i + j + 1]) ? 1.0 : 0.0;
    for (std::size_t p = 1; p <= d; ++p) {
        for (std::size_t j = 0; j + p <= d; ++j) {
            const std::size_t k = i + j;
            double v = 0.0;
            const double left = t[k + p] - t[k];
            if (left > 0.0) v += (x - t[k]) / left * n[j];
            const double right = t[k + p + 1] - t[k + 1];
            if (right > 0.0) v += (t[k + p + 1] - x) / right * n[j + 1];
            n[j] = v;
        }
    }
    return n[0];
}

// Solves the Vandermonde system V q = y (rows 1, s, s^2, s^3 up to degree d) by Gaussian
// elimination with partial pivoting; among equal pivot magnitudes the later row wins.
std::array<double, max_degree + 1> solve_vandermonde(const std::array<double, max_degree + 1>& s,
                                                     std::array<double, max_degree + 1> y,
                                                     std::size_t d) {
    const std::size_t m = d + 1;
    std::array<std::array<double, max_degree + 1>, max_degree + 1> a{};
    for (std::size_t r = 0; r < m; ++r) {
        double power = 1.0;
        for (std::size_t c = 0; c < m; ++c) {
            a[r][c] = power;
            power *= s[r];
        }
    }
    for (std::size_t k = 0; k < m; ++k) {
        std::size_t pivot = k;
        for (std::size_t r = k + 1; r < m; ++r) {
            if (std::abs(a[r][k]) >= std::abs(a[pivot][k])) pivot = r;
        }
        std::swap(a[k], a[pivot]);
        std::swap(y[k], y[pivot]);
        for (std::size_t r = k + 1; r < m; ++r) {
            const double f = a[r][k] / a[k][k];
            for (std::size_t c = k; c < m; ++c)
                a[r][c] -= f * a[k][c];
            y[r] -= f * y[k];
        }
    }
    std::array<double, max_degree + 1> q{};
    for (std::size_t k = m; k-- > 0;) {
        double v = y[k];
        for (std::size_t c = k + 1; c < m; ++c)
            v -= a[k][c] * q[c];
        q[k] = v / a[k][k];
    }
    return q;
}

// The B-splines of a knot vector whose degree is already known to be at most 3.
Result<Elements> bsplines_of(const std::vector<double>& t, std::size_t d) {
    const std::size_t m = t.size();
    if (m < d + 2)
        return invalid_input("degree " + std::to_string(d) + " B-splines need at least " +
                             std::to_string(d + 2) + " knots");
    for (std::size_t k = 0; k < m; ++k) {
        if (!std::isfinite(t[k]) || (k + 1 < m && t[k] > t[k + 1]))
            return invalid_input("knots must be finite and nondecreasing");
    }

    std::array<double, max_degree + 1> s{};
    for (std::size_t l = 0; l <= d; ++l)
        s[l] = (static_cast<double>(l) + 0.5) / static_cast<double>(d + 1);

    Elements out;
    out.reserve(m - d - 1);
    for (std::size_t i = 0; i + d + 1 < m; ++i) {
        if (t[i + d + 1] <= t[i])
            return invalid_input("B-spline " + std::to_string(i) +
                                 " has empty support (knot multiplicity > degree + 1)");
        const double center = (t[i] + t[i + d + 1]) * 0.5;
        std::vector<Segment> segments;
        segments.reserve(d + 1);
        for (std::size_t k = i; k <= i + d; ++k) {
            if (!(t[k] < t[k + 1])) continue;
            const double h = t[k + 1] - t[k];
            std::array<double, max_degree + 1> values{};
            for (std::size_t l = 0; l <= d; ++l)
                values[l] = cox_de_boor(t, i, d, t[k] + h * s[l]);
            const auto q = solve_vandermonde(s, values, d);
            // From the unit variable tau = (x - t[k]) / h to the segment variable x - t[k].
            std::array<double, max_degree + 1> c{};
            double hp = 1.0;
            for (std::size_t p = 0; p <= d; ++p) {
                c[p] = q[p] / hp;
                hp *= h;
            }
            segments.push_back({c[0], c[1], c[2], c[3], t[k] - center, t[k + 1] - center});
        }
        QUORVEL_TRY(check_segments(segments));
        QUORVEL_TRY(check_piecewise_placement(center, 1.0));
        out.emplace_back(
            Shape{std::make_shared<const std::vector<Segment>>(std::move(segments)), center, 1.0});
    }
    return out;
}

// The nearer of the two breakpoints around y when it lies within the tolerance, else y itself:
// wrapped pieces then meet the breakpoints exactly. Taking the nearer one (not the first one
// within reach) keeps an end that already is a breakpoint where it is when breakpoints lie
// closer together than the tolerance.
double snap(Values b, double y, double tolerance) {
    const std::size_t n = b.size();
    const auto j = static_cast<std::size_t>(std::lower_bound(b.begin(), b.end(), y) - b.begin());
    const double first = b[j == 0 ? 0 : j - 1];
    const double second = b[std::min(j, n - 1)];
    const double d1 = std::abs(first - y);
    const double d2 = std::abs(second - y);
    if (d1 < tolerance && d1 <= d2) return first;
    if (d2 < tolerance) return second;
    return y;
}

std::string plus_one(std::uint64_t d) {
    if (d == std::numeric_limits<std::uint64_t>::max()) return "18446744073709551616";
    return std::to_string(d + 1);
}

} // namespace

Result<Elements> bsplines(Values knots, std::uint64_t degree) {
    if (degree > max_degree) return degree_error(degree);
    return bsplines_of(std::vector<double>(knots.begin(), knots.end()),
                       static_cast<std::size_t>(degree));
}

Result<Elements> bsplines_clamped(Values breakpoints, std::uint64_t degree) {
    QUORVEL_TRY(check_strictly_increasing("breakpoints", breakpoints));
    if (degree > max_degree) return degree_error(degree);
    const auto d = static_cast<std::size_t>(degree);
    std::vector<double> t;
    t.reserve(breakpoints.size() + 2 * d);
    t.insert(t.end(), d, breakpoints.front());
    t.insert(t.end(), breakpoints.begin(), breakpoints.end());
    t.insert(t.end(), d, breakpoints.back());
    return bsplines_of(t, d);
}

Result<Elements> bsplines_periodic(Values breakpoints, std::uint64_t degree) {
    QUORVEL_TRY(check_strictly_increasing("breakpoints", breakpoints));
    const std::size_t n = breakpoints.size();
    const std::size_t intervals = n - 1;
    if (degree > max_degree || degree >= intervals)
        return invalid_input("periodic degree-" + std::to_string(degree) +
                             " B-splines need degree <= 3 and at least " + plus_one(degree) +
                             " intervals");
    const auto d = static_cast<std::size_t>(degree);
    const Values b = breakpoints;
    const double period = b[n - 1] - b[0];

    std::vector<double> t;
    t.reserve(n + 2 * d);
    for (std::size_t j = 0; j < d; ++j)
        t.push_back(b[n - 1 - d + j] - period);
    t.insert(t.end(), b.begin(), b.end());
    for (std::size_t j = 1; j <= d; ++j)
        t.push_back(b[j] + period);

    QUORVEL_TRY_ASSIGN(const Elements splines, bsplines_of(t, d));

    const double wrap_tolerance = period * 1e-12;
    const double snap_tolerance = period * 1e-9;
    Elements out;
    out.reserve(intervals);
    for (std::size_t i = 0; i < intervals; ++i) {
        const auto& shape = std::get<Shape>(splines[i]);
        std::vector<Segment> wrapped;
        wrapped.reserve(shape.segments->size());
        // Pieces left of the period move right by one period, pieces right of it move left.
        for (const Segment& seg : *shape.segments) {
            const double lo = shape.center + seg.a;
            const double hi = shape.center + seg.b;
            double shift = 0.0;
            if (hi <= b[0] + wrap_tolerance)
                shift = period;
            else if (lo >= b[0] + period - wrap_tolerance)
                shift = -period;
            wrapped.push_back({seg.c0, seg.c1, seg.c2, seg.c3, snap(b, lo + shift, snap_tolerance),
                               snap(b, hi + shift, snap_tolerance)});
        }
        std::stable_sort(wrapped.begin(), wrapped.end(),
                         [](const Segment& x, const Segment& y) { return x.a < y.a; });
        QUORVEL_TRY(check_segments(wrapped));
        out.emplace_back(
            Shape{std::make_shared<const std::vector<Segment>>(std::move(wrapped)), 0.0, 1.0});
    }
    return out;
}

} // namespace quorvel
