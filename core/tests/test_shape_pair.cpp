// The inner product of two shapes equals, bit for bit, the generic pair integral (window, frame,
// sorted breakpoints and per-node evaluation) on B-splines of every degree, repeated knots, knots
// far from 0 with small spacing, stretched shapes from tables, and shapes whose segments are out
// of order (which take the generic path).
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "check.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/quadrature.hpp"

namespace {

using quorvel::Element;
using quorvel::Elements;
using quorvel::Placed;
using quorvel::Support;

// The generic pair integral of two elements without a weight, step by step.
double generic_pair(const Element& a, const Element& b) {
    const Support sa = quorvel::support(a);
    const Support sb = quorvel::support(b);
    const double lo = std::fmax(sa.lower, sb.lower);
    const double hi = std::fmin(sa.upper, sb.upper);
    if (lo >= hi) return 0.0;
    const Support fa = quorvel::frame_support(a, sa, lo);
    const Support fb = quorvel::frame_support(b, sb, lo);
    const double from = std::fmax(fa.lower, fb.lower);
    const double to = std::fmin(fa.upper, fb.upper);
    if (!(from < to)) return 0.0;
    const Placed factors[] = {{&a, lo}, {&b, lo}};
    std::vector<double> list;
    quorvel::collect_breakpoints(factors, from, to, list);
    return quorvel::integrate_product(factors, {}, lo, list);
}

bool same(double x, double y) {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y) ||
           (x == 0.0 && y == 0.0);
}

std::size_t compared = 0;

// Every pair of the two lists, in both orders.
void compare_all(const Elements& left, const Elements& right) {
    std::vector<double> list;
    for (const Element& a : left) {
        for (const Element& b : right) {
            const double fast = quorvel::pair_inner_product(a, b, {}, list);
            CHECK(same(fast, generic_pair(a, b)));
            CHECK(same(quorvel::pair_inner_product(b, a, {}, list), fast));
            ++compared;
        }
    }
}

Elements must(quorvel::Result<Elements> r) {
    if (!r) std::fprintf(stderr, "%s\n", r.error().message.c_str());
    CHECK(r.has_value());
    return r ? std::move(*r) : Elements{};
}

std::vector<double> sorted_uniform(std::mt19937_64& rng, std::size_t n, double lo, double hi) {
    std::uniform_real_distribution<double> u(lo, hi);
    std::vector<double> v(n);
    for (double& x : v)
        x = u(rng);
    std::sort(v.begin(), v.end());
    return v;
}

// Knots x0 + k h (1 + jitter), all distinct.
std::vector<double> jittered(std::mt19937_64& rng, std::size_t n, double x0, double h) {
    std::uniform_real_distribution<double> u(0.5, 1.5);
    std::vector<double> v(n);
    double x = x0;
    for (double& k : v) {
        k = x;
        x += h * u(rng);
    }
    return v;
}

} // namespace

int main() {
    std::mt19937_64 rng(7);
    for (std::uint64_t degree : {0u, 1u, 2u, 3u}) {
        const auto knots = sorted_uniform(rng, 30, -3.0, 5.0);
        const Elements s = must(quorvel::bsplines(knots, degree));
        compare_all(s, s);
        const auto other = sorted_uniform(rng, 20, -2.0, 4.0);
        compare_all(s, must(quorvel::bsplines(other, degree)));
        for (double x0 : {1e4, 1e6, -1e6}) {
            const Elements far = must(quorvel::bsplines(jittered(rng, 25, x0, 1e-3), degree));
            compare_all(far, far);
            compare_all(far, must(quorvel::bsplines(jittered(rng, 25, x0 + 3e-4, 1e-3), degree)));
        }
    }
    const std::vector<double> repeated{0, 0, 0, 0, 0.3, 0.3, 0.5, 0.7, 0.7, 0.7, 1, 1, 1, 1};
    const std::vector<double> triple{0, 0, 0, 0.3, 0.3, 0.5, 0.7, 0.7, 0.7, 1, 1, 1};
    compare_all(must(quorvel::bsplines(repeated, 3)), must(quorvel::bsplines(triple, 2)));
    const auto breaks = sorted_uniform(rng, 14, -1.0, 1.0);
    compare_all(must(quorvel::bsplines_periodic(breaks, 3)),
                must(quorvel::bsplines_clamped(breaks, 3)));

    // Stretched shapes from a table, at centers near 0 and far from it.
    std::vector<double> tx(9), ty(9);
    for (std::size_t k = 0; k < 9; ++k) {
        tx[k] = -1.0 + 0.25 * static_cast<double>(k);
        ty[k] = std::sin(0.4 * static_cast<double>(k)) + 1.0;
    }
    for (auto interp : {quorvel::Interpolation::Linear, quorvel::Interpolation::Pchip}) {
        for (double x0 : {0.0, 1e4, 1e6}) {
            const auto centers = sorted_uniform(rng, 12, x0 - 3.0, x0 + 3.0);
            std::vector<double> stretch(12);
            std::uniform_real_distribution<double> u(0.2, 3.0);
            for (double& v : stretch)
                v = u(rng);
            const Elements s = must(quorvel::shifted(tx, ty, centers, stretch, interp));
            compare_all(s, s);
            compare_all(s, must(quorvel::bsplines(sorted_uniform(rng, 12, x0 - 3, x0 + 3), 3)));
        }
    }
    const auto c = sorted_uniform(rng, 10, -2.0, 2.0);
    compare_all(must(quorvel::triangles(c, std::vector<double>{0.7})),
                must(quorvel::trapezoids(c, std::vector<double>{0.3}, std::vector<double>{1.1})));

    // Segments out of order or overlapping are left to the generic path.
    const auto pieces =
        std::make_shared<const std::vector<quorvel::Segment>>(std::vector<quorvel::Segment>{
            {1.0, 0.5, 0.0, 0.0, 0.5, 1.0}, {0.5, -1.0, 0.0, 0.0, 0.0, 0.7}});
    const Elements odd{Element(quorvel::Shape{pieces, 0.1, 1.0})};
    compare_all(odd, must(quorvel::bsplines(sorted_uniform(rng, 12, -1.0, 2.0), 3)));

    CHECK(compared > 10000);
    return quorvel::test::failures;
}
