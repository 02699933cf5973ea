// Rows of point functionals against a column space, shared by evaluate and by inner products
// whose row elements are all Delta.
#pragma once

#include <span>

#include "quorvel/quadrature.hpp"
#include "quorvel/space.hpp"
#include "quorvel/sparse.hpp"

namespace quorvel {

// Row i pairs a Delta at the finite point x[i] with the column elements whose closed support
// contains it: a Delta column gives 1 exactly at its own position, any other element its value
// at x[i], times weight_value(weight, x[i]) when `weighted`; exact zeros are left out. Fails with
// std::bad_alloc, before any row is built, when the result could not be held in memory.
SparseMatrix point_rows(const Space& cols, std::span<const double> x, bool weighted,
                        CosineWeight weight);

} // namespace quorvel
