// Stopping a running computation from outside. Whoever starts a computation may hand it a flag;
// the thread helper passes the flag on to the workers of every loop, and long loops poll it (each
// row, and every few thousand steps of a quadrature walk). Once the flag is set, the next poll
// throws Cancelled, which unwinds the computation and discards every partial result.
//
// A flag may also be raised as a question (cancel_asked): the thread that owns the computation
// (a CancelOwnerScope) answers it at its next poll, either cancelling or withdrawing the request
// and going on; other threads keep working meanwhile.
#pragma once

#include <atomic>

namespace quorvel {

// cancel_none, cancel_now (true) or cancel_asked.
using CancelFlag = std::atomic<int>;
inline constexpr int cancel_none = 0;
inline constexpr int cancel_now = 1;
inline constexpr int cancel_asked = 2;

// Thrown by a poll once the flag is set. Not a std::exception: nothing that reports internal
// failures mistakes it for one.
struct Cancelled {};

// The owner of a computation: decide() answers a cancel_asked on `flag`, storing cancel_now or
// cancel_none into it. Called on the owner's thread only, from a poll.
struct CancelOwner {
    CancelFlag* flag = nullptr;
    void (*decide)(void* context) = nullptr;
    void* context = nullptr;
};

namespace detail {
inline thread_local const CancelFlag* cancel_flag = nullptr;
inline thread_local const CancelOwner* cancel_owner = nullptr;
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

// Makes the calling thread the owner of `owner.flag` for the lifetime of the scope.
class CancelOwnerScope {
  public:
    explicit CancelOwnerScope(const CancelOwner* owner) : previous_(detail::cancel_owner) {
        detail::cancel_owner = owner;
    }
    ~CancelOwnerScope() { detail::cancel_owner = previous_; }
    CancelOwnerScope(const CancelOwnerScope&) = delete;
    CancelOwnerScope& operator=(const CancelOwnerScope&) = delete;

  private:
    const CancelOwner* previous_;
};

// Whether anything (a cancellation or a question) is raised on `flag`.
inline bool cancel_requested(const CancelFlag* flag) {
    return flag != nullptr && flag->load(std::memory_order_relaxed) != cancel_none;
}

namespace detail {
// A raised flag: its owner answers a question, and a cancellation throws.
[[gnu::noinline, gnu::cold]] inline void cancel_raised(const CancelFlag& flag) {
    int state = flag.load(std::memory_order_acquire);
    const CancelOwner* owner = cancel_owner;
    if (state == cancel_asked && owner != nullptr && owner->flag == &flag) {
        owner->decide(owner->context);
        state = flag.load(std::memory_order_acquire);
    }
    if (state == cancel_now) throw Cancelled{};
}
} // namespace detail

// Throws Cancelled when `flag` (a value of current_cancel_flag() kept by a hot loop) is set; a
// question is answered here on the owner's thread and passed over on others.
inline void poll_cancel(const CancelFlag* flag) {
    if (cancel_requested(flag)) [[unlikely]]
        detail::cancel_raised(*flag);
}

// Throws Cancelled when the calling thread's flag is set.
inline void poll_cancel() {
    poll_cancel(current_cancel_flag());
}

} // namespace quorvel
