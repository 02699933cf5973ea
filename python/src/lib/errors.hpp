// How failures leave the extension: core errors, internal failures and conversion notes.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "quorvel/error.hpp"

namespace quorvel::py {

// The process-wide SingularError class (a ValueError), created on first use; nullptr with an
// exception set when it cannot be created.
PyObject* singular_error();

// Raises ValueError (InvalidInput) or SingularError (Singular) with exactly the core message.
void raise_core_error(const CoreError& error);

// A core error that reaches the user with a note after it, such as the accepted names of an
// option. A core error converts to one without a note, so an entry point that returns
// Outcome<T> can pass on core results unchanged.
struct NotedError {
    CoreError error;
    std::string note;
    NotedError(CoreError e, std::string n = {}) : error(std::move(e)), note(std::move(n)) {}
};
template <class T> using Outcome = std::expected<T, NotedError>;

// raise_core_error, then the note (if any).
void raise_core_error(const NotedError& error);

// "x[3] is NaN": the first entry of `values` that is not finite, named as an item of the
// argument `name`; empty when every entry is finite.
std::string first_nonfinite_note(std::string_view name, std::span<const double> values);

// `result`, its error carrying first_nonfinite_note(name, values) when its message is
// `headline` (the core's message for a non-finite value that does not say which one).
template <class T>
std::expected<T, NotedError> with_nonfinite_note(std::expected<T, CoreError> result,
                                                 std::string_view headline, std::string_view name,
                                                 std::span<const double> values) {
    if (result) return std::move(result).value();
    std::string note = result.error().message == headline ? first_nonfinite_note(name, values)
                                                          : std::string();
    return std::unexpected(NotedError{std::move(result).error(), std::move(note)});
}

// Raises the internal-failure exception (SystemError) with the given message.
void raise_internal(const char* message);

// Translates the C++ exception currently being handled into a Python exception: CoreFailure ->
// its CoreError (ValueError or SingularError), PythonErrorPending -> the pending one,
// std::bad_alloc and std::length_error (a size no container can hold) -> MemoryError, anything
// else -> SystemError with its message.
void raise_from_current_exception() noexcept;

// Names the large array that the running call builds, for the message of a MemoryError should
// the memory run out: "covariance matrix of 2000000 x 2000000 doubles (32 TB) does not fit in
// memory". Lives on the stack of the call around the computation.
class ResultSizeNote {
  public:
    ResultSizeNote(const char* what, std::size_t rows, std::size_t cols);
    ~ResultSizeNote();
    ResultSizeNote(const ResultSizeNote&) = delete;
    ResultSizeNote& operator=(const ResultSizeNote&) = delete;

  private:
    int uncaught_;
};

// Appends `note` to the notes of the pending Python exception (BaseException.add_note).
void add_note_to_pending(const char* note);

// Adds the notes of a failed argument conversion: "while processing '{name}'", then `hint` (if
// not empty) with every "{name}" in it replaced by the parameter name.
void note_conversion_failure(std::string_view name, std::string_view hint);

// The explanation of a failed conversion in terms of the usual mistake behind it ("expected a
// 1-D float64 array, got int64 with shape (3,); use ..."). The binder opens one around the
// conversion of a call's arguments; the converter that fails records its hint into the innermost
// one, so a conversion that calls back into the module (through __float__, say) cannot leave its
// hint to the outer call. Lives on the stack of a call, with the interpreter lock held.
class ConversionHint {
  public:
    ConversionHint() noexcept;
    ~ConversionHint();
    ConversionHint(const ConversionHint&) = delete;
    ConversionHint& operator=(const ConversionHint&) = delete;

    const std::string& text() const noexcept { return text_; }
    // Records the hint of the conversion that is failing; "{name}" stands for the parameter.
    static void record(std::string text);

  private:
    ConversionHint* outer_;
    std::string text_;
};

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
