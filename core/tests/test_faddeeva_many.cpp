// The Faddeeva function of many points at once equals the function of each point bit for bit,
// on the processor's best instruction set and on the baseline one: in every region of its
// evaluation and at every depth of the continued fraction, on and next to the borders between
// them, with signed zeros, negative imaginary parts and non-finite arguments, in random order
// and in lists of every length up to a few groups.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "check.hpp"
#include "quorvel/faddeeva.hpp"

namespace {

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// On the best instruction set of the processor and on the baseline one.
void compare(const std::vector<double>& x, const std::vector<double>& y) {
    for (auto set : {quorvel::LaneSet::Best, quorvel::LaneSet::Baseline}) {
        std::vector<double> re(x.size(), -1.0);
        quorvel::faddeeva_re_many(x, y, re.data(), set);
        for (std::size_t k = 0; k < x.size(); ++k)
            CHECK(same_bits(re[k], quorvel::faddeeva(x[k], y[k]).re));
    }
}

// v and its neighbours on both sides.
void around(std::vector<double>& out, double v) {
    out.push_back(std::nextafter(v, -INFINITY));
    out.push_back(v);
    out.push_back(std::nextafter(v, INFINITY));
}

} // namespace

int main() {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> x, y;
    // Magnitudes from 1e-3 to 1e9 in both parts, at every angle, so that every region and every
    // depth of the fraction occurs; a tenth of the points on or next to the real axis.
    for (int k = 0; k < 40000; ++k) {
        const double r = std::pow(10.0, -3.0 + 12.0 * unit(rng) * unit(rng));
        const double angle = 1.5707963267948966 * unit(rng);
        const double sign = unit(rng) < 0.5 ? -1.0 : 1.0;
        x.push_back(sign * r * std::cos(angle));
        y.push_back(unit(rng) < 0.1 ? 1e-3 * unit(rng) : r * std::sin(angle));
    }
    // The region borders: |z| = 7 and the radii where the fraction's depth changes, on the axes
    // and the diagonal; y = 0.15 and y = 1 near the axis, x = 2, and the reciprocal form at 1e8.
    std::vector<double> radii;
    for (double r : {7.0, 8.0, 10.0, 15.0, 30.0, 100.0, 1000.0, 1e4, 1e8})
        around(radii, r);
    for (double r : radii) {
        for (double angle : {0.0, 0.3, 0.7853981633974483, 1.2, 1.5707963267948966}) {
            x.push_back(r * std::cos(angle));
            y.push_back(r * std::sin(angle));
            x.push_back(-r * std::cos(angle));
            y.push_back(r * std::sin(angle));
        }
        x.push_back(r);
        y.push_back(0.0);
        x.push_back(0.0);
        y.push_back(r);
    }
    std::vector<double> near_x, near_y;
    for (double v : {2.0, 3.0, 6.9, 7.0, 9.0})
        around(near_x, v);
    for (double v : {0.0, 0.15, 1.0, 1e-300})
        around(near_y, v);
    for (double a : near_x)
        for (double b : near_y) {
            x.push_back(a);
            y.push_back(b);
            x.push_back(-a);
            y.push_back(b);
        }
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double a : {0.0, -0.0, 2.0, 7.0, -7.0, 1e8, 3.0, 1e300, -1e300, inf, -inf, nan}) {
        for (double b : {0.0, -0.0, 0.15, 0.1499, 1.0, 7.0, -1.0, -20.0, 1e8, 1e300, inf, nan}) {
            x.push_back(a);
            y.push_back(b);
        }
    }
    compare(x, y);

    // Shuffled, so that the groups mix points from everywhere.
    std::vector<std::size_t> order(x.size());
    for (std::size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<double> sx, sy;
    for (std::size_t k : order) {
        sx.push_back(x[k]);
        sy.push_back(y[k]);
    }
    compare(sx, sy);

    // Short lists leave groups partly filled.
    for (std::size_t n = 0; n <= 19; ++n)
        for (std::size_t from : {std::size_t{0}, std::size_t{1000}, std::size_t{30000}})
            compare(std::vector<double>(sx.begin() + static_cast<long>(from),
                                        sx.begin() + static_cast<long>(from + n)),
                    std::vector<double>(sy.begin() + static_cast<long>(from),
                                        sy.begin() + static_cast<long>(from + n)));
    return quorvel::test::failures;
}
