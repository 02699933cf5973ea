// The bounded, integral-preserving correction of projected rows.
#pragma once

#include <span>

#include "quorvel/projection.hpp"

namespace quorvel {

// Replaces every row of y, (k, n_dst) row-major and holding G^-1 b for the right-hand sides rhs
// of the rows of f, by the solution that stays within the bounds and keeps the weighted integral.
void bound_rows(const Projection& p, const MatrixView& f, std::span<const double> rhs, double* y,
                const Bounds& bounds);

} // namespace quorvel
