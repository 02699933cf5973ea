// Segment lists through point tables, for the shape constructors.
#pragma once

#include "quorvel/constructors.hpp"

namespace quorvel {

// A segment list in the coordinate x / scale, with `scale` the representation_scale of the
// table's span: a shape built from it takes the scale into its stretch.
struct ScaledShape {
    SegmentList segments;
    double scale;
};

// Piecewise linear or monotone cubic (PCHIP) interpolation of the points (xs, ys).
Result<ScaledShape> linear_shape(Values xs, Values ys);
Result<ScaledShape> interpolated_shape(Values xs, Values ys, Interpolation interp);

} // namespace quorvel
