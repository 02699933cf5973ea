// The cosine transforms of the apodization windows, which shape the FTS line shape, and their
// rendering for messages.
#pragma once

#include <string>

#include "quorvel/apodization.hpp"

namespace quorvel {

// Cosine transform K(theta) of the window and its derivative K'(theta).
double apodization_kernel(const Apodization& a, double theta);
double apodization_kernel_slope(const Apodization& a, double theta);

// "CosineSum([0.5, 0.5, 0.0, 0.0])", "Triangle", "Polynomial([...])".
std::string render_apodization(const Apodization& a);

} // namespace quorvel
