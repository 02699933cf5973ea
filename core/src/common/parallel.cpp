// The worker pool behind every row-parallel loop: OpenMP threads that take consecutive blocks of
// rows in row order. The only file that knows how workers are made and how rows are grouped.
#include "quorvel/parallel.hpp"

#include <atomic>
#include <exception>
#include <limits>
#include <mutex>

#include <omp.h>
#include <pthread.h>

namespace quorvel {

namespace detail {

// The shared state of one running loop.
struct RowLoop {
    explicit RowLoop(const RowPartition& p) : partition(p) {}

    const RowPartition& partition;
    std::atomic<std::size_t> next_block{0};
    std::atomic<bool> stopped{false};

    // The exception of the earliest failing block, rethrown after the loop.
    std::mutex failure_mutex;
    std::size_t failed_block = std::numeric_limits<std::size_t>::max();
    std::exception_ptr failure;

    void fail(std::size_t block, std::exception_ptr e) {
        const std::lock_guard<std::mutex> lock(failure_mutex);
        if (block < failed_block) {
            failed_block = block;
            failure = std::move(e);
        }
        stopped.store(true, std::memory_order_relaxed);
    }
};

} // namespace detail

namespace {

// Set in the child of a fork: the OpenMP pool of the parent does not survive a fork, and a child
// that entered a parallel region would wait for it forever, so the child computes serially.
std::atomic<bool> forked_child{false};

bool pool_usable() {
    static const bool registered =
        pthread_atfork(nullptr, nullptr, [] { forked_child.store(true); }) == 0;
    return registered && !forked_child.load();
}

// The number of workers set by set_row_threads, per calling thread (0: the pool's own size).
thread_local std::size_t requested_threads = 0;

// Workers worth starting for a loop; 1 means the calling thread does the work alone.
std::size_t worker_count(const RowPartition& partition) {
    if (partition.n_blocks <= 1 || !pool_usable()) return 1;
    const std::size_t threads = requested_threads != 0
                                    ? requested_threads
                                    : static_cast<std::size_t>(std::max(omp_get_max_threads(), 1));
    return std::min(
        {threads, partition.n_blocks, static_cast<std::size_t>(std::numeric_limits<int>::max())});
}

} // namespace

RowPartition RowPartition::of(std::size_t n_rows, std::size_t min_block) {
    // Blocks of at most `longest` rows: about 1024 of them (of 1 to 1024 rows), enough for an even
    // load on any pool, or fewer of min_block rows when a task is worth no less. The rows are then
    // spread evenly over that many blocks.
    const std::size_t longest =
        std::max(std::clamp<std::size_t>((n_rows + 1023) / 1024, 1, 1024), min_block);
    RowPartition p;
    p.n_rows = n_rows;
    p.n_blocks = (n_rows + longest - 1) / longest;
    if (p.n_blocks > 0) {
        p.short_block = n_rows / p.n_blocks;
        p.long_blocks = n_rows % p.n_blocks;
    }
    return p;
}

bool RowBlocks::next() {
    // The one place where a loop ends early: no block goes out after a stop.
    if (loop_.stopped.load(std::memory_order_relaxed)) return false;
    const std::size_t b = loop_.next_block.fetch_add(1, std::memory_order_relaxed);
    if (b >= loop_.partition.n_blocks) return false;
    index_ = b;
    begin_ = loop_.partition.begin(b);
    end_ = loop_.partition.end(b);
    return true;
}

void RowBlocks::stop() {
    loop_.stopped.store(true, std::memory_order_relaxed);
}

void run_row_blocks(const RowPartition& partition, FunctionRef<void(RowBlocks&)> work) {
    if (partition.n_blocks == 0) return;
    detail::RowLoop loop(partition);
    const std::size_t workers = worker_count(partition);
    if (workers == 1) {
        RowBlocks blocks(loop);
        work(blocks);
        return;
    }
#pragma omp parallel num_threads(static_cast<int>(workers))
    {
        RowBlocks blocks(loop);
        try {
            work(blocks);
        } catch (...) {
            loop.fail(blocks.index(), std::current_exception());
        }
    }
    if (loop.failure) std::rethrow_exception(loop.failure);
}

std::size_t set_row_threads(std::size_t threads) {
    const std::size_t previous = requested_threads;
    requested_threads = threads;
    return previous;
}

} // namespace quorvel
