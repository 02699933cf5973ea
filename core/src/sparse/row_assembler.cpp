// The compiled part of the row assembler: blocks of rows taken by the workers, and their entries
// appended to the result in row order as soon as every block before them is in.
#include "quorvel/row_assembler.hpp"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>

#include "quorvel/platform.hpp"

namespace quorvel::detail {

namespace {

// Huge pages under the storage of a large result array (quorvel/platform.hpp).
template <class T> void advise_huge_pages(const std::vector<T>& v) {
    platform::advise_huge_pages(v.data(), v.capacity() * sizeof(T));
}

// Storage for `capacity` entries of n_values value arrays each.
EntryBuffer make_buffer(std::size_t capacity, std::size_t n_values) {
    EntryBuffer b;
    b.cols = std::make_unique_for_overwrite<std::uint64_t[]>(capacity);
    b.values = std::make_unique_for_overwrite<double[]>(capacity * n_values);
    b.capacity = capacity;
    return b;
}

} // namespace

AssemblyWorker::AssemblyWorker(RowAssembly& assembly, RowBlocks& blocks)
    : assembly_(assembly), blocks_(blocks), lengths_(assembly.indptr_.data()) {}

bool AssemblyWorker::next() {
    assembly_.wait_for_room(blocks_);
    if (!blocks_.next()) return false;
    buffer_ = &assembly_.blocks_[blocks_.index()].entries;
    if (hint_ > 0) *buffer_ = make_buffer(hint_, assembly_.n_values_);
    return true;
}

void AssemblyWorker::grow(std::size_t size) {
    const std::size_t n_values = assembly_.n_values_;
    EntryBuffer& old = *buffer_;
    EntryBuffer b = make_buffer(std::max<std::size_t>(64, 2 * old.capacity), n_values);
    std::copy_n(old.cols.get(), size, b.cols.get());
    for (std::size_t k = 0; k < n_values; ++k)
        std::copy_n(old.values.get() + k * old.capacity, size, b.values.get() + k * b.capacity);
    old = std::move(b);
}

void AssemblyWorker::commit(std::size_t size) {
    buffer_->size = size;
    hint_ = size + size / 8;
    assembly_.commit(blocks_.index());
}

void AssemblyWorker::fail(CoreError error) {
    assembly_.blocks_[blocks_.index()].error = std::move(error);
    blocks_.stop();
}

RowAssembly::RowAssembly(std::size_t n_rows, std::size_t n_cols, std::size_t n_values,
                         std::size_t min_block)
    : partition_(RowPartition::of(n_rows, min_block)), n_cols_(n_cols), n_values_(n_values),
      blocks_(partition_.n_blocks), done_(partition_.n_blocks, 0), indptr_(n_rows + 1, 0),
      data_(n_values) {}

void RowAssembly::run(FunctionRef<void(AssemblyWorker&)> work) {
    run_row_blocks(partition_, [&](RowBlocks& blocks) {
        AssemblyWorker worker(*this, blocks);
        work(worker);
    });
}

// One worker at a time is the committer: it appends the finished blocks that directly follow the
// committed ones, copying outside the lock so that the others keep computing.
void RowAssembly::commit(std::size_t block) {
    std::unique_lock<std::mutex> lock(commit_mutex_);
    done_[block] = 1;
    ++waiting_blocks_;
    waiting_entries_ += blocks_[block].entries.size;
    if (committing_) return;
    committing_ = true;
    for (;;) {
        std::size_t last = next_commit_;
        while (last < partition_.n_blocks && done_[last])
            ++last;
        if (last == next_commit_) break;
        const std::size_t first = next_commit_;
        lock.unlock();
        const std::size_t entries = append(first, last);
        lock.lock();
        waiting_blocks_ -= last - first;
        waiting_entries_ -= entries;
        next_commit_ = last;
        room_.notify_all();
    }
    committing_ = false;
}

// A block finished while an earlier one is still being computed waits, with its entries, until
// that one is in. Should the worker of the earlier block be stopped by the system for a while,
// the others would pile up the rest of the result beside it; so a worker that finds more than
// one block in sixteen waiting, holding more than a few megabytes, sleeps until the result has
// caught up (a small pile is not worth a sleep, which on a busy machine can cost a time slice).
// The wait is checked every millisecond against a stopped loop (a failed or interrupted block is
// never committed).
void RowAssembly::wait_for_room(const RowBlocks& blocks) {
    const std::size_t most = std::max<std::size_t>(8, partition_.n_blocks / 16);
    constexpr std::size_t small = std::size_t{4} << 20; // bytes
    const std::size_t entry_bytes = 8 * (n_values_ + 1);
    std::unique_lock<std::mutex> lock(commit_mutex_);
    while (waiting_blocks_ > most && waiting_entries_ * entry_bytes > small && !blocks.stopped()) {
        room_.wait_for(lock, std::chrono::milliseconds(1));
        lock.unlock();
        poll_cancel(current_cancel_flag());
        lock.lock();
    }
}

std::size_t RowAssembly::append(std::size_t first, std::size_t last) {
    std::size_t entries = 0;
    for (std::size_t b = first; b < last; ++b) {
        const EntryBuffer& block = blocks_[b].entries;
        entries += block.size;
        const std::size_t need = indices_.size() + block.size;
        if (need > indices_.capacity()) {
            // Reserve for all rows at the density seen so far, at least doubling.
            const std::size_t rows_in = partition_.end(b);
            const double per_row = static_cast<double>(need) / static_cast<double>(rows_in);
            const auto expected =
                static_cast<std::size_t>(per_row * 1.1 * static_cast<double>(partition_.n_rows)) +
                16;
            const auto reserve = [&](std::size_t n) {
                indices_.reserve(n);
                advise_huge_pages(indices_);
                for (std::vector<double>& d : data_) {
                    d.reserve(n);
                    advise_huge_pages(d);
                }
            };
            try {
                reserve(std::max({need, expected, 2 * indices_.capacity()}));
            } catch (const std::bad_alloc&) {
                // More than memory allows, maybe only because the rows so far are denser than
                // the rest: grow by less.
                reserve(std::max(need, indices_.capacity() + indices_.capacity() / 2));
            }
        }
        indices_.insert(indices_.end(), block.cols.get(), block.cols.get() + block.size);
        for (std::size_t k = 0; k < n_values_; ++k) {
            const double* const values = block.values.get() + k * block.capacity;
            data_[k].insert(data_[k].end(), values, values + block.size);
        }
        blocks_[b] = Block{};
    }
    return entries;
}

void refuse_entries_beyond_memory(double entries, std::size_t n_values) {
    const double bytes = entries * static_cast<double>(8 * (n_values + 1));
    if (bytes > platform::memory_available()) throw std::bad_alloc();
}

Status RowAssembly::status() const {
    for (const Block& block : blocks_)
        if (block.error) return std::unexpected(*block.error);
    return {};
}

std::vector<SparseMatrix> RowAssembly::take() {
    internal_assert(next_commit_ == partition_.n_blocks, "row assembly: a block was not committed");
    for (std::size_t i = 0; i < partition_.n_rows; ++i)
        indptr_[i + 1] += indptr_[i];
    // Every matrix shares the row pointers and the column indices.
    std::vector<SparseMatrix> out(n_values_);
    for (std::size_t k = 0; k < n_values_; ++k) {
        SparseMatrix& m = out[k];
        m.n_rows = partition_.n_rows;
        m.n_cols = n_cols_;
        if (k + 1 < n_values_) {
            m.indptr = indptr_;
            m.indices = indices_;
        } else {
            m.indptr = std::move(indptr_);
            m.indices = std::move(indices_);
        }
        m.data = std::move(data_[k]);
    }
    return out;
}

} // namespace quorvel::detail
