// Integral of a product of elements, piece by piece between breakpoints: one fixed Gauss-Legendre
// rule per piece for polynomial integrands, a walk in steps of the local scale otherwise.
#include "quorvel/quadrature.hpp"
#include "quorvel/stepping_walk.hpp"

namespace quorvel {

double integrate_product(Factors factors, CosineWeight weight, double origin,
                         std::span<const double> breakpoints) {
    // Pairs, by far the most common product, without the loop over the factors.
    if (factors.size() == 2) {
        const Placed a = factors[0], b = factors[1];
        const auto pair = [a, b](double y) {
            return evaluate_at(*a.element, a.origin, y) * evaluate_at(*b.element, b.origin, y);
        };
        return integrate_between(factors, weight, origin, breakpoints, pair);
    }
    const auto product = [factors](double y) {
        double v = 1.0;
        for (const Placed& f : factors)
            v *= evaluate_at(*f.element, f.origin, y);
        return v;
    };
    return integrate_between(factors, weight, origin, breakpoints, product);
}

} // namespace quorvel
