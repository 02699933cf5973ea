// Piecewise linear interpolation of a point table: one linear segment per interval.
#include <memory>
#include <vector>

#include "shape_table.hpp"

namespace quorvel {

Result<SegmentList> linear_shape(Values xs, Values ys) {
    QUORVEL_TRY(check_shape_table(xs, ys));
    std::vector<Segment> segments;
    segments.reserve(xs.size() - 1);
    for (std::size_t k = 0; k + 1 < xs.size(); ++k) {
        const double slope = (ys[k + 1] - ys[k]) / (xs[k + 1] - xs[k]);
        segments.push_back(Segment{ys[k], slope, 0.0, 0.0, xs[k], xs[k + 1]});
    }
    QUORVEL_TRY(check_segments(segments));
    return std::make_shared<const std::vector<Segment>>(std::move(segments));
}

} // namespace quorvel
