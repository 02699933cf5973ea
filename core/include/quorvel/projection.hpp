// L2 projection from one space onto another, optionally bounded and integral-preserving.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quorvel/banded.hpp"
#include "quorvel/error.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/space.hpp"
#include "quorvel/sparse.hpp"

namespace quorvel {

struct Bounds {
    enum class Kind { None, Fixed, Local };
    Kind kind = Kind::None;
    double lo = 0.0, hi = 0.0;
};

// What a projection is built from. The spaces are shared, not copied.
struct ProjectionInputs {
    SpacePtr src, dst;
    CosineWeight weight;
};

struct Projection {
    ProjectionInputs inputs; // kept so that the projection can be rebuilt elsewhere
    std::size_t n_src = 0, n_dst = 0;
    SparseMatrix gram;             // G, n_dst x n_dst
    BandedMatrix factor;           // Cholesky factor of G
    SparseMatrix cross;            // K, n_dst x n_src
    std::vector<double> integrals; // weighted integrals of the dst elements

    // n_dst x n_src row-major matrix G^-1 K.
    std::vector<double> to_dense() const;
    // (k, n_dst) row-major result for f of shape (k, n_src).
    std::vector<double> apply_last_axis(const MatrixView& f, const Bounds& bounds) const;
};

Result<Projection> make_projection(const ProjectionInputs& inputs);

// Replaces every row of y, (k, n_dst) row-major and holding G^-1 b for the right-hand sides rhs
// of the rows of f, by the solution that stays within the bounds and keeps the weighted integral.
void bound_rows(const Projection& p, const MatrixView& f, std::span<const double> rhs, double* y,
                const Bounds& bounds);

} // namespace quorvel
