// Exact integrals of the piecewise-polynomial elements over their whole support.
#include <cmath>

#include "quorvel/quadrature.hpp"

namespace quorvel {

std::optional<double> closed_form_integral(const Element& e) {
    switch (e.index()) {
    case 0:
        return 1.0;
    case 1: {
        const Box& b = std::get<Box>(e);
        return b.b - b.a;
    }
    case 2: {
        const Hat& h = std::get<Hat>(e);
        return (h.b - h.a) * 0.5;
    }
    case 3: {
        const Shape& s = std::get<Shape>(e);
        // Each segment's cubic in t = u - a integrated over [0, D] by Horner's scheme.
        double sum = 0.0;
        for (const Segment& g : *s.segments) {
            const double d = g.b - g.a;
            sum += d * (g.c0 + d * (g.c1 / 2.0 + d * (g.c2 / 3.0 + g.c3 * d / 4.0)));
        }
        return s.stretch * sum;
    }
    case 4:
        return std::nullopt;
    case 5: {
        const Mapped& m = std::get<Mapped>(e);
        if (m.map != MapKind::Affine) return std::nullopt;
        const auto inner = closed_form_integral(*m.inner);
        if (!inner) return std::nullopt;
        return m.jacobian ? *inner : std::fabs(m.b) * *inner;
    }
    default:
        throw InternalError("unknown element kind");
    }
}

} // namespace quorvel
