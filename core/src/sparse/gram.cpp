// The Gram product m^T m of a matrix whose rows hold few, contiguous columns, assembled in a band.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "row_view.hpp"

namespace quorvel {

SparseMatrix gram(const SparseMatrix& m) {
    // Bandwidth: the widest column span of any non-empty row.
    std::size_t f = 0;
    for (std::size_t i = 0; i < m.n_rows; ++i) {
        const RowView r = row(m, i);
        if (r.cols.empty()) continue;
        internal_assert(r.cols.back() >= r.cols.front() && r.cols.back() < m.n_cols,
                        "sparse row columns must ascend within range");
        f = std::max<std::size_t>(f, r.cols.back() - r.cols.front());
    }
    const std::size_t width = 2 * f + 1;
    std::vector<double> band(m.n_cols * width, 0.0);
    for (std::size_t i = 0; i < m.n_rows; ++i) {
        const RowView r = row(m, i);
        for (std::size_t a = 0; a < r.cols.size(); ++a) {
            const std::size_t t = r.cols[a];
            const double u = r.vals[a];
            double* band_row = band.data() + t * width + f - t;
            for (std::size_t b = 0; b < r.cols.size(); ++b)
                band_row[r.cols[b]] += u * r.vals[b];
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

} // namespace quorvel
