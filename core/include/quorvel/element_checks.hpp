// Validation shared by the constructors of the piecewise element kinds (check_segments, which
// other folders use too, is declared in quorvel/element.hpp).
#pragma once

#include <span>
#include <string_view>

#include "quorvel/element.hpp"

namespace quorvel {

Status check_delta(double x);
Status check_box(double a, double b);
Status check_hat(double a, double c, double b);
Status check_piecewise_placement(double center, double stretch);
Status check_strictly_increasing(std::string_view name, std::span<const double> values);

// The width upper - lower of an element's support must be a finite double (every integral of the
// element is a multiple of it): "{what} support width must be finite, got [{lower}, {upper}]".
Status check_support_width(std::string_view what, double lower, double upper);

// A power of two of the order of `span`, for spans too wide or too narrow for the power-basis
// coefficients of a cubic to stay normal doubles, else 1: a piecewise polynomial stored in the
// coordinate x / scale keeps its coefficients representable, and since the scale is a power of
// two nothing else changes.
double representation_scale(double span);

} // namespace quorvel
