// The thread helper of the core: the rows of a loop split into consecutive blocks that the workers
// of a shared pool take in row order. Every row-parallel loop runs through run_row_blocks; how the
// workers are made and how rows are grouped is known only to its source file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

#include "quorvel/cancel.hpp"

namespace quorvel {

// A non-owning reference to a callable, so that template callers can hand their work to compiled
// code. The callable must outlive every call.
template <class Signature> class FunctionRef;

template <class R, class... Args> class FunctionRef<R(Args...)> {
  public:
    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
                 std::is_invocable_r_v<R, F&, Args...>)
    FunctionRef(F&& f) noexcept
        : object_(static_cast<void*>(std::addressof(f))),
          call_([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(
                  std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

  private:
    void* object_;
    R (*call_)(void*, Args...);
};

// How the rows [0, n_rows) of one loop are split: n_blocks consecutive blocks whose sizes differ by
// at most one row (the first ones are the longer ones).
struct RowPartition {
    std::size_t n_rows = 0, n_blocks = 0;

    // The one splitting rule of the core. `min_block` is the fewest rows worth a task of their
    // own: a loop of at most that many rows is one block, run on the calling thread.
    static RowPartition of(std::size_t n_rows, std::size_t min_block);

    std::size_t begin(std::size_t block) const {
        return block * short_block + std::min(block, long_blocks);
    }
    std::size_t end(std::size_t block) const { return begin(block + 1); }

  private:
    // Every block has short_block rows, the first long_blocks of them one more.
    std::size_t short_block = 0, long_blocks = 0;
};

namespace detail {
struct RowLoop;
} // namespace detail

// One worker's view of a running loop: the block it holds, and the next one on request.
class RowBlocks {
  public:
    explicit RowBlocks(detail::RowLoop& loop) : loop_(loop) {}

    // Takes the next block nobody has taken yet (blocks go out in row order); false once all are
    // taken or the loop was stopped. Throws Cancelled once the loop's cancel flag is set.
    bool next();
    std::size_t index() const { return index_; }
    std::size_t begin() const { return begin_; }
    std::size_t end() const { return end_; }

    // Hands out no further blocks. Called when the held block failed: every block before it is
    // already taken and runs to its end, and no later row can be the first failure.
    void stop();
    // Whether the loop was stopped (a block failed or was interrupted).
    bool stopped() const;

  private:
    detail::RowLoop& loop_;
    std::size_t index_ = 0, begin_ = 0, end_ = 0;
};

// Runs work(blocks) on the calling thread and, once the caller has spent a quarter of a millisecond
// on the loop, on as many pool workers as join while blocks are left; each call takes blocks with
// blocks.next() until none is left. The calling thread never waits for a worker that has not
// begun: blocks nobody took are done by the caller. A loop of one
// block, a pool of one thread, a loop started inside another one, and the child of a fork (whose
// copy of the parent's pool cannot run) work on the calling thread alone. The workers poll the
// calling thread's cancel flag. An exception thrown by `work` stops the loop and is rethrown on
// the calling thread: Cancelled when the flag was set, else the one from the earliest block.
void run_row_blocks(const RowPartition& partition, FunctionRef<void(RowBlocks&)> work);

// Sets the number of threads (the caller included) of the loops started from the calling thread
// afterwards (0: the pool's own size; a loop never has more threads than blocks) and returns the
// previous setting.
std::size_t set_row_threads(std::size_t threads);

// Makes sure that a child process forked from now on knows whether it inherited a pool that
// cannot run. Idempotent; called when the module is loaded, before anything can fork.
void watch_forks();

struct NoScratch {};

namespace detail {

// One row of a dense loop, compiled as a function of its own: a large row body inlined into the
// block loop compiles to measurably more instructions, and a call per row costs nothing beside a
// dense row.
template <class Scratch, class Body>
[[gnu::noinline]] void call_row(Body& body, std::size_t i, Scratch& scratch) {
    if constexpr (std::is_invocable_v<Body&, std::size_t, Scratch&>) {
        body(i, scratch);
    } else {
        body(i);
    }
}

} // namespace detail

// Calls body(i, scratch), or body(i) for a body that takes no scratch, for every row i in
// [0, n_rows). Each worker owns one Scratch value, default-constructed once and reused for all its
// rows. Rows must write only their own slot, so the result depends neither on the number of
// threads nor on the schedule. `min_block` is the fewest rows worth a task of their own.
template <class Scratch = NoScratch, class Body>
void parallel_rows(std::size_t n_rows, Body&& body, std::size_t min_block = 1) {
    auto work = [&](RowBlocks& blocks) {
        [[maybe_unused]] Scratch scratch{};
        const CancelFlag* const cancel = current_cancel_flag();
        while (blocks.next()) {
            const std::size_t end = blocks.end();
            for (std::size_t i = blocks.begin(); i < end; ++i) {
                poll_cancel(cancel);
                detail::call_row(body, i, scratch);
            }
        }
    };
    run_row_blocks(RowPartition::of(n_rows, min_block), work);
}

} // namespace quorvel
