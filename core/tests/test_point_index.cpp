// The bucketed point and interval lookups return exactly the overlap query's candidates, on spaces
// whose supports are wide, narrow, repeated, touching, and far from 0.
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "quorvel/point_index.hpp"
#include "check.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/space.hpp"

namespace {

using quorvel::Element;

void compare_with_overlap(const quorvel::Space& space, const std::vector<double>& points) {
    const quorvel::PointIndex index(space, points.size());
    std::vector<std::size_t> expected, got;
    for (double x : points) {
        quorvel::overlapping(space, x, x, expected);
        index.candidates(x, got);
        CHECK(got == expected);
        index.overlapping(x, x, got);
        CHECK(got == expected);
    }
    // Intervals between two of the points, in either order (an empty interval when lo > hi), and
    // with an infinite or NaN end.
    std::vector<std::pair<double, double>> intervals;
    for (std::size_t k = 0; k + 1 < points.size(); ++k)
        intervals.emplace_back(points[k], points[(k * 7919 + 13) % points.size()]);
    for (double x : {0.0, points.empty() ? 1.0 : points.front()}) {
        intervals.emplace_back(-INFINITY, x);
        intervals.emplace_back(x, INFINITY);
        intervals.emplace_back(NAN, x);
        intervals.emplace_back(x, NAN);
    }
    for (auto [lo, hi] : intervals) {
        quorvel::overlapping(space, lo, hi, expected);
        index.overlapping(lo, hi, got);
        CHECK(got == expected);
    }
}

std::vector<double> probe_points(const quorvel::Space& space, std::mt19937_64& rng) {
    std::vector<double> points;
    for (std::size_t i = 0; i < space.elements.size(); ++i) {
        points.push_back(space.lower[i]);
        points.push_back(space.upper[i]);
    }
    if (!points.empty()) {
        const double lo = space.sorted_lower.front() - 1.0, hi = points.back() + 1.0;
        std::uniform_real_distribution<double> u(lo, hi);
        for (int k = 0; k < 2000; ++k)
            points.push_back(u(rng));
    }
    return points;
}

} // namespace

int main() {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    for (double offset : {0.0, 1e4, -1e6}) {
        std::vector<double> nodes;
        double x = offset;
        for (int i = 0; i < 300; ++i) {
            x += 1e-3 * (0.1 + unit(rng));
            nodes.push_back(x);
        }
        auto hats = quorvel::hats(nodes);
        CHECK(hats.has_value());
        const auto space = quorvel::build_space(*hats);
        compare_with_overlap(space, probe_points(space, rng));
    }

    // Mixed widths: one wide box among many narrow ones widens every query.
    std::vector<Element> mixed;
    for (int i = 0; i < 500; ++i) {
        const double a = 10.0 * unit(rng);
        mixed.push_back(quorvel::Box{a, a + 1e-3 * (1.0 + unit(rng))});
        mixed.push_back(quorvel::Delta{a});
    }
    mixed.push_back(quorvel::Box{-5.0, 20.0});
    const auto space = quorvel::build_space(mixed);
    compare_with_overlap(space, probe_points(space, rng));

    const auto empty = quorvel::build_space({});
    compare_with_overlap(empty, {0.0, 1.0});
    return quorvel::test::failures;
}
