// The option strings of the measurement builders: row normalisation and kernel parameter.
#include <string>

#include "quorvel/format.hpp"
#include "quorvel/measure.hpp"

namespace quorvel {

Result<Normalization> parse_normalization(std::string_view text) {
    if (const auto n = find_named(normalization_names, text)) return *n;
    return invalid_input("normalization must be " + quoted_alternatives(normalization_names) +
                         ", got " + fmt_quoted(text));
}

Result<ParameterKind> parse_parameter(std::string_view text) {
    if (const auto p = find_named(parameter_names, text)) return *p;
    return invalid_input("unknown parameter " + fmt_quoted(text));
}

} // namespace quorvel
