// Which elements are piecewise polynomials in x, and so integrated exactly by a fixed rule.
#include "quorvel/quadrature.hpp"

namespace quorvel {

bool is_polynomial(const Element& e) {
    const Element* cur = &e;
    // Affine maps keep polynomials polynomial; follow any chain of them to the innermost element.
    while (const auto* m = std::get_if<Mapped>(cur)) {
        if (m->map != MapKind::Affine) return false;
        cur = m->inner.get();
    }
    return std::holds_alternative<Box>(*cur) || std::holds_alternative<Hat>(*cur) ||
           std::holds_alternative<Shape>(*cur);
}

} // namespace quorvel
