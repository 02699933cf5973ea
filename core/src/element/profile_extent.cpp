// Widths, supports and local quadrature steps of the line-shape kinds.
#include <algorithm>
#include <cmath>

#include "constants.hpp"
#include "quorvel/format.hpp"
#include "quorvel/profile.hpp"

namespace quorvel {

namespace c = constants;

namespace {

template <class... F> struct Overloaded : F... {
    using F::operator()...;
};

// sqrt(3) and sqrt(5) scale the Matern distance; r is where the correlation falls to 1/2.
double matern_q(MaternOrder o) {
    switch (o) {
    case MaternOrder::Half:
        return 1.0;
    case MaternOrder::ThreeHalves:
        return c::sqrt3;
    case MaternOrder::FiveHalves:
        return c::sqrt5;
    }
    throw InternalError("unknown Matern order");
}

double matern_half_point(MaternOrder o) {
    switch (o) {
    case MaternOrder::Half:
        return 0.6931471805599453;
    case MaternOrder::ThreeHalves:
        return 1.6783469900166605;
    case MaternOrder::FiveHalves:
        return 2.330256192156007;
    }
    throw InternalError("unknown Matern order");
}

} // namespace

double profile_width(const ProfileKind& kind) {
    return std::visit(
        Overloaded{
            [](const Gaussian& k) { return k.sigma * c::sqrt_2ln2; },
            [](const Lorentzian& k) { return k.hwhm; },
            [](const Voigt& k) {
                // Olivero-Longbothum full width, halved.
                const double fl = k.gamma + k.gamma;
                const double fg = k.sigma * c::fwhm_per_sigma;
                return 0.5 * (0.5346 * fl + std::sqrt(fg * fg + fl * (fl * 0.2166)));
            },
            [](const PseudoVoigt& k) { return k.hwhm; },
            [](const SuperGaussian& k) { return (k.hwhm_left + k.hwhm_right) * 0.5; },
            [](const SmoothedBox& k) { return std::fmax(k.half_width, k.sigma * c::sqrt_2ln2); },
            [](const Fts& k) { return 0.5 / k.max_opd; },
            [](const Matern& k) {
                return k.length * matern_half_point(k.order) / matern_q(k.order);
            },
            [](const Harmonic& k) { return k.period * 0.25 / k.wavenumber; },
        },
        kind);
}

double profile_scale(const ProfileKind& kind, double d) {
    return std::visit(
        Overloaded{
            [](const Gaussian& k) { return k.sigma; },
            [d](const Lorentzian& k) { return (d + k.hwhm) * 0.3; },
            [d](const Voigt& k) {
                return std::fmax(k.sigma * 0.5,
                                 k.gamma * 0.3 + std::fmax(d + k.sigma * -6.0, 0.0) * 0.3);
            },
            [d](const PseudoVoigt& k) {
                const double g = k.hwhm / c::sqrt_2ln2;
                return std::fmax(g * 0.5, k.hwhm * 0.3 + std::fmax(d + g * -6.0, 0.0) * 0.3);
            },
            [d](const SuperGaussian& k) {
                const double f = std::fmin(k.hwhm_left, k.hwhm_right);
                return std::fmin(f / std::fmax(k.power, 2.0), d * 0.3 + f * 1e-8);
            },
            [](const SmoothedBox& k) { return k.sigma; },
            [](const Fts& k) { return 0.25 / k.max_opd; },
            [](const Matern& k) { return k.length * 0.5 / matern_q(k.order); },
            [](const Harmonic& k) { return k.period * 0.25 / k.wavenumber; },
        },
        kind);
}

Result<std::pair<double, double>> profile_support(const ProfileKind& kind, double cutoff) {
    if (!(cutoff > 0.0 && cutoff < INFINITY))
        return invalid_input("cutoff must be finite and > 0, got " + fmt_fixed(cutoff));
    return std::visit(
        Overloaded{
            [cutoff](const Gaussian& k) { return std::pair{cutoff * k.sigma, cutoff * k.sigma}; },
            [cutoff](const SuperGaussian& k) {
                return std::pair{cutoff * k.hwhm_left, cutoff * k.hwhm_right};
            },
            [cutoff](const SmoothedBox& k) {
                const double e = k.half_width + cutoff * k.sigma;
                return std::pair{e, e};
            },
            [cutoff](const Matern& k) { return std::pair{cutoff * k.length, cutoff * k.length}; },
            [cutoff](const Harmonic&) { return std::pair{cutoff, cutoff}; },
            [cutoff, &kind](const auto&) {
                const double e = cutoff * profile_width(kind);
                return std::pair{e, e};
            },
        },
        kind);
}

} // namespace quorvel
