// Banded Cholesky factorisation of symmetric positive definite sparse matrices.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quorvel/error.hpp"
#include "quorvel/sparse.hpp"

namespace quorvel {

// Lower factor L of A = L L^T; row r occupies data[r (e + 1), (r + 1)(e + 1)), diagonal last.
struct BandedMatrix {
    std::size_t n = 0;
    std::size_t bandwidth = 0;
    std::vector<double> data;
};

Result<BandedMatrix> banded_cholesky(const SparseMatrix& a);
// The same factorisation into caller-owned storage (`out` and the diagonal copy are reused
// between calls, so repeated factorisations of small systems allocate only when they grow).
Status banded_cholesky_into(const SparseMatrix& a, BandedMatrix& out,
                            std::vector<double>& diagonal);
// The factorisation itself: `factor` holds the lower band of A on entry (same layout) and L on
// return; `diagonal` receives A's diagonal, the reference of the pivot test.
Status banded_cholesky_in_place(BandedMatrix& factor, std::vector<double>& diagonal);
void solve_in_place(const BandedMatrix& l, std::span<double> v);
// Solves each of the k contiguous rows of length n stored at y, in parallel.
void solve_rows(const BandedMatrix& l, double* y, std::size_t k);
// Solves each of the k rows of `rows` (k x n, row-major) and returns the solutions as the
// columns of a new row-major n x k matrix.
std::vector<double> solve_rows_transposed(const BandedMatrix& l, std::vector<double> rows,
                                          std::size_t k);
// The rows of x M^T, each solved with L: product_last_axis followed by solve_rows, fused so that
// every block of rows is solved while still in cache. Same operations, same results.
std::vector<double> solve_product_rows(const SparseMatrix& m, const MatrixView& x,
                                       const BandedMatrix& l);
// The rows of x M, each solved with L: solve_product_rows with the transpose of M, the same
// results, read from the rows of M.
std::vector<double> solve_scattered_rows(const SparseMatrix& m, const MatrixView& x,
                                         const BandedMatrix& l);

// The factor of the symmetric matrix A whose lower band is stored as LAPACK stores it: the view
// ab has e + 1 rows and n columns, ab(d, j) = A(j + d, j) (entries past the end are not read).
// The factor keeps bandwidth e. Non-finite values fail with InvalidInput, a pivot as
// banded_cholesky fails.
Result<BandedMatrix> banded_cholesky_of_band(const MatrixView& ab);
// A banded matrix in that LAPACK layout: (e + 1) x n, row-major.
std::vector<double> lower_band(const BandedMatrix& m);
// The entries of A^{-1} inside the band of L, for A = L L^T (the selected inverse), in the
// LAPACK layout of lower_band; O(n e^2) work and no dense matrix.
std::vector<double> selected_inverse(const BandedMatrix& l);
// The derivative of that band along a direction dA of A (a symmetric band of width e in the
// LAPACK layout, finite): the band of -A^{-1} dA A^{-1}, from L, the selected inverse s and the
// derivative of the Cholesky recurrence; O(n e^2) work.
std::vector<double> selected_inverse_derivative(const BandedMatrix& l, const std::vector<double>& s,
                                                const MatrixView& direction);

} // namespace quorvel
