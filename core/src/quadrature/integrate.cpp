// Integral of a product of elements, piece by piece between breakpoints: one fixed Gauss-Legendre
// rule per piece for polynomial integrands, a walk in steps of the local scale otherwise.
#include "quorvel/quadrature.hpp"
#include "quorvel/stepping_walk.hpp"

namespace quorvel {

double integrate_product(Factors factors, CosineWeight weight,
                         std::span<const double> breakpoints) {
    const auto product = [factors](double x) {
        double v = 1.0;
        for (const Element* f : factors)
            v *= evaluate(*f, x);
        return v;
    };
    return integrate_between(factors, weight, breakpoints, product);
}

} // namespace quorvel
