// Integrals of the elements of a space, optionally weighted by cos(omega x).
#include "quorvel/inner_products.hpp"

namespace quorvel {

std::vector<double> space_integrals(std::span<const Element> elements, CosineWeight weight) {
    std::vector<double> out;
    out.reserve(elements.size());
    std::vector<double> breakpoints;
    for (const Element& e : elements)
        out.push_back(element_integral(e, weight, breakpoints));
    return out;
}

} // namespace quorvel
