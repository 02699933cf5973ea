// Line-shape kinds: the parameter records of every profile family and the selector of a
// kernel parameter.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "quorvel/apodization.hpp"
#include "quorvel/error.hpp"

namespace quorvel {

struct Gaussian {
    double sigma;
};
struct Lorentzian {
    double hwhm;
};
struct Voigt {
    double sigma, gamma, inv_peak;
};
struct PseudoVoigt {
    double hwhm, eta;
};
struct SuperGaussian {
    double hwhm_left, hwhm_right, power;
};
struct SmoothedBox {
    double half_width, sigma, inv_peak;
};
struct Fts {
    double max_opd;
    Apodization apodization;
    double inv_peak;
};
enum class MaternOrder { Half, ThreeHalves, FiveHalves };
struct Matern {
    MaternOrder order;
    double length;
};
struct Harmonic {
    double wavenumber, period, phase;
};

using ProfileKind = std::variant<Gaussian, Lorentzian, Voigt, PseudoVoigt, SuperGaussian,
                                 SmoothedBox, Fts, Matern, Harmonic>;

enum class ParameterKind { Center, Scale, Sigma, Gamma, Eta, Power, Asymmetry, HalfWidth };

// Variant name of a parameter selector: "Sigma", "HalfWidth", ...
std::string_view parameter_name(ParameterKind p);

// "Gaussian { sigma: 0.5 }", "Matern { order: Half, length: 2.0 }", ...
std::string render_kind(const ProfileKind& kind);

// Value and t-derivative of a kind at offset t = x - center, ignoring the support.
double profile_value(const ProfileKind& kind, double t);
double profile_slope(const ProfileKind& kind, double t);

// Half width at half maximum (or a width of the same role).
double profile_width(const ProfileKind& kind);

// Quadrature panel width at distance d >= 0 from the center.
double profile_scale(const ProfileKind& kind, double d);

// (left extent, right extent) of the support for a cutoff; fails on a bad cutoff.
Result<std::pair<double, double>> profile_support(const ProfileKind& kind, double cutoff);

// Derivative of the value at offset t with respect to a kind parameter (not Center or Scale).
// Fails with "{kind} has no parameter {parameter}" for a pair the kind does not have.
Result<double> profile_parameter_derivative(const ProfileKind& kind, ParameterKind p, double t);

// Per-kind validation and construction, one per constructor family, with the messages of the
// Space constructors ("sigma must be finite and > 0, got 0", ...).
Result<ProfileKind> make_gaussian(double sigma);
Result<ProfileKind> make_lorentzian(double hwhm);
// Gaussian when gamma is 0, Lorentzian when sigma is 0.
Result<ProfileKind> make_voigt(double sigma, double gamma);
Result<ProfileKind> make_pseudo_voigt(double hwhm, double eta);
Result<ProfileKind> make_super_gaussian(double hwhm_left, double hwhm_right, double power);
Result<ProfileKind> make_smoothed_box(double half_width, double sigma);
Result<ProfileKind> make_fts(double max_opd, const Apodization& apodization);

// Stable erf(b) - erf(a) for a <= b, with full relative accuracy in the tails.
double erf_difference(double a, double b);

// (erf(m + h) - erf(m - h)) / h for 0 <= h <= m and 4 m h < 1 (a window narrow against its
// distance from 0, where the difference of erfc values would cancel), by a series about m.
double erf_narrow_window(double m, double h);

} // namespace quorvel
