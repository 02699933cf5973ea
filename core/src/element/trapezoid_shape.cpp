// The trapezoid of plateau half width `top` and base half width `bottom`, plateau value 1.
#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "quorvel/constructors.hpp"
#include "quorvel/format.hpp"

namespace quorvel {

Result<SegmentList> trapezoid_shape(double top, double bottom) {
    if (!(std::isfinite(top) && top >= 0.0 && std::isfinite(bottom) && top <= bottom &&
          bottom > 0.0))
        return invalid_input("trapezoid needs 0 <= top <= bottom, bottom > 0; got " +
                             fmt_fixed(top) + ", " + fmt_fixed(bottom));
    if (top == bottom)
        return std::make_shared<const std::vector<Segment>>(
            std::vector<Segment>{Segment{1.0, 0.0, 0.0, 0.0, -bottom, bottom}});
    // A zero plateau leaves the triangle of half base `bottom`.
    if (top == 0.0) {
        const std::array xs{-bottom, -top, bottom};
        const std::array ys{0.0, 1.0, 0.0};
        return linear_shape(xs, ys);
    }
    const std::array xs{-bottom, -top, top, bottom};
    const std::array ys{0.0, 1.0, 1.0, 0.0};
    return linear_shape(xs, ys);
}

} // namespace quorvel
