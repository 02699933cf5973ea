// B = x M^T: each row of x (length n_cols) mapped through M, rows of x in parallel.
#include <cstddef>

#include "quorvel/parallel.hpp"
#include "quorvel/sparse.hpp"

namespace quorvel {

std::vector<double> product_last_axis(const SparseMatrix& m, const MatrixView& x) {
    internal_assert(x.cols == m.n_cols, "x has the wrong number of columns");
    internal_assert(m.indptr.size() == m.n_rows + 1 && m.indptr.back() == m.indices.size() &&
                        m.indices.size() == m.data.size(),
                    "sparse matrix arrays are inconsistent");
    std::vector<double> b(x.rows * m.n_rows, 0.0);
    auto product_row = [&](std::size_t r) {
        double* out = b.data() + r * m.n_rows;
        for (std::size_t i = 0; i < m.n_rows; ++i) {
            double s = 0.0;
            for (std::size_t k = m.indptr[i]; k < m.indptr[i + 1]; ++k)
                s += m.data[k] * x(r, m.indices[k]);
            out[i] = s;
        }
    };
    // Waking the pool costs more than a product of about 65536 terms: a task gets at least that.
    const std::size_t min_block = 65536 / (m.indices.size() + m.n_rows + 1) + 1;
    parallel_rows(x.rows, product_row, min_block);
    return b;
}

} // namespace quorvel
