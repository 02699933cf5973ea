// Number and string formatting for messages, in one place.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Shortest decimal that reads back to the same double, never in exponent form:
// 0.5, -1, -0, NaN, inf, -inf, 1e21 written as 1000000000000000000000.
std::string fmt_fixed(double v);

// Shortest exponential form that reads back to the same double: 4e0, -1.5e-17, 0e0, inf, NaN.
std::string fmt_exp(double v);

// Debug form used when rendering kinds: always a fraction or an exponent
// (1.0, 0.5, 1e-5, 1e16; exponent form when |v| >= 1e16 or 0 < |v| < 1e-4).
std::string fmt_debug(double v);

// A string as a double-quoted literal with backslash escapes.
std::string fmt_quoted(std::string_view s);

} // namespace quorvel
