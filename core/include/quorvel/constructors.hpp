// Element families: each builds the element list of one Space constructor, validating first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "quorvel/apodization.hpp"
#include "quorvel/element.hpp"
#include "quorvel/error.hpp"
#include "quorvel/profile.hpp"
#include "quorvel/vocabulary.hpp"

namespace quorvel {

using Elements = std::vector<Element>;
using Values = std::span<const double>;

Result<Elements> deltas(Values x);
Result<Elements> boxes(Values edges);
Result<Elements> hats(Values nodes);
Result<Elements> bsplines(Values knots, std::uint64_t degree);
Result<Elements> bsplines_clamped(Values breakpoints, std::uint64_t degree);
Result<Elements> bsplines_periodic(Values breakpoints, std::uint64_t degree);

Result<Elements> gaussians(Values centers, Values sigma, double cutoff);
Result<Elements> lorentzians(Values centers, Values hwhm, double cutoff);
Result<Elements> voigts(Values centers, Values sigma, Values gamma, double cutoff);
Result<Elements> pseudo_voigts(Values centers, Values hwhm, Values eta, double cutoff);
Result<Elements> super_gaussians(Values centers, Values hwhm_left, Values hwhm_right, Values power,
                                 double cutoff);
Result<Elements> smoothed_boxes(Values centers, Values half_width, Values sigma, double cutoff);
Result<Elements> fts(Values centers, Values max_opd, double cutoff, const Apodization& apodization);
Result<Elements> harmonics(std::uint64_t n, double period, double start);

// Interpolation of tabulated shapes: piecewise linear or monotone cubic (PCHIP) through the
// points.
enum class Interpolation { Linear, Pchip };
inline constexpr std::array<Named<Interpolation>, 2> interpolation_names{{
    {"linear", Interpolation::Linear},
    {"pchip", Interpolation::Pchip},
}};
Result<Interpolation> parse_interpolation(std::string_view text);

// A table of equal-length rows, row-major: row i is data[i * cols, (i + 1) * cols).
struct Tables {
    std::size_t rows = 0, cols = 0;
    Values data;
    Values row(std::size_t i) const { return data.subspan(i * cols, cols); }
};

// Shapes placed at centers. A parameter array holds one shared entry or one per center.
Result<Elements> rectangles(Values centers, Values widths);
Result<Elements> triangles(Values centers, Values hwhm);
Result<Elements> trapezoids(Values centers, Values top, Values bottom);
Result<Elements> tabulated(Values centers, const Tables& x, const Tables& y, Interpolation interp);
Result<Elements> shifted(Values shape_x, Values shape_y, Values centers, Values stretch,
                         Interpolation interp);

// Every element re-expressed through x = a / u (reciprocal) or x = a + b u (affine); deltas are
// moved, other elements wrapped, optionally times |du/dx|. Maps nest at most max_map_nesting
// deep: the work of an integral grows about 1.5 times per reciprocal level.
inline constexpr std::size_t max_map_nesting = 16;
inline constexpr std::array<Named<MapKind>, 2> map_kind_names{{
    {"reciprocal", MapKind::Reciprocal},
    {"affine", MapKind::Affine},
}};
Result<MapKind> parse_map_kind(std::string_view text);
Result<Elements> mapped(std::span<const Element> elements, MapKind kind, double a, double b,
                        bool jacobian);

// Profiles of the given kinds (one per center) at the centers, each with the support for the
// cutoff; fails on a non-finite center, a bad cutoff or a support that overflows. Shared by the
// line-shape constructors and by restoring stored elements.
Result<Elements> build_profiles(Values centers, std::span<const ProfileKind> kinds, double cutoff);

} // namespace quorvel
