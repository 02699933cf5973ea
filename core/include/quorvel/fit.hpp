// Regularised least-squares fit of a model space to data measured by kernels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/banded.hpp"
#include "quorvel/error.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/space.hpp"
#include "quorvel/sparse.hpp"
#include "quorvel/vocabulary.hpp"

namespace quorvel {

struct Penalty {
    enum class Kind { Derivative, Difference };
    Kind kind;
    std::uint64_t order;
};

inline constexpr std::array<Named<Penalty::Kind>, 2> penalty_names{{
    {"derivative", Penalty::Kind::Derivative},
    {"difference", Penalty::Kind::Difference},
}};
Result<Penalty::Kind> parse_penalty(std::string_view text);

// What a fit is built from. The spaces are shared, not copied.
struct FitInputs {
    SpacePtr kernels, model;
    Normalization normalization = Normalization::Integral;
    double smoothing = 0.0;
    Penalty penalty{Penalty::Kind::Derivative, 0};
    CosineWeight weight;
};

struct Fit {
    FitInputs inputs; // kept so that the fit can be rebuilt elsewhere
    std::size_t n_data = 0, n_model = 0;
    SparseMatrix design;           // W, n_data x n_model
    BandedMatrix factor;           // Cholesky factor of W^T W + mu P

    // n_model x n_data row-major matrix A^-1 W^T.
    std::vector<double> to_dense() const;
    // (k, n_model) row-major result for data of shape (k, n_data).
    std::vector<double> apply_last_axis(const MatrixView& data) const;
};

Result<Fit> make_fit(const FitInputs& inputs);

} // namespace quorvel
