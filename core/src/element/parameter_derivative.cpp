// Derivatives of element values with respect to a parameter: position and stretch for every
// kind, the line-shape parameters for profiles, and mapped elements through their inner one.
#include <cmath>
#include <string>

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

Result<double> parameter_derivative(const Element& e, ParameterKind p, double x) {
    // A parameter that only line shapes have is refused on other kinds wherever x lies.
    if (!is_placement(p) && !std::holds_alternative<Profile>(innermost(e)))
        return invalid_input(std::string(parameter_name(p)) +
                             " applies only to line-shape profiles");
    if (const auto* m = std::get_if<Mapped>(&e)) {
        if (x < m->lower || x > m->upper) return 0.0;
        QUORVEL_TRY_ASSIGN(const double inner,
                           parameter_derivative(*m->inner, p, mapped_inverse(*m, x)));
        return m->jacobian ? inner * std::abs(mapped_du_dx(*m, x)) : inner;
    }
    if (const auto* pr = std::get_if<Profile>(&e)) {
        if (x < pr->lower || x > pr->upper) return 0.0;
        return profile_parameter_derivative(pr->kind, p, x - pr->center);
    }
    if (p == ParameterKind::Center) return -slope(e, x);
    return -(x - center(e)) * slope(e, x);
}

} // namespace quorvel
