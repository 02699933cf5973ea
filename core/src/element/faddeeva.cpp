#include "quorvel/faddeeva.hpp"

#include <array>
#include <cmath>
#include <mutex>

namespace quorvel {

namespace {

constexpr int n_terms = 40;
// L = sqrt(N / sqrt(2)) and its square, as used by the series.
constexpr double big_l = 5.3182958969449885;
constexpr double big_l_squared = 28.2842712474619;
constexpr double pi = 3.141592653589793;
constexpr double inv_sqrt_pi = 0.5641895835477563;

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

} // namespace

ComplexValue faddeeva(double x, double y) {
    const Coefficients& a = coefficients();

    // Moebius variable Z = (L + iz) / (L - iz) for z = x + iy.
    const double s = y + big_l;
    const double e = x * x + s * s;
    const double zr = ((big_l - y) * s - x * x) / e;
    const double zi = (x * s + x * (big_l - y)) / e;

    // Horner evaluation of the polynomial sum_n a_n Z^(n-1).
    double pr = 0.0, pi_ = 0.0;
    for (int n = n_terms; n >= 1; --n) {
        const double r = zr * pr - zi * pi_ + a[static_cast<std::size_t>(n)];
        pi_ = zr * pi_ + zi * pr;
        pr = r;
    }

    // w = 2 P / (L - iz)^2 + 1 / (sqrt(pi) (L - iz)), with 1 / (L - iz) = p + iq.
    const double p = s / e;
    const double q = x / e;
    const double h = p * p - q * q;
    const double g = q * (p + p);
    return {p * inv_sqrt_pi + 2.0 * (h * pr - g * pi_), q * inv_sqrt_pi + 2.0 * (g * pr + h * pi_)};
}

} // namespace quorvel
