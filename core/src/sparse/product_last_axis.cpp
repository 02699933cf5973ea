// B = x M^T: each row of x (length n_cols) mapped through M, rows of x in parallel.
#include <cstddef>

#include "quorvel/sparse.hpp"

namespace quorvel {

std::vector<double> product_last_axis(const SparseMatrix& m, const MatrixView& x) {
    internal_assert(x.cols == m.n_cols, "x has the wrong number of columns");
    internal_assert(m.indptr.size() == m.n_rows + 1 && m.indptr.back() == m.indices.size() &&
                        m.indices.size() == m.data.size(),
                    "sparse matrix arrays are inconsistent");
    std::vector<double> b(x.rows * m.n_rows, 0.0);
    parallel_rows<NoScratch>(x.rows, [&](std::size_t r, NoScratch&) {
        double* out = b.data() + r * m.n_rows;
        for (std::size_t i = 0; i < m.n_rows; ++i) {
            double s = 0.0;
            for (std::size_t k = m.indptr[i]; k < m.indptr[i + 1]; ++k)
                s += m.data[k] * x(r, m.indices[k]);
            out[i] = s;
        }
    });
    return b;
}

} // namespace quorvel
