// The element operations every other part calls: support, point value, slope and center, with
// one dispatch on the kind per call.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "quorvel/element.hpp"
#include "quorvel/overloaded.hpp"

namespace quorvel {

namespace {

// Index of the segment that holds local coordinate u, or none for a gap or a point outside.
const Segment* find_segment(const std::vector<Segment>& segments, double u) {
    const auto it = std::upper_bound(segments.begin(), segments.end(), u,
                                     [](double v, const Segment& s) { return v < s.a; });
    if (it == segments.begin()) return nullptr;
    const Segment& s = *(it - 1);
    if (u < s.b) return &s;
    return nullptr;
}

bool outside(double x, double lower, double upper) {
    return x < lower || x > upper;
}

} // namespace

double mapped_forward(const Mapped& m, double u) {
    if (m.map == MapKind::Reciprocal) return m.a / u;
    return u * m.b + m.a;
}

double mapped_inverse(const Mapped& m, double x) {
    if (m.map == MapKind::Reciprocal) return m.a / x;
    return (x - m.a) / m.b;
}

double mapped_du_dx(const Mapped& m, double x) {
    if (m.map == MapKind::Reciprocal) return -m.a / (x * x);
    return 1.0 / m.b;
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

double evaluate(const Element& e, double x) {
    return std::visit(Overloaded{
                          [](const Delta&) { return 0.0; },
                          [x](const Box& b) { return (b.a <= x && x < b.b) ? 1.0 : 0.0; },
                          [x](const Hat& h) {
                              if (x < h.a || x > h.b) return 0.0;
                              if (x == h.c) return 1.0;
                              if (x < h.c) return (x - h.a) / (h.c - h.a);
                              return (h.b - x) / (h.b - h.c);
                          },
                          [x](const Shape& s) {
                              const double u = (x - s.center) / s.stretch;
                              const Segment* seg = find_segment(*s.segments, u);
                              if (seg == nullptr) return 0.0;
                              const double t = u - seg->a;
                              const double v =
                                  seg->c0 + t * (seg->c1 + t * (seg->c2 + t * seg->c3));
                              return s.nonnegative && v < 0.0 ? 0.0 : v;
                          },
                          [x](const Profile& p) {
                              if (outside(x, p.lower, p.upper)) return 0.0;
                              return profile_value(p.kind, x - p.center);
                          },
                          [x](const Mapped& m) {
                              if (outside(x, m.lower, m.upper)) return 0.0;
                              const double v = evaluate(*m.inner, mapped_inverse(m, x));
                              return m.jacobian ? v * std::abs(mapped_du_dx(m, x)) : v;
                          },
                      },
                      static_cast<const ElementVariant&>(e));
}

double slope(const Element& e, double x) {
    return std::visit(
        Overloaded{
            [](const Delta&) { return 0.0; },
            [](const Box&) { return 0.0; },
            [x](const Hat& h) {
                if (x < h.a || x > h.b) return 0.0;
                if (x < h.c) return 1.0 / (h.c - h.a);
                if (x > h.c) return -1.0 / (h.b - h.c);
                return 0.0;
            },
            [x](const Shape& s) {
                const double u = (x - s.center) / s.stretch;
                const Segment* seg = find_segment(*s.segments, u);
                if (seg == nullptr) return 0.0;
                const double t = u - seg->a;
                return (seg->c1 + t * (2.0 * seg->c2 + 3.0 * seg->c3 * t)) / s.stretch;
            },
            [x](const Profile& p) {
                if (outside(x, p.lower, p.upper)) return 0.0;
                return profile_slope(p.kind, x - p.center);
            },
            [x](const Mapped& m) {
                if (outside(x, m.lower, m.upper)) return 0.0;
                const double u = mapped_inverse(m, x);
                const double s = mapped_du_dx(m, x);
                const double inner_slope = slope(*m.inner, u);
                if (!m.jacobian) return s * inner_slope;
                // d/dx [f(u) |du/dx|] = f'(u) du/dx |du/dx| + sign(du/dx) f(u) d2u/dx2
                const double r = m.map == MapKind::Reciprocal ? 2.0 * m.a / (x * x * x) : 0.0;
                const double sign = std::isnan(s) ? s : std::copysign(1.0, s);
                return s * inner_slope * std::abs(s) + sign * evaluate(*m.inner, u) * r;
            },
        },
        static_cast<const ElementVariant&>(e));
}

double center(const Element& e) {
    return std::visit(Overloaded{
                          [](const Delta& d) { return d.x; },
                          [](const Box& b) { return std::midpoint(b.a, b.b); },
                          [](const Hat& h) { return h.c; },
                          [](const Shape& s) { return s.center; },
                          [](const Profile& p) { return p.center; },
                          [](const Mapped& m) { return mapped_forward(m, center(*m.inner)); },
                      },
                      static_cast<const ElementVariant&>(e));
}

} // namespace quorvel
