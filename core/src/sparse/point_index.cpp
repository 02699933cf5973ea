// Bucketed point queries over a space's sorted lower support ends.
#include "point_index.hpp"

#include <algorithm>
#include <cmath>

#include "quorvel/sorting.hpp"

namespace quorvel {

PointIndex::PointIndex(const Space& space, std::size_t queries) : space_(space) {
    const std::vector<double>& sorted = space.sorted_lower;
    const std::size_t n = sorted.size();
    // The table costs O(n) to build: worth it only when the queries are not much fewer than the
    // elements; otherwise every query bisects the whole space.
    if (n == 0 || queries < n / 4) return;
    const double first = sorted.front();
    const double span = sorted.back() - first;
    if (!(span > 0.0) || !std::isfinite(span)) return;
    const std::size_t buckets = n;
    origin_ = first;
    inv_step_ = static_cast<double>(buckets) / span;
    const double step = span / static_cast<double>(buckets);
    edges_.resize(buckets + 1);
    start_.resize(buckets + 1);
    std::size_t p = 0;
    for (std::size_t k = 0; k <= buckets; ++k) {
        edges_[k] = first + step * static_cast<double>(k);
        while (p < n && sorted[p] < edges_[k])
            ++p;
        start_[k] = p;
    }
}

std::size_t PointIndex::count_at_most(double v) const {
    const std::vector<double>& sorted = space_.sorted_lower;
    auto before = [v](double s) { return s <= v; };
    std::size_t lo = 0, hi = sorted.size();
    if (hi == 0 || v < sorted.front()) return 0;
    if (v >= sorted.back()) return hi;
    if (!edges_.empty()) {
        const double position = (v - origin_) * inv_step_;
        const std::size_t last = edges_.size() - 2;
        std::size_t k = 0;
        if (position >= static_cast<double>(last))
            k = last;
        else if (position > 0.0)
            k = static_cast<std::size_t>(position);
        // Every end below the bucket's start is <= v and every end from the next bucket's start
        // on is not; the rounding of the bucket position is checked, not trusted.
        if (edges_[k] < v && v < edges_[k + 1]) {
            lo = start_[k];
            hi = start_[k + 1];
        }
    }
    while (hi - lo > 8) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (before(sorted[mid]))
            lo = mid + 1;
        else
            hi = mid;
    }
    while (lo < hi && before(sorted[lo]))
        ++lo;
    return lo;
}

void PointIndex::candidates(double x, std::vector<std::size_t>& out) const {
    out.clear();
    if (space_.size() == 0) return;
    // Elements with lower <= x are the first e in sorted order; walking back from there while the
    // lower end is still >= x - max_width visits exactly the range the scan has to look at anyway.
    const std::vector<double>& sorted = space_.sorted_lower;
    const double reach = x - space_.max_width;
    for (std::size_t p = count_at_most(x); p > 0 && sorted[p - 1] >= reach; --p) {
        const std::size_t j = space_.order[p - 1];
        if (x <= space_.upper[j]) out.push_back(j);
    }
    // The backward walk yields descending order for the common case of elements constructed in
    // order of their lower ends; reversing first leaves the insertion sort almost nothing to do.
    std::reverse(out.begin(), out.end());
    sort_small(std::span<std::size_t>(out));
}

} // namespace quorvel
