// Breakpoints of a product of elements on a window: the points where a factor's formula changes
// (support ends, knots, segment ends, centers), sorted and without repeats.
#include <algorithm>
#include <variant>

#include "quorvel/overloaded.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/sorting.hpp"

namespace quorvel {
namespace {

// Receives each breakpoint found; a plain function pointer keeps the recursion through nested
// maps free of allocation.
struct Sink {
    void (*push)(void* context, double p);
    void* context;
    void operator()(double p) const { push(context, p); }
};

// Inner breakpoints of a map (absolute inner coordinates), carried back to frame coordinates and
// kept when strictly inside the outer window.
struct MappedBack {
    const Mapped* map;
    double origin, lo, hi;
    Sink outer;
};

// Calls sink(y) for each breakpoint p of e with lo < y < hi, y = p - origin its frame position,
// in the element's own order. A shape's breakpoints are formed from its local coordinate, so
// they meet its segment ends exactly where it is evaluated.
void emit_breakpoints(const Element& e, double origin, double lo, double hi, Sink sink) {
    auto inside = [&](double y) {
        if (lo < y && y < hi) sink(y);
    };
    auto at = [&](double p) { inside(p - origin); };
    std::visit(Overloaded{
                   [&](const Delta& d) { at(d.x); },
                   [&](const Box& b) {
                       at(b.a);
                       at(b.b);
                   },
                   [&](const Hat& h) {
                       at(h.a);
                       at(h.c);
                       at(h.b);
                   },
                   [&](const Shape& s) {
                       const double dc = s.center - origin;
                       for (const Segment& seg : *s.segments) {
                           inside(dc + s.stretch * seg.a);
                           inside(dc + s.stretch * seg.b);
                       }
                   },
                   [&](const Profile& p) {
                       at(p.lower);
                       at(p.center);
                       at(p.upper);
                   },
                   [&](const Mapped& m) {
                       at(m.lower);
                       at(m.upper);
                       // The inner element's breakpoints within the clipped window, carried back.
                       const double v = std::max(lo, m.lower - origin);
                       const double w = std::min(hi, m.upper - origin);
                       const double uv = mapped_inverse(m, origin + v);
                       const double uw = mapped_inverse(m, origin + w);
                       MappedBack back{&m, origin, lo, hi, sink};
                       const Sink inner{[](void* c, double u) {
                                            const auto& mb = *static_cast<const MappedBack*>(c);
                                            const Mapped& map = *mb.map;
                                            const double y = map.map == MapKind::Affine
                                                                 ? (map.a - mb.origin) + map.b * u
                                                                 : map.a / u - mb.origin;
                                            if (mb.lo < y && y < mb.hi) mb.outer(y);
                                        },
                                        &back};
                       emit_breakpoints(*m.inner, 0.0, std::min(uv, uw), std::max(uv, uw), inner);
                   },
               },
               static_cast<const ElementVariant&>(e));
}

} // namespace

void collect_breakpoints(Factors factors, double lo, double hi, std::vector<double>& list) {
    list.clear();
    list.push_back(lo);
    list.push_back(hi);
    const Sink sink{[](void* c, double p) { static_cast<std::vector<double>*>(c)->push_back(p); },
                    &list};
    for (const Placed& f : factors)
        emit_breakpoints(*f.element, f.origin, lo, hi, sink);

    sort_unique(list);
}

} // namespace quorvel
