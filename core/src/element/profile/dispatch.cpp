// One visit over the line-shape kinds per operation, calling the functions of the kind files,
// and the checks every kind shares.
#include "dispatch.hpp"

#include <string>
#include <variant>

#include "fts.hpp"
#include "gaussian.hpp"
#include "harmonic.hpp"
#include "lorentzian.hpp"
#include "matern.hpp"
#include "pseudo_voigt.hpp"
#include "smoothed_box.hpp"
#include "super_gaussian.hpp"
#include "voigt.hpp"

namespace quorvel {

std::string render_kind(const ProfileKind& kind) {
    return std::visit([](const auto& k) { return line_shape::render(k); }, kind);
}

namespace {

std::unexpected<CoreError> no_parameter(const ProfileKind& kind, ParameterKind p) {
    return invalid_input(render_kind(kind) + " has no parameter " + std::string(parameter_name(p)));
}

} // namespace

std::string_view parameter_name(ParameterKind p) {
    switch (p) {
    case ParameterKind::Center:
        return "Center";
    case ParameterKind::Scale:
        return "Scale";
    case ParameterKind::Sigma:
        return "Sigma";
    case ParameterKind::Gamma:
        return "Gamma";
    case ParameterKind::Eta:
        return "Eta";
    case ParameterKind::Power:
        return "Power";
    case ParameterKind::Asymmetry:
        return "Asymmetry";
    case ParameterKind::HalfWidth:
        return "HalfWidth";
    }
    throw InternalError("unknown parameter kind");
}

double profile_value(const ProfileKind& kind, double t) {
    return std::visit([t](const auto& k) { return line_shape::value(k, t); }, kind);
}

void profile_values(const ProfileKind& kind, std::span<const double> t, double* out) {
    std::visit(
        [t, out](const auto& k) {
            for (std::size_t i = 0; i < t.size(); ++i)
                out[i] = line_shape::value(k, t[i]);
        },
        kind);
}

double profile_slope(const ProfileKind& kind, double t) {
    return std::visit([t](const auto& k) { return line_shape::slope(k, t); }, kind);
}

std::array<double, 2> profile_value_and_slope(const ProfileKind& kind, double t) {
    return std::visit(
        [t](const auto& k) -> std::array<double, 2> {
            if constexpr (requires { line_shape::value_and_slope(k, t); })
                return line_shape::value_and_slope(k, t);
            else
                return {line_shape::value(k, t), line_shape::slope(k, t)};
        },
        kind);
}

double profile_scale(const ProfileKind& kind, double d) {
    return std::visit([d](const auto& k) { return line_shape::step_scale(k, d); }, kind);
}

double profile_scale_bound(const ProfileKind& kind, double d) {
    return std::visit(
        [d](const auto& k) {
            if constexpr (requires { line_shape::step_bound(k, d); })
                return line_shape::step_bound(k, d);
            else
                return line_shape::step_scale(k, d);
        },
        kind);
}

std::optional<double> profile_integral(const ProfileKind& kind, double a, double b) {
    return std::visit(
        [a, b](const auto& k) -> std::optional<double> {
            if constexpr (requires { line_shape::integral(k, a, b); })
                return line_shape::integral(k, a, b);
            else
                return std::nullopt;
        },
        kind);
}

Result<line_shape::Extent> profile_extent(const ProfileKind& kind, double cutoff) {
    if (!(cutoff > 0.0 && cutoff < INFINITY))
        return invalid_input("cutoff must be finite and > 0, got " + fmt_fixed(cutoff));
    return std::visit([cutoff](const auto& k) { return line_shape::extent(k, cutoff); }, kind);
}

Result<double> profile_parameter_derivative(const ProfileKind& kind, ParameterKind p, double t) {
    if (p == ParameterKind::Center) return -profile_slope(kind, t);
    if (p == ParameterKind::Scale) return -t * profile_slope(kind, t);
    const std::optional<double> d = std::visit(
        [p, t](const auto& k) { return line_shape::parameter_derivative(k, p, t); }, kind);
    if (!d) return no_parameter(kind, p);
    return *d;
}

Result<ExtentRates> profile_extent_rates(const ProfileKind& kind, ParameterKind p, double cutoff) {
    const std::optional<ExtentRates> rates = std::visit(
        [p, cutoff](const auto& k) { return line_shape::extent_rates(k, p, cutoff); }, kind);
    if (!rates) return no_parameter(kind, p);
    return *rates;
}

} // namespace quorvel
