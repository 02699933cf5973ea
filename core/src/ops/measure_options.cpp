// The option strings of the measurement builders: row normalisation and kernel parameter.
#include <array>
#include <string>
#include <utility>

#include "quorvel/format.hpp"
#include "quorvel/measure.hpp"

namespace quorvel {

Result<Normalization> parse_normalization(std::string_view text) {
    if (text == "integral") return Normalization::Integral;
    if (text == "rowsum") return Normalization::RowSum;
    if (text == "none") return Normalization::None;
    return invalid_input("normalization must be 'integral', 'rowsum' or 'none', got " +
                         fmt_quoted(text));
}

Result<ParameterKind> parse_parameter(std::string_view text) {
    static constexpr std::array<std::pair<std::string_view, ParameterKind>, 8> names{{
        {"center", ParameterKind::Center},
        {"scale", ParameterKind::Scale},
        {"sigma", ParameterKind::Sigma},
        {"gamma", ParameterKind::Gamma},
        {"eta", ParameterKind::Eta},
        {"power", ParameterKind::Power},
        {"asymmetry", ParameterKind::Asymmetry},
        {"half_width", ParameterKind::HalfWidth},
    }};
    for (const auto& [name, kind] : names)
        if (text == name) return kind;
    return invalid_input("unknown parameter " + fmt_quoted(text));
}

} // namespace quorvel
