// Calls that run with the interpreter lock released, and Ctrl-C during them.
//
// While such a call made from the main thread runs, a SIGINT handler of our own raises a question
// on the call's cancel flag and then passes the signal on to the handler it replaced (the
// interpreter's, which records it). At its next poll the calling thread takes the lock back and
// runs the interpreter's signal handlers: if one raises, the computation is cancelled and the
// exception ends the call; if none does, the computation goes on where it was.
//
// The lock is taken back without ever unwinding: a thread that the interpreter ends at shutdown
// waits there until the process exits. A forked child starts with no call running and the SIGINT
// disposition of its parent when idle.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "quorvel/cancel.hpp"

namespace quorvel::py {

// Notes the interpreter's main thread and prepares for forks; called when the module is executed.
bool note_main_thread();

// Thrown once a Python exception is pending (the guard of every entry point returns it as is).
struct PythonErrorPending {};

// One call with the interpreter lock released: from construction (lock held; releases it) to
// destruction (takes it back). Watches for SIGINT when constructed on the main thread of the main
// interpreter while the interpreter handles SIGINT.
class ReleasedCall {
  public:
    ReleasedCall();
    ~ReleasedCall();
    ReleasedCall(const ReleasedCall&) = delete;
    ReleasedCall& operator=(const ReleasedCall&) = delete;

    // The flag that SIGINT raises, and its owner, or nullptr when nothing is watched.
    const CancelFlag* flag() const { return watching_ ? &flag_ : nullptr; }
    const CancelOwner* owner() const { return watching_ ? &owner_ : nullptr; }

    // After Cancelled: takes the lock back and throws PythonErrorPending with the exception that a
    // signal handler raised.
    [[noreturn]] void raise_stop();

  private:
    static void decide(void* self);
    void reacquire() noexcept;

    PyThreadState* state_ = nullptr;
    CancelFlag flag_{cancel_none};
    CancelOwner owner_{};
    bool watching_ = false;
    unsigned generation_ = 0;
    CancelFlag* outer_ = nullptr;
    // The exception raised by a signal handler during the call.
    PyObject *type_ = nullptr, *value_ = nullptr, *traceback_ = nullptr;
};

// Releases the interpreter lock around `f` (taken back on every exit path). Ctrl-C can stop it
// when it runs on the main thread and a signal handler raises; otherwise `f` runs to its end.
template <class F> decltype(auto) without_gil(F&& f) {
    ReleasedCall call;
    try {
        const CancelScope scope(call.flag());
        const CancelOwnerScope owner(call.owner());
        return f();
    } catch (const Cancelled&) {
        call.raise_stop();
    }
}

} // namespace quorvel::py
