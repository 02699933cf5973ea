// The point masses of a kernel's parameter derivative: moving or stretching a kernel moves its
// jumps, and a line-shape parameter moves the ends of the truncated support.
#include <cmath>
#include <string>
#include <type_traits>
#include <variant>

#include "quorvel/measure.hpp"

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
    for (std::size_t k = 0; k < segments.size(); ++k) {
        const Segment& s = segments[k];
        double before = 0.0;
        if (k > 0 && segments[k - 1].b == s.a)
            before = segment_value(segments[k - 1], segments[k - 1].b - segments[k - 1].a);
        const double start = s.c0 - before;
        if (start != 0.0) out.push_back({at(s.a), start});
        if (k + 1 == segments.size() || segments[k + 1].a != s.b) {
            const double end = -segment_value(s, s.b - s.a);
            if (end != 0.0) out.push_back({at(s.b), end});
        }
    }
}

// Motion of the support ends of a profile under a line-shape parameter: e = -d(lower)/dp and
// F = d(upper)/dp for the supports cutoff * width of each kind.
struct EndMotion {
    double e, f;
};

Result<EndMotion> end_motion(const Profile& profile, ParameterKind p) {
    const double cutoff = profile.cutoff;
    const auto none = [&]() -> Result<EndMotion> {
        return invalid_input(render_kind(profile.kind) + " has no parameter " +
                             std::string(parameter_name(p)));
    };
    return std::visit(
        [&](const auto& kind) -> Result<EndMotion> {
            using K = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<K, Gaussian>) {
                if (p == ParameterKind::Sigma) return EndMotion{cutoff, cutoff};
            } else if constexpr (std::is_same_v<K, Lorentzian>) {
                if (p == ParameterKind::Gamma) return EndMotion{cutoff, cutoff};
            } else if constexpr (std::is_same_v<K, Voigt>) {
                // Olivero-Longbothum width: 0.5 (0.5346 fL + sqrt(fG^2 + 0.2166 fL^2)).
                const double fg = kind.sigma * 2.3548200450309493;
                const double fl = kind.gamma + kind.gamma;
                const double r = std::sqrt(fg * fg + fl * (fl * 0.2166));
                if (p == ParameterKind::Sigma) {
                    const double g = fg * 0.5 * 2.3548200450309493 / r;
                    return EndMotion{cutoff * g, cutoff * g};
                }
                if (p == ParameterKind::Gamma) {
                    const double g = (2.0 * (fl * 0.2166) / r + 1.0692) * 0.5;
                    return EndMotion{cutoff * g, cutoff * g};
                }
            } else if constexpr (std::is_same_v<K, PseudoVoigt>) {
                if (p == ParameterKind::Eta) return EndMotion{0.0, 0.0};
            } else if constexpr (std::is_same_v<K, SuperGaussian>) {
                if (p == ParameterKind::Power) return EndMotion{0.0, 0.0};
                if (p == ParameterKind::Asymmetry) {
                    const double mean = cutoff * (kind.hwhm_left + kind.hwhm_right) * 0.5;
                    return EndMotion{-mean, mean};
                }
            } else if constexpr (std::is_same_v<K, SmoothedBox>) {
                if (p == ParameterKind::Sigma) return EndMotion{cutoff, cutoff};
                if (p == ParameterKind::HalfWidth) return EndMotion{1.0, 1.0};
            }
            return none();
        },
        profile.kind);
}

Status profile_terms(const Profile& profile, ParameterKind p, std::vector<PointTerm>& out) {
    const double low = profile_value(profile.kind, profile.lower - profile.center);
    const double high = profile_value(profile.kind, profile.upper - profile.center);
    switch (p) {
    case ParameterKind::Center:
        out.push_back({profile.lower, -low});
        out.push_back({profile.upper, high});
        return {};
    case ParameterKind::Scale:
        out.push_back({profile.lower, -(profile.lower - profile.center) * low});
        out.push_back({profile.upper, (profile.upper - profile.center) * high});
        return {};
    default:
        break;
    }
    auto motion = end_motion(profile, p);
    if (!motion) return std::unexpected(std::move(motion.error()));
    out.push_back({profile.lower, low * motion->e});
    out.push_back({profile.upper, high * motion->f});
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

Status fill_terms(const Element& kernel, ParameterKind p, std::vector<PointTerm>& out) {
    if (const auto* profile = std::get_if<Profile>(&kernel)) return profile_terms(*profile, p, out);
    if (std::holds_alternative<Delta>(kernel)) return {};
    if (const auto* mapped = std::get_if<Mapped>(&kernel)) {
        auto inner = fill_terms(*mapped->inner, p, out);
        if (!inner) return inner;
        map_terms(*mapped, out);
        return {};
    }

    // Box, Hat and Shape: only moving and stretching are defined.
    if (p != ParameterKind::Center && p != ParameterKind::Scale)
        return invalid_input(std::string(parameter_name(p)) +
                             " applies only to line-shape profiles");
    if (const auto* box = std::get_if<Box>(&kernel)) {
        out.push_back({box->a, 1.0});
        out.push_back({box->b, -1.0});
    } else if (const auto* hat = std::get_if<Hat>(&kernel)) {
        if (hat->a == hat->c) out.push_back({hat->a, 1.0});
        if (hat->c == hat->b) out.push_back({hat->b, -1.0});
    } else {
        shape_jumps(std::get<Shape>(kernel), out);
    }

    // d/dx_c of k(x - x_c) is -dk/dx; a stretch about the center weighs each jump by -(x - x_c).
    if (p == ParameterKind::Center) {
        for (PointTerm& t : out) t.c = -t.c;
    } else {
        const double x0 = center(kernel);
        for (PointTerm& t : out) t.c = -(t.x - x0) * t.c;
    }
    return {};
}

} // namespace

Status point_terms(const Element& kernel, ParameterKind parameter, std::vector<PointTerm>& out) {
    out.clear();
    return fill_terms(kernel, parameter, out);
}

} // namespace quorvel
