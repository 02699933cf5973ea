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

} // namespace quorvel
