// Double constants of the core, written as the doubles they round to.
#pragma once

namespace quorvel::constants {

// Full width at half maximum of a normal density per standard deviation, 2 sqrt(2 ln 2).
inline constexpr double fwhm_per_sigma = 2.3548200450309493;
// sqrt(3) and sqrt(5): the distance scales of the Matérn 3/2 and 5/2 correlations per length.
inline constexpr double sqrt3 = 1.7320508075688772;
inline constexpr double sqrt5 = 2.23606797749979;

inline constexpr double sqrt2 = 1.4142135623730951;
inline constexpr double ln2 = 0.6931471805599453;
inline constexpr double two_ln2 = 1.3862943611198906;
inline constexpr double sqrt_2ln2 = 1.1774100225154747; // half width per standard deviation
inline constexpr double two_over_sqrt_pi = 1.1283791670955126;
inline constexpr double inv_sqrt_pi = 0.5641895835477563;
inline constexpr double four_over_sqrt_pi = 2.256758334191025;
inline constexpr double pi = 3.141592653589793;
inline constexpr double two_pi = 6.283185307179586;
inline constexpr double three_pi = 9.42477796076938;
inline constexpr double half_pi = 1.5707963267948966;
inline constexpr double sqrt_half_pi = 1.2533141373155003;
inline constexpr double sqrt_ln2 = 0.8325546111576978;
inline constexpr double half_sqrt_pi_over_ln2 = 1.0644670194312262; // sqrt(pi / ln 2) / 2

// Olivero-Longbothum full width of a convolution of a normal and a Cauchy density from their full
// widths fG and fL:
// voigt_linear fL + sqrt(fG^2 + voigt_quadratic fL^2).
inline constexpr double voigt_linear = 0.5346;
inline constexpr double voigt_quadratic = 0.2166;

// Where the Matérn 1/2, 3/2 and 5/2 correlations fall to 1/2, in units of length / rate
// (rate 1, sqrt3, sqrt5): the roots of exp(-m) = 1/2, (1 + m) exp(-m) = 1/2 and
// (1 + m + m^2 / 3) exp(-m) = 1/2.
inline constexpr double matern_half_point_half = ln2;
inline constexpr double matern_half_point_three_halves = 1.6783469900166605;
inline constexpr double matern_half_point_five_halves = 2.330256192156007;

} // namespace quorvel::constants
