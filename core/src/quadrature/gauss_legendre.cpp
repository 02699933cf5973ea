// Gauss-Legendre rules on [-1, 1] by Newton iteration on the Legendre polynomial.
#include <cmath>
#include <cstddef>
#include <numbers>

#include "quorvel/quadrature.hpp"

namespace quorvel {
namespace {

// The n-point rule: nodes ascending on [-1, 1], weights positive.
QuadratureRule gauss_legendre(int n) {
    internal_assert(n > 0, "gauss_legendre needs a positive number of points");
    const auto count = static_cast<std::size_t>(n);
    QuadratureRule rule;
    rule.nodes.assign(count, 0.0);
    rule.weights.assign(count, 0.0);
    const double nd = n;
    for (std::size_t i = 0; i < (count + 1) / 2; ++i) {
        // Start near the i-th largest root and polish it by Newton's method; the weight uses the
        // derivative from the last iteration.
        double z = std::cos(std::numbers::pi * (static_cast<double>(i) + 0.75) / (nd + 0.5));
        double dp = 0.0;
        for (int iter = 0; iter < 100; ++iter) {
            double p0 = 1.0, p1 = z;
            for (int k = 2; k <= n; ++k) {
                const double pk = ((2.0 * k - 1.0) * z * p1 - (k - 1.0) * p0) / k;
                p0 = p1;
                p1 = pk;
            }
            // The recurrence leaves p1 = P_n and p0 = P_{n-1}.
            dp = nd * (z * p1 - p0) / (z * z - 1.0);
            const double delta = p1 / dp;
            z -= delta;
            if (std::fabs(delta) < 1e-16) break;
        }
        const double w = 2.0 / ((1.0 - z * z) * dp * dp);
        rule.nodes[i] = -z;
        rule.nodes[count - 1 - i] = z;
        rule.weights[i] = w;
        rule.weights[count - 1 - i] = w;
    }
    return rule;
}

} // namespace

// Function-local statics give the one-time, thread-safe initialisation.
const QuadratureRule& gauss4() {
    static const QuadratureRule rule = gauss_legendre(4);
    return rule;
}

const QuadratureRule& gauss8() {
    static const QuadratureRule rule = gauss_legendre(8);
    return rule;
}

} // namespace quorvel
