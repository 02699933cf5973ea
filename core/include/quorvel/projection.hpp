// L2 projection from one space onto another, optionally bounded and integral-preserving.
#pragma once

#include <cstddef>
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

} // namespace quorvel
