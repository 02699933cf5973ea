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

// Inner breakpoints of a map, carried back to x and kept when strictly inside the outer window.
struct MappedBack {
    const Mapped* map;
    double lo, hi;
    Sink outer;
};

// Calls sink(p) for each breakpoint p of e with lo < p < hi, in the element's own order.
void emit_breakpoints(const Element& e, double lo, double hi, Sink sink) {
    auto inside = [&](double p) {
        if (lo < p && p < hi) sink(p);
    };
    std::visit(Overloaded{
                   [&](const Delta& d) { inside(d.x); },
                   [&](const Box& b) {
                       inside(b.a);
                       inside(b.b);
                   },
                   [&](const Hat& h) {
                       inside(h.a);
                       inside(h.c);
                       inside(h.b);
                   },
                   [&](const Shape& s) {
                       for (const Segment& seg : *s.segments) {
                           inside(s.center + s.stretch * seg.a);
                           inside(s.center + s.stretch * seg.b);
                       }
                   },
                   [&](const Profile& p) {
                       inside(p.lower);
                       inside(p.center);
                       inside(p.upper);
                   },
                   [&](const Mapped& m) {
                       inside(m.lower);
                       inside(m.upper);
                       // The inner element's breakpoints within the clipped window, carried back.
                       const double v = std::max(lo, m.lower);
                       const double w = std::min(hi, m.upper);
                       const double uv = mapped_inverse(m, v);
                       const double uw = mapped_inverse(m, w);
                       MappedBack back{&m, lo, hi, sink};
                       const Sink inner{[](void* c, double u) {
                                            const auto& mb = *static_cast<const MappedBack*>(c);
                                            const double x = mapped_forward(*mb.map, u);
                                            if (mb.lo < x && x < mb.hi) mb.outer(x);
                                        },
                                        &back};
                       emit_breakpoints(*m.inner, std::min(uv, uw), std::max(uv, uw), inner);
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
    for (const Element* f : factors)
        emit_breakpoints(*f, lo, hi, sink);

    sort_unique(list);
}

} // namespace quorvel
