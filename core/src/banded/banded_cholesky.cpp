// Cholesky factorisation A = L L^T of a symmetric sparse matrix stored as a lower band.
#include "quorvel/banded.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quorvel/format.hpp"

namespace quorvel {

namespace {

// Relative pivot threshold: a pivot at or below this fraction of the original diagonal entry
// means the rows are numerically dependent.
constexpr double pivot_tolerance = 1e-13;

std::size_t band_of(const SparseMatrix& a) {
    std::size_t e = 0;
    for (std::size_t r = 0; r < a.n_rows; ++r) {
        for (std::uint64_t p = a.indptr[r]; p < a.indptr[r + 1]; ++p) {
            const std::size_t m = a.indices[p];
            e = std::max(e, m > r ? m - r : r - m);
        }
    }
    return e;
}

} // namespace

Status banded_cholesky_into(const SparseMatrix& a, BandedMatrix& out,
                            std::vector<double>& diagonal) {
    internal_assert(a.n_rows == a.n_cols, "matrix must be square");
    const std::size_t n = a.n_rows;
    const std::size_t e = band_of(a);
    out.n = n;
    out.bandwidth = e;
    out.data.assign(n * (e + 1), 0.0);
    double* const band = out.data.data();

    // Entry (r, m), m <= r, lives at e (r + 1) + m; the upper triangle is implied by symmetry.
    for (std::size_t r = 0; r < n; ++r) {
        for (std::uint64_t p = a.indptr[r]; p < a.indptr[r + 1]; ++p) {
            const std::size_t m = a.indices[p];
            if (m <= r) band[e * (r + 1) + m] = a.data[p];
        }
    }
    return banded_cholesky_in_place(out, diagonal);
}

Status banded_cholesky_in_place(BandedMatrix& factor, std::vector<double>& diagonal) {
    const std::size_t n = factor.n;
    const std::size_t e = factor.bandwidth;
    double* const band = factor.data.data();
    diagonal.resize(n);
    for (std::size_t j = 0; j < n; ++j)
        diagonal[j] = band[e * (j + 1) + j];

    // Row-oriented Cholesky-Crout: every entry of row j is finished from the finished rows above.
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t first = j >= e ? j - e : 0;
        double* const rj = band + e * (j + 1);
        for (std::size_t l = first; l < j; ++l) {
            const double* const rl = band + e * (l + 1);
            double s = 0.0;
            for (std::size_t k = first; k < l; ++k)
                s += rj[k] * rl[k];
            rj[l] = (rj[l] - s) / rl[l];
        }
        double s = 0.0;
        for (std::size_t k = first; k < j; ++k)
            s += rj[k] * rj[k];
        const double w = rj[j] - s;
        const double d = std::fabs(diagonal[j]);
        if (!(w > pivot_tolerance * d)) {
            return singular("pivot " + std::to_string(j) + " is " + fmt_exp(w) + " (diagonal " +
                            fmt_exp(d) +
                            "): the target elements are linearly dependent, or one of them has "
                            "zero norm");
        }
        rj[j] = std::sqrt(w);
    }
    return {};
}

Result<BandedMatrix> banded_cholesky(const SparseMatrix& a) {
    BandedMatrix l;
    std::vector<double> diagonal;
    if (auto status = banded_cholesky_into(a, l, diagonal); !status)
        return std::unexpected(std::move(status.error()));
    return l;
}

} // namespace quorvel
