// Operations on any line-shape kind that only the element folder uses; the ones the rest of the
// core calls are declared in quorvel/profile.hpp. Both are defined in dispatch.cpp.
#pragma once

#include "common.hpp"

namespace quorvel {

// Left and right extents of the support for a cutoff; fails on a bad cutoff.
Result<line_shape::Extent> profile_extent(const ProfileKind& kind, double cutoff);

// Derivative of the value at offset t with respect to a parameter: Center and Scale for every
// kind, the kind's own line-shape parameters. Fails with "{kind} has no parameter {parameter}"
// for a pair the kind does not have.
Result<double> profile_parameter_derivative(const ProfileKind& kind, ParameterKind p, double t);

// The kind as messages show it: "Gaussian { sigma: 0.5 }".
std::string render_kind(const ProfileKind& kind);

} // namespace quorvel
