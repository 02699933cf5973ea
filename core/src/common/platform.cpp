// The system calls behind quorvel/platform.hpp: Linux, or portable answers with QUORVEL_PORTABLE
// or on another system.
#include "quorvel/platform.hpp"

#include <algorithm>
#include <limits>
#include <thread>

#if defined(__linux__) && !defined(QUORVEL_PORTABLE)
#define QUORVEL_LINUX 1
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>
#endif

namespace quorvel::platform {

#if QUORVEL_LINUX

double memory_available() {
    double bytes = std::numeric_limits<double>::infinity();
    struct sysinfo info{};
    if (sysinfo(&info) == 0)
        bytes = (static_cast<double>(info.totalram) + static_cast<double>(info.totalswap)) *
                static_cast<double>(info.mem_unit);
    struct rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        double used = 0.0;
        std::ifstream statm("/proc/self/statm");
        if (statm >> used) used *= static_cast<double>(sysconf(_SC_PAGESIZE));
        bytes = std::min(bytes, static_cast<double>(limit.rlim_cur) - used);
    }
    std::ifstream cgroup("/sys/fs/cgroup/memory.max");
    std::string text;
    double cap = 0.0;
    if (cgroup >> text &&
        std::from_chars(text.data(), text.data() + text.size(), cap).ec == std::errc{})
        bytes = std::min(bytes, cap);
    return bytes;
}

// Only ranges of at least two huge pages (2 MiB each): the first touch of the storage then takes
// one page fault per 2 MiB instead of one per 4 KiB.
void advise_huge_pages(const void* data, std::size_t bytes) {
    constexpr std::size_t huge = std::size_t{2} << 20;
    if (bytes < 2 * huge) return;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + page - 1) / page * page;
    const std::uintptr_t last = (start + bytes) / page * page;
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void keep_freed_memory() {
#if defined(__GLIBC__) && defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
    for (const char* name : {"GLIBC_TUNABLES", "MALLOC_MMAP_THRESHOLD_", "MALLOC_TRIM_THRESHOLD_",
                             "MALLOC_TOP_PAD_", "QUORVEL_SYSTEM_MALLOC"})
        if (std::getenv(name) != nullptr) return;
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

std::size_t processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return static_cast<std::size_t>(std::max(CPU_COUNT(&set), 1));
    return std::max(std::thread::hardware_concurrency(), 1u);
}

// From the scheduler's count of runnable threads in /proc/loadavg ("0.50 0.40 0.30 3/210 12345").
bool machine_busy() {
    std::ifstream file("/proc/loadavg");
    std::string field;
    for (int i = 0; i < 4 && file >> field; ++i) {
    }
    std::size_t running = 0;
    if (!file ||
        std::from_chars(field.data(), field.data() + field.size(), running).ec != std::errc{})
        return false;
    static const std::size_t cores = processors();
    return running > cores;
}

std::optional<std::chrono::nanoseconds> thread_cpu_time() {
    clockid_t clock{};
    if (pthread_getcpuclockid(pthread_self(), &clock) != 0) return std::nullopt;
    timespec t{};
    if (clock_gettime(clock, &t) != 0) return std::nullopt;
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

void at_fork(void (*prepare)(), void (*parent)(), void (*child)()) {
    pthread_atfork(prepare, parent, child);
}

#else

double memory_available() {
    return std::numeric_limits<double>::infinity();
}

void advise_huge_pages(const void*, std::size_t) {}

void keep_freed_memory() {}

std::size_t processors() {
    return std::max(std::thread::hardware_concurrency(), 1u);
}

bool machine_busy() {
    return false;
}

std::optional<std::chrono::nanoseconds> thread_cpu_time() {
    return std::nullopt;
}

void at_fork(void (*)(), void (*)(), void (*)()) {}

#endif

} // namespace quorvel::platform
