#include "options.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

namespace quorvel::py {

namespace {

// The accepted names of one option, as the note introduces them.
struct Names {
    std::string_view heading;
    std::span<const std::string_view> names;
};

constexpr std::array<std::string_view, 2> interp_names{"linear", "pchip"};
constexpr std::array<std::string_view, 3> normalization_names{"integral", "rowsum", "none"};
constexpr std::array<std::string_view, 2> penalty_names{"derivative", "difference"};
constexpr std::array<std::string_view, 2> map_kind_names{"reciprocal", "affine"};
constexpr std::array<std::string_view, 8> parameter_names{
    "center", "scale", "sigma", "gamma", "eta", "power", "asymmetry", "half_width"};
constexpr std::array<std::string_view, 12> apodization_names{"none",
                                                             "boxcar",
                                                             "hann",
                                                             "hanning",
                                                             "hamming",
                                                             "happ_genzel",
                                                             "blackman",
                                                             "blackman_harris",
                                                             "triangle",
                                                             "norton_beer_weak",
                                                             "norton_beer_medium",
                                                             "norton_beer_strong"};
constexpr std::array<std::string_view, 6> family_names{
    "squared_exponential", "gaussian", "exponential", "matern12", "matern32", "matern52"};

// Lower case, without surrounding blanks, with '-' and ' ' read as '_'.
std::string loose(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c == '-' || c == ' ') c = '_';
    }
    return out;
}

// "accepted values of normalization: 'integral', 'rowsum', 'none'", followed by
// "; did you mean 'integral'? names are matched exactly" for a near miss such as "Integral".
std::string note(const Names& o, std::string_view given) {
    std::string text = std::string(o.heading) + ": ";
    for (std::size_t i = 0; i < o.names.size(); ++i)
        text.append(i == 0 ? "'" : ", '").append(o.names[i]).append("'");
    const std::string wanted = loose(given);
    const auto near =
        std::ranges::find_if(o.names, [&](std::string_view n) { return loose(n) == wanted; });
    if (near != o.names.end())
        text.append("; did you mean '").append(*near).append("'? names are matched exactly");
    return text;
}

template <class T> Outcome<T> with_note(Result<T> parsed, const Names& o, std::string_view given) {
    if (parsed) return *std::move(parsed);
    return std::unexpected(NotedError{std::move(parsed).error(), note(o, given)});
}

std::string note_unless_accepted(const Names& o, std::string_view given) {
    return std::ranges::find(o.names, given) != o.names.end() ? std::string() : note(o, given);
}

} // namespace

Outcome<Interpolation> interp_option(std::string_view given) {
    return with_note(parse_interpolation(given), {"accepted values of interp", interp_names},
                     given);
}

Outcome<Normalization> normalization_option(std::string_view given) {
    return with_note(parse_normalization(given),
                     {"accepted values of normalization", normalization_names}, given);
}

Outcome<Penalty::Kind> penalty_option(std::string_view given) {
    return with_note(parse_penalty(given), {"accepted values of penalty", penalty_names}, given);
}

Outcome<MapKind> map_kind_option(std::string_view given) {
    return with_note(parse_map_kind(given), {"accepted values of kind", map_kind_names}, given);
}

Outcome<ParameterKind> parameter_option(std::string_view given) {
    return with_note(parse_parameter(given), {"accepted values of parameter", parameter_names},
                     given);
}

std::string apodization_note(std::string_view given) {
    return note_unless_accepted({"accepted values of apodization", apodization_names}, given);
}

std::string covariance_family_note(std::string_view given) {
    return note_unless_accepted({"accepted covariance families", family_names}, given);
}

} // namespace quorvel::py
