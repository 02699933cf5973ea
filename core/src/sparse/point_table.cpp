// Building the cells of a point table, and the bucketed search for the cell of a point.
#include "point_table.hpp"

#include <algorithm>
#include <cmath>

#include "quorvel/cancel.hpp"

namespace quorvel {

namespace {

// Every point where the set of candidate elements, or a shape's segment, can change: the support
// ends, and the inner segment ends of shapes as support() places them (a segment's end is
// usually the next one's start, listed once).
std::vector<double> cuts_of(const Space& space) {
    std::vector<double> cuts;
    cuts.reserve(2 * space.size());
    const CancelFlag* const cancel = current_cancel_flag();
    for (std::size_t j = 0; j < space.size(); ++j) {
        poll_cancel(cancel);
        cuts.push_back(space.lower[j]);
        cuts.push_back(space.upper[j]);
        if (const auto* s = std::get_if<Shape>(&space.elements[j])) {
            const std::vector<Segment>& g = *s->segments;
            for (std::size_t k = 0; k + 1 < g.size(); ++k) {
                if (g[k].b != g[k + 1].a) cuts.push_back(s->center + s->stretch * g[k].b);
                cuts.push_back(s->center + s->stretch * g[k + 1].a);
            }
        }
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end(), [](double a, double b) { return a == b; }),
               cuts.end());
    return cuts;
}

// A point inside a cell, to choose segment guesses at.
double cell_point(const std::vector<double>& cuts, std::size_t cell) {
    const std::size_t k = cell / 2;
    if (cell % 2 == 1) return cuts[k];
    // Only cells between two cuts hold entries.
    return (cuts[k - 1] + cuts[k]) * 0.5;
}

} // namespace

std::optional<PointTable> PointTable::build(const Space& space, std::size_t queries) {
    const std::size_t n = space.size();
    // The cells cost O(n log n) to build: worth it only when the queries are not much fewer than
    // the elements.
    if (n == 0 || n >= no_hint || queries < n / 4) return std::nullopt;
    for (std::size_t j = 0; j < n; ++j)
        if (std::isnan(space.lower[j]) || std::isnan(space.upper[j])) return std::nullopt;

    PointTable t;
    t.add_forms(space);
    t.cuts_ = cuts_of(space);
    if (std::isnan(t.cuts_.back())) return std::nullopt;
    if (!t.add_cells(space, queries)) return std::nullopt;
    t.add_buckets();
    return t;
}

void PointTable::add_forms(const Space& space) {
    forms_.reserve(space.size());
    for (const Element& e : space.elements) {
        forms_.push_back(point_form(e));
        has_batched_ = has_batched_ || batched_point_kind(forms_.back().kind);
    }
    kind_ = common_kind(forms_);
}

bool PointTable::add_cells(const Space& space, std::size_t queries) {
    const std::size_t n = space.size();
    const std::vector<double>& cuts = cuts_;
    // Element j covers the cells from the point cell of its lower end to that of its upper end.
    auto point_cell = [&cuts](double v) {
        return 2 * static_cast<std::size_t>(std::lower_bound(cuts.begin(), cuts.end(), v) -
                                            cuts.begin()) +
               1;
    };
    const std::size_t n_cells = 2 * cuts.size() + 1;
    std::vector<std::size_t> first(n), last(n);
    std::vector<std::size_t> count(n_cells + 1, 0);
    std::size_t total = 0;
    for (std::size_t j = 0; j < n; ++j) {
        first[j] = point_cell(space.lower[j]);
        last[j] = point_cell(space.upper[j]);
        total += last[j] - first[j] + 1;
        ++count[first[j]];
        --count[last[j] + 1];
    }
    // Wide supports over many cuts make the cells quadratic in size.
    if (total > 8 * (queries + n) + 4096) return false;

    // Entries per cell from the difference counts, then the elements in ascending order.
    cell_start_.assign(n_cells + 1, 0);
    std::size_t running = 0;
    for (std::size_t c = 0; c < n_cells; ++c) {
        running += count[c];
        cell_start_[c + 1] = cell_start_[c] + running;
        widest_ = std::max(widest_, running);
    }
    entries_.resize(total);
    std::vector<std::size_t> fill(cell_start_.begin(), cell_start_.end() - 1);
    const CancelFlag* const cancel = current_cancel_flag();
    for (std::size_t j = 0; j < n; ++j) {
        poll_cancel(cancel);
        const PointForm& form = forms_[j];
        for (std::size_t c = first[j]; c <= last[j]; ++c) {
            const std::uint32_t hint = segment_hint(form, cell_point(cuts, c));
            entries_[fill[c]++] = {static_cast<std::uint32_t>(j), hint};
        }
    }
    return true;
}

// Four buckets per cut, so that most buckets hold none.
void PointTable::add_buckets() {
    const std::vector<double>& cuts = cuts_;
    const std::size_t m = cuts.size();
    const double span = cuts.back() - cuts.front();
    if (m >= 16 && m < UINT32_MAX / 8 && span > 0.0 && std::isfinite(span)) {
        const std::size_t buckets = 4 * m;
        origin_ = cuts.front();
        inv_step_ = static_cast<double>(buckets) / span;
        step_ = span / static_cast<double>(buckets);
        below_.resize(buckets + 1);
        std::size_t p = 0;
        for (std::size_t b = 0; b <= buckets; ++b) {
            const double e = edge(b);
            while (p < m && cuts[p] < e)
                ++p;
            below_[b] = static_cast<std::uint32_t>(p);
        }
    }
}

std::size_t PointTable::search(double x) const {
    const std::size_t m = cuts_.size();
    if (x < cuts_.front()) return 0;
    if (x >= cuts_.back()) return m;
    std::size_t lo = 0, hi = m;
    // Every cut below the bucket's start is <= x and every cut from the next bucket's start on
    // is not.
    if (const std::size_t b = bucket(x); b != no_bucket) {
        lo = below_[b];
        hi = below_[b + 1];
    }
    while (hi - lo > 8) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (cuts_[mid] <= x)
            lo = mid + 1;
        else
            hi = mid;
    }
    while (lo < hi && cuts_[lo] <= x)
        ++lo;
    return lo;
}

} // namespace quorvel
