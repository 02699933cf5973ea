// The overlap query over a space's sorted lower support ends, bucketed for many queries.
#include "quorvel/point_index.hpp"

#include <algorithm>
#include <cmath>

#include "quorvel/sorting.hpp"

namespace quorvel {

namespace {

// One bucket per lower end over their span; null when the ends span no interval.
std::shared_ptr<const PointBuckets> make_buckets(const std::vector<double>& sorted) {
    const std::size_t n = sorted.size();
    const double first = sorted.front();
    const double span = sorted.back() - first;
    if (!(span > 0.0) || !std::isfinite(span)) return nullptr;
    auto b = std::make_shared<PointBuckets>();
    const std::size_t buckets = n;
    b->origin = first;
    b->inv_step = static_cast<double>(buckets) / span;
    const double step = span / static_cast<double>(buckets);
    b->edges.resize(buckets + 1);
    b->start.resize(buckets + 1);
    std::size_t p = 0;
    for (std::size_t k = 0; k <= buckets; ++k) {
        b->edges[k] = first + step * static_cast<double>(k);
        while (p < n && sorted[p] < b->edges[k])
            ++p;
        b->start[k] = p;
    }
    return b;
}

} // namespace

PointIndex::PointIndex(const Space& space, std::size_t queries) : space_(space) {
    const std::size_t n = space.sorted_lower.size();
    if (n == 0) return;
    PointBucketCache* const cache = space.index_cache.get();
    // A table kept by the space is free to use. Otherwise it costs O(n) to build: worth it only
    // when the queries are not much fewer than the elements, or every query bisects the whole
    // space; once built, the space keeps it.
    if (queries < n / 4) {
        if (cache) buckets_ = cache->buckets.load();
        return;
    }
    if (!cache) {
        buckets_ = make_buckets(space.sorted_lower);
        return;
    }
    std::call_once(cache->once, [&] { cache->buckets.store(make_buckets(space.sorted_lower)); });
    buckets_ = cache->buckets.load();
}

std::pair<std::size_t, std::size_t> PointIndex::range_of(double v) const {
    std::size_t lo = 0, hi = space_.sorted_lower.size();
    if (buckets_) {
        const std::vector<double>& edges = buckets_->edges;
        const std::vector<std::uint64_t>& start = buckets_->start;
        const double position = (v - buckets_->origin) * buckets_->inv_step;
        const std::size_t last = edges.size() - 2;
        std::size_t k = 0;
        if (position >= static_cast<double>(last))
            k = last;
        else if (position > 0.0)
            k = static_cast<std::size_t>(position);
        // Every end below the bucket's start is < v and every end from the next bucket's start
        // on is > v; the rounding of the bucket position is checked, not trusted.
        if (edges[k] < v && v < edges[k + 1]) {
            lo = start[k];
            hi = start[k + 1];
        }
    }
    return {lo, hi};
}

// The first position in [lo, hi) of the sorted lower ends where `before` no longer holds; it holds
// for every end below lo and for none from hi on.
template <class Before>
std::size_t PointIndex::partition(std::size_t lo, std::size_t hi, Before before) const {
    const std::vector<double>& sorted = space_.sorted_lower;
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

std::size_t PointIndex::count_at_most(double v) const {
    const std::vector<double>& sorted = space_.sorted_lower;
    if (sorted.empty() || v < sorted.front()) return 0;
    // No end compares greater than NaN either: all count, as for std::upper_bound.
    if (v >= sorted.back() || std::isnan(v)) return sorted.size();
    const auto [lo, hi] = range_of(v);
    return partition(lo, hi, [v](double s) { return s <= v; });
}

std::size_t PointIndex::count_below(double v) const {
    const std::vector<double>& sorted = space_.sorted_lower;
    // No end compares less than NaN: none count, as for std::lower_bound.
    if (sorted.empty() || !(v > sorted.front())) return 0;
    if (v > sorted.back()) return sorted.size();
    const auto [lo, hi] = range_of(v);
    return partition(lo, hi, [v](double s) { return s < v; });
}

void PointIndex::overlapping(double lo, double hi, std::vector<std::size_t>& out) const {
    out.clear();
    // As the overlap query: any element reaching lo starts at or after lo - max_width.
    const std::size_t first = count_below(lo - space_.max_width);
    const std::size_t last = count_at_most(hi);
    for (std::size_t p = first; p < last; ++p) {
        const auto j = static_cast<std::size_t>(space_.order[p]);
        if (lo <= space_.upper[j]) out.push_back(j);
    }
    sort_small(std::span<std::size_t>(out));
}

void overlapping(const Space& space, double lo, double hi, std::vector<std::size_t>& out) {
    PointIndex(space, 0).overlapping(lo, hi, out);
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
