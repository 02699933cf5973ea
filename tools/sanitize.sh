#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer into build/sanitize
# and runs tests under them (by default the reproducer and fuzz tests; pass pytest arguments to
# choose others, e.g. `tools/sanitize.sh tests/test_pickle.py -x`). Slow: not part of every CI
# run. The interpreter itself is not instrumented, so the ASan runtime is preloaded and leak
# reports (the interpreter's own allocations at exit) are off.
#
#   QUORVEL_FUZZ_SECONDS=60 tools/sanitize.sh tests/test_fuzz.py
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/sanitize"
python="${PYTHON:-$(command -v python3)}"
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPython_EXECUTABLE="$python" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined"
cmake --build "$build" -j"${JOBS:-2}"

asan="$(${CXX:-g++} -print-file-name=libasan.so)"
ubsan="$(${CXX:-g++} -print-file-name=libubsan.so)"
if [ $# -eq 0 ]; then
    set -- "$root/tests/test_reproducers.py" "$root/tests/test_fuzz.py" -q
fi
cd "$root"
PYTHONPATH="$build" LD_PRELOAD="$asan:$ubsan" \
    ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:${ASAN_OPTIONS:-}" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}" \
    "$python" -m pytest "$@"
