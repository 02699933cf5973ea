// The element operations every other part calls: support, point value, slope and center, with
// one dispatch on the kind per call.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "local_point.hpp"
#include "piecewise_value.hpp"
#include "quorvel/element.hpp"
#include "quorvel/overloaded.hpp"

namespace quorvel {

double mapped_forward(const Mapped& m, double u) {
    if (m.map == MapKind::Reciprocal) return m.a / u;
    return u * m.b + m.a;
}

double mapped_inverse(const Mapped& m, double x) {
    if (m.map == MapKind::Reciprocal) return m.a / x;
    return (x - m.a) / m.b;
}

// -a / x^2, also where x^2 underflows or overflows while the quotient does not.
double reciprocal_du_dx(double a, double x) {
    const double xx = x * x;
    if (std::isnormal(xx) && xx < INFINITY) return -a / xx;
    return -(a / x) / x;
}

double mapped_du_dx(const Mapped& m, double x) {
    if (m.map == MapKind::Reciprocal) return reciprocal_du_dx(m.a, x);
    return 1.0 / m.b;
}

MappedPoint mapped_point(const Mapped& m, double origin, double y) {
    if (m.map == MapKind::Affine) return {(origin - m.a) / m.b, y / m.b, 1.0 / m.b};
    const double x = origin + y;
    return {m.a / x, 0.0, reciprocal_du_dx(m.a, x)};
}

Support support(const Element& e) {
    return std::visit(Overloaded{
                          [](const Delta& d) { return Support{d.x, d.x}; },
                          [](const Box& b) { return Support{b.a, b.b}; },
                          [](const Hat& h) { return Support{h.a, h.b}; },
                          [](const Shape& s) {
                              const auto& seg = *s.segments;
                              return Support{s.center + s.stretch * seg.front().a,
                                             s.center + s.stretch * seg.back().b};
                          },
                          [](const Profile& p) { return Support{p.lower, p.upper}; },
                          [](const Mapped& m) { return Support{m.lower, m.upper}; },
                      },
                      static_cast<const ElementVariant&>(e));
}

// Both functions below take the point as origin + y (LocalPoint); with y = 0 they are the plain
// point operations.

double evaluate_at(const Element& e, double origin, double y) {
    const LocalPoint x{origin, y};
    return std::visit(Overloaded{
                          [](const Delta&) { return 0.0; },
                          [&](const Box& b) { return box_value(b, x); },
                          [&](const Hat& h) { return hat_value(h, x); },
                          [&](const Shape& s) { return shape_value(shape_view(s), origin, y); },
                          [&](const Profile& p) {
                              if (x.outside(p.lower, p.upper)) return 0.0;
                              return profile_value(p.kind, x.from(p.center));
                          },
                          [&](const Mapped& m) {
                              if (x.outside(m.lower, m.upper)) return 0.0;
                              const MappedPoint u = mapped_point(m, origin, y);
                              const double v = evaluate_at(*m.inner, u.origin, u.y);
                              return m.jacobian ? v * std::abs(u.du_dx) : v;
                          },
                      },
                      static_cast<const ElementVariant&>(e));
}

double slope_at(const Element& e, double origin, double y) {
    const LocalPoint x{origin, y};
    return std::visit(Overloaded{
                          [](const Delta&) { return 0.0; },
                          [](const Box&) { return 0.0; },
                          [&](const Hat& h) {
                              if (x.outside(h.a, h.b)) return 0.0;
                              if (x.before(h.c)) return 1.0 / (h.c - h.a);
                              if (x.after(h.c)) return -1.0 / (h.b - h.c);
                              return 0.0;
                          },
                          [&](const Shape& s) {
                              const ShapePoint p = shape_point(shape_view(s), origin, y);
                              if (p.segment == nullptr) return 0.0;
                              const Segment& g = *p.segment;
                              const double d = g.c1 + p.t * (2.0 * g.c2 + 3.0 * g.c3 * p.t);
                              return (p.from_end ? -d : d) / s.stretch;
                          },
                          [&](const Profile& p) {
                              if (x.outside(p.lower, p.upper)) return 0.0;
                              return profile_slope(p.kind, x.from(p.center));
                          },
                          [&](const Mapped& m) {
                              if (x.outside(m.lower, m.upper)) return 0.0;
                              const MappedPoint u = mapped_point(m, origin, y);
                              const double s = u.du_dx;
                              const double inner_slope = slope_at(*m.inner, u.origin, u.y);
                              if (!m.jacobian) return s * inner_slope;
                              // d/dx [f(u) |du/dx|] = f'(u) du/dx |du/dx| + sign(du/dx) f(u)
                              // d2u/dx2
                              const double at = origin + y;
                              const double r =
                                  m.map == MapKind::Reciprocal ? 2.0 * m.a / (at * at * at) : 0.0;
                              const double sign = std::isnan(s) ? s : std::copysign(1.0, s);
                              return s * inner_slope * std::abs(s) +
                                     sign * evaluate_at(*m.inner, u.origin, u.y) * r;
                          },
                      },
                      static_cast<const ElementVariant&>(e));
}

double center(const Element& e) {
    return std::visit(Overloaded{
                          [](const Delta& d) { return d.x; },
                          [](const Box& b) { return std::midpoint(b.a, b.b); },
                          [](const Hat& h) { return h.c; },
                          [](const Shape& s) {
                              return std::isnan(s.nominal_center) ? s.center : s.nominal_center;
                          },
                          [](const Profile& p) { return p.center; },
                          [](const Mapped& m) { return mapped_forward(m, center(*m.inner)); },
                      },
                      static_cast<const ElementVariant&>(e));
}

} // namespace quorvel
