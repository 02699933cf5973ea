// What the core asks of the operating system: memory limits, huge-page advice, the allocator's
// reuse of freed memory, the processors it
// may use, how busy the machine is, a thread's processor time and fork handlers. The only place
// with system calls; every probe has a portable answer, used where the system cannot tell and in
// builds with QUORVEL_PORTABLE (no Linux calls at all).
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

namespace quorvel::platform {

// The most memory this process could have, in bytes: the machine's memory and swap, the address
// space left under its limit, and a control group's limit, whichever is smallest (infinity where
// none is known).
double memory_available();

// Asks for transparent huge pages under the `bytes` bytes at `data` (a hint; nothing changes
// where the system declines, and small ranges are left alone).
void advise_huge_pages(const void* data, std::size_t bytes);

// Lets the C library keep freed memory for reuse (blocks up to 32 MB from its heap, up to 64 MB
// of free space before it returns any to the system) instead of handing pages back at every
// free: calls that allocate their work arrays afresh then do not fault on every page again. Left
// alone where the allocator was tuned through the environment (GLIBC_TUNABLES, MALLOC_*_) or
// QUORVEL_SYSTEM_MALLOC is set; nothing where the C library has no such settings.
void keep_freed_memory();

// The processors this process may run on, at least 1.
std::size_t processors();

// Whether more threads are ready to run right now than there are processors; false where the
// system cannot tell.
bool machine_busy();

// The processor time the calling thread has consumed, or nullopt where the system cannot tell.
std::optional<std::chrono::nanoseconds> thread_cpu_time();

// Runs `prepare` before a fork and `parent` / `child` after it in the two processes (nothing
// where the system has no fork).
void at_fork(void (*prepare)(), void (*parent)(), void (*child)());

} // namespace quorvel::platform
