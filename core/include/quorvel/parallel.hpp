// The one row-parallel loop used by every row builder.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <vector>

#include <omp.h>
#include <pthread.h>

namespace quorvel {

namespace detail {

// Set in the child of a fork: the OpenMP pool of the parent does not survive a fork, and a child
// that entered a parallel region would wait for it forever, so the child computes serially.
inline std::atomic<bool> forked_child{false};

inline bool pool_usable() {
    static const bool registered =
        pthread_atfork(nullptr, nullptr, [] { forked_child.store(true); }) == 0;
    return registered && !forked_child.load();
}

} // namespace detail

// Calls body(i, scratch) for every row i in [0, n) on the shared OpenMP pool. Each worker owns one
// Scratch value, default-constructed once and reused for all its rows. Rows must write only their
// own slot, so the result does not depend on the number of threads or on the schedule. An
// exception thrown by a row is rethrown on the calling thread after the loop (the first one in
// row order). In the child of a fork the rows run serially on the calling thread.
template <class Scratch, class Body> void parallel_rows(std::size_t n, Body&& body) {
    if (n == 0) return;
    if (n == 1 || !detail::pool_usable() || omp_get_max_threads() == 1) {
        Scratch scratch{};
        for (std::size_t i = 0; i < n; ++i) body(i, scratch);
        return;
    }
    std::vector<std::exception_ptr> failures;
    bool failed = false;
#pragma omp parallel
    {
        Scratch scratch{};
#pragma omp for schedule(dynamic, 16)
        for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(n); ++i) {
            try {
                body(static_cast<std::size_t>(i), scratch);
            } catch (...) {
#pragma omp critical(quorvel_parallel_rows)
                {
                    if (failures.empty()) failures.resize(n);
                    failures[static_cast<std::size_t>(i)] = std::current_exception();
                    failed = true;
                }
            }
        }
    }
    if (failed) {
        for (auto& f : failures)
            if (f) std::rethrow_exception(f);
    }
}

struct NoScratch {};

} // namespace quorvel
