// Breakpoints of a product of elements on a window: the points where a factor's formula changes
// (support ends, knots, segment ends, centers), sorted and without repeats.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "quorvel/quadrature.hpp"

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
    switch (e.index()) {
    case 0:
        inside(std::get<Delta>(e).x);
        break;
    case 1: {
        const Box& b = std::get<Box>(e);
        inside(b.a);
        inside(b.b);
        break;
    }
    case 2: {
        const Hat& h = std::get<Hat>(e);
        inside(h.a);
        inside(h.c);
        inside(h.b);
        break;
    }
    case 3: {
        const Shape& s = std::get<Shape>(e);
        for (const Segment& seg : *s.segments) {
            inside(s.center + s.stretch * seg.a);
            inside(s.center + s.stretch * seg.b);
        }
        break;
    }
    case 4: {
        const Profile& p = std::get<Profile>(e);
        inside(p.lower);
        inside(p.center);
        inside(p.upper);
        break;
    }
    case 5: {
        const Mapped& m = std::get<Mapped>(e);
        inside(m.lower);
        inside(m.upper);
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
        break;
    }
    default:
        throw InternalError("unknown element kind");
    }
}

// Key whose integer order is the IEEE-754 total order of the doubles.
std::int64_t total_order_key(double d) {
    const auto i = std::bit_cast<std::int64_t>(d);
    return i ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(i >> 63) >> 1);
}

bool total_less(double a, double b) {
    return total_order_key(a) < total_order_key(b);
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

    if (list.size() <= 20) {
        for (std::size_t i = 1; i < list.size(); ++i) {
            const double v = list[i];
            std::size_t j = i;
            for (; j > 0 && total_less(v, list[j - 1]); --j)
                list[j] = list[j - 1];
            list[j] = v;
        }
    } else {
        std::sort(list.begin(), list.end(), total_less);
    }
    // Drop repeats (== keeps -0 and drops a following +0; NaN never repeats).
    std::size_t kept = 1;
    for (std::size_t i = 1; i < list.size(); ++i)
        if (!(list[i] == list[kept - 1])) list[kept++] = list[i];
    list.resize(kept);
}

} // namespace quorvel
