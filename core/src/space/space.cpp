// Building a space: supports in element order and a permutation sorted by lower bound.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "quorvel/point_index.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/sorting.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

namespace {

// upper - lower, rounded up when the rounded difference falls short of the exact one (the error
// term of Knuth's two-sum). Queries look from lo - max_width on; with a width that is never
// below the exact one, rounding cannot push that threshold above the lower end of an element
// whose upper end is exactly lo.
double width_at_least(double lower, double upper) {
    const double w = upper - lower;
    if (!std::isfinite(w)) return w;
    const double v = w - upper;
    const double error = (upper - (w - v)) + (-lower - v);
    return error > 0.0 ? std::nextafter(w, INFINITY) : w;
}

} // namespace

bool is_point_space(const Space& space) {
    return std::all_of(space.elements.begin(), space.elements.end(),
                       [](const Element& e) { return std::holds_alternative<Delta>(e); });
}

Space build_space(std::vector<Element> elements) {
    Space s;
    s.index_cache = std::make_shared<PointBucketCache>();
    const std::size_t n = elements.size();
    s.elements = std::move(elements);
    s.lower.resize(n);
    s.upper.resize(n);
    bool points = true;
    for (std::size_t i = 0; i < n; ++i) {
        // A Delta's support is its position (the common case of a long space of data points).
        if (const auto* d = std::get_if<Delta>(&s.elements[i])) {
            s.lower[i] = s.upper[i] = d->x;
            continue;
        }
        points = false;
        const Support sup = support(s.elements[i]);
        s.lower[i] = sup.lower;
        s.upper[i] = sup.upper;
    }
    // Stable in the IEEE total order, so -0 comes before +0 and equal keys keep index order.
    s.order.resize(n);
    std::iota(s.order.begin(), s.order.end(), std::uint64_t{0});
    // Elements given in order of their lower ends (the usual case) keep the identity.
    const auto by_lower = [&s](std::uint64_t a, std::uint64_t b) {
        return total_less(s.lower[a], s.lower[b]);
    };
    if (!std::is_sorted(s.order.begin(), s.order.end(), by_lower))
        std::stable_sort(s.order.begin(), s.order.end(), by_lower);
    s.sorted_lower.resize(n);
    for (std::size_t p = 0; p < n; ++p)
        s.sorted_lower[p] = s.lower[s.order[p]];
    s.max_width = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = width_at_least(s.lower[i], s.upper[i]);
        if (!std::isnan(w)) s.max_width = std::max(s.max_width, w);
    }
    // Computed once here (and so again for a space restored from a pickle), so that integrals
    // without a weight are a copy. Spaces of point functionals, whose integrals are all 1, keep
    // none: they are built often and in large numbers as the data of a fit.
    if (points) return s;
    s.closed_integrals.reserve(n);
    for (const Element& e : s.elements) {
        const std::optional<double> v = closed_form_integral(e);
        if (!v) {
            s.closed_integrals = {};
            break;
        }
        s.closed_integrals.push_back(*v);
    }
    return s;
}

std::vector<double> centers(const Space& space) {
    std::vector<double> out;
    out.reserve(space.size());
    for (const Element& e : space.elements)
        out.push_back(center(e));
    return out;
}

} // namespace quorvel
