// The Matern correlations of orders 1/2, 3/2 and 5/2 in the distance |t| / length, peak 1: with
// m = rate |t| / length (rate 1, sqrt 3, sqrt 5) they are exp(-m), (1 + m) exp(-m) and
// (1 + m + m^2 / 3) exp(-m).
#pragma once

#include "common.hpp"

namespace quorvel::line_shape {

inline double matern_rate(MaternOrder o) {
    switch (o) {
    case MaternOrder::Half:
        return 1.0;
    case MaternOrder::ThreeHalves:
        return c::sqrt3;
    case MaternOrder::FiveHalves:
        return c::sqrt5;
    }
    throw InternalError("unknown Matern order");
}

// The m where the correlation falls to 1/2.
inline double matern_half_point(MaternOrder o) {
    switch (o) {
    case MaternOrder::Half:
        return c::matern_half_point_half;
    case MaternOrder::ThreeHalves:
        return c::matern_half_point_three_halves;
    case MaternOrder::FiveHalves:
        return c::matern_half_point_five_halves;
    }
    throw InternalError("unknown Matern order");
}

inline std::string_view matern_order_name(MaternOrder o) {
    switch (o) {
    case MaternOrder::Half:
        return "Half";
    case MaternOrder::ThreeHalves:
        return "ThreeHalves";
    case MaternOrder::FiveHalves:
        return "FiveHalves";
    }
    throw InternalError("unknown Matern order");
}

inline double value(const Matern& k, double t) {
    const double r = std::abs(t);
    switch (k.order) {
    case MaternOrder::Half:
        return std::exp(-(r / k.length));
    case MaternOrder::ThreeHalves: {
        const double m = r * c::sqrt3 / k.length;
        return (m + 1.0) * std::exp(-m);
    }
    case MaternOrder::FiveHalves: {
        const double m = r * c::sqrt5 / k.length;
        return (m + 1.0 + m * m / 3.0) * std::exp(-m);
    }
    }
    throw InternalError("unknown Matern order");
}

inline double slope(const Matern& k, double t) {
    switch (k.order) {
    case MaternOrder::Half:
        if (std::isnan(t)) return t;
        if (t == 0.0) return 0.0;
        return -sign(t) * (std::exp(-std::abs(t) / k.length) / k.length);
    // The factor g = rate / length is applied last: m exp(-m) is bounded, g^2 need not be.
    case MaternOrder::ThreeHalves: {
        const double g = c::sqrt3 / k.length;
        return (-t * g * std::exp(-std::abs(t) * g)) * g;
    }
    case MaternOrder::FiveHalves: {
        const double g = c::sqrt5 / k.length;
        const double m = std::abs(t) * g;
        return (std::exp(-m) * ((m + 1.0) * (t * g / -3.0))) * g;
    }
    }
    throw InternalError("unknown Matern order");
}

inline double width(const Matern& k) {
    return k.length * matern_half_point(k.order) / matern_rate(k.order);
}

inline double step_scale(const Matern& k, double) {
    return k.length * 0.5 / matern_rate(k.order);
}

inline Extent extent(const Matern& k, double cutoff) {
    return {cutoff * k.length, cutoff * k.length};
}

template <> struct Descriptor<Matern> {
    static constexpr std::string_view name = "Matern";
    static constexpr std::string_view one = "Matern profile", many = "Matern profiles";
    static constexpr std::optional<std::uint8_t> wire = std::nullopt;
    static constexpr std::tuple fields{free_field("order", &Matern::order),
                                      free_field("length", &Matern::length)};
    static Result<ProfileKind> remake(const Matern&) {
        return invalid_input("a Matern profile is not an element of a space");
    }
};

} // namespace quorvel::line_shape
