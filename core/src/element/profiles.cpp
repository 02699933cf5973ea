// Profile elements placed at centers: the shared builder and the constructors of the line-shape
// families. Parameter arrays are indexed by element; all parameters are validated before any
// center is looked at.
#include <array>
#include <cmath>
#include <string>

#include "profile/dispatch.hpp"
#include "profile/fts.hpp"
#include "profile/gaussian.hpp"
#include "profile/lorentzian.hpp"
#include "profile/pseudo_voigt.hpp"
#include "profile/smoothed_box.hpp"
#include "profile/super_gaussian.hpp"
#include "profile/voigt.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/element_checks.hpp"
#include "quorvel/format.hpp"

namespace quorvel {

namespace {

struct NamedValues {
    const char* name;
    Values values;
};

// Kinds of every element in index order, after checking that each parameter array covers every
// center (in signature order); the first failing element ends the call.
template <std::size_t N, class Make>
Result<std::vector<ProfileKind>> kinds_of(Values centers, const std::array<NamedValues, N>& params,
                                          Make make) {
    const std::size_t n = centers.size();
    for (const NamedValues& p : params) {
        if (p.values.size() < n)
            return invalid_input(std::string(p.name) + " has length " +
                                 std::to_string(p.values.size()) + ", expected " +
                                 std::to_string(n));
    }
    std::vector<ProfileKind> kinds;
    kinds.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::array<double, N> v{};
        for (std::size_t j = 0; j < N; ++j)
            v[j] = params[j].values[i];
        QUORVEL_TRY_ASSIGN(ProfileKind kind, std::apply(make, v));
        kinds.push_back(std::move(kind));
    }
    return kinds;
}

} // namespace

Result<Elements> build_profiles(Values centers, std::span<const ProfileKind> kinds, double cutoff) {
    internal_assert(kinds.size() == centers.size(), "one profile kind per center");
    Elements out;
    out.reserve(centers.size());
    for (std::size_t i = 0; i < centers.size(); ++i) {
        const double x0 = centers[i];
        if (!std::isfinite(x0)) return invalid_input("profile center must be finite");
        QUORVEL_TRY_ASSIGN(const line_shape::Extent extent, profile_extent(kinds[i], cutoff));
        const double lower = x0 - extent.left;
        const double upper = x0 + extent.right;
        // Extreme widths can overflow the support; an unbounded element cannot be integrated.
        if (!std::isfinite(lower) || !std::isfinite(upper))
            return invalid_input("profile support must be finite, got [" + fmt_fixed(lower) + ", " +
                                 fmt_fixed(upper) + "]");
        QUORVEL_TRY(check_support_width("profile", lower, upper));
        // A width whose quadrature step at the center underflows to 0 (a subnormal hwhm of a
        // few units in the last place) would have every walk over the element crawl at the
        // double spacing.
        if (!(profile_scale(kinds[i], 0.0) > 0.0))
            return invalid_input("line-shape width too small for double precision: " +
                                 render_kind(kinds[i]));
        out.emplace_back(Profile{kinds[i], x0, lower, upper, cutoff});
    }
    return out;
}

namespace {

template <std::size_t N, class Make>
Result<Elements> profiles_of(Values centers, const std::array<NamedValues, N>& params,
                             double cutoff, Make make) {
    if (centers.empty()) return Elements{};
    QUORVEL_TRY_ASSIGN(const std::vector<ProfileKind> kinds, kinds_of(centers, params, make));
    return build_profiles(centers, kinds, cutoff);
}

} // namespace

Result<Elements> gaussians(Values centers, Values sigma, double cutoff) {
    return profiles_of(centers, std::array{NamedValues{"sigma", sigma}}, cutoff,
                       line_shape::make_gaussian);
}

Result<Elements> lorentzians(Values centers, Values hwhm, double cutoff) {
    return profiles_of(centers, std::array{NamedValues{"hwhm", hwhm}}, cutoff,
                       line_shape::make_lorentzian);
}

Result<Elements> voigts(Values centers, Values sigma, Values gamma, double cutoff) {
    return profiles_of(centers,
                       std::array{NamedValues{"sigma", sigma}, NamedValues{"gamma", gamma}}, cutoff,
                       line_shape::make_voigt);
}

Result<Elements> pseudo_voigts(Values centers, Values hwhm, Values eta, double cutoff) {
    return profiles_of(centers, std::array{NamedValues{"hwhm", hwhm}, NamedValues{"eta", eta}},
                       cutoff, line_shape::make_pseudo_voigt);
}

Result<Elements> super_gaussians(Values centers, Values hwhm_left, Values hwhm_right, Values power,
                                 double cutoff) {
    return profiles_of(centers,
                       std::array{NamedValues{"hwhm_left", hwhm_left},
                                  NamedValues{"hwhm_right", hwhm_right},
                                  NamedValues{"power", power}},
                       cutoff, line_shape::make_super_gaussian);
}

Result<Elements> smoothed_boxes(Values centers, Values half_width, Values sigma, double cutoff) {
    return profiles_of(
        centers, std::array{NamedValues{"half_width", half_width}, NamedValues{"sigma", sigma}},
        cutoff, line_shape::make_smoothed_box);
}

Result<Elements> fts(Values centers, Values max_opd, double cutoff,
                     const Apodization& apodization) {
    return profiles_of(centers, std::array{NamedValues{"max_opd", max_opd}}, cutoff,
                       [&apodization](double m) { return line_shape::make_fts(m, apodization); });
}

} // namespace quorvel
