// The builder that places profiles at their centers, shared by the line-shape constructors and
// by restoring stored elements.
#pragma once

#include <span>

#include "quorvel/constructors.hpp"

namespace quorvel {

// Profiles of the given kinds (one per center) at the centers, each with the support for the
// cutoff; fails on a non-finite center, a bad cutoff or a support that overflows.
Result<Elements> build_profiles(Values centers, std::span<const ProfileKind> kinds, double cutoff);

} // namespace quorvel
