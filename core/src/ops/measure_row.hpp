// Pieces of one row of a measurement derivative, shared by the files of this folder.
#pragma once

#include <array>
#include <cmath>
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

// The point masses of the kernel's moving jumps (terms, in the kernel's coordinates) weighed by
// the element and the weight, for a kernel and an element placed in one frame.
double point_masses(Placed kernel, Placed element, CosineWeight weight,
                    std::span<const PointTerm> terms);

// The inner product of kernel and element and its derivative with respect to `parameter`, bitwise
// pair_inner_product and pair_parameter_derivative, computed in one walk where both integrate
// over the same window.
Result<std::array<double, 2>>
pair_value_and_derivative(const Element& kernel, const Element& element, ParameterKind parameter,
                          CosineWeight weight, std::span<const PointTerm> terms,
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

// Division of a row by its normaliser n: a multiplication by 1/n, or a division where 1/n
// overflows (n subnormal). A row whose normaliser is exactly 0 is multiplied by 0.
class RowScale {
  public:
    explicit RowScale(double n)
        : n_(n), reciprocal_(n == 0.0 ? 0.0 : 1.0 / n), divide_(!std::isfinite(reciprocal_)) {}
    double operator()(double v) const { return divide_ ? v / n_ : v * reciprocal_; }

  private:
    double n_, reciprocal_;
    bool divide_;
};

} // namespace quorvel
