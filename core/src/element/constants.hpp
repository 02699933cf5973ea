// Double constants shared by the line-shape formulas, written as the doubles they round to.
#pragma once

namespace quorvel::constants {

inline constexpr double sqrt2 = 1.4142135623730951;
inline constexpr double ln2 = 0.6931471805599453;
inline constexpr double two_ln2 = 1.3862943611198906;
inline constexpr double sqrt_2ln2 = 1.1774100225154747; // half width per standard deviation
inline constexpr double fwhm_per_sigma = 2.3548200450309493;
inline constexpr double two_over_sqrt_pi = 1.1283791670955126;
inline constexpr double pi = 3.141592653589793;
inline constexpr double two_pi = 6.283185307179586;
inline constexpr double three_pi = 9.42477796076938;
inline constexpr double half_pi = 1.5707963267948966;
inline constexpr double sqrt3 = 1.7320508075688772;
inline constexpr double sqrt5 = 2.23606797749979;

} // namespace quorvel::constants
