// Compressed sparse rows: row access, dense expansion, transpose and trace.
#include <algorithm>
#include <cstddef>

#include "row_view.hpp"

namespace quorvel {

RowView row(const SparseMatrix& m, std::size_t i) {
    internal_assert(i < m.n_rows && m.indptr.size() == m.n_rows + 1, "row index out of range");
    const std::size_t begin = m.indptr[i];
    const std::size_t end = m.indptr[i + 1];
    internal_assert(begin <= end && end <= m.indices.size() && end <= m.data.size(),
                    "sparse row pointers out of range");
    return {std::span(m.indices).subspan(begin, end - begin),
            std::span(m.data).subspan(begin, end - begin)};
}

std::vector<double> to_dense(const SparseMatrix& m) {
    std::vector<double> dense(m.n_rows * m.n_cols, 0.0);
    for (std::size_t i = 0; i < m.n_rows; ++i) {
        const RowView r = row(m, i);
        for (std::size_t k = 0; k < r.cols.size(); ++k) {
            internal_assert(r.cols[k] < m.n_cols, "sparse column index out of range");
            dense[i * m.n_cols + r.cols[k]] = r.vals[k];
        }
    }
    return dense;
}

SparseMatrix transpose(const SparseMatrix& m) {
    // Counting sort by column: scanning rows in ascending order keeps each new row ascending.
    SparseMatrix t;
    t.n_rows = m.n_cols;
    t.n_cols = m.n_rows;
    t.indptr.assign(m.n_cols + 1, 0);
    const std::size_t nnz = m.indptr.empty() ? 0 : m.indptr.back();
    internal_assert(m.indptr.size() == m.n_rows + 1 && nnz == m.indices.size() &&
                        nnz == m.data.size(),
                    "sparse matrix arrays are inconsistent");
    const std::uint64_t* const cols = m.indices.data();
    std::uint64_t* const counts = t.indptr.data() + 1;
    bool in_range = true;
    for (std::size_t k = 0; k < nnz; ++k) {
        const std::uint64_t c = cols[k];
        in_range = in_range && c < m.n_cols;
        if (in_range) ++counts[c];
    }
    internal_assert(in_range, "sparse column index out of range");
    for (std::size_t j = 0; j < m.n_cols; ++j)
        t.indptr[j + 1] += t.indptr[j];
    t.indices.resize(nnz);
    t.data.resize(nnz);
    std::vector<std::uint64_t> next(t.indptr.begin(), t.indptr.end() - 1);
    std::uint64_t* const at = next.data();
    const double* const values = m.data.data();
    for (std::size_t i = 0; i < m.n_rows; ++i) {
        for (std::uint64_t k = m.indptr[i]; k < m.indptr[i + 1]; ++k) {
            const std::uint64_t p = at[cols[k]]++;
            t.indices[p] = i;
            t.data[p] = values[k];
        }
    }
    return t;
}

double trace(const SparseMatrix& m) {
    // Starts from -0 so that an empty sum stays -0 while any added +0 makes it +0.
    double s = -0.0;
    const std::size_t n = std::min(m.n_rows, m.n_cols);
    for (std::size_t i = 0; i < n; ++i) {
        const RowView r = row(m, i);
        double d = 0.0;
        for (std::size_t k = 0; k < r.cols.size(); ++k) {
            if (r.cols[k] == i) {
                d = r.vals[k];
                break;
            }
        }
        s += d;
    }
    return s;
}

} // namespace quorvel
