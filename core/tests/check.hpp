// A minimal check harness for the core's C++ tests: CHECK records a failure and goes on, and
// the test's main returns the number of failures.
#pragma once

#include <cstdio>

namespace quorvel::test {

inline int failures = 0;

inline void check(bool ok, const char* what, const char* file, int line) {
    if (ok) return;
    ++failures;
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
}

} // namespace quorvel::test

#define CHECK(condition) ::quorvel::test::check(static_cast<bool>(condition), #condition, __FILE__, __LINE__)
