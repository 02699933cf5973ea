// The roughness penalty of a fit, for the fit's construction.
#pragma once

#include <optional>
#include <string>

#include "quorvel/error.hpp"
#include "quorvel/fit.hpp"
#include "quorvel/sparse.hpp"

namespace quorvel {

struct Space;

// "Derivative(2)", "Difference(1)".
std::string render_penalty(const Penalty& p);

// The roughness penalty P of a model, unscaled; nothing when a difference penalty has order >= n.
Result<std::optional<SparseMatrix>> penalty_matrix(const Space& model, const Penalty& p);

} // namespace quorvel
