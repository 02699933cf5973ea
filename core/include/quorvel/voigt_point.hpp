// A Voigt profile element at one point: its value with its derivatives by center, stretch, sigma
// and gamma, computed together.
#pragma once

#include "quorvel/element.hpp"
#include "quorvel/profile.hpp"

namespace quorvel {

// The value at origin + y and the derivatives by Center, Scale, Sigma and Gamma, each bitwise
// what evaluate_at and parameter_derivative_at give (0 outside the support).
struct VoigtPointValues {
    double value, center, scale, sigma, gamma;
};

// The Voigt kind's constant that every point of voigt_point_at needs.
double voigt_peak_slope(const Voigt& k);

// `k` is the kind of `e`; `peak_slope` is voigt_peak_slope(k).
VoigtPointValues voigt_point_at(const Profile& e, const Voigt& k, double peak_slope, double origin,
                                double y);

} // namespace quorvel
