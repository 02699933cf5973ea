// Line-shape kinds: the parameter records of every profile family, the selector of a kernel
// parameter, and the kind operations the rest of the core calls.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "quorvel/apodization.hpp"
#include "quorvel/constants.hpp"
#include "quorvel/error.hpp"
#include "quorvel/vocabulary.hpp"

namespace quorvel {

struct Gaussian {
    double sigma;
};
struct Lorentzian {
    double hwhm;
};
struct Voigt {
    double sigma, gamma, inv_peak;
};
struct PseudoVoigt {
    double hwhm, eta;
};
struct SuperGaussian {
    double hwhm_left, hwhm_right, power;
};
struct SmoothedBox {
    double half_width, sigma, inv_peak;
};
struct Fts {
    double max_opd;
    Apodization apodization;
    double inv_peak;
};
enum class MaternOrder { Half, ThreeHalves, FiveHalves };
struct Matern {
    MaternOrder order;
    double length;
};
struct Harmonic {
    double wavenumber, period, phase;
};

using ProfileKind = std::variant<Gaussian, Lorentzian, Voigt, PseudoVoigt, SuperGaussian,
                                 SmoothedBox, Fts, Matern, Harmonic>;

// The correlation of a covariance dimension over distance: a Matern kernel of an order, or the
// squared exponential, a Gaussian of standard deviation `length`.
inline ProfileKind correlation_kind(std::optional<MaternOrder> matern, double length) {
    if (matern) return Matern{*matern, length};
    return Gaussian{length};
}
// Whether a kind is one that correlation_kind makes: their values are even in t bit for bit.
inline bool is_correlation_kind(const ProfileKind& kind) {
    return std::holds_alternative<Gaussian>(kind) || std::holds_alternative<Matern>(kind);
}
// The Matern order of a kind that correlation_kind made, nullopt for the squared exponential.
inline std::optional<MaternOrder> correlation_order(const ProfileKind& kind) {
    if (const auto* m = std::get_if<Matern>(&kind)) return m->order;
    return std::nullopt;
}

// Lists a line-shape kind's batched point values reuse from one call to the next.
struct ValueLists {
    std::vector<double> a, b, c;
    std::vector<std::size_t> at;
};

enum class ParameterKind { Center, Scale, Sigma, Gamma, Eta, Power, Asymmetry, HalfWidth };

// A parameter selector: its option string, its variant name in messages, and its value.
struct ParameterName {
    std::string_view name, variant;
    ParameterKind value;
};
inline constexpr std::array<ParameterName, 8> parameter_names{{
    {"center", "Center", ParameterKind::Center},
    {"scale", "Scale", ParameterKind::Scale},
    {"sigma", "Sigma", ParameterKind::Sigma},
    {"gamma", "Gamma", ParameterKind::Gamma},
    {"eta", "Eta", ParameterKind::Eta},
    {"power", "Power", ParameterKind::Power},
    {"asymmetry", "Asymmetry", ParameterKind::Asymmetry},
    {"half_width", "HalfWidth", ParameterKind::HalfWidth},
}};

// Variant name of a parameter selector: "Sigma", "HalfWidth", ...
std::string_view parameter_name(ParameterKind p);

// Value and t-derivative of a kind at offset t = x - center, ignoring the support.
double profile_value(const ProfileKind& kind, double t);
double profile_slope(const ProfileKind& kind, double t);
// {profile_value(kind, t), profile_slope(kind, t)}, bitwise, computed together.
std::array<double, 2> profile_value_and_slope(const ProfileKind& kind, double t);
// out[k] = profile_value(kind, t[k]) for every k, with one dispatch on the kind.
void profile_values(const ProfileKind& kind, std::span<const double> t, double* out);

// Quadrature panel width at distance d >= 0 from the center.
double profile_scale(const ProfileKind& kind, double d);
// An upper bound of profile_scale over the distances [0, d], non-decreasing in d.
double profile_scale_bound(const ProfileKind& kind, double d);

// The integral of the value over offsets [a, b] in closed form, for the kinds that have one
// (Gaussian, Lorentzian, PseudoVoigt, Harmonic); nullopt for the others.
std::optional<double> profile_integral(const ProfileKind& kind, double a, double b);

// Rates at which the left and right extents of the support for a cutoff grow with a line-shape
// parameter (not Center or Scale): the lower end moves by -left dp, the upper end by right dp.
struct ExtentRates {
    double left, right;
};

// Fails with "{kind} has no parameter {parameter}" for a pair the kind does not have.
Result<ExtentRates> profile_extent_rates(const ProfileKind& kind, ParameterKind p, double cutoff);

// The variant name of a kind ("Gaussian"), and the kind with its fields for messages
// ("Gaussian { sigma: 0.5 }").
std::string_view kind_name(const ProfileKind& kind);
std::string render_kind(const ProfileKind& kind);
// The family of a kind as descriptions name one element or several ("Gaussian profile",
// "smoothed boxes").
struct KindFamily {
    std::string_view one, many;
};
KindFamily kind_family(const ProfileKind& kind);

// The kind rebuilt from its free fields through the checks of the constructor that makes it, so
// that every derived field (peak factors) is computed again by the same code.
Result<ProfileKind> remake_kind(const ProfileKind& kind);

// Where the free fields of a kind go to and come from in a serialized form, field by field.
class KindFieldWriter {
  public:
    virtual void real(double v) = 0;
    virtual void window(const Apodization& a) = 0;

  protected:
    ~KindFieldWriter() = default;
};
class KindFieldReader {
  public:
    virtual Result<double> real() = 0;
    virtual Result<Apodization> window() = 0;

  protected:
    ~KindFieldReader() = default;
};

// The number of the kind in serialized data; nullopt for a kind that is never an element of a
// space (Matern).
std::optional<std::uint8_t> kind_wire(const ProfileKind& kind);
// The free fields of the kind, in order; an internal error for a kind without a wire number.
void write_kind_fields(const ProfileKind& kind, KindFieldWriter& out);
// The kind with that wire number, its free fields read in order and its derived fields 0 (for
// remake_kind); nullopt when no kind has that number.
std::optional<Result<ProfileKind>> read_kind_fields(std::uint8_t wire, KindFieldReader& in);

} // namespace quorvel
