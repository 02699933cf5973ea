// The measurement matrix with its derivatives with respect to several kernel parameters at once.
#pragma once

#include <span>
#include <vector>

#include "quorvel/error.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/sparse.hpp"

namespace quorvel {

// The most parameters one call differentiates by: each kind at most once.
inline constexpr std::size_t max_measure_parameters = 8;

// {W, dW/dp_1, ..., dW/dp_m} on one sparsity pattern, every matrix entry for entry what
// measurement_derivative gives for its parameter (an entry is stored when any of the values is
// non-zero). One quadrature walk per kernel-element pair integrates the value and every
// derivative. Fails like measurement_derivative for the first failing row in row order (within a
// row, for the first failing parameter in the given order), and with "parameter {parameter} is
// given twice" for a repeated parameter. No parameters give {W} of measurement_matrix.
Result<std::vector<SparseMatrix>>
measurement_derivatives(std::span<const Element> kernels, const Space& basis,
                        Normalization normalization, std::span<const ParameterKind> parameters,
                        CosineWeight weight);

} // namespace quorvel
