// Names of parameter selectors and the rendering of line-shape kinds for messages: the variant
// name with its fields in braces, floats in debug form.
#include <string>

#include "quorvel/format.hpp"
#include "quorvel/profile.hpp"

namespace quorvel {

namespace {

template <class... F> struct Overloaded : F... {
    using F::operator()...;
};

std::string field(std::string_view name, double v) {
    return std::string(name) + ": " + fmt_debug(v);
}

std::string_view matern_order_name(MaternOrder o) {
    switch (o) {
    case MaternOrder::Half:
        return "Half";
    case MaternOrder::ThreeHalves:
        return "ThreeHalves";
    case MaternOrder::FiveHalves:
        return "FiveHalves";
    }
    throw InternalError("unknown Matern order");
}

std::string coefficient_list(std::string_view name, const double* c, std::size_t n) {
    std::string s(name);
    s += "([";
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) s += ", ";
        s += fmt_debug(c[i]);
    }
    s += "])";
    return s;
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

std::string render_apodization(const Apodization& a) {
    switch (a.kind) {
    case Apodization::Kind::CosineSum:
        return coefficient_list("CosineSum", a.c.data(), 4);
    case Apodization::Kind::Triangle:
        return "Triangle";
    case Apodization::Kind::Polynomial:
        return coefficient_list("Polynomial", a.c.data(), 5);
    }
    throw InternalError("unknown apodization kind");
}

std::string render_kind(const ProfileKind& kind) {
    const std::string body = std::visit(
        Overloaded{
            [](const Gaussian& k) { return "Gaussian { " + field("sigma", k.sigma); },
            [](const Lorentzian& k) { return "Lorentzian { " + field("hwhm", k.hwhm); },
            [](const Voigt& k) {
                return "Voigt { " + field("sigma", k.sigma) + ", " + field("gamma", k.gamma) +
                       ", " + field("inv_peak", k.inv_peak);
            },
            [](const PseudoVoigt& k) {
                return "PseudoVoigt { " + field("hwhm", k.hwhm) + ", " + field("eta", k.eta);
            },
            [](const SuperGaussian& k) {
                return "SuperGaussian { " + field("hwhm_left", k.hwhm_left) + ", " +
                       field("hwhm_right", k.hwhm_right) + ", " + field("power", k.power);
            },
            [](const SmoothedBox& k) {
                return "SmoothedBox { " + field("half_width", k.half_width) + ", " +
                       field("sigma", k.sigma) + ", " + field("inv_peak", k.inv_peak);
            },
            [](const Fts& k) {
                return "Fts { " + field("max_opd", k.max_opd) +
                       ", apodization: " + render_apodization(k.apodization) + ", " +
                       field("inv_peak", k.inv_peak);
            },
            [](const Matern& k) {
                return "Matern { order: " + std::string(matern_order_name(k.order)) + ", " +
                       field("length", k.length);
            },
            [](const Harmonic& k) {
                return "Harmonic { " + field("wavenumber", k.wavenumber) + ", " +
                       field("period", k.period) + ", " + field("phase", k.phase);
            },
        },
        kind);
    return body + " }";
}

} // namespace quorvel
