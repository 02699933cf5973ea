// Measurement matrices of a basis seen through kernels, and their parameter derivatives.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "quorvel/element.hpp"
#include "quorvel/error.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/sparse.hpp"
#include "quorvel/vocabulary.hpp"

namespace quorvel {

struct Space;

enum class Normalization { Integral, RowSum, None };
inline constexpr std::array<Named<Normalization>, 3> normalization_names{{
    {"integral", Normalization::Integral},
    {"rowsum", Normalization::RowSum},
    {"none", Normalization::None},
}};

Result<Normalization> parse_normalization(std::string_view text);
Result<ParameterKind> parse_parameter(std::string_view text);

// A point mass c * delta(x - x_t) of a kernel's parameter derivative.
struct PointTerm {
    double x, c;
};

SparseMatrix measurement_matrix(std::span<const Element> kernels, const Space& basis,
                                Normalization normalization, CosineWeight weight);

Result<std::pair<SparseMatrix, SparseMatrix>>
measurement_derivative(std::span<const Element> kernels, const Space& basis,
                       Normalization normalization, ParameterKind parameter, CosineWeight weight);

Status point_terms(const Element& kernel, ParameterKind parameter, std::vector<PointTerm>& out);

Result<double> pair_parameter_derivative(const Element& kernel, const Element& element,
                                         ParameterKind parameter, CosineWeight weight,
                                         std::span<const PointTerm> terms,
                                         std::vector<double>& list);

// The same for a kernel and an element, neither a Delta, placed in one frame (the weight applies
// in the element's coordinates); the point terms' positions are in the kernel's coordinates.
Result<double> pair_parameter_derivative(Placed kernel, Placed element, ParameterKind parameter,
                                         CosineWeight weight, std::span<const PointTerm> terms,
                                         std::vector<double>& list);

} // namespace quorvel
