// Integral of a product of elements, piece by piece between breakpoints: one fixed Gauss-Legendre
// rule per piece for polynomial integrands, a walk in steps of the local scale otherwise.
#include <cmath>
#include <limits>

#include "quorvel/quadrature.hpp"

namespace quorvel {

double integrate_product(Factors factors, CosineWeight weight,
                         std::span<const double> breakpoints) {
    if (breakpoints.size() < 2) return 0.0;
    auto product = [factors](double x) {
        double v = 1.0;
        for (const Element* f : factors)
            v *= evaluate(*f, x);
        return v;
    };

    const bool polynomial = std::all_of(factors.begin(), factors.end(),
                                        [](const Element* f) { return is_polynomial(*f); });
    if (!weight && polynomial) {
        // Exact for products of two cubics with 4 points and of three with 8.
        const QuadratureRule& rule = factors.size() >= 3 ? gauss8() : gauss4();
        return integrate_fixed(breakpoints, rule, product);
    }

    const double cap = weight ? 0.25 / std::fabs(*weight) : std::numeric_limits<double>::infinity();
    auto step = [factors, cap](double o) {
        double lambda = cap;
        for (const Element* f : factors) {
            const double s = step_scale(*f, o);
            if (s < lambda) lambda = s; // a NaN scale never wins
        }
        return lambda;
    };
    const bool always_eight = factors.size() >= 3;
    if (!weight) return integrate_stepping(breakpoints, always_eight, step, product);
    const double omega = *weight;
    return integrate_stepping(breakpoints, always_eight, step, [&product, omega](double x) {
        return product(x) * std::cos(omega * x);
    });
}

} // namespace quorvel
