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

#include "quorvel/constants.hpp"

namespace quorvel {

namespace {

constexpr int n_terms = 40;
// L = sqrt(N / sqrt(2)) and its square, as used by the series.
constexpr double big_l = 5.3182958969449885;
constexpr double big_l_squared = 28.2842712474619;
using constants::inv_sqrt_pi;
using constants::pi;
using constants::two_over_sqrt_pi;

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
// equation below would lose about |z|^2 ulps to cancellation. Written for any arithmetic type T,
// double or a vector of doubles whose lanes each take the scalar operations, so that points
// evaluated side by side give the scalar results bit for bit.
template <class T> struct SeriesParts {
    T wr, wi, sr, si; // w and w'
};

template <bool slope, class T>
[[gnu::always_inline]] inline SeriesParts<T> weideman_series(T x, T y) {
    const Coefficients& a = coefficients();

    const T s = y + big_l;
    const T e = x * x + s * s;
    const T zr = ((big_l - y) * s - x * x) / e;
    const T zi = (x * s + x * (big_l - y)) / e;

    // Horner evaluation of the polynomial P(Z) = sum_n a_n Z^(n-1), and of P'(Z).
    T pr{}, pi_{}, dr{}, di{};
    for (int n = n_terms; n >= 1; --n) {
        if constexpr (slope) {
            const T t = zr * dr - zi * di + pr;
            di = zr * di + zi * dr + pi_;
            dr = t;
        }
        const T r = zr * pr - zi * pi_ + a[static_cast<std::size_t>(n)];
        pi_ = zr * pi_ + zi * pr;
        pr = r;
    }

    // w = 2 P / (L - iz)^2 + 1 / (sqrt(pi) (L - iz)), with 1 / (L - iz) = p + iq.
    const T p = s / e;
    const T q = x / e;
    const T h = p * p - q * q;
    const T g = q * (p + p);
    SeriesParts<T> out{p * inv_sqrt_pi + 2.0 * (h * pr - g * pi_),
                       q * inv_sqrt_pi + 2.0 * (g * pr + h * pi_), T{}, T{}};
    if constexpr (slope) {
        // With dZ/dz = 2iL / (L - iz)^2:
        // w' = i / (L - iz)^2 (4 L P' / (L - iz)^2 + 4 P / (L - iz) + 1 / sqrt(pi)).
        const T br = 4.0 * big_l * (h * dr - g * di) + 4.0 * (p * pr - q * pi_) + inv_sqrt_pi;
        const T bi = 4.0 * big_l * (g * dr + h * di) + 4.0 * (q * pr + p * pi_);
        out.sr = -(g * br + h * bi);
        out.si = h * br - g * bi;
    }
    return out;
}

template <bool slope> WithSlope weideman(double x, double y) {
    const SeriesParts<double> w = weideman_series<slope>(x, y);
    return {{w.wr, w.wi}, {w.sr, w.si}};
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

// The Laplace fraction of far_from_origin to `depth` levels from the bottom: tr + i ti = T and
// t1r + i t1i = T1. Written for doubles and for vectors of doubles, as weideman_series.
template <class T>
[[gnu::always_inline]] inline void laplace_fraction(T x, T y, int depth, T& tr, T& ti, T& t1r,
                                                    T& t1i) {
    tr = x, ti = y, t1r = x, t1i = y;
    for (int k = depth; k >= 1; --k) {
        t1r = tr, t1i = ti;
        const T f = 0.5 * k / (tr * tr + ti * ti);
        tr = x - f * tr;
        ti = y + f * ti;
    }
}

// w from the fraction's T and T1 at z = x + iy, with exp(-z^2) added back next to the real axis,
// and the slope when asked for.
template <bool slope>
WithSlope from_fraction(double x, double y, double tr, double ti, double t1r, double t1i) {
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
    double tr, ti, t1r, t1i;
    laplace_fraction(x, y, fraction_depth(x * x + y * y), tr, ti, t1r, t1i);
    return from_fraction<slope>(x, y, tr, ti, t1r, t1i);
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

namespace {

// Eight points evaluated together, one per lane: the dependent chains of the series and of the
// fraction are long, and several of them side by side keep the arithmetic units busy. The points
// are held as two vectors of four; the compiler splits each vector operation into as many as the
// instruction set needs, which is still lane by lane. The lane kernels are compiled once for the
// baseline set and once for AVX, taken where the processor has it.
constexpr std::size_t half = 4, lanes = 2 * half;
using Half = double __attribute__((vector_size(8 * half)));

// Two vectors of four lanes that take the arithmetic of the series and the fraction.
struct Lanes {
    Half lo, hi;

    double operator[](std::size_t l) const { return l < half ? lo[l] : hi[l - half]; }
};

#define QUORVEL_LANES_OPERATOR(op)                                                                 \
    [[gnu::always_inline]] inline Lanes operator op(Lanes a, Lanes b) {                            \
        return {a.lo op b.lo, a.hi op b.hi};                                                       \
    }                                                                                              \
    [[gnu::always_inline]] inline Lanes operator op(Lanes a, double b) {                           \
        return {a.lo op b, a.hi op b};                                                             \
    }                                                                                              \
    [[gnu::always_inline]] inline Lanes operator op(double a, Lanes b) {                           \
        return {a op b.lo, a op b.hi};                                                             \
    }
QUORVEL_LANES_OPERATOR(+)
QUORVEL_LANES_OPERATOR(-)
QUORVEL_LANES_OPERATOR(*)
QUORVEL_LANES_OPERATOR(/)
#undef QUORVEL_LANES_OPERATOR

// Points waiting for their group: those of the series, or those of the fraction to one depth.
struct Group {
    std::array<double, lanes> x{}, y{};
    std::array<std::size_t, lanes> at{};
    std::size_t size = 0;

    // Adds a point; true when the group is full.
    bool add(double px, double py, std::size_t k) {
        x[size] = px;
        y[size] = py;
        at[size] = k;
        return ++size == lanes;
    }
};

// The points of a group as lanes, free lanes holding copies of the first point.
[[gnu::always_inline]] inline void load(const Group& g, Lanes& lx, Lanes& ly) {
    for (std::size_t l = 0; l < half; ++l) {
        lx.lo[l] = g.x[l < g.size ? l : 0];
        ly.lo[l] = g.y[l < g.size ? l : 0];
        lx.hi[l] = g.x[half + l < g.size ? half + l : 0];
        ly.hi[l] = g.y[half + l < g.size ? half + l : 0];
    }
}

[[gnu::always_inline]] inline void series_lanes(const Group& g, double* re) {
    Lanes x, y;
    load(g, x, y);
    const SeriesParts<Lanes> w = weideman_series<false>(x, y);
    for (std::size_t l = 0; l < g.size; ++l)
        re[g.at[l]] = w.wr[l];
}

// The fraction's T and T1 of every lane, in `out` as tr, ti, t1r, t1i one lane set after the
// other.
[[gnu::always_inline]] inline void fraction_lanes(const Group& g, int depth, double* out) {
    Lanes x, y, tr, ti, t1r, t1i;
    load(g, x, y);
    laplace_fraction(x, y, depth, tr, ti, t1r, t1i);
    for (std::size_t l = 0; l < lanes; ++l) {
        out[l] = tr[l];
        out[lanes + l] = ti[l];
        out[2 * lanes + l] = t1r[l];
        out[3 * lanes + l] = t1i[l];
    }
}

void series_baseline(const Group& g, double* re) {
    series_lanes(g, re);
}
[[gnu::target("avx")]] void series_avx(const Group& g, double* re) {
    series_lanes(g, re);
}
void fraction_baseline(const Group& g, int depth, double* out) {
    fraction_lanes(g, depth, out);
}
[[gnu::target("avx")]] void fraction_avx(const Group& g, int depth, double* out) {
    fraction_lanes(g, depth, out);
}

bool use_avx(LaneSet set) {
    static const bool avx = __builtin_cpu_supports("avx");
    return avx && set == LaneSet::Best;
}

void run_series(Group& g, bool avx, double* re) {
    if (avx)
        series_avx(g, re);
    else
        series_baseline(g, re);
    g.size = 0;
}

void run_fraction(Group& g, int depth, bool avx, double* re) {
    std::array<double, 4 * lanes> t;
    if (avx)
        fraction_avx(g, depth, t.data());
    else
        fraction_baseline(g, depth, t.data());
    for (std::size_t l = 0; l < g.size; ++l)
        re[g.at[l]] = from_fraction<false>(g.x[l], g.y[l], t[l], t[lanes + l], t[2 * lanes + l],
                                           t[3 * lanes + l])
                          .w.re;
    g.size = 0;
}

} // namespace

void faddeeva_re_many(std::span<const double> x, std::span<const double> y, double* re,
                      LaneSet set) {
    const bool avx = use_avx(set);
    // Each point goes to the region faddeeva takes it to. Those of the series, and those of the
    // fraction with one depth, are evaluated four at a time, so that the long dependent chains of
    // the two methods run side by side; the other regions are valued one by one.
    Group series;
    std::array<Group, 19> fractions; // by depth
    for (std::size_t k = 0; k < x.size(); ++k) {
        const double xv = x[k], yv = y[k];
        if (!(yv >= 0.0) || !std::isfinite(xv) || !std::isfinite(yv)) {
            re[k] = faddeeva(xv, yv).re;
            continue;
        }
        // Re w(-x + iy) = Re w(x + iy).
        const double ax = std::abs(xv);
        if (ax >= far_radius || yv >= far_radius || ax * ax + yv * yv >= far_radius * far_radius) {
            if (ax >= reciprocal_radius || yv >= reciprocal_radius) {
                re[k] = faddeeva(xv, yv).re;
                continue;
            }
            const int depth = fraction_depth(ax * ax + yv * yv);
            Group& g = fractions[static_cast<std::size_t>(depth)];
            if (g.add(ax, yv, k)) run_fraction(g, depth, avx, re);
        } else if (yv == 0.0 || (yv < near_axis && ax >= near_axis_from)) {
            re[k] = faddeeva(xv, yv).re;
        } else if (series.add(ax, yv, k)) {
            run_series(series, avx, re);
        }
    }
    if (series.size > 0) run_series(series, avx, re);
    for (std::size_t depth = 0; depth < fractions.size(); ++depth)
        if (fractions[depth].size > 0)
            run_fraction(fractions[depth], static_cast<int>(depth), avx, re);
}

} // namespace quorvel
