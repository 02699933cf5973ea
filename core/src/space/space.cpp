// Building a space: supports in element order and a permutation sorted by lower bound.
#include <algorithm>
#include <cmath>
#include <compare>
#include <numeric>

#include "quorvel/space.hpp"

namespace quorvel {

Space build_space(std::vector<Element> elements) {
    Space s;
    const std::size_t n = elements.size();
    s.elements = std::move(elements);
    s.lower.resize(n);
    s.upper.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Support sup = support(s.elements[i]);
        s.lower[i] = sup.lower;
        s.upper[i] = sup.upper;
    }
    // Stable in the IEEE total order, so -0 comes before +0 and equal keys keep index order.
    s.order.resize(n);
    std::iota(s.order.begin(), s.order.end(), std::uint64_t{0});
    std::stable_sort(s.order.begin(), s.order.end(), [&s](std::uint64_t a, std::uint64_t b) {
        return std::strong_order(s.lower[a], s.lower[b]) < 0;
    });
    s.sorted_lower.resize(n);
    for (std::size_t p = 0; p < n; ++p) s.sorted_lower[p] = s.lower[s.order[p]];
    s.max_width = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = s.upper[i] - s.lower[i];
        if (!std::isnan(w)) s.max_width = std::max(s.max_width, w);
    }
    return s;
}

std::vector<double> centers(const Space& space) {
    std::vector<double> out;
    out.reserve(space.size());
    for (const Element& e : space.elements) out.push_back(center(e));
    return out;
}

} // namespace quorvel
