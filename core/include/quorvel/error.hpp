// Failure values of the core: every operation returns a value or a CoreError.
#pragma once

#include <expected>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorvel {

enum class ErrorKind { InvalidInput, Singular };

struct CoreError {
    ErrorKind kind;
    std::string message;
};

template <class T> using Result = std::expected<T, CoreError>;
using Status = std::expected<void, CoreError>;

inline std::unexpected<CoreError> invalid_input(std::string message) {
    return std::unexpected(CoreError{ErrorKind::InvalidInput, std::move(message)});
}

inline std::unexpected<CoreError> singular(std::string message) {
    return std::unexpected(CoreError{ErrorKind::Singular, std::move(message)});
}

// A CoreError raised where no error value can be returned: a quadrature walk deep inside the
// rows of a matrix. Row loops carry it to the calling thread (the first failing row wins) and the
// Python boundary reports it exactly like a returned CoreError.
struct CoreFailure : std::runtime_error {
    CoreError error;
    explicit CoreFailure(CoreError e) : std::runtime_error(e.message), error(std::move(e)) {}
};

[[noreturn]] inline void throw_invalid_input(std::string message) {
    throw CoreFailure(CoreError{ErrorKind::InvalidInput, std::move(message)});
}

// A broken invariant inside the core. Valid or invalid user input never reaches one; the
// Python boundary turns it into an exception instead of letting it unwind further.
struct InternalError : std::logic_error {
    using std::logic_error::logic_error;
};

inline void internal_assert(bool condition, const char* message) {
    if (!condition) throw InternalError(message);
}

} // namespace quorvel

// Returns the error of a Result or Status from the enclosing function: QUORVEL_TRY(check_box(a,
// b));
#define QUORVEL_TRY(expr)                                                                          \
    do {                                                                                           \
        if (auto quorvel_try_result_ = (expr); !quorvel_try_result_)                               \
            return std::unexpected(std::move(quorvel_try_result_).error());                        \
    } while (0)

#define QUORVEL_TRY_CONCAT_(a, b) a##b
#define QUORVEL_TRY_CONCAT(a, b) QUORVEL_TRY_CONCAT_(a, b)
#define QUORVEL_TRY_ASSIGN_(tmp, decl, expr)                                                       \
    auto tmp = (expr);                                                                             \
    if (!tmp) return std::unexpected(std::move(tmp).error());                                      \
    decl = *std::move(tmp)

// Binds the value of a Result, or returns its error: QUORVEL_TRY_ASSIGN(auto kind,
// make_gaussian(s));
#define QUORVEL_TRY_ASSIGN(decl, expr)                                                             \
    QUORVEL_TRY_ASSIGN_(QUORVEL_TRY_CONCAT(quorvel_try_value_, __LINE__), decl, expr)
