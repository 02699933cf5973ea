// Compressed sparse rows: the matrix type of every element-by-element operator.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
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
// Rows are grouped into blocks; each worker owns one Scratch reused for all its rows, and each
// block collects its entries in its own small lists (no allocation per row). A finished block is
// appended to the result as soon as every block before it is in, so the entries are written to
// the result once, in row order, and the result does not depend on the number of threads.
// `min_block` is the fewest rows worth one task: a matrix of at most that many rows is built on the
// calling thread, since waking the pool costs more than a few cheap rows.
template <class Scratch, class Body>
SparseMatrix build_rows(std::size_t n_rows, std::size_t n_cols, Body&& body,
                        std::size_t min_block = 1) {
    struct Block {
        std::vector<std::uint64_t> cols;
        std::vector<double> vals;
    };
    struct Worker {
        Scratch scratch{};
        std::size_t hint = 0; // entries of the worker's previous block
    };
    const std::size_t per_block =
        std::max(std::clamp<std::size_t>((n_rows + 1023) / 1024, 1, 1024), min_block);
    const std::size_t n_blocks = (n_rows + per_block - 1) / per_block;
    std::vector<Block> blocks(n_blocks);
    std::vector<char> done(n_blocks, 0);
    SparseMatrix m;
    m.n_rows = n_rows;
    m.n_cols = n_cols;
    m.indptr.assign(n_rows + 1, 0);

    // One worker at a time is the committer: it appends the finished blocks that directly follow
    // the committed ones, copying outside the lock so that the others keep computing.
    std::mutex commit_mutex;
    std::size_t next_commit = 0;
    bool committing = false;
    auto append = [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) {
            Block& block = blocks[k];
            const std::size_t need = m.indices.size() + block.cols.size();
            if (need > m.indices.capacity()) {
                // Reserve for all rows at the density seen so far, at least doubling.
                const std::size_t rows_in = std::min(n_rows, (k + 1) * per_block);
                const double per_row = static_cast<double>(need) / static_cast<double>(rows_in);
                const auto expected =
                    static_cast<std::size_t>(per_row * 1.1 * static_cast<double>(n_rows)) + 16;
                const std::size_t target = std::max({need, expected, 2 * m.indices.capacity()});
                m.indices.reserve(target);
                m.data.reserve(target);
            }
            m.indices.insert(m.indices.end(), block.cols.begin(), block.cols.end());
            m.data.insert(m.data.end(), block.vals.begin(), block.vals.end());
            block = Block{};
        }
    };

    parallel_rows<Worker>(n_blocks, [&](std::size_t b, Worker& w) {
        Block& block = blocks[b];
        block.cols.reserve(w.hint);
        block.vals.reserve(w.hint);
        RowSink sink{block.cols, block.vals};
        const std::size_t end = std::min(n_rows, (b + 1) * per_block);
        for (std::size_t i = b * per_block; i < end; ++i) {
            const std::size_t before = block.cols.size();
            body(i, w.scratch, sink);
            internal_assert(block.vals.size() == block.cols.size(), "build_rows: unpaired entries");
            m.indptr[i + 1] = block.cols.size() - before;
        }
        w.hint = block.cols.size() + block.cols.size() / 8;

        std::unique_lock<std::mutex> lock(commit_mutex);
        done[b] = 1;
        if (committing) return;
        committing = true;
        for (;;) {
            std::size_t last = next_commit;
            while (last < n_blocks && done[last])
                ++last;
            if (last == next_commit) break;
            const std::size_t first = next_commit;
            lock.unlock();
            append(first, last);
            lock.lock();
            next_commit = last;
        }
        committing = false;
    });
    internal_assert(next_commit == n_blocks, "build_rows: a block was not committed");
    for (std::size_t i = 0; i < n_rows; ++i)
        m.indptr[i + 1] += m.indptr[i];
    return m;
}

// The len(x) x len(basis) matrix of point values of the basis elements at x.
Result<SparseMatrix> evaluate_points(const Space& basis, std::span<const double> x);

} // namespace quorvel
