// exp written for the compiler to vectorise: no branch, no table, no call.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace quorvel {

// exp(x) for -708 <= x <= 709 (a normal result), within 0.9 ulp of the exact value: the reduction
// x = k ln 2 + r with ln 2 in two parts (Cody-Waite) and fdlibm's rational approximation of exp(r)
// on |r| <= ln 2 / 2, then the exact scaling by 2^k. Built from + - * / only, so scalar and SIMD
// code give the same bits.
[[gnu::always_inline]] inline double exp_lane(double x) {
    constexpr double inv_ln2 = 1.44269504088896338700e+00;
    constexpr double ln2_hi = 6.93147180369123816490e-01, ln2_lo = 1.90821492927058770002e-10;
    constexpr double shift = 0x1.8p52; // adding it rounds to an integer in the low bits
    constexpr double p1 = 1.66666666666666019037e-01, p2 = -2.77777777770155933842e-03,
                     p3 = 6.61375632143793436117e-05, p4 = -1.65339022054652515390e-06,
                     p5 = 4.13813679705723846039e-08;
    const double shifted = x * inv_ln2 + shift;
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(shifted);
    const double k = shifted - shift;
    const double hi = x - k * ln2_hi; // exact: ln2_hi has 32 significant bits
    const double lo = k * ln2_lo;
    const double r = hi - lo;
    const double r2 = r * r;
    const double c = r - r2 * (p1 + r2 * (p2 + r2 * (p3 + r2 * (p4 + r2 * p5))));
    const double y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
    // 2^k from the low bits of `shifted` (k + 1023 in the exponent field).
    return y * std::bit_cast<double>((bits + 1023) << 52);
}

// x[k] = exp(x[k]) for k < n: exp_lane in SIMD lanes, std::exp for a block with a value outside
// exp_lane's range.
[[gnu::always_inline]] inline void exp_in_place(double* __restrict x, std::size_t n) {
    std::uint64_t outside = 0;
    for (std::size_t k = 0; k < n; ++k)
        outside += static_cast<std::uint64_t>((x[k] < -708.0) | (x[k] > 709.0));
    if (outside == 0) {
        for (std::size_t k = 0; k < n; ++k)
            x[k] = exp_lane(x[k]);
    } else {
        for (std::size_t k = 0; k < n; ++k)
            x[k] = std::exp(x[k]);
    }
}

} // namespace quorvel
