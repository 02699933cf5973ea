#include "interrupt.hpp"

#include <atomic>
#include <csignal>
#include <utility>

#include <cxxabi.h>
#include <pthread.h>
#include <unistd.h>

#include "ref.hpp"

namespace quorvel::py {

namespace {

// Every field is read and written with the interpreter lock held, except `target` and `replaced`,
// which the handler reads (`replaced` is not changed while the handler is installed).
std::atomic<CancelFlag*> target{nullptr}; // the flag of the innermost watched call
struct sigaction replaced{};
bool installed = false;
int watchers = 0;
unsigned long main_thread = 0;
bool main_thread_known = false;
// Counts forks: a call begun in the parent ends in a child without touching the child's state.
unsigned generation = 0;

void on_sigint(int signal, siginfo_t* info, void* context) {
    if (CancelFlag* flag = target.load(std::memory_order_relaxed)) {
        int none = cancel_none;
        flag->compare_exchange_strong(none, cancel_asked);
    }
    if ((replaced.sa_flags & SA_SIGINFO) != 0)
        replaced.sa_sigaction(signal, info, context);
    else if (replaced.sa_handler != SIG_DFL && replaced.sa_handler != SIG_IGN)
        replaced.sa_handler(signal);
}

bool on_main_thread() {
    return main_thread_known && PyThread_get_thread_ident() == main_thread &&
           PyInterpreterState_Get() == PyInterpreterState_Main();
}

bool is_ours(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) != 0 && action.sa_sigaction == on_sigint;
}

bool is_function(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) != 0 ||
           (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN);
}

// Puts our handler in front of the current one when that is a function (the interpreter's) that
// we can pass the signal on to. A disposition that Python code changed since (to SIG_DFL, SIG_IGN
// or another handler) is taken as the one to pass on to, or left alone.
bool install() {
    struct sigaction current{};
    if (sigaction(SIGINT, nullptr, &current) != 0) return false;
    if (is_ours(current)) return installed = true;
    installed = false;
    if (!is_function(current)) return false;
    replaced = current;
    struct sigaction ours = current;
    ours.sa_flags = current.sa_flags | SA_SIGINFO;
    ours.sa_sigaction = on_sigint;
    installed = sigaction(SIGINT, &ours, nullptr) == 0;
    return installed;
}

// Gives the disposition back to the handler we replaced, unless Python code changed it meanwhile:
// then the interpreter's own record of the disposition is the current one and stays.
void uninstall() {
    if (!installed) return;
    installed = false;
    struct sigaction current{};
    if (sigaction(SIGINT, nullptr, &current) == 0 && is_ours(current))
        sigaction(SIGINT, &replaced, nullptr);
}

// The child of a fork has only the forking thread: no call is running there.
void after_fork_child() {
    main_thread = PyThread_get_thread_ident();
    ++generation;
    watchers = 0;
    target.store(nullptr);
    uninstall();
}

} // namespace

bool note_main_thread() {
    const Ref threading = Ref::steal(PyImport_ImportModule("threading"));
    if (!threading) return false;
    const Ref main = Ref::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr));
    if (!main) return false;
    const Ref ident = Ref::steal(PyObject_GetAttrString(main.get(), "ident"));
    if (!ident) return false;
    if (ident.get() == Py_None) return true;
    main_thread = PyLong_AsUnsignedLong(ident.get());
    if (PyErr_Occurred()) return false;
    main_thread_known = true;
    static const bool registered = pthread_atfork(nullptr, nullptr, after_fork_child) == 0;
    return registered;
}

ReleasedCall::ReleasedCall() {
    if (on_main_thread() && (installed || install())) {
        watching_ = true;
        generation_ = generation;
        ++watchers;
        owner_ = CancelOwner{&flag_, &ReleasedCall::decide, this};
        outer_ = target.exchange(&flag_);
    }
    state_ = PyEval_SaveThread();
}

ReleasedCall::~ReleasedCall() {
    reacquire();
    if (watching_ && generation_ == generation) {
        target.store(outer_);
        if (--watchers == 0) uninstall();
    }
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(traceback_);
}

// At shutdown the interpreter ends a thread that asks for the lock by unwinding its stack
// (pthread_exit). No frame of ours may be unwound that way (destructors are noexcept), so the
// thread stops here instead, holding nothing, until the process exits.
void ReleasedCall::reacquire() noexcept {
    if (state_ == nullptr) return;
    PyThreadState* state = state_;
    state_ = nullptr;
    try {
        PyEval_RestoreThread(state);
    } catch (abi::__forced_unwind&) {
        for (;;)
            pause();
    }
}

// Runs on the calling thread, inside a poll of the computation, with the lock released: takes the
// lock, runs the signal handlers (without the call's flag: Python code here may call the module
// again), and cancels the computation if one raised.
void ReleasedCall::decide(void* self) {
    auto& call = *static_cast<ReleasedCall*>(self);
    call.flag_.store(cancel_none);
    PyEval_RestoreThread(call.state_);
    call.state_ = nullptr;
    int checked = 0;
    {
        const CancelScope no_flag(nullptr);
        const CancelOwnerScope no_owner(nullptr);
        checked = PyErr_CheckSignals();
    }
    if (checked < 0) {
#if PY_VERSION_HEX >= 0x030C0000
        call.value_ = PyErr_GetRaisedException();
#else
        PyErr_Fetch(&call.type_, &call.value_, &call.traceback_);
#endif
        call.flag_.store(cancel_now);
    }
    // A handler may have changed the disposition; watch on if it is still a function.
    if (call.generation_ == generation) install();
    call.state_ = PyEval_SaveThread();
}

void ReleasedCall::raise_stop() {
    reacquire();
#if PY_VERSION_HEX >= 0x030C0000
    const bool raised = value_ != nullptr;
    if (raised) PyErr_SetRaisedException(std::exchange(value_, nullptr));
#else
    const bool raised = type_ != nullptr;
    if (raised) {
        PyErr_Restore(type_, value_, traceback_);
        type_ = value_ = traceback_ = nullptr;
    }
#endif
    if (!raised && PyErr_CheckSignals() == 0) PyErr_SetNone(PyExc_KeyboardInterrupt);
    throw PythonErrorPending{};
}

} // namespace quorvel::py
