// How failures leave the extension: core errors, internal failures and conversion notes.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>

#include "quorvel/error.hpp"

namespace quorvel::py {

// The process-wide SingularError class (a ValueError), created on first use; nullptr with an
// exception set when it cannot be created.
PyObject* singular_error();

// Raises ValueError (InvalidInput) or SingularError (Singular) with exactly the core message.
void raise_core_error(const CoreError& error);

// Raises the internal-failure exception (SystemError) with the given message.
void raise_internal(const char* message);

// Translates the C++ exception currently being handled into a Python exception:
// std::bad_alloc -> MemoryError, PythonErrorPending -> the pending one, anything else ->
// SystemError with its message.
void raise_from_current_exception() noexcept;

// Appends `note` to the notes of the pending Python exception (BaseException.add_note).
void add_note_to_pending(const char* note);

// TypeError "'{type}' object is not an instance of '{expected}'" ("'None' is not an instance
// of '{expected}'" for None), with the qualified type name of `obj`.
void raise_not_instance(PyObject* obj, const char* expected);

// Runs `body` (returning PyObject*, nullptr on a pending exception) so that no C++ exception
// ever unwinds into the interpreter.
template <class F> PyObject* guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        raise_from_current_exception();
        return nullptr;
    }
}

} // namespace quorvel::py
