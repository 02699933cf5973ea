// The lanes of exp_many: the kernel of exp_one on GCC vectors of two doubles (SSE2, every x86-64)
// or four (AVX2, chosen once per process from the processor); an array's tail is padded to a full
// vector. The out-of-range arguments are clamped in the lanes and redone by exp_one after.
#include "quorvel/vector_math.hpp"

#include <algorithm>
#include <cstring>

namespace quorvel {

namespace {

using namespace exp_detail;

// exp of the vector at `in`, its arguments clamped into the range, stored at `out`.
template <class V, class I> [[gnu::always_inline]] inline void lane(const double* in, double* out) {
    V v;
    std::memcpy(&v, in, sizeof(V));
    v = v >= lowest ? v : lowest;
    v = v <= highest ? v : highest;
    V e;
    exp_in_range<V, I>(v, e);
    std::memcpy(out, &e, sizeof(V));
}

// The lanes; true when an argument lies outside the range (or is NaN), to be redone.
template <class V, class I>
[[gnu::always_inline]] inline bool exp_lanes(const double* x, std::size_t n, double* out) {
    constexpr std::size_t w = sizeof(V) / sizeof(double);
    std::size_t i = 0;
    for (; i + w <= n; i += w)
        lane<V, I>(x + i, out + i);
    if (i < n) {
        double in[w] = {}, e[w];
        std::copy(x + i, x + n, in);
        lane<V, I>(in, e);
        std::copy(e, e + (n - i), out + i);
    }
    bool outside = false;
    for (std::size_t j = 0; j < n; ++j)
        outside |= !(x[j] >= lowest) | !(x[j] <= highest);
    return outside;
}

using V2 = double __attribute__((vector_size(16)));
using I2 = std::int64_t __attribute__((vector_size(16)));
using V4 = double __attribute__((vector_size(32)));
using I4 = std::int64_t __attribute__((vector_size(32)));

#if !defined(QUORVEL_PORTABLE) && defined(__x86_64__)
[[gnu::target("avx2")]] bool exp_lanes_avx2(const double* x, std::size_t n, double* out) {
    return exp_lanes<V4, I4>(x, n, out);
}
#endif

bool exp_lanes_base(const double* x, std::size_t n, double* out) {
    return exp_lanes<V2, I2>(x, n, out);
}

} // namespace

void exp_many(const double* x, std::size_t n, double* out) {
#if !defined(QUORVEL_PORTABLE) && defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
#endif
    // In chunks whose arguments are kept, since out may be x.
    constexpr std::size_t chunk = 256;
    double arg[chunk];
    for (std::size_t start = 0; start < n; start += chunk) {
        const std::size_t m = std::min(chunk, n - start);
        std::copy_n(x + start, m, arg);
#if !defined(QUORVEL_PORTABLE) && defined(__x86_64__)
        const bool outside =
            avx2 ? exp_lanes_avx2(arg, m, out + start) : exp_lanes_base(arg, m, out + start);
#else
        const bool outside = exp_lanes_base(arg, m, out + start);
#endif
        if (!outside) continue;
        for (std::size_t i = 0; i < m; ++i)
            if (!in_range(arg[i])) out[start + i] = exp_one(arg[i]);
    }
}

} // namespace quorvel
