// Every line-shape kind file, and the concept that states what a kind file provides.
//
// To add a line-shape kind:
//   1. write its file here: the parameter record's Descriptor (name, a wire number never used
//      before, stored fields, remake) and its per-node functions, so that LineShapeKind holds,
//      plus the validating make_ function its constructor calls; include it below;
//   2. add the record to the alternatives of ProfileKind (quorvel/profile.hpp);
//   3. bind its Space constructor (python/src/lib/bind_space.cpp, through a core builder in
//      element/profiles.cpp).
// Dispatch, rendering, remaking and serialization loop over the alternatives of ProfileKind, so a
// kind that misses any of this does not compile.
#pragma once

#include <concepts>
#include <optional>
#include <span>
#include <tuple>
#include <utility>
#include <variant>

#include "fts.hpp"
#include "gaussian.hpp"
#include "harmonic.hpp"
#include "lorentzian.hpp"
#include "matern.hpp"
#include "pseudo_voigt.hpp"
#include "smoothed_box.hpp"
#include "super_gaussian.hpp"
#include "voigt.hpp"

namespace quorvel::line_shape {

template <class K>
concept LineShapeKind = requires(const K& k, double t, double d, double cutoff) {
    { Descriptor<K>::name } -> std::convertible_to<std::string_view>;
    { Descriptor<K>::one } -> std::convertible_to<std::string_view>;
    { Descriptor<K>::many } -> std::convertible_to<std::string_view>;
    { Descriptor<K>::wire } -> std::convertible_to<std::optional<std::uint8_t>>;
    std::tuple_size<std::remove_cvref_t<decltype(Descriptor<K>::fields)>>::value;
    { Descriptor<K>::remake(k) } -> std::same_as<Result<ProfileKind>>;
    { line_shape::value(k, t) } -> std::same_as<double>;
    { line_shape::slope(k, t) } -> std::same_as<double>;
    { line_shape::width(k) } -> std::same_as<double>;
    { line_shape::step_scale(k, d) } -> std::same_as<double>;
    { line_shape::extent(k, cutoff) } -> std::same_as<Extent>;
};

// The optional operations; a kind without them falls back to value and slope, or has no
// line-shape parameters.
template <class K>
concept HasValueAndSlope = requires(const K& k, double t) {
    { line_shape::value_and_slope(k, t) } -> std::same_as<std::array<double, 2>>;
};
template <class K>
concept HasStepBound = requires(const K& k, double d) {
    { line_shape::step_bound(k, d) } -> std::same_as<double>;
};
template <class K>
concept HasIntegral = requires(const K& k, double a, double b) {
    { line_shape::integral(k, a, b) } -> std::same_as<std::optional<double>>;
};
template <class K>
concept HasParameters = requires(const K& k, ParameterKind p, double t) {
    { line_shape::parameter_derivative(k, p, t) } -> std::same_as<std::optional<double>>;
    { line_shape::extent_rates(k, p, t) } -> std::same_as<std::optional<ExtentRates>>;
};

// Values at many offsets together, out[i] = value(*kinds[i], t[i]) bit for bit, for a kind whose
// values are cheaper side by side than one by one (the point values of evaluate use it).
template <class K>
concept HasValuesMany = requires(std::span<const K* const> kinds, std::span<const double> t,
                                 double* out, ValueLists& lists) {
    line_shape::values_many(kinds, t, out, lists);
};
// The value, slope and the derivatives by the kind's own parameters at t from one evaluation,
// each bitwise what value, slope and parameter_derivative give: joint_constant(k) is what every
// point of the line shares, joint_rate(k, p) the index of parameter p in JointValues::rates (or
// -1 for a parameter that is not among them).
template <class K>
concept HasJointRates = requires(const K& k, double t, double constant, ParameterKind p) {
    { line_shape::joint_constant(k) } -> std::same_as<double>;
    { line_shape::joint_rate(k, p) } -> std::same_as<int>;
    { line_shape::joint_values(k, t, constant) } -> std::same_as<JointValues>;
};

template <class... K> constexpr bool all_kinds(std::variant<K...>*) {
    return (LineShapeKind<K> && ...);
}
static_assert(all_kinds(static_cast<ProfileKind*>(nullptr)),
              "every alternative of ProfileKind needs its kind file");

// Wire numbers identify a kind in serialized data: no two kinds share one.
template <class... K> constexpr bool distinct_wires(std::variant<K...>*) {
    const std::array<std::optional<std::uint8_t>, sizeof...(K)> w{Descriptor<K>::wire...};
    for (std::size_t i = 0; i < w.size(); ++i)
        for (std::size_t j = i + 1; j < w.size(); ++j)
            if (w[i] && w[i] == w[j]) return false;
    return true;
}
static_assert(distinct_wires(static_cast<ProfileKind*>(nullptr)),
              "two line-shape kinds share a wire number");

// Calls f(std::type_identity<K>{}) for every alternative K of ProfileKind, in order.
template <class F> constexpr void for_each_kind(F&& f) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (f(std::type_identity<std::variant_alternative_t<I, ProfileKind>>{}), ...);
    }(std::make_index_sequence<std::variant_size_v<ProfileKind>>{});
}

// Calls f(field) for every Field of K's descriptor, in order.
template <class K, class F> constexpr void for_each_field(F&& f) {
    std::apply([&](const auto&... field) { (f(field), ...); }, Descriptor<K>::fields);
}

} // namespace quorvel::line_shape
