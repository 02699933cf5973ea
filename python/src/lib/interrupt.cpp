#include "interrupt.hpp"

#include <csignal>

#include <pthread.h>

#include "ref.hpp"

namespace quorvel::py {

namespace {

// Every field is read and written with the interpreter lock held, except `interrupted` and
// `replaced`, which the handler reads (`replaced` is not changed while the handler is installed).
CancelFlag interrupted{false};
struct sigaction replaced{};
int watchers = 0;
unsigned long main_thread = 0;
bool main_thread_known = false;

void on_sigint(int signal, siginfo_t* info, void* context) {
    interrupted.store(true, std::memory_order_relaxed);
    if ((replaced.sa_flags & SA_SIGINFO) != 0)
        replaced.sa_sigaction(signal, info, context);
    else if (replaced.sa_handler != SIG_DFL && replaced.sa_handler != SIG_IGN)
        replaced.sa_handler(signal);
}

bool on_main_thread() {
    return main_thread_known && PyThread_get_thread_ident() == main_thread &&
           PyInterpreterState_Get() == PyInterpreterState_Main();
}

// The handler of the interrupt signal that would run now: ours only when it is a function (the
// interpreter's) that we can pass the signal on to.
bool install() {
    struct sigaction current{};
    if (sigaction(SIGINT, nullptr, &current) != 0) return false;
    const bool is_function = (current.sa_flags & SA_SIGINFO) != 0 ||
                             (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN);
    if (!is_function) return false;
    replaced = current;
    struct sigaction ours = current;
    ours.sa_flags = current.sa_flags | SA_SIGINFO;
    ours.sa_sigaction = on_sigint;
    interrupted.store(false);
    return sigaction(SIGINT, &ours, nullptr) == 0;
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
    // The thread that forks is the main thread of the child.
    static const bool registered =
        pthread_atfork(nullptr, nullptr, [] { main_thread = PyThread_get_thread_ident(); }) == 0;
    return registered;
}

InterruptWatch::InterruptWatch() {
    if (!on_main_thread()) return;
    if (watchers == 0 && !install()) return;
    ++watchers;
    flag_ = &interrupted;
}

InterruptWatch::~InterruptWatch() {
    if (flag_ == nullptr) return;
    if (--watchers == 0) sigaction(SIGINT, &replaced, nullptr);
}

} // namespace quorvel::py
