// Compressed sparse rows: the matrix type of every element-by-element operator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "quorvel/error.hpp"

namespace quorvel {

struct Space;

struct SparseMatrix {
    std::size_t n_rows = 0, n_cols = 0;
    std::vector<std::uint64_t> indptr{0};
    std::vector<std::uint64_t> indices;
    std::vector<double> data;
};

// A read-only 2-D view of caller data (strides in elements).
struct MatrixView {
    const double* data = nullptr;
    std::size_t rows = 0, cols = 0;
    std::ptrdiff_t row_stride = 0, col_stride = 0;

    double operator()(std::size_t r, std::size_t c) const {
        return data[static_cast<std::ptrdiff_t>(r) * row_stride +
                    static_cast<std::ptrdiff_t>(c) * col_stride];
    }
};

std::vector<double> to_dense(const SparseMatrix& m);
SparseMatrix transpose(const SparseMatrix& m);
SparseMatrix gram(const SparseMatrix& m);
// The same product from m and its transpose mt, rows in parallel.
SparseMatrix gram(const SparseMatrix& m, const SparseMatrix& mt);
double trace(const SparseMatrix& m);

// B = x M^T for a (k, n_cols) view x: a new row-major (k, n_rows) array, rows in parallel.
std::vector<double> product_last_axis(const SparseMatrix& m, const MatrixView& x);

// The len(x) x len(basis) matrix of point values of the basis elements at x.
Result<SparseMatrix> evaluate_points(const Space& basis, std::span<const double> x);

} // namespace quorvel
