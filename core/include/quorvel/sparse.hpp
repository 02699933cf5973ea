// Compressed sparse rows: the matrix type of every element-by-element operator.
#pragma once

#include <algorithm>
#include <atomic>
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
// Rows are grouped into blocks; each worker owns one Scratch and one growing entry buffer, both
// reused for all its blocks (no allocation per row). Blocks are gathered in row order, so the
// result does not depend on the number of threads.
template <class Scratch, class Body>
SparseMatrix build_rows(std::size_t n_rows, std::size_t n_cols, Body&& body) {
    struct Buffer {
        std::vector<std::uint64_t> cols;
        std::vector<double> vals;
    };
    struct Placement {
        std::size_t buffer = 0, offset = 0;
    };
    const std::size_t per_block = std::clamp<std::size_t>((n_rows + 1023) / 1024, 1, 1024);
    const std::size_t n_blocks = (n_rows + per_block - 1) / per_block;
    std::vector<Buffer> buffers(static_cast<std::size_t>(std::max(omp_get_max_threads(), 1)));
    std::vector<Placement> placements(n_blocks);
    SparseMatrix m;
    m.n_rows = n_rows;
    m.n_cols = n_cols;
    m.indptr.assign(n_rows + 1, 0);

    std::atomic<std::size_t> next_buffer{0};
    struct Worker {
        Scratch scratch{};
        std::size_t buffer = SIZE_MAX;
    };
    parallel_rows<Worker>(n_blocks, [&](std::size_t b, Worker& w) {
        if (w.buffer == SIZE_MAX) w.buffer = next_buffer.fetch_add(1);
        internal_assert(w.buffer < buffers.size(), "build_rows: more workers than buffers");
        Buffer& buf = buffers[w.buffer];
        placements[b] = {w.buffer, buf.cols.size()};
        RowSink sink{buf.cols, buf.vals};
        const std::size_t end = std::min(n_rows, (b + 1) * per_block);
        for (std::size_t i = b * per_block; i < end; ++i) {
            const std::size_t before = buf.cols.size();
            body(i, w.scratch, sink);
            internal_assert(buf.vals.size() == buf.cols.size(), "build_rows: unpaired entries");
            m.indptr[i + 1] = buf.cols.size() - before;
        }
        // After a worker's first block, reserve for its expected share of all rows so that the
        // buffer does not grow by repeated copying.
        if (placements[b].offset == 0 && !buf.cols.empty()) {
            const std::size_t share = (n_blocks + buffers.size() - 1) / buffers.size();
            const std::size_t expected = buf.cols.size() * share + buf.cols.size() / 4;
            buf.cols.reserve(expected);
            buf.vals.reserve(expected);
        }
    });
    for (std::size_t i = 0; i < n_rows; ++i)
        m.indptr[i + 1] += m.indptr[i];
    // Gathering by appending writes each entry once (no zero fill before the copy).
    m.indices.reserve(m.indptr[n_rows]);
    m.data.reserve(m.indptr[n_rows]);
    for (std::size_t b = 0; b < n_blocks; ++b) {
        const std::size_t first = m.indptr[b * per_block];
        const std::size_t count = m.indptr[std::min(n_rows, (b + 1) * per_block)] - first;
        const Buffer& buf = buffers[placements[b].buffer];
        const auto at = static_cast<std::ptrdiff_t>(placements[b].offset);
        const auto n = static_cast<std::ptrdiff_t>(count);
        m.indices.insert(m.indices.end(), buf.cols.begin() + at, buf.cols.begin() + at + n);
        m.data.insert(m.data.end(), buf.vals.begin() + at, buf.vals.begin() + at + n);
    }
    return m;
}

// The len(x) x len(basis) matrix of point values of the basis elements at x.
Result<SparseMatrix> evaluate_points(const Space& basis, std::span<const double> x);

} // namespace quorvel
