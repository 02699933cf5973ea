// A compact binary form of spaces, and of the inputs that build projections and fits, for moving
// them between processes.
//
// The reader takes any bytes: truncated, corrupted, oversized or hostile data gives an
// InvalidInput error, never a crash. It checks every count against the bytes that remain before
// it allocates, so it allocates in proportion to the data it was given, bounds the nesting of
// mapped elements, and accepts an element only if the constructors could have made it
// (restore_element), so every derived field comes out bit for bit as they compute it.
//
// Layout (doubles as 8 little-endian bytes; counts and indices as unsigned LEB128):
//   header    'Q' 'V', format version (1 byte), object (1 byte: 0 Space, 1 Projection, 2 Fit)
//   tables    count, then per shared segment table: segment count >= 1, then c0 c1 c2 c3 a b
//             per segment
//   inner     count, then the inner elements of mapped elements, each stored once however many
//             mapped elements share it; a mapped inner element refers only to earlier ones
//   object    Space:      space
//             Projection: src space, dst space, weight
//             Fit:        kernels space, model space, normalization (1 byte: 0 integral, 1 rowsum,
//                         2 none), smoothing, penalty kind (1 byte: 0 derivative, 1 difference),
//                         penalty order, weight
//   space     element count, then the elements in order, each an element or, from version 2,
//             a run of consecutive elements that are the B-splines of one knot vector:
//             6 (1 byte), degree (1 byte), count, then count + degree + 1 knots; or a whole
//             periodic family: 7 (1 byte), degree (1 byte), count, then count + 1 breakpoints;
//             the reader makes them with the B-spline constructors (a space of 1e5 cubic
//             B-splines stores its 0.8 MB of knots instead of 41 MB of pieces)
//   element   kind (1 byte: 0 Delta, 1 Box, 2 Hat, 3 Shape, 4 Profile, 5 Mapped), then
//               Delta x | Box a b | Hat a c b |
//               Shape table, center, stretch, sign (1 byte: 0 any, 1 non-negative, 2 non-negative
//                 with a reported center), end form (1 byte: 0 none, 1 followed by the table of
//                 the same pieces written from their ends), then the reported center if sign 2 |
//               Profile line shape, center, cutoff |
//               Mapped map (1 byte: 0 reciprocal, 1 affine), a, b, jacobian (1 byte), inner
//   line shape  the kind's wire number (1 byte), then its free fields in order, each a double
//             except an apodization window: 1 byte (0 cosine sum, 1 triangle, 2 polynomial) and
//             its 4, 0 or 5 coefficients. Each kind's Descriptor (its file in
//             core/src/element/profile/) gives the number and the fields, for example
//             "0: sigma", "2: sigma gamma" or "6: max_opd apodization"; derived fields (peak
//             factors) and supports are not stored but computed again on reading
//   weight    0, or 1 followed by omega
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "quorvel/constructors.hpp"
#include "quorvel/error.hpp"
#include "quorvel/fit.hpp"
#include "quorvel/projection.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

using Bytes = std::vector<std::uint8_t>;

// The version written, and the oldest one read (version 1 has no runs of B-splines).
inline constexpr std::uint8_t serial_format_version = 2;
inline constexpr std::uint8_t oldest_serial_format_version = 1;

// The deepest nesting of mapped elements that is written and read.
inline constexpr std::size_t max_mapped_depth = max_map_nesting;

// Fail only for mapped elements nested deeper than max_mapped_depth.
Result<Bytes> serialize(const Space& space);
Result<Bytes> serialize(const ProjectionInputs& inputs);
Result<Bytes> serialize(const FitInputs& inputs);

using Deserialized = std::variant<Space, ProjectionInputs, FitInputs>;

Result<Deserialized> deserialize(std::span<const std::uint8_t> bytes);

} // namespace quorvel
