// B-splines of a knot vector as shapes, one cubic segment per non-empty knot interval; the
// clamped and periodic families build their knot vectors and call the same procedure.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "checks.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/format.hpp"

namespace quorvel {

namespace {

constexpr std::uint64_t max_degree = 3;

std::unexpected<CoreError> degree_error(std::uint64_t d) {
    return invalid_input("B-spline degree must be 0..=3, got " + std::to_string(d));
}

// Double-double numbers: the unevaluated sum hi + lo carries about 106 bits, so the few dozen
// operations of the local recursion below lose nothing visible once rounded to a double.
struct Wide {
    double hi, lo;
};

Wide two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

Wide fast_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

Wide operator+(Wide x, Wide y) {
    Wide s = two_sum(x.hi, y.hi);
    const Wide t = two_sum(x.lo, y.lo);
    s = fast_two_sum(s.hi, s.lo + t.hi);
    return fast_two_sum(s.hi, s.lo + t.lo);
}

Wide operator-(Wide x) {
    return {-x.hi, -x.lo};
}

Wide operator*(Wide x, Wide y) {
    const double p = x.hi * y.hi;
    const double e = std::fma(x.hi, y.hi, -p) + (x.hi * y.lo + x.lo * y.hi);
    return fast_two_sum(p, e);
}

Wide operator/(Wide x, Wide y) {
    const double q1 = x.hi / y.hi;
    const Wide r = x + -(y * Wide{q1, 0.0});
    return fast_two_sum(q1, r.hi / y.hi);
}

// A knot difference a - b, exact, times the power of two `unit`.
Wide difference(double a, double b, double unit) {
    const Wide d = two_sum(a, -b);
    return {d.hi * unit, d.lo * unit};
}

using Polynomial = std::array<Wide, max_degree + 1>;
// Polynomials of B-splines k - d ... k on one knot interval; slot r holds B-spline k - d + r.
using IntervalTable = std::array<Polynomial, max_degree + 1>;

// The B-splines of degree d that are non-zero on the knot interval [t[k], t[k+1]), as polynomials
// in a variable of the interval: tau = (x - t[k]) / scale from its start, or, `from_end`,
// sigma = (t[k+1] - x) / scale from its end; scale is a power of two. The Cox-de Boor recursion
//   N_{j,p} = (x - t[j]) / (t[j+p] - t[j]) * N_{j,p-1}
//           + (t[j+p+1] - x) / (t[j+p+1] - t[j+1]) * N_{j+1,p-1}
// is carried out on coefficients, with x - t[j] = (e - t[j]) + s v and
// t[j+p+1] - x = (t[j+p+1] - e) - s v, where e is the anchor (t[k] or t[k+1]), v the variable and
// s its sign (+1 for tau, -1 for sigma). Only knot differences enter, so the coefficients do not
// depend on where the knots sit on the axis, and a factor that vanishes at the anchor has an
// exactly zero constant term; they are measured in units of `scale`, which changes no bit of the
// result but keeps huge or tiny knot spacings from overflowing or underflowing on the way. On a
// non-empty interval every denominator met is at least t[k+1] - t[k] > 0.
IntervalTable interval_polynomials(const std::vector<double>& t, std::size_t k, std::size_t d,
                                   double scale, bool from_end) {
    const double unit = 1.0 / scale;
    const double anchor = from_end ? t[k + 1] : t[k];
    const Wide sign{from_end ? -1.0 : 1.0, 0.0};
    IntervalTable n{};
    const auto slot = [&](std::size_t j) { return j + d - k; };
    n[d][0] = {1.0, 0.0};
    const std::size_t last = t.size() - 2; // the last interval
    for (std::size_t p = 1; p <= d; ++p) {
        // N_{j,p} for j = k - p ... k, in place in ascending j: slot j still holds N_{j,p-1}
        // and slot j + 1 still holds N_{j+1,p-1}. Splines whose knots run past the vector are
        // never read.
        const std::size_t first = k >= p ? k - p : 0;
        for (std::size_t j = first; j <= k && j + p <= last; ++j) {
            Polynomial v{};
            if (j + p > k) { // N_{j,p-1} is non-zero here
                const Wide den = difference(t[j + p], t[j], unit);
                const Wide c0 = difference(anchor, t[j], unit) / den;
                const Wide c1 = sign / den;
                const Polynomial& a = n[slot(j)];
                for (std::size_t q = 0; q <= p; ++q)
                    v[q] = c0 * a[q] + (q > 0 ? c1 * a[q - 1] : Wide{0.0, 0.0});
            }
            if (j + 1 <= k) { // N_{j+1,p-1} is non-zero here
                const Wide den = difference(t[j + p + 1], t[j + 1], unit);
                const Wide c0 = difference(t[j + p + 1], anchor, unit) / den;
                const Wide c1 = -(sign / den);
                const Polynomial& b = n[slot(j + 1)];
                for (std::size_t q = 0; q <= p; ++q)
                    v[q] = v[q] + c0 * b[q] + (q > 0 ? c1 * b[q - 1] : Wide{0.0, 0.0});
            }
            n[slot(j)] = v;
        }
    }
    return n;
}

// A double-double coefficient of tau^p in units of 2^from rounded to a double in units of 2^to;
// + 0.0 turns a structural -0 into +0.
double rounded(Wide w, int p, int from, int to) {
    return std::ldexp(w.hi + w.lo, p * (to - from)) + 0.0;
}

// The binary exponent of a representation scale.
int exponent_of(double scale) {
    return std::ilogb(scale);
}

// The interval tables from both ends of one interval, with the exponent of the scale they were
// computed in.
struct ScaledTable {
    IntervalTable from_start, from_end;
    int exponent;
};

// Coefficients c0..c3 of one piece from a polynomial of an interval table, in units of 2^to.
Segment piece(const Polynomial& c, int from, int to, double a, double b) {
    return {rounded(c[0], 0, from, to), rounded(c[1], 1, from, to), rounded(c[2], 2, from, to),
            rounded(c[3], 3, from, to), a, b};
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

    // B-spline i needs the intervals i ... i + d; interval k's table lives in ring[k % (d + 1)]
    // from the first B-spline that needs it to the last. A table is computed in units of its
    // interval's representation scale and a B-spline is stored in units of its span's, so that
    // spacings near the ends of the double range keep normal coefficients; for ordinary knots
    // both are 1.
    std::array<ScaledTable, max_degree + 1> ring{};
    std::size_t next_interval = 0;

    Elements out;
    out.reserve(m - d - 1);
    for (std::size_t i = 0; i + d + 1 < m; ++i) {
        if (t[i + d + 1] <= t[i])
            return invalid_input("B-spline " + std::to_string(i) +
                                 " has empty support (knot multiplicity > degree + 1)");
        QUORVEL_TRY(check_support_width("B-spline", t[i], t[i + d + 1]));
        for (; next_interval <= i + d; ++next_interval) {
            const double h = t[next_interval + 1] - t[next_interval];
            if (h > 0.0) {
                const double scale = representation_scale(h);
                ring[next_interval % (d + 1)] = {
                    interval_polynomials(t, next_interval, d, scale, false),
                    interval_polynomials(t, next_interval, d, scale, true), exponent_of(scale)};
            }
        }
        const double center = std::midpoint(t[i], t[i + d + 1]);
        const double stretch = representation_scale(t[i + d + 1] - t[i]);
        const int to = exponent_of(stretch);
        // The pieces sit at the center when every knot of the span is center + stretch a
        // exactly, so that supports and knots are the given doubles; otherwise at 0, where
        // stretch a = t[k] with a power-of-two stretch, and the element reports its center.
        bool exact = true;
        for (std::size_t k = i; k <= i + d + 1; ++k)
            exact = exact && center + stretch * ((t[k] - center) / stretch) == t[k];
        const double place = exact ? center : 0.0;
        std::vector<Segment> segments, from_end;
        segments.reserve(d + 1);
        from_end.reserve(d + 1);
        for (std::size_t k = i; k <= i + d; ++k) {
            if (!(t[k] < t[k + 1])) continue;
            const ScaledTable& table = ring[k % (d + 1)];
            const double a = (t[k] - place) / stretch, b = (t[k + 1] - place) / stretch;
            segments.push_back(piece(table.from_start[i + d - k], table.exponent, to, a, b));
            from_end.push_back(piece(table.from_end[i + d - k], table.exponent, to, a, b));
        }
        QUORVEL_TRY(check_segments(segments));
        QUORVEL_TRY(check_segments(from_end));
        QUORVEL_TRY(check_piecewise_placement(center, stretch));
        out.emplace_back(Shape{std::make_shared<const std::vector<Segment>>(std::move(segments)),
                               place, stretch, true,
                               std::make_shared<const std::vector<Segment>>(std::move(from_end)),
                               exact ? std::numeric_limits<double>::quiet_NaN() : center});
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
    // Breakpoints near the ends of the double range can push the period or the extended knots
    // past it.
    if (!std::isfinite(t.front()) || !std::isfinite(t.back()))
        return invalid_input(
            "periodic B-spline knots extended by the period must be finite, got [" +
            fmt_fixed(t.front()) + ", " + fmt_fixed(t.back()) + "]");

    QUORVEL_TRY_ASSIGN(const Elements splines, bsplines_of(t, d));

    const double wrap_tolerance = period * 1e-12;
    const double snap_tolerance = period * 1e-9;
    Elements out;
    out.reserve(intervals);
    for (std::size_t i = 0; i < intervals; ++i) {
        const auto& shape = std::get<Shape>(splines[i]);
        // Each piece with its coefficients from the end, sorted together.
        std::vector<std::pair<Segment, Segment>> wrapped;
        wrapped.reserve(shape.segments->size());
        // Pieces left of the period move right by one period, pieces right of it move left. The
        // wrapped element has center 0 and keeps the spline's stretch (its coefficients are in
        // units of it), so its segment ends are the wrapped ends divided by the stretch.
        const double stretch = shape.stretch;
        for (std::size_t g = 0; g < shape.segments->size(); ++g) {
            const Segment& seg = (*shape.segments)[g];
            const Segment& end = (*shape.from_end)[g];
            const double lo = shape.center + stretch * seg.a;
            const double hi = shape.center + stretch * seg.b;
            double shift = 0.0;
            if (hi <= b[0] + wrap_tolerance)
                shift = period;
            else if (lo >= b[0] + period - wrap_tolerance)
                shift = -period;
            const double a = snap(b, lo + shift, snap_tolerance) / stretch;
            const double z = snap(b, hi + shift, snap_tolerance) / stretch;
            wrapped.push_back({{seg.c0, seg.c1, seg.c2, seg.c3, a, z},
                               {end.c0, end.c1, end.c2, end.c3, a, z}});
        }
        std::stable_sort(wrapped.begin(), wrapped.end(),
                         [](const auto& x, const auto& y) { return x.first.a < y.first.a; });
        std::vector<Segment> segments, from_end;
        for (const auto& [start_form, end_form] : wrapped) {
            segments.push_back(start_form);
            from_end.push_back(end_form);
        }
        QUORVEL_TRY(check_segments(segments));
        QUORVEL_TRY(check_segments(from_end));
        out.emplace_back(Shape{std::make_shared<const std::vector<Segment>>(std::move(segments)),
                               0.0, stretch, true,
                               std::make_shared<const std::vector<Segment>>(std::move(from_end))});
    }
    return out;
}

} // namespace quorvel
