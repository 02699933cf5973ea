// Pieces of one row of a measurement derivative, shared by the files of this folder.
#pragma once

#include <span>
#include <vector>

#include "quorvel/element.hpp"
#include "quorvel/error.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/quadrature.hpp"

namespace quorvel {

// Integral over the frame window [lo, hi] of d(kernel)/dp times `element` (when not null) times
// the weight (frame position 0 at `origin`), between the breakpoints of the factors, integrated
// like the product of the factors themselves.
Result<double> integrate_parameter_derivative(Placed kernel, const Placed* element,
                                              ParameterKind parameter, CosineWeight weight,
                                              double origin, double lo, double hi,
                                              std::vector<double>& list);

// Normaliser N of one row and dN/dp, from the row's stored values V and derivatives D.
struct RowNormalizer {
    double n, dn;
};
Result<RowNormalizer> row_normalizer(const Element& kernel, Normalization normalization,
                                     ParameterKind parameter, CosineWeight weight,
                                     std::span<const PointTerm> terms,
                                     std::span<const double> values,
                                     std::span<const double> derivatives,
                                     std::vector<double>& list);

} // namespace quorvel
