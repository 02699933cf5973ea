// The worker pool behind every row-parallel loop: a few threads that take consecutive blocks of
// rows in row order, beside the calling thread. The only file that knows how workers are made and
// how rows are grouped.
//
// The calling thread starts on the blocks of a loop at once, alone. Between two of its blocks it
// looks at the processor time it has spent on the loop: after a quarter of a millisecond (longer on
// a busy machine, see worth_help) it opens the loop to the pool, whose sleeping workers are woken
// and join while blocks are left. When the caller finds no block left, it closes the loop and waits
// only for the workers that joined, which are then on their last block. So the caller never waits
// for a worker that the system has not scheduled (on a busy machine the caller simply does more
// blocks itself); a short loop wakes nothing (a woken thread can cost the caller its processor, and
// one that the system stops in the middle of a block makes the caller wait a time slice); and idle
// workers sleep instead of spinning against other processes. A loop whose first block is long
// gets help only after it.
#include "quorvel/parallel.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "quorvel/platform.hpp"

namespace quorvel {

namespace detail {

// The shared state of one running loop.
struct RowLoop {
    RowLoop(const RowPartition& p, const CancelFlag* c) : partition(p), cancel(c) {}

    const RowPartition& partition;
    const CancelFlag* cancel;
    // The loop's job while it is not open to the pool yet (only the caller takes blocks then).
    void* job = nullptr;
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

using Clock = std::chrono::steady_clock;

// The caller's processor time on a loop after which workers are woken, on a quiet machine.
constexpr std::chrono::nanoseconds solo_time(250'000);
// The same on a busy machine.
constexpr std::chrono::nanoseconds busy_solo_time(10'000'000);

// Set on pool workers, and on a caller while it works on its own loop: a loop started there runs
// on that thread alone.
thread_local bool inside_loop = false;

// Runs the worker side of `loop` on the calling thread, keeping its failure in the loop.
void take_part(detail::RowLoop& loop, FunctionRef<void(RowBlocks&)> work) {
    const CancelScope scope(loop.cancel);
    RowBlocks blocks(loop);
    try {
        work(blocks);
    } catch (...) {
        loop.fail(blocks.index(), std::current_exception());
    }
}

// A loop run by its caller, and open to the pool's workers once worth their help.
struct Job {
    Job(detail::RowLoop& l, FunctionRef<void(RowBlocks&)> w, std::size_t helpers)
        : loop(l), work(w), helpers(helpers), seats(helpers) {
        cpu_started = platform::thread_cpu_time();
        started = checked = Clock::now();
    }

    // Whether the caller (the calling thread) has worked alone long enough to want help: a
    // quarter of a millisecond of processor time, or ten milliseconds on a busy machine, where
    // helpers risk being stopped in the middle of a block for a time slice, so that only a loop
    // with much left is worth them. The thread's clock is read at most every eighth of solo_time.
    bool worth_help() {
        const Clock::time_point now = Clock::now();
        if (now - started < solo_time || now - checked < solo_time / 8) return false;
        checked = now;
        if (!busy_known) {
            busy = platform::machine_busy();
            busy_known = true;
        }
        const std::chrono::nanoseconds needed = busy ? busy_solo_time : solo_time;
        if (!cpu_started) return now - started >= needed;
        return *platform::thread_cpu_time() - *cpu_started >= needed;
    }

    detail::RowLoop& loop;
    FunctionRef<void(RowBlocks&)> work;
    std::size_t helpers;    // workers asked to join
    std::size_t seats;      // workers that may still join
    std::size_t active = 0; // workers inside the loop
    bool opened = false;
    // The caller's processor time when the loop started, where the system tells it.
    std::optional<std::chrono::nanoseconds> cpu_started;
    Clock::time_point started, checked;
    bool busy_known = false, busy = false; // looked at once per loop
    std::condition_variable left;
};

// The pool: its threads and the loops open for them to join. Every field is guarded by `mutex`,
// which is also held across fork() so that a child inherits a consistent pool.
struct Pool {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Job*> open;
    std::size_t threads = 0;

    // Joins the oldest open loop whenever there is one; sleeps otherwise.
    void serve() {
        inside_loop = true;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return !open.empty(); });
            Job& job = *open.front();
            ++job.active;
            if (--job.seats == 0) open.erase(open.begin());
            lock.unlock();
            take_part(job.loop, job.work);
            lock.lock();
            // Notified under the lock: the caller cannot return (and free the job) before the
            // lock is released, and the job is not touched after that.
            if (--job.active == 0) job.left.notify_one();
        }
    }

    // Starts threads until there are `n`; a thread that cannot be made leaves fewer.
    void ensure_threads(std::size_t n) {
        while (threads < n) {
            try {
                std::thread([this] { serve(); }).detach();
            } catch (const std::system_error&) {
                return;
            }
            ++threads;
        }
    }

    void open_job(Job& job) {
        bool everyone = false;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ensure_threads(job.helpers);
            open.push_back(&job);
            job.opened = true;
            everyone = job.helpers >= threads;
        }
        if (everyone) {
            wake.notify_all();
        } else {
            for (std::size_t i = 0; i < job.helpers; ++i)
                wake.notify_one();
        }
    }

    // No worker joins `job` any more; returns once the ones that joined have left it.
    void close(Job& job) {
        if (!job.opened) return;
        std::unique_lock<std::mutex> lock(mutex);
        std::erase(open, &job);
        job.left.wait(lock, [&] { return job.active == 0; });
    }
};

// Never destroyed: detached threads may wait on it until the process ends.
Pool& pool = *new Pool;

// Set in the child of a fork of a process whose pool had threads: they do not exist in the child,
// which therefore computes on the calling thread.
std::atomic<bool> forked_child{false};

// The pool's size by default: OMP_NUM_THREADS (its first entry), the convention that thread pools
// of numerical libraries follow, else the processors this process may run on.
std::size_t default_threads() {
    if (const char* env = std::getenv("OMP_NUM_THREADS")) {
        const std::string_view text(env);
        std::size_t n = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (error == std::errc{} && n > 0 && (end == text.data() + text.size() || *end == ','))
            return n;
    }
    return platform::processors();
}

// The number of threads set by set_row_threads, per calling thread (0: the pool's own size).
thread_local std::size_t requested_threads = 0;

// The threads to announce a loop to besides the caller; 0 means the caller works alone.
std::size_t helper_count(const RowPartition& partition) {
    if (partition.n_blocks <= 1 || inside_loop || forked_child.load()) return 0;
    static const std::size_t own = default_threads();
    const std::size_t threads = requested_threads != 0 ? requested_threads : own;
    // A generous bound on the threads one loop may ask for.
    constexpr std::size_t most = 256;
    return std::min({threads, partition.n_blocks, most}) - 1;
}

} // namespace

void watch_forks() {
    static const bool registered = [] {
        platform::at_fork([] { pool.mutex.lock(); }, [] { pool.mutex.unlock(); },
                          [] {
                              if (pool.threads > 0) forked_child.store(true);
                              pool.mutex.unlock();
                          });
        return true;
    }();
    (void)registered;
}

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
    poll_cancel(loop_.cancel);
    // Before the loop is open, only its caller is here. Not for the last block: nobody could help.
    if (loop_.job != nullptr &&
        loop_.next_block.load(std::memory_order_relaxed) + 1 < loop_.partition.n_blocks &&
        static_cast<Job*>(loop_.job)->worth_help())
        pool.open_job(*static_cast<Job*>(std::exchange(loop_.job, nullptr)));
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

bool RowBlocks::stopped() const {
    return loop_.stopped.load(std::memory_order_relaxed);
}

void run_row_blocks(const RowPartition& partition, FunctionRef<void(RowBlocks&)> work) {
    if (partition.n_blocks == 0) return;
    detail::RowLoop loop(partition, current_cancel_flag());
    const std::size_t helpers = helper_count(partition);
    if (helpers == 0) {
        RowBlocks blocks(loop);
        work(blocks);
        return;
    }
    watch_forks();
    Job job(loop, work, helpers);
    loop.job = &job;
    inside_loop = true;
    take_part(loop, work);
    inside_loop = false;
    pool.close(job);
    poll_cancel(loop.cancel);
    if (loop.failure) std::rethrow_exception(loop.failure);
}

std::size_t set_row_threads(std::size_t threads) {
    const std::size_t previous = requested_threads;
    requested_threads = threads;
    return previous;
}

} // namespace quorvel
