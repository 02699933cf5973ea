// Point queries by the million on one space: the line is cut at every support end (and at every
// segment end of a shape) into cells, open intervals between consecutive cuts and the cuts
// themselves, and each cell lists the elements whose closed support contains it, with the
// segment that holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "quorvel/point_values.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

class PointTable {
  public:
    // The table, or nothing when its cells would hold too many entries to pay for the given
    // number of queries (supports that span many cuts each).
    static std::optional<PointTable> build(const Space& space, std::size_t queries);

    // The elements whose closed support contains x, ascending: the same elements as
    // overlapping(space, x, x, ...). `cursor` is the caller's memory of its previous query, so
    // that a query in the same or the next cell needs no search; start it at 0.
    std::span<const PointEntry> entries_at(double x, std::size_t& cursor) const {
        const std::size_t cell = cell_of(x, cursor);
        return {entries_.data() + cell_start_[cell], cell_start_[cell + 1] - cell_start_[cell]};
    }

    std::span<const PointForm> forms() const { return forms_; }
    // The kind of every form, or Mixed.
    PointKind kind() const { return kind_; }
    // The most entries of any cell.
    std::size_t widest() const { return widest_; }
    // Whether any form is of a kind whose values are taken several side by side.
    bool has_batched() const { return has_batched_; }

  private:
    PointTable() = default;

    // The stages of build: each element's point form, the cells each element covers (false when
    // they would hold too many entries for `queries`), and the buckets over the cuts.
    void add_forms(const Space& space);
    bool add_cells(const Space& space, std::size_t queries);
    void add_buckets();

    // The cell of x; `previous` holds the number of cuts <= the previous query, and is updated.
    // The cell of the previous query and the next one are tried first, then the bucket of x.
    std::size_t cell_of(double x, std::size_t& previous) const {
        std::size_t k = previous;
        if (!below_count(k, x)) {
            if (below_count(k + 1, x)) {
                ++k;
            } else if (const std::size_t b = bucket(x);
                       b != no_bucket && below_[b] == below_[b + 1]) {
                // A bucket without a cut holds no cut point: x lies in the open cell after the
                // cuts below the bucket.
                previous = below_[b];
                return 2 * previous;
            } else {
                k = search(x);
            }
        }
        previous = k;
        return (k > 0 && cuts_[k - 1] == x) ? 2 * k - 1 : 2 * k;
    }
    // Whether k cuts are <= x.
    bool below_count(std::size_t k, double x) const {
        const std::size_t n = cuts_.size();
        return k <= n && (k == 0 || cuts_[k - 1] <= x) && (k == n || x < cuts_[k]);
    }
    // The bucket that holds x, or no_bucket; the rounding of the position is checked.
    static constexpr std::size_t no_bucket = SIZE_MAX;
    std::size_t bucket(double x) const {
        const double position = (x - origin_) * inv_step_;
        if (!(position >= 0.0 && position < static_cast<double>(below_.size()) - 1.0))
            return no_bucket;
        const auto b = static_cast<std::size_t>(position);
        return (edge(b) <= x && x < edge(b + 1)) ? b : no_bucket;
    }
    std::size_t search(double x) const;
    double edge(std::size_t b) const { return origin_ + step_ * static_cast<double>(b); }

    std::vector<PointForm> forms_;
    PointKind kind_ = PointKind::Mixed;
    bool has_batched_ = false;
    std::vector<double> cuts_; // ascending, distinct
    // Cell 2k is the open interval (cuts_[k - 1], cuts_[k]), cell 2k + 1 the point cuts_[k]; its
    // entries are entries_[cell_start_[cell] ... cell_start_[cell + 1]).
    std::vector<std::size_t> cell_start_;
    std::vector<PointEntry> entries_;
    std::size_t widest_ = 0;
    // Buckets of equal width over [cuts_.front(), cuts_.back()]: bucket b is [edge(b),
    // edge(b + 1)) and below_[b] cuts lie below edge(b). Empty when there are few cuts.
    double origin_ = 0.0, step_ = 0.0, inv_step_ = 0.0;
    std::vector<std::uint32_t> below_;
};

} // namespace quorvel
