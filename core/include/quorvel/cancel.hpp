// Stopping a running computation from outside. Whoever starts a computation may hand it a flag;
// the thread helper passes the flag on to the workers of every loop, and long loops poll it (each
// row, and every few thousand steps of a quadrature walk). Once the flag is set, the next poll
// throws Cancelled, which unwinds the computation and discards every partial result.
#pragma once

#include <atomic>

namespace quorvel {

using CancelFlag = std::atomic<bool>;

// Thrown by a poll once the flag is set. Not a std::exception: nothing that reports internal
// failures mistakes it for one.
struct Cancelled {};

namespace detail {
inline thread_local const CancelFlag* cancel_flag = nullptr;
} // namespace detail

// The flag polled on the calling thread; nullptr when nothing can cancel its work.
inline const CancelFlag* current_cancel_flag() {
    return detail::cancel_flag;
}

// Makes `flag` the one polled on the calling thread for the lifetime of the scope.
class CancelScope {
  public:
    explicit CancelScope(const CancelFlag* flag) : previous_(detail::cancel_flag) {
        detail::cancel_flag = flag;
    }
    ~CancelScope() { detail::cancel_flag = previous_; }
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

  private:
    const CancelFlag* previous_;
};

inline bool cancel_requested(const CancelFlag* flag) {
    return flag != nullptr && flag->load(std::memory_order_relaxed);
}

// Throws Cancelled when `flag` (a value of current_cancel_flag() kept by a hot loop) is set.
inline void poll_cancel(const CancelFlag* flag) {
    if (cancel_requested(flag)) [[unlikely]]
        throw Cancelled{};
}

// Throws Cancelled when the calling thread's flag is set.
inline void poll_cancel() {
    poll_cancel(current_cancel_flag());
}

} // namespace quorvel
