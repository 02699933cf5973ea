// The row assembler: every sparse matrix built row by row (point evaluation, inner products,
// measurements and their derivatives) is assembled here, rows in parallel, from a small per-row
// function that appends the entries of one row.
#pragma once

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "quorvel/error.hpp"
#include "quorvel/parallel.hpp"
#include "quorvel/sparse.hpp"

namespace quorvel {

namespace detail {

class RowAssembly;

// The entries of one block: `capacity` slots for the columns and for each value array (array k
// at values + k * capacity), the first `size` of them filled.
struct EntryBuffer {
    std::unique_ptr<std::uint64_t[]> cols;
    std::unique_ptr<double[]> values;
    std::size_t size = 0, capacity = 0;
};

// One worker's side of an assembly: the block of rows it holds and where their entries go.
class AssemblyWorker {
  public:
    AssemblyWorker(RowAssembly& assembly, RowBlocks& blocks);

    // Takes the next block of rows, its storage sized from the worker's previous block.
    bool next();
    std::size_t begin() const { return blocks_.begin(); }
    std::size_t end() const { return blocks_.end(); }
    // Slot i + 1 receives the number of entries of row i.
    std::uint64_t* lengths() const { return lengths_; }
    EntryBuffer& buffer() { return *buffer_; }
    // Enlarges the held block's storage, keeping its first `size` entries.
    void grow(std::size_t size);

    // The held block is complete with `size` entries: it joins the result once every block before
    // it has.
    void commit(std::size_t size);
    // A row of the held block failed with `error`: the block ends there and no later block starts.
    void fail(CoreError error);

  private:
    RowAssembly& assembly_;
    RowBlocks& blocks_;
    std::uint64_t* lengths_;
    EntryBuffer* buffer_ = nullptr;
    std::size_t hint_ = 0; // entries of the worker's previous block
};

// The state of one assembly of n_values matrices on one sparsity pattern.
class RowAssembly {
  public:
    RowAssembly(std::size_t n_rows, std::size_t n_cols, std::size_t n_values,
                std::size_t min_block);

    void run(FunctionRef<void(AssemblyWorker&)> work);
    // The error of the first failing row in row order, if any.
    Status status() const;
    // The matrices, after a run without failure.
    std::vector<SparseMatrix> take();

  private:
    friend class AssemblyWorker;

    // Entries of consecutive rows, kept together until every block before them is in the result.
    struct Block {
        EntryBuffer entries;
        std::optional<CoreError> error;
    };

    void commit(std::size_t block);
    // Appends the finished blocks [first, last) and returns their number of entries.
    std::size_t append(std::size_t first, std::size_t last);
    // Returns once few enough finished blocks wait for an earlier one (or the loop stopped).
    void wait_for_room(const RowBlocks& blocks);

    RowPartition partition_;
    std::size_t n_cols_, n_values_;
    std::vector<Block> blocks_;
    std::vector<char> done_;
    std::vector<std::uint64_t> indptr_, indices_;
    std::vector<std::vector<double>> data_;

    std::mutex commit_mutex_;
    std::condition_variable room_;
    std::size_t next_commit_ = 0;
    std::size_t waiting_blocks_ = 0;  // finished, not yet in the result
    std::size_t waiting_entries_ = 0; // their entries
    bool committing_ = false;
};

// Throws std::bad_alloc when `entries` stored entries of n_values values each (with their
// columns) would not fit in the memory this process can have.
void refuse_entries_beyond_memory(double entries, std::size_t n_values);

} // namespace detail

// Refuses, with std::bad_alloc and before any row is built, an assembly of n_rows x n_cols
// matrices with K values per entry whose entries could not be held in memory. The entries are
// projected from count(i, list), a cheap upper bound of the entries of row i (the overlap count),
// on at most 256 rows spread evenly over all of them. Results that cannot be large are not looked
// at.
template <std::size_t K, class Count>
void refuse_oversized_rows(std::size_t n_rows, std::size_t n_cols, Count&& count) {
    constexpr double small = 1e9; // bytes that no machine running this lacks
    const double most = static_cast<double>(n_rows) * static_cast<double>(n_cols);
    if (most * static_cast<double>(8 * (K + 1)) <= small) return;
    constexpr std::size_t samples = 256;
    std::vector<std::size_t> list;
    double counted = 0.0;
    const std::size_t taken = std::min(n_rows, samples);
    for (std::size_t s = 0; s < taken; ++s)
        counted += static_cast<double>(count(s * n_rows / taken, list));
    detail::refuse_entries_beyond_memory(
        counted / static_cast<double>(taken) * static_cast<double>(n_rows), K);
}

// Where a row function appends the entries of its row: a column and K values per entry, columns
// ascending, exact zeros left out by the caller.
template <std::size_t K> class RowSink {
  public:
    explicit RowSink(detail::AssemblyWorker& worker) : worker_(&worker) { attach(); }

    template <class... V>
        requires(sizeof...(V) == K && (std::is_convertible_v<V, double> && ...))
    void push(std::uint64_t col, V... values) {
        if (size_ == capacity_) [[unlikely]]
            grow();
        cols_[size_] = col;
        [&]<std::size_t... k>(std::index_sequence<k...>) {
            ((values_[k][size_] = static_cast<double>(values)), ...);
        }(std::make_index_sequence<K>{});
        ++size_;
    }

    // Value array k of the entries pushed for the current row, to be rescaled in place.
    std::span<double> row_values(std::size_t k) const {
        return {values_[k] + row_start_, size_ - row_start_};
    }

    // Closes the current row and returns its number of entries.
    std::size_t end_row() {
        const std::size_t entries = size_ - row_start_;
        row_start_ = size_;
        return entries;
    }

    // Entries of the block so far.
    std::size_t size() const { return size_; }

  private:
    void attach() {
        detail::EntryBuffer& b = worker_->buffer();
        cols_ = b.cols.get();
        for (std::size_t k = 0; k < K; ++k)
            values_[k] = b.values.get() + k * b.capacity;
        capacity_ = b.capacity;
    }

    // Out of line, so that the appending path stays short.
    [[gnu::noinline]] void grow() {
        worker_->grow(size_);
        attach();
    }

    detail::AssemblyWorker* worker_;
    std::uint64_t* cols_ = nullptr;
    std::array<double*, K> values_{};
    std::size_t size_ = 0, capacity_ = 0, row_start_ = 0;
};

namespace detail {

template <class Scratch, std::size_t K, class Body>
using RowStatus = std::invoke_result_t<Body&, std::size_t, Scratch&, RowSink<K>&>;

template <class Scratch, std::size_t K, class Body>
using AssembledRows =
    std::conditional_t<std::is_void_v<RowStatus<Scratch, K, Body>>, std::array<SparseMatrix, K>,
                       Result<std::array<SparseMatrix, K>>>;

} // namespace detail

// Assembles K matrices of n_rows x n_cols on one sparsity pattern: body(i, scratch, sink) appends
// the entries of row i and returns nothing, or a Status when a row can fail. Each worker owns one
// Scratch reused for all its rows; rows are computed in blocks whose entries are written to the
// result once, in row order, so the result does not depend on the number of threads. A failing
// row stops its block, and the error of the first failing row in row order is returned.
// `min_block` is the fewest rows worth a task of their own.
// Returns std::array<SparseMatrix, K>, or a Result of it when rows can fail:
//     QUORVEL_TRY_ASSIGN(auto matrices, (assemble_rows<Scratch, 2>(n_rows, n_cols, row)));
//     auto& [w, dw] = matrices;
template <class Scratch, std::size_t K = 1, class Body>
detail::AssembledRows<Scratch, K, Body> assemble_rows(std::size_t n_rows, std::size_t n_cols,
                                                      Body&& body, std::size_t min_block = 1) {
    static_assert(K >= 1, "a row carries at least one value per entry");
    constexpr bool fallible = std::is_same_v<detail::RowStatus<Scratch, K, Body>, Status>;
    static_assert(fallible || std::is_void_v<detail::RowStatus<Scratch, K, Body>>,
                  "a row returns nothing or a Status");

    detail::RowAssembly assembly(n_rows, n_cols, K, min_block);
    auto work = [&](detail::AssemblyWorker& worker) {
        Scratch scratch{};
        const CancelFlag* const cancel = current_cancel_flag();
        while (worker.next()) {
            RowSink<K> sink(worker);
            std::uint64_t* const lengths = worker.lengths();
            const std::size_t end = worker.end();
            for (std::size_t i = worker.begin(); i < end; ++i) {
                poll_cancel(cancel);
                if constexpr (fallible) {
                    if (Status row = body(i, scratch, sink); !row) {
                        worker.fail(std::move(row).error());
                        return;
                    }
                } else {
                    body(i, scratch, sink);
                }
                lengths[i + 1] = sink.end_row();
            }
            worker.commit(sink.size());
        }
    };
    assembly.run(work);

    if constexpr (fallible) QUORVEL_TRY(assembly.status());
    std::vector<SparseMatrix> taken = assembly.take();
    std::array<SparseMatrix, K> matrices;
    for (std::size_t k = 0; k < K; ++k)
        matrices[k] = std::move(taken[k]);
    return matrices;
}

} // namespace quorvel
