// Validation of the cosine weight cos(omega x).
#include <cmath>

#include "quorvel/format.hpp"
#include "quorvel/quadrature.hpp"

namespace quorvel {

Result<CosineWeight> check_weight(std::optional<double> omega) {
    if (!omega) return CosineWeight{};
    // Negative and subnormal scales are valid: the weight is even in omega.
    if (!std::isfinite(*omega) || *omega == 0.0)
        return invalid_input("bad cosine weight scale " + fmt_fixed(*omega));
    return CosineWeight{*omega};
}

} // namespace quorvel
