// The platform probes give usable answers, with the Linux calls and without them
// (tests/test_platform.py also compiles this file with platform.cpp alone, with and without
// QUORVEL_PORTABLE).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "check.hpp"
#include "quorvel/platform.hpp"

namespace platform = quorvel::platform;

int fork_calls = 0;

int main() {
    CHECK(platform::processors() >= 1);
    const double memory = platform::memory_available();
    CHECK(memory > 0.0);
    CHECK(!std::isnan(memory));
    (void)platform::machine_busy();

    // The thread clock, where there is one, moves forward with work done on this thread.
    if (const auto before = platform::thread_cpu_time()) {
        volatile double sink = 0.0;
        for (int i = 0; i < 2'000'000; ++i)
            sink = sink + std::sqrt(static_cast<double>(i));
        const auto after = platform::thread_cpu_time();
        CHECK(after.has_value());
        CHECK(after && *after > *before);
    }

    // Advice is a hint: small and large ranges, aligned or not, leave the data as it was.
    std::vector<double> data(3 << 19, 1.5);
    platform::advise_huge_pages(data.data(), data.size() * sizeof(double));
    platform::advise_huge_pages(data.data() + 1, 100);
    CHECK(data.front() == 1.5 && data.back() == 1.5);

    platform::at_fork([] { ++fork_calls; }, [] {}, [] {});
    CHECK(fork_calls == 0);
#ifdef QUORVEL_PORTABLE
    std::printf("portable\n");
#else
    std::printf("system\n");
#endif
    return quorvel::test::failures;
}
