// The cosine transforms of the apodization windows, which shape the FTS line shape, and their
// rendering for messages.
#pragma once

#include <string>

#include "quorvel/apodization.hpp"

namespace quorvel {

// Cosine transform K(theta) of the window and its derivative K'(theta).
double apodization_kernel(const Apodization& a, double theta);
double apodization_kernel_slope(const Apodization& a, double theta);

// The kernel formed from the sine and cosine of its phase, theta times the phase factor (1, or
// 0.5 for the triangle, whose kernel is a squared sinc of theta / 2): s = sin(phase),
// q = cos(phase). For |theta| >= apodization_phase_radius it equals apodization_kernel to
// rounding (no small-argument branch lies within reach of theta there); callers that form s and q
// for many theta at once by angle addition use it there.
double apodization_phase_factor(const Apodization& a);
double apodization_phase_radius(const Apodization& a);
double apodization_kernel_from_phase(const Apodization& a, double theta, double s, double q);

// "CosineSum([0.5, 0.5, 0.0, 0.0])", "Triangle", "Polynomial([...])".
std::string render_apodization(const Apodization& a);

} // namespace quorvel
