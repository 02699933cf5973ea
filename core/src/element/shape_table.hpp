// Validation of the point tables that linear and PCHIP shapes interpolate.
#pragma once

#include "quorvel/constructors.hpp"

namespace quorvel {

// Equal lengths >= 2, then every x, then every y finite, then x strictly increasing.
Status check_shape_table(Values xs, Values ys);

} // namespace quorvel
