// Integrals of the elements of a space, optionally weighted by cos(omega x).
#include "quorvel/cancel.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

std::vector<double> space_integrals(std::span<const Element> elements, CosineWeight weight) {
    std::vector<double> out;
    out.reserve(elements.size());
    std::vector<double> breakpoints;
    const CancelFlag* const cancel = current_cancel_flag();
    for (const Element& e : elements) {
        poll_cancel(cancel);
        out.push_back(element_integral(e, weight, breakpoints));
    }
    return out;
}

std::vector<double> space_integrals(const Space& space, CosineWeight weight) {
    if (!weight && space.closed_integrals.size() == space.size()) return space.closed_integrals;
    if (!weight && is_point_space(space)) return std::vector<double>(space.size(), 1.0);
    return space_integrals(space.elements, weight);
}

} // namespace quorvel
