// erf(b) - erf(a) without cancellation: on one side of 0 the difference of the complementary
// functions keeps full relative accuracy in the tails, and a window narrow against its distance
// from 0 is summed as a Taylor series about its midpoint.
#include "erf_difference.hpp"

#include <cmath>

#include "quorvel/constants.hpp"

namespace quorvel {

double erf_difference(double a, double b) {
    if (a >= 0.0) return std::erfc(a) - std::erfc(b);
    if (b <= 0.0) return std::erfc(-b) - std::erfc(-a);
    return std::erf(b) - std::erf(a);
}

// (erf(m + h) - erf(m - h)) / h = 4/sqrt(pi) exp(-m^2) sum_j H_2j(m) h^2j / (2j+1)!, with the
// Hermite polynomials H_n by their three-term recurrence. Meant for 0 <= h <= m with
// 4 m h < 1: there the terms fall at least as fast as (2 m h)^(2j) / (2j+1)!, while
// erfc(m - h) - erfc(m + h) would cancel. Divided by h so that a tiny window does not underflow
// before its caller normalises it.
double erf_narrow_window(double m, double h) {
    const double h2 = h * h;
    double h_prev = 1.0;    // H_(2j)
    double h_odd = 2.0 * m; // H_(2j+1)
    double power = 1.0;     // h^2j / (2j+1)!
    double sum = power;
    // A term is also tiny when m lies near a root of H_2j; two neighbouring Hermite
    // polynomials of even order share no root, so the sum stops after two tiny terms in a row.
    int tiny_terms = 0;
    for (int j = 1; j < 40; ++j) {
        const double n = 2.0 * j;
        const double h_even = 2.0 * m * h_odd - 2.0 * (n - 1.0) * h_prev; // H_(2j)
        h_odd = 2.0 * m * h_even - 2.0 * n * h_odd;                       // H_(2j+1)
        h_prev = h_even;
        power *= h2 / (n * (n + 1.0));
        const double term = h_even * power;
        sum += term;
        tiny_terms = std::abs(term) < std::abs(sum) * 1e-17 ? tiny_terms + 1 : 0;
        if (tiny_terms == 2) break;
    }
    return constants::four_over_sqrt_pi * std::exp(-(m * m)) * sum;
}

} // namespace quorvel
