// Element families: each builds the element list of one Space constructor, validating first.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "quorvel/apodization.hpp"
#include "quorvel/element.hpp"
#include "quorvel/error.hpp"

namespace quorvel {

using Elements = std::vector<Element>;
using Values = std::span<const double>;

Result<Elements> deltas(Values x);
Result<Elements> boxes(Values edges);
Result<Elements> hats(Values nodes);
Result<Elements> bsplines(Values knots, std::uint64_t degree);
Result<Elements> bsplines_clamped(Values breakpoints, std::uint64_t degree);
Result<Elements> bsplines_periodic(Values breakpoints, std::uint64_t degree);

Result<Elements> build_profiles(Values centers, std::span<const ProfileKind> kinds, double cutoff);
Result<Elements> gaussians(Values centers, Values sigma, double cutoff);
Result<Elements> lorentzians(Values centers, Values hwhm, double cutoff);
Result<Elements> voigts(Values centers, Values sigma, Values gamma, double cutoff);
Result<Elements> pseudo_voigts(Values centers, Values hwhm, Values eta, double cutoff);
Result<Elements> super_gaussians(Values centers, Values hwhm_left, Values hwhm_right, Values power,
                                 double cutoff);
Result<Elements> smoothed_boxes(Values centers, Values half_width, Values sigma, double cutoff);
Result<Elements> fts(Values centers, Values max_opd, double cutoff, const Apodization& apodization);
Result<Elements> harmonics(std::uint64_t n, double period, double start);

} // namespace quorvel
