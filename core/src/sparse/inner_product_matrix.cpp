// Sparse matrix of inner products between row elements and the elements of a column space.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>
#include <vector>

#include "quorvel/shape_pair.hpp"
#include "quorvel/point_index.hpp"
#include "point_rows.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/parallel.hpp"
#include "quorvel/row_assembler.hpp"
#include "quorvel/space.hpp"
#include "shape_gram.hpp"
#include "shared_row.hpp"

namespace quorvel {
namespace {

// Rows of cheap pairs outnumber the costly ones; a handful of rows stays on the calling thread.
constexpr std::size_t inner_product_min_block = 16;

// Lists of one worker, reused row after row.
struct InnerProductScratch {
    std::vector<std::size_t> candidates;
    std::vector<double> breakpoints;
};

// Row i: the non-zero inner products of rows[i] with the column elements j >= first(i) whose
// supports meet its support, columns ascending.
template <class First>
SparseMatrix product_rows(std::span<const Element> rows, const Space& cols, const PointIndex& index,
                          CosineWeight weight, First first) {
    // The shapes that pair by shape_pair_integral (as pair_inner_product would pair them). Checked
    // where a pair meets them: their segments are read by the pair integral right after, so the
    // check finds them in cache, where a pass of its own over all columns would not.
    const auto pairable = [&weight](const Element& e) -> const Shape* {
        const auto* s = std::get_if<Shape>(&e);
        return !weight && s && ordered_segments(*s) ? s : nullptr;
    };
    auto inner_product_row = [&](std::size_t i, InnerProductScratch& scratch, RowSink<1>& sink) {
        const Element& r = rows[i];
        const Support s = support(r);
        index.overlapping(s.lower, s.upper, scratch.candidates);
        const std::size_t from = first(i);
        const Shape* const shape = pairable(r);
        for (std::size_t j : scratch.candidates) {
            if (j < from) continue;
            const Element& c = cols.elements[j];
            const Shape* const other = shape ? pairable(c) : nullptr;
            const double v = other ? shape_pair_integral(*shape, *other, scratch.breakpoints)
                                   : pair_inner_product(r, c, weight, scratch.breakpoints);
            if (v != 0.0) sink.push(j, v);
        }
    };
    auto [m] = assemble_rows<InnerProductScratch>(rows.size(), cols.size(), inner_product_row,
                                                  inner_product_min_block);
    return std::move(m);
}

// The full square matrix from its rows on and above the diagonal, serially: row i takes, left of
// the diagonal, the entries (j, i) of the rows j < i, in ascending j, then its own.
SparseMatrix mirror_upper_rows(const SparseMatrix& upper) {
    const std::size_t n = upper.n_rows;
    SparseMatrix m;
    m.n_rows = n;
    m.n_cols = upper.n_cols;
    // Entries left of the diagonal per row, counted from the columns of the upper rows.
    std::vector<std::uint64_t> lower(n + 1, 0);
    for (std::size_t j = 0; j < n; ++j)
        for (std::uint64_t k = upper.indptr[j]; k < upper.indptr[j + 1]; ++k)
            if (upper.indices[k] != j) ++lower[upper.indices[k]];
    m.indptr.assign(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        m.indptr[i + 1] = m.indptr[i] + lower[i] + (upper.indptr[i + 1] - upper.indptr[i]);
    const std::uint64_t nnz = m.indptr[n];
    m.indices.resize(nnz);
    m.data.resize(nnz);
    // lower[i] becomes the next free slot left of the diagonal in row i.
    for (std::size_t i = 0; i < n; ++i)
        lower[i] = m.indptr[i];
    for (std::size_t j = 0; j < n; ++j) {
        const std::uint64_t begin = upper.indptr[j], end = upper.indptr[j + 1];
        std::uint64_t own = m.indptr[j + 1] - (end - begin);
        for (std::uint64_t k = begin; k < end; ++k) {
            const std::uint64_t c = upper.indices[k];
            const double v = upper.data[k];
            m.indices[own] = c;
            m.data[own++] = v;
            if (c != j) {
                const std::uint64_t at = lower[c]++;
                m.indices[at] = j;
                m.data[at] = v;
            }
        }
    }
    return m;
}

// The same matrix with its rows in parallel: the rows j < i that hold an entry (j, i) are among
// the elements whose supports meet that of element i, each looked up in row j by bisection. The
// entries found are counted; should an overlap query ever miss a pair that the other direction
// found, the serial mirror is taken instead.
SparseMatrix mirror_upper_rows(const SparseMatrix& upper, std::span<const Element> elements,
                               const PointIndex& index) {
    const std::size_t n = upper.n_rows;
    std::atomic<std::uint64_t> found{0};
    auto row = [&](std::size_t i, std::vector<std::size_t>& candidates, RowSink<1>& sink) {
        const Support s = support(elements[i]);
        index.overlapping(s.lower, s.upper, candidates);
        std::uint64_t here = 0;
        for (std::size_t j : candidates) {
            if (j >= i) break;
            const auto* const begin = upper.indices.data() + upper.indptr[j];
            const auto* const end = upper.indices.data() + upper.indptr[j + 1];
            const auto* const at = std::lower_bound(begin, end, std::uint64_t{i});
            if (at != end && *at == i) {
                sink.push(j, upper.data[static_cast<std::size_t>(at - upper.indices.data())]);
                ++here;
            }
        }
        for (std::uint64_t k = upper.indptr[i]; k < upper.indptr[i + 1]; ++k)
            sink.push(upper.indices[k], upper.data[k]);
        found.fetch_add(here, std::memory_order_relaxed);
    };
    auto [m] =
        assemble_rows<std::vector<std::size_t>>(n, upper.n_cols, row, inner_product_min_block);
    std::uint64_t off_diagonal = 0;
    for (std::size_t i = 0; i < n; ++i)
        off_diagonal += upper.indptr[i + 1] - upper.indptr[i];
    for (std::size_t i = 0; i < n; ++i) {
        const auto* const begin = upper.indices.data() + upper.indptr[i];
        const auto* const end = upper.indices.data() + upper.indptr[i + 1];
        if (begin != end && *begin == i) --off_diagonal;
    }
    if (found.load() != off_diagonal) return mirror_upper_rows(upper);
    return std::move(m);
}

} // namespace

SparseMatrix inner_product_matrix(std::span<const Element> rows, const Space& cols,
                                  CosineWeight weight) {
    // Point functionals pair by evaluation: rows that are all Delta are point rows. Their
    // positions are gathered in the same pass that checks them (a long list of point rows is
    // read once).
    if (!rows.empty() && std::holds_alternative<Delta>(rows.front())) {
        std::vector<double> points(rows.size());
        std::size_t i = 0;
        for (; i < rows.size(); ++i) {
            const auto* d = std::get_if<Delta>(&rows[i]);
            if (d == nullptr || !std::isfinite(d->x)) break;
            points[i] = d->x;
        }
        if (i == rows.size()) return point_rows(cols, points, true, weight);
    }
    const bool gram_of_space = rows.data() == cols.elements.data() && rows.size() == cols.size();
    // The Gram matrix of a space of shapes along one axis, such as B-splines: one sweep over the
    // knot intervals, the node values of each element formed once per interval.
    if (gram_of_space && !weight)
        if (std::optional<SparseMatrix> g = shape_space_gram(cols)) return std::move(*g);
    const PointIndex index(cols, rows.size());
    refuse_oversized_rows<1>(rows.size(), cols.size(),
                             [&](std::size_t i, std::vector<std::size_t>& candidates) {
                                 const Support s = support(rows[i]);
                                 index.overlapping(s.lower, s.upper, candidates);
                                 return candidates.size();
                             });
    // The Gram matrix of one space. pair_inner_product is symmetric bitwise in its two elements:
    // the window and its breakpoints do not depend on the order of the factors (up to the sign of
    // a zero, which changes no node), and a product of two values commutes. So the pairs on and
    // above the diagonal are integrated once and mirrored. A failing pair fails in both orders, so
    // the first failure in row order lies on or above the diagonal, where it is met as before.
    if (gram_of_space) {
        const SparseMatrix upper =
            product_rows(rows, cols, index, weight, [](std::size_t i) { return i; });
        return mirror_upper_rows(upper, rows, index);
    }
    // Rows of line shapes share one walk among the columns they meet.
    if (!weight && std::any_of(rows.begin(), rows.end(), [](const Element& e) {
            return std::holds_alternative<Profile>(e);
        }))
        return shared_walk_rows(rows, cols, index);
    // Row i: every column element whose support meets that of rows[i].
    return product_rows(rows, cols, index, weight, [](std::size_t) { return std::size_t{0}; });
}

} // namespace quorvel
