// Point values of many elements at many points. Each element is digested once into a PointForm
// (its kind resolved, the fields of its formula at hand), so that the values need no dispatch on
// the element variant and a shape's segment search can start from a guess. Every value is
// bitwise the pairing of a point functional at x with the element: evaluate(element, x), or for a
// Delta 1 exactly at its own position and 0 elsewhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <span>
#include <tuple>
#include <variant>
#include <vector>

#include "quorvel/element.hpp"

namespace quorvel {

// The kinds with a formula of their own here: the element kinds, and a profile of each
// line-shape kind (profile_point_kind(i) for the i-th alternative of ProfileKind). Other elements
// are valued by evaluate(). Mixed is never the kind of a form: it names a list whose forms differ
// in kind.
enum class PointKind : std::uint8_t { Delta, Box, Hat, Shape, Other, Mixed, FirstProfile };

inline constexpr std::size_t line_kind_count = std::variant_size_v<ProfileKind>;

constexpr PointKind profile_point_kind(std::size_t line_kind) {
    return static_cast<PointKind>(static_cast<std::size_t>(PointKind::FirstProfile) + line_kind);
}
constexpr bool is_profile_point(PointKind k) {
    return k >= PointKind::FirstProfile;
}
// The index into the alternatives of ProfileKind of a profile form's kind.
constexpr std::size_t line_kind_of(PointKind k) {
    return static_cast<std::size_t>(k) - static_cast<std::size_t>(PointKind::FirstProfile);
}

// The size of the line-shape records that a profile form holds itself (line_record).
inline constexpr std::size_t inline_record_size = 24;

struct PointForm {
    PointKind kind = PointKind::Other;
    bool nonnegative = false;        // Shape: values below 0 are taken as 0
    std::uint32_t count = 0;         // Shape: number of segments
    double center = 0.0;             // Shape and profiles
    double lower = 0.0, upper = 0.0; // profiles: the support
    // The Delta, Box or Hat, the Shape's segments, a profile's line-shape record, or the element
    // itself for the other kinds: all owned by the element, which must outlive the form.
    const void* data = nullptr;
    union {
        struct {
            double scale;             // Shape: stretch
            const Segment* from_end;  // Shape: its pieces written from their ends, if any
        } shape;
        // A profile: a copy of its line-shape record when it fits, so that a value needs no
        // second load.
        alignas(8) unsigned char record[inline_record_size];
    };
    PointForm() : shape{1.0, nullptr} {}
};

template <class K>
inline constexpr bool record_inline = sizeof(K) <= inline_record_size && alignof(K) <= 8 &&
                                      std::is_trivially_copyable_v<K>;

// The line-shape record of a profile form of kind K: its copy in the form, or the element's.
template <class K> const K& line_record(const PointForm& f) {
    if constexpr (record_inline<K>)
        return *std::launder(reinterpret_cast<const K*>(f.record));
    else
        return *static_cast<const K*>(f.data);
}

PointForm point_form(const Element& e);

// The kind every form has, or Mixed.
PointKind common_kind(std::span<const PointForm> forms);

// Whether the several-point point_values takes values of this kind (a common_kind) together,
// several side by side, rather than one by one.
bool batched_point_kind(PointKind kind);

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

// The profiles of one line-shape kind whose values are taken together: their offsets from their
// centers and places in the output (their line-shape records are kept by kind in PointScratch).
struct PointBatch {
    std::vector<double> t, values;
    std::vector<std::size_t> at;
};

template <class V> struct KindRecordLists;
template <class... K> struct KindRecordLists<std::variant<K...>> {
    using type = std::tuple<std::vector<const K*>...>;
};

// Lists reused from one call of the several-point point_values to the next.
struct PointScratch {
    std::array<PointBatch, line_kind_count> batches;
    KindRecordLists<ProfileKind>::type kinds;
    ValueLists lists;
};

// point_values for several points, their values one after the other in out. The line-shape
// kinds that value many offsets together (batched_point_kind) take all the points at once.
void point_values(std::span<const PointForm> forms, PointKind kind,
                  std::span<const PointQuery> queries, double* out, PointScratch& scratch);

// out[i] = evaluate_at(e, origin, y[i]) for every i, bit for bit, for a profile of a kind that
// values many offsets together (taken side by side); false, and nothing written, for the other
// kinds.
bool profile_values_many(const Profile& e, double origin, std::span<const double> y, double* out,
                         PointScratch& scratch);

} // namespace quorvel
