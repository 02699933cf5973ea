// Line-shape kinds: the parameter records of every profile family, the selector of a kernel
// parameter, and the kind operations the rest of the core calls.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

#include "quorvel/apodization.hpp"
#include "quorvel/error.hpp"

namespace quorvel {

namespace constants {

// Full width at half maximum of a Gaussian per standard deviation, 2 sqrt(2 ln 2).
inline constexpr double fwhm_per_sigma = 2.3548200450309493;
// sqrt(3) and sqrt(5): the distance scales of the Matern 3/2 and 5/2 correlations per length.
inline constexpr double sqrt3 = 1.7320508075688772;
inline constexpr double sqrt5 = 2.23606797749979;

} // namespace constants

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

// Value and t-derivative of a kind at offset t = x - center, ignoring the support.
double profile_value(const ProfileKind& kind, double t);
double profile_slope(const ProfileKind& kind, double t);
// {profile_value(kind, t), profile_slope(kind, t)}, bitwise, computed together.
std::array<double, 2> profile_value_and_slope(const ProfileKind& kind, double t);
// out[k] = profile_value(kind, t[k]) for every k, with one dispatch on the kind.
void profile_values(const ProfileKind& kind, std::span<const double> t, double* out);

// Quadrature panel width at distance d >= 0 from the center.
double profile_scale(const ProfileKind& kind, double d);
// An upper bound of profile_scale over the distances [0, d], non-decreasing in d.
double profile_scale_bound(const ProfileKind& kind, double d);

// The integral of the value over offsets [a, b] in closed form, for the kinds that have one
// (Gaussian, Lorentzian, PseudoVoigt, Harmonic); nullopt for the others.
std::optional<double> profile_integral(const ProfileKind& kind, double a, double b);

// Rates at which the left and right extents of the support for a cutoff grow with a line-shape
// parameter (not Center or Scale): the lower end moves by -left dp, the upper end by right dp.
struct ExtentRates {
    double left, right;
};

// Fails with "{kind} has no parameter {parameter}" for a pair the kind does not have.
Result<ExtentRates> profile_extent_rates(const ProfileKind& kind, ParameterKind p, double cutoff);

} // namespace quorvel
