// The Gram product m^T m of a matrix whose rows hold few, contiguous columns, assembled in a band.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "quorvel/row_assembler.hpp"

namespace quorvel {

namespace {

// The widest column span of any non-empty row.
std::size_t bandwidth(const SparseMatrix& m) {
    internal_assert(m.indptr.size() == m.n_rows + 1 && m.indptr.back() == m.indices.size() &&
                        m.indices.size() == m.data.size(),
                    "sparse matrix arrays are inconsistent");
    const std::uint64_t* const indptr = m.indptr.data();
    const std::uint64_t* const indices = m.indices.data();
    std::size_t f = 0;
    bool ordered = indptr[0] == 0;
    for (std::size_t i = 0; i < m.n_rows; ++i) {
        const std::uint64_t begin = indptr[i], end = indptr[i + 1];
        if (end <= begin) {
            ordered = ordered && end == begin;
            continue;
        }
        const std::uint64_t first = indices[begin], last = indices[end - 1];
        ordered = ordered && last >= first && last < m.n_cols;
        f = std::max<std::size_t>(f, last - first);
    }
    internal_assert(ordered, "sparse row columns must ascend within range");
    return f;
}

// A band row of few entries is cheap: blocks of fewer rows do not pay for a task.
constexpr std::size_t gram_min_block = 256;

} // namespace

SparseMatrix gram(const SparseMatrix& m) {
    const std::size_t f = bandwidth(m);
    const std::size_t width = 2 * f + 1;
    std::vector<double> band(m.n_cols * width, 0.0);
    // The rows were checked by bandwidth(): ascending columns within range.
    const std::uint64_t* const indptr = m.indptr.data();
    const std::uint64_t* const indices = m.indices.data();
    const double* const values = m.data.data();
    for (std::size_t i = 0; i < m.n_rows; ++i) {
        const std::uint64_t begin = indptr[i], end = indptr[i + 1];
        for (std::uint64_t a = begin; a < end; ++a) {
            const std::uint64_t t = indices[a];
            const double u = values[a];
            double* const band_row = band.data() + t * width + f - t;
            for (std::uint64_t b = begin; b < end; ++b)
                band_row[indices[b]] += u * values[b];
        }
    }

    SparseMatrix g;
    g.n_rows = m.n_cols;
    g.n_cols = m.n_cols;
    g.indptr.assign(m.n_cols + 1, 0);
    for (std::size_t j = 0; j < m.n_cols; ++j) {
        for (std::size_t k = 0; k < width; ++k) {
            const double v = band[j * width + k];
            // Column j - f + k, kept inside [0, n_cols) and only when non-zero.
            if (j + k < f || j + k - f >= m.n_cols || v == 0.0) continue;
            g.indices.push_back(j + k - f);
            g.data.push_back(v);
        }
        g.indptr[j + 1] = g.indices.size();
    }
    return g;
}

SparseMatrix gram(const SparseMatrix& m, const SparseMatrix& mt) {
    internal_assert(mt.n_rows == m.n_cols && mt.n_cols == m.n_rows,
                    "gram needs the transpose of its matrix");
    const std::size_t f = bandwidth(m);
    const std::size_t width = 2 * f + 1;
    // Band row t gathers, from the rows r of m that store column t (row t of the transpose, r
    // ascending), m[r, t] m[r, q] for each stored q: every band entry receives the same terms in
    // the same order as when the rows of m are scattered into the band one after the other.
    auto band_row = [&](std::size_t t, std::vector<double>& band, RowSink<1>& sink) {
        band.assign(width, 0.0);
        // Column q of a row that stores t lies within f of t: its band slot is q + f - t.
        const std::size_t shift = f - t;
        for (std::uint64_t k = mt.indptr[t]; k < mt.indptr[t + 1]; ++k) {
            const std::uint64_t r = mt.indices[k];
            const double u = mt.data[k];
            for (std::uint64_t p = m.indptr[r]; p < m.indptr[r + 1]; ++p)
                band[m.indices[p] + shift] += u * m.data[p];
        }
        for (std::size_t k = 0; k < width; ++k) {
            // Column t - f + k, kept inside [0, n_cols) and only when non-zero.
            if (t + k < f || t + k - f >= m.n_cols || band[k] == 0.0) continue;
            sink.push(t + k - f, band[k]);
        }
    };
    auto [g] = assemble_rows<std::vector<double>>(m.n_cols, m.n_cols, band_row, gram_min_block);
    return std::move(g);
}

} // namespace quorvel
