// Integrals of the elements of a space, optionally weighted by cos(omega x).
#include "quorvel/cancel.hpp"
#include "quorvel/inner_products.hpp"

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

} // namespace quorvel
