// The space's index: the elements whose closed supports meet a point or an interval. Every
// operator's overlap query goes through it; built for many queries, it adds a table of buckets.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "quorvel/space.hpp"

namespace quorvel {

// Bucket k covers [edges[k], edges[k + 1]) of the axis and starts at position start[k] of the
// sorted lower ends (the number of them below edges[k]).
struct PointBuckets {
    double origin = 0.0, inv_step = 0.0;
    std::vector<double> edges;
    std::vector<std::uint64_t> start;
};

// A space's bucket table, built by the first index that needs one and kept with the space: the
// space never changes, so a loop of calls over the same space builds it once.
struct PointBucketCache {
    std::once_flag once;
    std::atomic<std::shared_ptr<const PointBuckets>> buckets;
};

// The elements whose closed support contains x, ascending: the same set as
// overlapping(space, x, x, out). A table of bucket starts over the sorted lower ends replaces the
// bisection over the whole space by a search within one bucket.
class PointIndex {
  public:
    PointIndex(const Space& space, std::size_t queries);
    void candidates(double x, std::vector<std::size_t>& out) const;
    // The same as overlapping(space, lo, hi, out).
    void overlapping(double lo, double hi, std::vector<std::size_t>& out) const;

  private:
    // Number of sorted lower ends <= v, or < v.
    std::size_t count_at_most(double v) const;
    std::size_t count_below(double v) const;
    // [lo, hi) of the sorted lower ends that holds the count for v, narrowed by the buckets.
    std::pair<std::size_t, std::size_t> range_of(double v) const;
    template <class Before>
    std::size_t partition(std::size_t lo, std::size_t hi, Before before) const;

    const Space& space_;
    std::shared_ptr<const PointBuckets> buckets_; // null: every query bisects the whole space
};

} // namespace quorvel
