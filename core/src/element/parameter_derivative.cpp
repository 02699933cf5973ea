// Derivatives of element values with respect to a parameter: position and stretch for every
// kind, the line-shape parameters for profiles, and mapped elements through their inner one.
#include <cmath>
#include <string>

#include "local_point.hpp"
#include "profile/dispatch.hpp"
#include "quorvel/element.hpp"

namespace quorvel {

namespace {

bool is_placement(ParameterKind p) {
    return p == ParameterKind::Center || p == ParameterKind::Scale;
}

// The element beneath any number of maps.
const Element& innermost(const Element& e) {
    const Element* cur = &e;
    while (const auto* m = std::get_if<Mapped>(cur))
        cur = m->inner.get();
    return *cur;
}

} // namespace

Result<double> parameter_derivative_at(const Element& e, ParameterKind p, double origin, double y) {
    // A parameter that only line shapes have is refused on other kinds wherever the point lies.
    if (!is_placement(p) && !std::holds_alternative<Profile>(innermost(e)))
        return invalid_input(std::string(parameter_name(p)) +
                             " applies only to line-shape profiles");
    const LocalPoint x{origin, y};
    if (const auto* m = std::get_if<Mapped>(&e)) {
        if (x.outside(m->lower, m->upper)) return 0.0;
        const MappedPoint u = mapped_point(*m, origin, y);
        QUORVEL_TRY_ASSIGN(const double inner,
                           parameter_derivative_at(*m->inner, p, u.origin, u.y));
        return m->jacobian ? inner * std::abs(u.du_dx) : inner;
    }
    if (const auto* pr = std::get_if<Profile>(&e)) {
        if (x.outside(pr->lower, pr->upper)) return 0.0;
        return profile_parameter_derivative(pr->kind, p, x.from(pr->center));
    }
    if (p == ParameterKind::Center) return -slope_at(e, origin, y);
    return -x.from(center(e)) * slope_at(e, origin, y);
}

std::array<double, 2> value_and_placement_derivative_at(const Profile& e, ParameterKind p,
                                                        double origin, double y) {
    const LocalPoint x{origin, y};
    if (x.outside(e.lower, e.upper)) return {0.0, 0.0};
    const double t = x.from(e.center);
    const auto [value, slope] = profile_value_and_slope(e.kind, t);
    return {value, p == ParameterKind::Center ? -slope : -t * slope};
}

} // namespace quorvel
