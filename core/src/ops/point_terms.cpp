// The point masses of a kernel's parameter derivative: moving or stretching a kernel moves its
// jumps, and a line-shape parameter moves the ends of the truncated support.
#include <cmath>
#include <string>
#include <variant>

#include "quorvel/measure.hpp"
#include "quorvel/overloaded.hpp"

namespace quorvel {

namespace {

double segment_value(const Segment& s, double t) {
    return s.c0 + t * (s.c1 + t * (s.c2 + t * s.c3));
}

// Jumps (position, height when x increases) of a shape: at each segment start the start value
// minus the end value of a segment that ends there, at each end not continued by the next
// segment minus the end value; only non-zero heights are kept.
void shape_jumps(const Shape& shape, std::vector<PointTerm>& out) {
    const std::vector<Segment>& segments = *shape.segments;
    const auto at = [&](double u) { return shape.center + shape.stretch * u; };
    // A segment's value at its end: exact from the end-anchored form when the shape has one.
    const auto end_value = [&](std::size_t k) {
        const Segment& s = segments[k];
        return shape.from_end ? (*shape.from_end)[k].c0 : segment_value(s, s.b - s.a);
    };
    for (std::size_t k = 0; k < segments.size(); ++k) {
        const Segment& s = segments[k];
        const double before = k > 0 && segments[k - 1].b == s.a ? end_value(k - 1) : 0.0;
        const double start = s.c0 - before;
        if (start != 0.0) out.push_back({at(s.a), start});
        if (k + 1 == segments.size() || segments[k + 1].a != s.b) {
            const double end = -end_value(k);
            if (end != 0.0) out.push_back({at(s.b), end});
        }
    }
}

// Moving or stretching a profile moves both support ends with it; a line-shape parameter moves
// them at the rates of its kind.
Status profile_terms(const Profile& profile, ParameterKind p, std::vector<PointTerm>& out) {
    const double low = profile_value(profile.kind, profile.lower - profile.center);
    const double high = profile_value(profile.kind, profile.upper - profile.center);
    if (p == ParameterKind::Center) {
        out.push_back({profile.lower, -low});
        out.push_back({profile.upper, high});
        return {};
    }
    if (p == ParameterKind::Scale) {
        out.push_back({profile.lower, -(profile.lower - profile.center) * low});
        out.push_back({profile.upper, (profile.upper - profile.center) * high});
        return {};
    }
    QUORVEL_TRY_ASSIGN(const ExtentRates rates,
                       profile_extent_rates(profile.kind, p, profile.cutoff));
    out.push_back({profile.lower, low * rates.left});
    out.push_back({profile.upper, high * rates.right});
    return {};
}

// Moves the inner element's point terms to x; without the jacobian a unit mass in u carries the
// weight |dx/du| in x.
void map_terms(const Mapped& m, std::vector<PointTerm>& terms) {
    for (PointTerm& t : terms) {
        if (m.map == MapKind::Reciprocal) {
            t.x = m.a / t.x;
            if (!m.jacobian) t.c *= 1.0 / std::abs(m.a / (t.x * t.x));
        } else {
            t.x = m.a + m.b * t.x;
            if (!m.jacobian) t.c *= 1.0 / std::abs(1.0 / m.b);
        }
    }
}

// Point terms of a piecewise kernel from its jumps, which push_jumps appends as (position,
// height when x increases): d/dx_c of k(x - x_c) is -dk/dx, and a stretch about the center
// weighs each jump by -(x - x_c). Only moving and stretching are defined for these kernels.
template <class PushJumps>
Status jump_terms(const Element& kernel, ParameterKind p, std::vector<PointTerm>& out,
                  PushJumps push_jumps) {
    if (p != ParameterKind::Center && p != ParameterKind::Scale)
        return invalid_input(std::string(parameter_name(p)) +
                             " applies only to line-shape profiles");
    push_jumps();
    if (p == ParameterKind::Center) {
        for (PointTerm& t : out)
            t.c = -t.c;
    } else {
        const double x0 = center(kernel);
        for (PointTerm& t : out)
            t.c = -(t.x - x0) * t.c;
    }
    return {};
}

Status fill_terms(const Element& kernel, ParameterKind p, std::vector<PointTerm>& out) {
    return std::visit(Overloaded{
                          [](const Delta&) -> Status { return {}; },
                          [&](const Box& box) {
                              return jump_terms(kernel, p, out, [&] {
                                  out.push_back({box.a, 1.0});
                                  out.push_back({box.b, -1.0});
                              });
                          },
                          [&](const Hat& hat) {
                              return jump_terms(kernel, p, out, [&] {
                                  if (hat.a == hat.c) out.push_back({hat.a, 1.0});
                                  if (hat.c == hat.b) out.push_back({hat.b, -1.0});
                              });
                          },
                          [&](const Shape& shape) {
                              return jump_terms(kernel, p, out, [&] { shape_jumps(shape, out); });
                          },
                          [&](const Profile& profile) { return profile_terms(profile, p, out); },
                          [&](const Mapped& mapped) -> Status {
                              QUORVEL_TRY(fill_terms(*mapped.inner, p, out));
                              map_terms(mapped, out);
                              return {};
                          },
                      },
                      static_cast<const ElementVariant&>(kernel));
}

} // namespace

Status point_terms(const Element& kernel, ParameterKind parameter, std::vector<PointTerm>& out) {
    out.clear();
    return fill_terms(kernel, parameter, out);
}

} // namespace quorvel
