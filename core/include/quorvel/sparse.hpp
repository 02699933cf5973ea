// Compressed sparse rows: the matrix type of every element-by-element operator.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "quorvel/error.hpp"
#include "quorvel/parallel.hpp"

namespace quorvel {

struct Space;

struct SparseMatrix {
    std::size_t n_rows = 0, n_cols = 0;
    std::vector<std::uint64_t> indptr{0};
    std::vector<std::uint64_t> indices;
    std::vector<double> data;
};

struct SparseRow {
    std::vector<std::uint64_t> cols;
    std::vector<double> vals;
};

struct RowView {
    std::span<const std::uint64_t> cols;
    std::span<const double> vals;
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

SparseMatrix from_rows(std::size_t n_rows, std::size_t n_cols, std::vector<SparseRow> rows);
RowView row(const SparseMatrix& m, std::size_t i);
std::vector<double> to_dense(const SparseMatrix& m);
SparseMatrix transpose(const SparseMatrix& m);
SparseMatrix gram(const SparseMatrix& m);
double trace(const SparseMatrix& m);

// B = x M^T for a (k, n_cols) view x: a new row-major (k, n_rows) array, rows in parallel.
std::vector<double> product_last_axis(const SparseMatrix& m, const MatrixView& x);

// Where a row builder appends its entries (columns ascending, exact zeros left out by the caller).
struct RowSink {
    std::vector<std::uint64_t>& cols;
    std::vector<double>& vals;
    void push(std::uint64_t c, double v) {
        cols.push_back(c);
        vals.push_back(v);
    }
};

// Builds a matrix row by row in parallel: body(i, scratch, sink) appends the entries of row i.
// Rows are grouped into blocks that own their storage (no allocation per row); each worker owns
// one Scratch reused for all its rows; blocks are gathered in row order, so the result does not
// depend on the number of threads.
template <class Scratch, class Body>
SparseMatrix build_rows(std::size_t n_rows, std::size_t n_cols, Body&& body) {
    struct Block {
        std::vector<std::uint64_t> cols;
        std::vector<double> vals;
    };
    struct Worker {
        Scratch scratch{};
    };
    const std::size_t per_block = std::clamp<std::size_t>((n_rows + 255) / 256, 1, 4096);
    const std::size_t n_blocks = (n_rows + per_block - 1) / per_block;
    std::vector<Block> blocks(n_blocks);
    SparseMatrix m;
    m.n_rows = n_rows;
    m.n_cols = n_cols;
    m.indptr.assign(n_rows + 1, 0);
    parallel_rows<Worker>(n_blocks, [&](std::size_t b, Worker& w) {
        Block& block = blocks[b];
        RowSink sink{block.cols, block.vals};
        const std::size_t end = std::min(n_rows, (b + 1) * per_block);
        for (std::size_t i = b * per_block; i < end; ++i) {
            const std::size_t before = block.cols.size();
            body(i, w.scratch, sink);
            m.indptr[i + 1] = block.cols.size() - before;
        }
    });
    for (std::size_t i = 0; i < n_rows; ++i) m.indptr[i + 1] += m.indptr[i];
    m.indices.resize(m.indptr[n_rows]);
    m.data.resize(m.indptr[n_rows]);
    parallel_rows<NoScratch>(n_blocks, [&](std::size_t b, NoScratch&) {
        const std::size_t at = m.indptr[b * per_block];
        std::copy(blocks[b].cols.begin(), blocks[b].cols.end(), m.indices.begin() + at);
        std::copy(blocks[b].vals.begin(), blocks[b].vals.end(), m.data.begin() + at);
        blocks[b] = Block{};
    });
    return m;
}

// The len(x) x len(basis) matrix of point values of the basis elements at x.
Result<SparseMatrix> evaluate_points(const Space& basis, std::span<const double> x);

} // namespace quorvel
