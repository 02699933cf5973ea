// Forward and backward substitution with a banded Cholesky factor, one or many right-hand sides.
#include "quorvel/banded.hpp"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "quorvel/parallel.hpp"

namespace quorvel {

namespace {

// Forward (L y = v) and backward (L^T x = y) substitution of R contiguous rows of length n at
// once. Each sweep is a chain of dependent divisions, so one row alone is bound by latency;
// interleaving independent rows keeps the arithmetic units busy. Every row sees the same
// operations in the same order whatever R is, so the results do not depend on the blocking.
template <std::size_t R> void solve_block(const BandedMatrix& l, double* y) {
    const std::size_t n = l.n;
    const std::size_t e = l.bandwidth;
    const double* const band = l.data.data();
    double* x[R];
    for (std::size_t r = 0; r < R; ++r)
        x[r] = y + r * n;

    // Row i of L is contiguous: L(i, k) at e (i + 1) + k.
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t first = i >= e ? i - e : 0;
        const double* const ri = band + e * (i + 1);
        double s[R] = {};
        for (std::size_t k = first; k < i; ++k) {
            const double lik = ri[k];
            for (std::size_t r = 0; r < R; ++r)
                s[r] += lik * x[r][k];
        }
        const double d = ri[i];
        for (std::size_t r = 0; r < R; ++r)
            x[r][i] = (x[r][i] - s[r]) / d;
    }
    // Column i of L below the diagonal, L(k, i) at e (k + 1) + i, has stride e.
    for (std::size_t i = n; i-- > 0;) {
        const std::size_t last = std::min(n - 1, i + e);
        const double* p = band + e * (i + 2) + i;
        double s[R] = {};
        for (std::size_t k = i + 1; k <= last; ++k, p += e) {
            const double lki = *p;
            for (std::size_t r = 0; r < R; ++r)
                s[r] += lki * x[r][k];
        }
        const double d = band[e * (i + 1) + i];
        for (std::size_t r = 0; r < R; ++r)
            x[r][i] = (x[r][i] - s[r]) / d;
    }
}

constexpr std::size_t block_rows = 8;

// What a block of R rows reads: M's arrays, x's column stride and the rows r0 .. r0 + R - 1 of x.
struct SparseArrays {
    const std::uint64_t* indptr;
    const std::uint64_t* indices;
    const double* values;
    std::ptrdiff_t col_stride;
};
template <std::size_t R> struct BlockInputs {
    SparseArrays arrays;
    const double* xr[R];
    BlockInputs(const SparseMatrix& m, const MatrixView& x, std::size_t r0)
        : arrays{m.indptr.data(), m.indices.data(), m.data.data(), x.col_stride} {
        for (std::size_t r = 0; r < R; ++r)
            xr[r] = x.data + static_cast<std::ptrdiff_t>(r0 + r) * x.row_stride;
    }
};

// Rows r0 .. r0 + R - 1 of x M^T into out (row-major, n_rows columns), R rows interleaved for the
// same reason as above; each entry is summed exactly as product_last_axis sums it.
template <std::size_t R>
void product_block(const SparseMatrix& m, const MatrixView& x, std::size_t r0, double* out) {
    const std::size_t n = m.n_rows;
    const BlockInputs<R> in(m, x, r0);
    const auto [indptr, indices, values, cs] = in.arrays;
    const auto& xr = in.xr;
    for (std::size_t i = 0; i < n; ++i) {
        double s[R] = {};
        for (std::uint64_t p = indptr[i]; p < indptr[i + 1]; ++p) {
            const double v = values[p];
            const std::ptrdiff_t c = static_cast<std::ptrdiff_t>(indices[p]) * cs;
            for (std::size_t r = 0; r < R; ++r)
                s[r] += v * xr[r][c];
        }
        for (std::size_t r = 0; r < R; ++r)
            out[r * n + i] = s[r];
    }
}

// The same rows for x M, M given by its rows: row j of M scatters x[r, j] M[j, i] into entry i,
// so each entry receives the terms of the transposed product in the same order (ascending j),
// without the transpose being formed.
template <std::size_t R>
void scatter_block(const SparseMatrix& m, const MatrixView& x, std::size_t r0, double* out) {
    const std::size_t n = m.n_cols;
    const BlockInputs<R> in(m, x, r0);
    const auto [indptr, indices, values, cs] = in.arrays;
    const auto& xr = in.xr;
    std::fill(out, out + R * n, 0.0);
    for (std::size_t j = 0; j < m.n_rows; ++j) {
        double xj[R];
        for (std::size_t r = 0; r < R; ++r)
            xj[r] = xr[r][static_cast<std::ptrdiff_t>(j) * cs];
        for (std::uint64_t p = indptr[j]; p < indptr[j + 1]; ++p) {
            const double v = values[p];
            double* const column = out + indices[p];
            for (std::size_t r = 0; r < R; ++r)
                column[r * n] += v * xj[r];
        }
    }
}

} // namespace

void solve_in_place(const BandedMatrix& l, std::span<double> v) {
    internal_assert(v.size() == l.n, "right-hand side has the wrong length");
    solve_block<1>(l, v.data());
}

void solve_rows(const BandedMatrix& l, double* y, std::size_t k) {
    const std::size_t n = l.n;
    if (n == 0) return;
    const std::size_t blocks = (k + block_rows - 1) / block_rows;
    parallel_rows(blocks, [&](std::size_t b) {
        const std::size_t r0 = b * block_rows;
        if (r0 + block_rows <= k) {
            solve_block<block_rows>(l, y + r0 * n);
            return;
        }
        for (std::size_t r = r0; r < k; ++r)
            solve_block<1>(l, y + r * n);
    });
}

std::vector<double> solve_rows_transposed(const BandedMatrix& l, std::vector<double> rows,
                                          std::size_t k) {
    const std::size_t n = l.n;
    solve_rows(l, rows.data(), k);
    std::vector<double> out(n * k);
    for (std::size_t r = 0; r < k; ++r)
        for (std::size_t i = 0; i < n; ++i)
            out[i * k + r] = rows[r * n + i];
    return out;
}

namespace {

// Solves with l the k rows of length n that `rhs(rows, r0, y)` writes (rows r0 ... r0 + rows - 1,
// `rows` a compile-time count) blocks of rows at a time, each solved while still in cache.
template <class Rhs>
std::vector<double> solve_written_rows(std::size_t n, std::size_t k, const BandedMatrix& l,
                                       const Rhs& rhs) {
    std::vector<double> out(k * n);
    if (n == 0) return out;
    const std::size_t blocks = (k + block_rows - 1) / block_rows;
    parallel_rows(blocks, [&](std::size_t b) {
        const std::size_t r0 = b * block_rows;
        if (r0 + block_rows <= k) {
            double* const y = out.data() + r0 * n;
            rhs(std::integral_constant<std::size_t, block_rows>{}, r0, y);
            solve_block<block_rows>(l, y);
            return;
        }
        for (std::size_t r = r0; r < k; ++r) {
            rhs(std::integral_constant<std::size_t, 1>{}, r, out.data() + r * n);
            solve_block<1>(l, out.data() + r * n);
        }
    });
    return out;
}

} // namespace

std::vector<double> solve_product_rows(const SparseMatrix& m, const MatrixView& x,
                                       const BandedMatrix& l) {
    internal_assert(x.cols == m.n_cols, "x has the wrong number of columns");
    internal_assert(m.n_rows == l.n, "factor and matrix sizes differ");
    return solve_written_rows(m.n_rows, x.rows, l, [&](auto rows, std::size_t r0, double* y) {
        product_block<decltype(rows)::value>(m, x, r0, y);
    });
}

std::vector<double> solve_scattered_rows(const SparseMatrix& m, const MatrixView& x,
                                         const BandedMatrix& l) {
    internal_assert(x.cols == m.n_rows, "x has the wrong number of columns");
    internal_assert(m.n_cols == l.n, "factor and matrix sizes differ");
    return solve_written_rows(m.n_cols, x.rows, l, [&](auto rows, std::size_t r0, double* y) {
        scatter_block<decltype(rows)::value>(m, x, r0, y);
    });
}

} // namespace quorvel
