// The exponential of the line shapes, one value at a time and over arrays in SIMD lanes, with the
// same bits either way: exp(x) = 2^k exp(r) with k = round(x / ln 2) and r = x - k ln 2 in
// [-ln 2 / 2, ln 2 / 2], ln 2 split so that k ln2_hi is exact (Cody-Waite); exp(r) =
// 1 + (r + r^2 P(r)) from the Taylor series to r^13, whose remainder is below 1e-17 relative;
// 2^k is built from its exponent bits. Within 1.01 ulp of the correctly rounded value. Arguments
// outside [-707, 709], where 2^k or the result leaves the normal range, and NaN are taken by
// std::exp. Every value depends only on its argument.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quorvel {

namespace exp_detail {

inline constexpr double log2e = 1.4426950408889634;
inline constexpr double ln2_hi = 6.93147180369123816490e-01; // 32 significant bits
inline constexpr double ln2_lo = 1.90821492927058770002e-10;
inline constexpr double shifter = 0x1.8p52; // adding it rounds to an integer in the low bits
inline constexpr double lowest = -707.0, highest = 709.0;
// 1 / n! for n = 2 ... 13.
inline constexpr double inv_fact[] = {
    0.5,
    0.16666666666666666,
    0.041666666666666664,
    0.008333333333333333,
    0.001388888888888889,
    0.0001984126984126984,
    2.48015873015873e-05,
    2.7557319223985893e-06,
    2.755731922398589e-07,
    2.505210838544172e-08,
    2.08767569878681e-09,
    1.6059043836821613e-10,
};

inline bool in_range(double x) {
    return x >= lowest && x <= highest;
}

// y = exp(x) for x in [lowest, highest], V a double or a GCC vector of doubles and I the integer
// type of its width. Plain IEEE operations without branches: lanes and single values agree.
template <class V, class I> [[gnu::always_inline]] inline void exp_in_range(const V& x, V& y) {
    const V shifted = x * log2e + shifter;
    const V k = shifted - shifter;
    I ki;
    std::memcpy(&ki, &shifted, sizeof(I));
    ki = ki - std::bit_cast<std::int64_t>(shifter);
    const V r = (x - k * ln2_hi) - k * ln2_lo;
    // P(r) = sum_n r^n / (n + 2)! in pairs (Estrin), so that its terms do not wait on each other.
    const V r2 = r * r, r4 = r2 * r2, r8 = r4 * r4;
    const double* c = inv_fact;
    const V p01 = c[0] + c[1] * r, p23 = c[2] + c[3] * r, p45 = c[4] + c[5] * r;
    const V p67 = c[6] + c[7] * r, p89 = c[8] + c[9] * r, pab = c[10] + c[11] * r;
    const V p03 = p01 + p23 * r2, p47 = p45 + p67 * r2, p8b = p89 + pab * r2;
    const V p = (p03 + p47 * r4) + p8b * r8;
    const V e = 1.0 + (r + r2 * p);
    const I bits = (ki + 1023) << 52;
    V scale;
    std::memcpy(&scale, &bits, sizeof(V));
    y = e * scale;
}

} // namespace exp_detail

// exp(x), bitwise what exp_many gives for x.
inline double exp_one(double x) {
    if (!exp_detail::in_range(x)) return std::exp(x);
    double y;
    exp_detail::exp_in_range<double, std::int64_t>(x, y);
    return y;
}

// out[i] = exp_one(x[i]) for i < n, in lanes of four (AVX2, where the processor has it) or two;
// x and out may be the same array.
void exp_many(const double* x, std::size_t n, double* out);

} // namespace quorvel
