// Integral of one element, optionally weighted by cos(omega x).
#include <cmath>

#include "quorvel/quadrature.hpp"

namespace quorvel {

double element_integral(const Element& e, CosineWeight weight, std::vector<double>& list) {
    // A point functional integrates to the weight at its position.
    if (const auto* d = std::get_if<Delta>(&e)) return weight ? std::cos(*weight * d->x) : 1.0;
    if (!weight) {
        if (const auto exact = closed_form_integral(e)) return *exact;
    }
    const Support s = support(e);
    const Element* factors[] = {&e};
    collect_breakpoints(factors, s.lower, s.upper, list);
    return integrate_product(factors, weight, list);
}

} // namespace quorvel
