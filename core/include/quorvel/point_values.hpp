// Point values of many elements at many points. Each element is digested once into a PointForm
// (its kind resolved, the fields of its formula at hand), so that the values need no dispatch on
// the element variant and a shape's segment search can start from a guess. Every value is
// bitwise the pairing of a point functional at x with the element: evaluate(element, x), or for a
// Delta 1 exactly at its own position and 0 elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "quorvel/element.hpp"

namespace quorvel {

// The kinds with a formula of their own here; Other elements are valued by evaluate(). Mixed is
// never the kind of a form: it names a list whose forms differ in kind.
enum class PointKind : std::uint8_t {
    Delta,
    Box,
    Hat,
    Shape,
    Gaussian,
    Lorentzian,
    Voigt,
    Other,
    Mixed
};

struct PointForm {
    PointKind kind = PointKind::Other;
    bool nonnegative = false;        // Shape: values below 0 are taken as 0
    std::uint32_t count = 0;         // Shape: number of segments
    double center = 0.0;             // Shape and profiles
    double scale = 1.0;              // Shape: stretch; Gaussian: sigma; Lorentzian: hwhm
    double lower = 0.0, upper = 0.0; // profiles: the support
    // The Delta, Box or Hat, the Shape's segments, the Voigt record, or the element itself for
    // the other kinds: all owned by the element, which must outlive the form.
    const void* data = nullptr;
    const Segment* from_end = nullptr; // Shape: its pieces written from their ends, if any
};

PointForm point_form(const Element& e);

// The kind every form has, or Mixed.
PointKind common_kind(std::span<const PointForm> forms);

// No segment guess: the shape's segments are searched.
inline constexpr std::uint32_t no_hint = UINT32_MAX;

// The segment of a Shape form that holds x, as a guess for points near x; no_hint for the other
// kinds and where no segment holds x.
std::uint32_t segment_hint(const PointForm& form, double x);

// One element to value: its index into the forms, and its segment guess.
struct PointEntry {
    std::uint32_t column, hint;
};

// out[k] = the pairing of a point functional at x with the element forms[entries[k].column].
// `kind` is common_kind(forms) or Mixed. A wrong guess only costs the search.
void point_values(std::span<const PointForm> forms, PointKind kind,
                  std::span<const PointEntry> entries, double x, double* out);

// A point and the elements to value there.
struct PointQuery {
    double x;
    std::span<const PointEntry> entries;
};

// Lists reused from one call of the several-point point_values to the next.
struct PointScratch {
    std::vector<const Voigt*> voigts;
    std::vector<std::size_t> at;
    std::vector<double> u, v, re;
};

// point_values for several points, their values one after the other in out. The Faddeeva
// functions of Voigt profiles are evaluated for all the points together, several side by side.
void point_values(std::span<const PointForm> forms, PointKind kind,
                  std::span<const PointQuery> queries, double* out, PointScratch& scratch);

} // namespace quorvel
