// Failure values of the core: every operation returns a value or a CoreError.
#pragma once

#include <expected>
#include <stdexcept>
#include <string>

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

// A broken invariant inside the core. Valid or invalid user input never reaches one; the
// Python boundary turns it into an exception instead of letting it unwind further.
struct InternalError : std::logic_error {
    using std::logic_error::logic_error;
};

inline void internal_assert(bool condition, const char* message) {
    if (!condition) throw InternalError(message);
}

} // namespace quorvel
