// The Faddeeva function w(z) = exp(-z^2) erfc(-iz) and its slope w'(z) for z = x + iy, y >= 0,
// to a relative error of a few 1e-14 in each part (away from its zero crossings) over the whole
// double range. Regions:
//   |z| >= 7        Laplace continued fraction (plus exp(-z^2) next to the real axis), or
//                   i / (sqrt(pi) z) once |z| >= 1e8;
//   |z| < 7, y = 0 or y < 0.15 with |x| >= 2
//                   Taylor expansion in y about the real axis, where Re w = exp(-x^2);
//   |z| < 7 else    Weideman's 40-term rational series, its slope differentiated term by term;
//   y < 0           the series formula as it stands (not an approximation there).
// The series alone has an absolute error near 1e-17, which is a large relative error where Re w
// is small: next to the real axis beyond |x| ~ 3 and at large |z|.
#include "quorvel/faddeeva.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <mutex>

namespace quorvel {

namespace {

constexpr int n_terms = 40;
// L = sqrt(N / sqrt(2)) and its square, as used by the series.
constexpr double big_l = 5.3182958969449885;
constexpr double big_l_squared = 28.2842712474619;
constexpr double pi = 3.141592653589793;
constexpr double inv_sqrt_pi = 0.5641895835477563;
constexpr double two_over_sqrt_pi = 1.1283791670955126;

// Region bounds, chosen where each method is accurate to rounding on the far side.
constexpr double far_radius = 7.0;
constexpr double near_axis = 0.15;
constexpr double near_axis_from = 2.0;
constexpr double reciprocal_radius = 1e8;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

using Coefficients = std::array<double, n_terms + 1>; // a[1..N]; a[0] unused

// Weideman's coefficients: a_n is the n-th cosine coefficient of
// f(t) = exp(-t^2) (t^2 + L^2) sampled at t_k = L tan(k pi / 2M), M = 2N, by the trapezoidal rule.
Coefficients build_coefficients() {
    constexpr int m = 2 * n_terms;
    std::array<double, 2 * m - 1> f{};
    for (int k = -m + 1; k <= m - 1; ++k) {
        const double t = std::tan(k * pi / (2.0 * m)) * big_l;
        f[static_cast<std::size_t>(k + m - 1)] = std::exp(-(t * t)) * (t * t + big_l_squared);
    }
    Coefficients a{};
    for (int n = 1; n <= n_terms; ++n) {
        double sum = 0.0;
        for (int k = -m + 1; k <= m - 1; ++k)
            sum += f[static_cast<std::size_t>(k + m - 1)] * std::cos(((k * pi) * n) / m);
        a[static_cast<std::size_t>(n)] = sum / (2.0 * m);
    }
    return a;
}

const Coefficients& coefficients() {
    static std::once_flag once;
    static Coefficients table;
    std::call_once(once, [] { table = build_coefficients(); });
    return table;
}

// Weideman's rational series in the Moebius variable Z = (L + iz) / (L - iz), and with `slope`
// its derivative, differentiated term by term: where |z| is a few units the differential
// equation below would lose about |z|^2 ulps to cancellation.
template <bool slope> WithSlope weideman(double x, double y) {
    const Coefficients& a = coefficients();

    const double s = y + big_l;
    const double e = x * x + s * s;
    const double zr = ((big_l - y) * s - x * x) / e;
    const double zi = (x * s + x * (big_l - y)) / e;

    // Horner evaluation of the polynomial P(Z) = sum_n a_n Z^(n-1), and of P'(Z).
    double pr = 0.0, pi_ = 0.0, dr = 0.0, di = 0.0;
    for (int n = n_terms; n >= 1; --n) {
        if constexpr (slope) {
            const double t = zr * dr - zi * di + pr;
            di = zr * di + zi * dr + pi_;
            dr = t;
        }
        const double r = zr * pr - zi * pi_ + a[static_cast<std::size_t>(n)];
        pi_ = zr * pi_ + zi * pr;
        pr = r;
    }

    // w = 2 P / (L - iz)^2 + 1 / (sqrt(pi) (L - iz)), with 1 / (L - iz) = p + iq.
    const double p = s / e;
    const double q = x / e;
    const double h = p * p - q * q;
    const double g = q * (p + p);
    WithSlope out{
        {p * inv_sqrt_pi + 2.0 * (h * pr - g * pi_), q * inv_sqrt_pi + 2.0 * (g * pr + h * pi_)},
        {}};
    if constexpr (slope) {
        // With dZ/dz = 2iL / (L - iz)^2:
        // w' = i / (L - iz)^2 (4 L P' / (L - iz)^2 + 4 P / (L - iz) + 1 / sqrt(pi)).
        const double br = 4.0 * big_l * (h * dr - g * di) + 4.0 * (p * pr - q * pi_) + inv_sqrt_pi;
        const double bi = 4.0 * big_l * (g * dr + h * di) + 4.0 * (q * pr + p * pi_);
        out.slope = {-(g * br + h * bi), h * br - g * bi};
    }
    return out;
}

// The slope from the differential equation w' = -2 z w + 2i / sqrt(pi); it cancels at large |z|
// and is used only in the lower half plane.
ComplexValue slope_of(ComplexValue w, double x, double y) {
    return {-2.0 * (x * w.re - y * w.im), two_over_sqrt_pi - 2.0 * (x * w.im + y * w.re)};
}

// exp(-x^2) with x^2 = p + e held exactly (e from a fused multiply-add), so the rounding of x^2,
// which would cost x^2 ulps, does not enter.
double exp_minus_square(double x) {
    const double p = x * x;
    const double e = std::fma(x, x, -p);
    const double g = std::exp(-p);
    return g - g * e;
}

// z times i^n times a real factor.
ComplexValue times_i_power(ComplexValue z, int n, double factor) {
    switch (n % 4) {
    case 0:
        return {z.re * factor, z.im * factor};
    case 1:
        return {-z.im * factor, z.re * factor};
    case 2:
        return {-z.re * factor, -z.im * factor};
    default:
        return {z.im * factor, -z.re * factor};
    }
}

// Near the real axis, x >= 0: w(x + iy) = sum_n w^(n)(x) (iy)^n / n! with w(x) = exp(-x^2) +
// i Im w(x), w' = -2 x w + 2i / sqrt(pi) and w^(n+1) = -2 x w^(n) - 2 n w^(n-1); the slope
// w'(x + iy) is the same sum over w^(n+1). The terms shrink at least like (2xy)^n / n!, and the
// exponentially small real part on the axis is exact instead of being lost under the series'
// absolute error.
template <bool slope> WithSlope near_real_axis(double x, double y) {
    ComplexValue d0{exp_minus_square(x), weideman<false>(x, 0.0).w.im};     // w^(n)
    ComplexValue d1{-2.0 * x * d0.re, -2.0 * x * d0.im + two_over_sqrt_pi}; // w^(n+1)
    WithSlope sum{d0, d1};
    if (y == 0.0) return sum;

    double power = 1.0; // y^n / n!
    constexpr double tiny = 0x1p-60;
    for (int n = 1; n <= 60; ++n) {
        const ComplexValue d2{-2.0 * x * d1.re - 2.0 * n * d0.re,
                              -2.0 * x * d1.im - 2.0 * n * d0.im};
        d0 = d1;
        d1 = d2;
        power *= y / n;
        const ComplexValue t = times_i_power(d0, n, power);
        sum.w.re += t.re;
        sum.w.im += t.im;
        bool converged = std::abs(t.re) + std::abs(t.im) <= tiny * std::abs(sum.w.re);
        if constexpr (slope) {
            const ComplexValue u = times_i_power(d1, n, power);
            sum.slope.re += u.re;
            sum.slope.im += u.im;
            converged = converged && std::abs(u.re) + std::abs(u.im) <=
                                         tiny * (std::abs(sum.slope.re) + std::abs(sum.slope.im));
        }
        if (converged) break;
    }
    return sum;
}

// Number of continued-fraction levels for |z|^2 >= r2, from the fraction's convergence.
int fraction_depth(double r2) {
    if (r2 < 64.0) return 18;
    if (r2 < 100.0) return 14;
    if (r2 < 225.0) return 10;
    if (r2 < 900.0) return 8;
    if (r2 < 1e4) return 6;
    if (r2 < 1e6) return 4;
    if (r2 < 1e8) return 3;
    return 2;
}

// |z| >= 7, x >= 0: w(z) = (i / sqrt(pi)) / T with T = z - (1/2) / T1, T1 = z - 1 / (z - (3/2) /
// (z - ...)), the Laplace continued fraction, evaluated from the bottom. Its imaginary parts only
// add, so Re w keeps full relative accuracy however close z is to the real axis. The slope
// -2 z w + 2i / sqrt(pi) = -(i / sqrt(pi)) / (T T1) follows without cancellation. Next to the
// axis the fraction misses the part exp(-z^2) that Re w(x) = exp(-x^2) consists of; it is added
// back for y < 1 while it is not negligible. Beyond |z| = 1e8 the fraction is i / (sqrt(pi) z)
// to rounding, taken in scaled form so that no square overflows up to the largest double.
template <bool slope> WithSlope far_from_origin(double x, double y) {
    if (x >= reciprocal_radius || y >= reciprocal_radius) {
        const double m = x > y ? x : y;
        const double xs = x / m, ys = y / m;
        const double d = (xs * xs + ys * ys) * m;
        const double a = xs / d, b = ys / d; // 1 / z = a - ib
        WithSlope out{{b * inv_sqrt_pi, a * inv_sqrt_pi}, {}};
        if constexpr (slope)
            out.slope = {-2.0 * a * b * inv_sqrt_pi, (b * b - a * a) * inv_sqrt_pi};
        return out;
    }
    const double r2 = x * x + y * y;
    double tr = x, ti = y, t1r = x, t1i = y;
    for (int k = fraction_depth(r2); k >= 1; --k) {
        t1r = tr, t1i = ti;
        const double f = 0.5 * k / (tr * tr + ti * ti);
        tr = x - f * tr;
        ti = y + f * ti;
    }
    const double d = inv_sqrt_pi / (tr * tr + ti * ti);
    WithSlope out{{ti * d, tr * d}, {}};
    if constexpr (slope) {
        // T T1 = pr + i pi; -(i / sqrt(pi)) / (T T1) = -(pi + i pr) / (sqrt(pi) |T T1|^2).
        const double pr = tr * t1r - ti * t1i, pi_ = tr * t1i + ti * t1r;
        const double e = inv_sqrt_pi / (pr * pr + pi_ * pi_);
        out.slope = {-pi_ * e, -pr * e};
    }
    if (y < 1.0) {
        // E = exp(-z^2) = exp(y^2 - x^2) (cos 2xy - i sin 2xy), with exp(-x^2) as in
        // exp_minus_square; its slope is -2 z E.
        // |E| < e exp(-x^2) here: skip it while that is below 2^-60 Re w.
        const double p = x * x;
        const double g = std::exp(-p);
        if (g * 2.8 > 0x1p-60 * out.w.re) {
            const double scale = g * std::exp(y * y - std::fma(x, x, -p));
            const double angle = 2.0 * x * y;
            const double er = scale * std::cos(angle), ei = -scale * std::sin(angle);
            out.w.re += er;
            out.w.im += ei;
            if constexpr (slope) {
                out.slope.re -= 2.0 * (x * er - y * ei);
                out.slope.im -= 2.0 * (x * ei + y * er);
            }
        }
    }
    return out;
}

// w, and its slope when asked for, for y >= 0 and finite arguments, by region.
template <bool slope> WithSlope upper_half_plane(double x, double y) {
    // w(-x + iy) is the conjugate of w(x + iy): work with |x| and mirror the imaginary parts.
    const double ax = std::abs(x);
    WithSlope out{};
    if (ax >= far_radius || y >= far_radius || ax * ax + y * y >= far_radius * far_radius) {
        out = far_from_origin<slope>(ax, y);
    } else if (y == 0.0 || (y < near_axis && ax >= near_axis_from)) {
        out = near_real_axis<slope>(ax, y);
    } else {
        out = weideman<slope>(ax, y);
    }
    if (std::signbit(x)) {
        // w'(-conj z) = -conj w'(z)
        out.w.im = -out.w.im;
        out.slope.re = -out.slope.re;
    }
    return out;
}

} // namespace

ComplexValue faddeeva(double x, double y) {
    // The lower half plane keeps the series formula as it is; NaN arguments propagate.
    if (!(y >= 0.0) || std::isnan(x)) return weideman<false>(x, y).w;
    if (std::isinf(x) || std::isinf(y)) return {nan, nan};
    return upper_half_plane<false>(x, y).w;
}

WithSlope faddeeva_with_slope(double x, double y) {
    if (!(y >= 0.0) || std::isnan(x)) {
        const ComplexValue w = weideman<false>(x, y).w;
        return {w, slope_of(w, x, y)};
    }
    if (std::isinf(x) || std::isinf(y)) return {{nan, nan}, {nan, nan}};
    return upper_half_plane<true>(x, y);
}

} // namespace quorvel
