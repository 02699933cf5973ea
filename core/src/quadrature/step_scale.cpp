// The largest quadrature step the stepping walk may take at x for one element.
#include <algorithm>
#include <cmath>
#include <limits>

#include "quorvel/quadrature.hpp"

namespace quorvel {
namespace {

constexpr double unbounded = std::numeric_limits<double>::infinity();

// Profile step at distance d from the center, taken one step closer to the center so that a walk
// towards the peak never oversteps the narrower region ahead of it.
double scale_towards_center(const ProfileKind& kind, double d) {
    return profile_scale(kind, std::fmax(d - profile_scale(kind, d), 0.0));
}

} // namespace

double step_scale(const Element& e, double origin, double y) {
    if (const auto* p = std::get_if<Profile>(&e)) {
        const double d = (origin - p->center) + y;
        if (d >= 0.0) return profile_scale(p->kind, d);
        return scale_towards_center(p->kind, -d);
    }
    const auto* m = std::get_if<Mapped>(&e);
    if (!m) return unbounded;

    const double x = origin + y;
    const bool reciprocal = m->map == MapKind::Reciprocal;
    const double u = mapped_inverse(*m, x);
    double hu = unbounded;
    if (std::holds_alternative<Mapped>(*m->inner)) {
        hu = step_scale(*m->inner, u, 0.0);
    } else if (const auto* g = std::get_if<Profile>(m->inner.get())) {
        // Either side of the center may lie towards smaller x after a reciprocal map.
        hu = scale_towards_center(g->kind, std::fabs(u - g->center));
    }
    double h = unbounded;
    if (std::isfinite(hu)) {
        h = 0.7 * hu / std::fabs(mapped_du_dx(*m, x));
    }
    if (reciprocal) h = std::min(h, 0.1 * std::fabs(x));
    return h;
}

// The scale on the near side of the center is that of a smaller distance: the bound at the
// farther end bounds both.
double step_scale_bound(const Element& e, double origin, double y0, double y1) {
    const auto* p = std::get_if<Profile>(&e);
    if (!p) return unbounded;
    const double d0 = std::fabs((origin - p->center) + y0);
    const double d1 = std::fabs((origin - p->center) + y1);
    return profile_scale_bound(p->kind, std::fmax(d0, d1));
}

} // namespace quorvel
