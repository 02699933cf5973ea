// The interpolation option of tabulated shapes and the table rules both interpolations share.
#include <cmath>
#include <string>

#include "quorvel/format.hpp"
#include "shape_table.hpp"

namespace quorvel {

Result<Interpolation> parse_interpolation(std::string_view text) {
    if (text == "linear") return Interpolation::Linear;
    if (text == "pchip") return Interpolation::Pchip;
    return invalid_input("interpolation must be 'linear' or 'pchip', got " + fmt_quoted(text));
}

Status check_shape_table(Values xs, Values ys) {
    if (xs.size() != ys.size() || xs.size() < 2)
        return invalid_input("a tabulated shape needs x and y of equal length >= 2");
    for (double v : xs) {
        if (!std::isfinite(v)) return invalid_input("a tabulated shape must be finite");
    }
    for (double v : ys) {
        if (!std::isfinite(v)) return invalid_input("a tabulated shape must be finite");
    }
    for (std::size_t k = 1; k < xs.size(); ++k) {
        if (!(xs[k - 1] < xs[k]))
            return invalid_input("a tabulated shape needs strictly increasing x");
    }
    return {};
}

Result<SegmentList> interpolated_shape(Values xs, Values ys, Interpolation interp) {
    return interp == Interpolation::Linear ? linear_shape(xs, ys) : pchip_shape(xs, ys);
}

} // namespace quorvel
