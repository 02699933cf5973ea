// The support of an element placed in the frame of an integral.
#include <cmath>

#include "quorvel/quadrature.hpp"

namespace quorvel {

Support frame_support(const Element& e, Support s, double origin) {
    // A shape's ends are center + stretch a in its own coordinate: formed from the frame origin
    // they are exact to rounding, where the support's doubles are rounded to the spacing there.
    if (const auto* shape = std::get_if<Shape>(&e)) {
        const double dc = shape->center - origin;
        return {dc + shape->stretch * shape->segments->front().a,
                dc + shape->stretch * shape->segments->back().b};
    }
    return {s.lower - origin, s.upper - origin};
}

double pair_frame_origin(const Element& a, const Element& b, double lo, double hi) {
    for (const Element* e : {&a, &b}) {
        if (const auto* p = std::get_if<Profile>(e)) {
            return std::fmin(std::fmax(p->center, lo), hi);
        }
    }
    return lo;
}

Support frame_support(const Placed& f) {
    return frame_support(*f.element, support(*f.element), f.origin);
}

} // namespace quorvel
