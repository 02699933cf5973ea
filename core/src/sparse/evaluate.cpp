// Point evaluation matrix: the inner products of Delta elements at the points with a basis.
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "quorvel/point_index.hpp"
#include "point_rows.hpp"
#include "point_table.hpp"
#include "quorvel/row_assembler.hpp"

namespace quorvel {
namespace {

// A point costs well under a microsecond: blocks of fewer points do not pay for a task.
constexpr std::size_t evaluate_min_block = 1024;

// The pairing of a Delta at p with column element e, unweighted.
double point_pairing(const Element& e, double p) {
    const auto* d = std::get_if<Delta>(&e);
    return d ? (d->x == p ? 1.0 : 0.0) : evaluate(e, p);
}

// The weight of a row's values, applied to all but Delta columns.
struct RowWeight {
    bool weighted;
    CosineWeight weight;
};

// Stores the non-zero values of one point's candidates.
void store_row(const PointTable& table, RowWeight w, const PointQuery& q, double* values,
               RowSink<1>& sink) {
    if (w.weighted) {
        const double f = weight_value(w.weight, q.x);
        for (std::size_t k = 0; k < q.entries.size(); ++k)
            if (table.forms()[q.entries[k].column].kind != PointKind::Delta) values[k] *= f;
    }
    for (std::size_t k = 0; k < q.entries.size(); ++k)
        if (values[k] != 0.0) sink.push(q.entries[k].column, values[k]);
}

// Candidates of each point from the table's cells, values from the digested forms.
SparseMatrix table_rows(const PointTable& table, std::size_t n_cols, std::span<const double> x,
                        RowWeight w) {
    struct Scratch {
        std::size_t cursor = 0;
        std::vector<double> values;
    };
    auto point_row = [&](std::size_t i, Scratch& scratch, RowSink<1>& sink) {
        const PointQuery q{x[i], table.entries_at(x[i], scratch.cursor)};
        if (q.entries.empty()) return;
        if (scratch.values.size() < q.entries.size()) scratch.values.resize(table.widest());
        point_values(table.forms(), table.kind(), q.entries, q.x, scratch.values.data());
        store_row(table, w, q, scratch.values.data(), sink);
    };
    auto [m] = assemble_rows<Scratch>(x.size(), n_cols, point_row, evaluate_min_block);
    return std::move(m);
}

// With profiles among the columns whose kind values many offsets together, the values of a run
// of consecutive points are computed before the first of them is stored, so that they are
// evaluated side by side.
constexpr std::size_t batch_rows = 64;

SparseMatrix batched_rows(const PointTable& table, std::size_t n_cols, std::span<const double> x,
                          RowWeight w) {
    struct Scratch {
        std::size_t cursor = 0;
        std::size_t first = 0, count = 0; // the rows whose values are ready
        std::vector<PointQuery> queries;
        std::vector<std::size_t> offsets; // where each ready row's values start
        std::vector<double> values;
        PointScratch point;
    };
    const auto prepare = [&](std::size_t i, Scratch& s) {
        s.first = i;
        s.count = std::min(batch_rows, x.size() - i);
        s.queries.resize(s.count);
        s.offsets.resize(s.count);
        std::size_t total = 0;
        for (std::size_t r = 0; r < s.count; ++r) {
            const double p = x[i + r];
            s.queries[r] = {p, table.entries_at(p, s.cursor)};
            s.offsets[r] = total;
            total += s.queries[r].entries.size();
        }
        s.values.resize(total);
        point_values(table.forms(), table.kind(), s.queries, s.values.data(), s.point);
    };
    auto point_row = [&](std::size_t i, Scratch& s, RowSink<1>& sink) {
        if (i < s.first || i >= s.first + s.count) prepare(i, s);
        store_row(table, w, s.queries[i - s.first], s.values.data() + s.offsets[i - s.first], sink);
    };
    auto [m] = assemble_rows<Scratch>(x.size(), n_cols, point_row, evaluate_min_block);
    return std::move(m);
}

// Candidates of each point by the bucketed overlap query, values by evaluate.
SparseMatrix index_rows(const Space& cols, const PointIndex& index, std::span<const double> x,
                        RowWeight w) {
    auto point_row = [&](std::size_t i, std::vector<std::size_t>& candidates, RowSink<1>& sink) {
        const double p = x[i];
        index.candidates(p, candidates);
        for (std::size_t j : candidates) {
            const Element& e = cols.elements[j];
            double v = point_pairing(e, p);
            if (w.weighted && !std::holds_alternative<Delta>(e)) v *= weight_value(w.weight, p);
            if (v != 0.0) sink.push(j, v);
        }
    };
    auto [m] = assemble_rows<std::vector<std::size_t>>(x.size(), cols.size(), point_row,
                                                       evaluate_min_block);
    return std::move(m);
}

} // namespace

SparseMatrix point_rows(const Space& cols, std::span<const double> x, bool weighted,
                        CosineWeight weight) {
    const RowWeight w{weighted, weight};
    if (const std::optional<PointTable> table = PointTable::build(cols, x.size())) {
        refuse_oversized_rows<1>(x.size(), cols.size(),
                                 [&](std::size_t i, std::vector<std::size_t>&) {
                                     std::size_t cursor = 0;
                                     return table->entries_at(x[i], cursor).size();
                                 });
        if (table->has_batched()) return batched_rows(*table, cols.size(), x, w);
        return table_rows(*table, cols.size(), x, w);
    }
    const PointIndex index(cols, x.size());
    refuse_oversized_rows<1>(x.size(), cols.size(),
                             [&](std::size_t i, std::vector<std::size_t>& candidates) {
                                 index.candidates(x[i], candidates);
                                 return candidates.size();
                             });
    return index_rows(cols, index, x, w);
}

Result<SparseMatrix> evaluate_points(const Space& basis, std::span<const double> x) {
    for (double p : x)
        if (!std::isfinite(p)) return invalid_input("delta position must be finite");
    // Each row pairs a Delta at its point with the elements whose closed support contains the
    // point, as inner_product_matrix would, without materialising one element per point.
    return point_rows(basis, x, false, CosineWeight{});
}

} // namespace quorvel
