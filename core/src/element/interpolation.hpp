// Segment lists through point tables, for the shape constructors.
#pragma once

#include "quorvel/constructors.hpp"

namespace quorvel {

// Piecewise linear or monotone cubic (PCHIP) interpolation of the points (xs, ys).
Result<SegmentList> linear_shape(Values xs, Values ys);
Result<SegmentList> interpolated_shape(Values xs, Values ys, Interpolation interp);

} // namespace quorvel
