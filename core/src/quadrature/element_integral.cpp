// Integral of one element, optionally weighted by cos(omega x): exact for the piecewise
// polynomials without a weight, by quadrature between the element's breakpoints otherwise.
#include <cmath>
#include <optional>
#include <variant>

#include "quorvel/overloaded.hpp"
#include "quorvel/quadrature.hpp"

namespace quorvel {

std::optional<double> closed_form_integral(const Element& e) {
    return std::visit(Overloaded{
                          [](const Delta&) -> std::optional<double> { return 1.0; },
                          [](const Box& b) -> std::optional<double> { return b.b - b.a; },
                          [](const Hat& h) -> std::optional<double> { return (h.b - h.a) * 0.5; },
                          [](const Shape& s) -> std::optional<double> {
                              // Each segment's cubic in t = u - a integrated over [0, D] by
                              // Horner's scheme.
                              double sum = 0.0;
                              for (const Segment& g : *s.segments) {
                                  const double d = g.b - g.a;
                                  sum += d * (g.c0 +
                                              d * (g.c1 / 2.0 + d * (g.c2 / 3.0 + g.c3 * d / 4.0)));
                              }
                              return s.stretch * sum;
                          },
                          [](const Profile& p) -> std::optional<double> {
                              return profile_integral(p.kind, p.lower - p.center,
                                                      p.upper - p.center);
                          },
                          [](const Mapped& m) -> std::optional<double> {
                              if (m.map != MapKind::Affine) return std::nullopt;
                              const auto inner = closed_form_integral(*m.inner);
                              if (!inner) return std::nullopt;
                              return m.jacobian ? *inner : std::fabs(m.b) * *inner;
                          },
                      },
                      static_cast<const ElementVariant&>(e));
}

double element_integral(const Element& e, CosineWeight weight, std::vector<double>& list) {
    // A point functional integrates to the weight at its position.
    if (const auto* d = std::get_if<Delta>(&e)) return weight_value(weight, d->x);
    if (!weight) {
        if (const auto exact = closed_form_integral(e)) return *exact;
    }
    // The frame of the element paired with itself.
    const Support s = support(e);
    const double origin = pair_frame_origin(e, e, s.lower, s.upper);
    const Support f = frame_support(e, s, origin);
    const Placed factors[] = {{&e, origin}};
    collect_breakpoints(factors, f.lower, f.upper, list);
    return integrate_product(factors, weight, origin, list);
}

} // namespace quorvel
