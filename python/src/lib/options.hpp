// Option strings as the entry points parse them: the core's parser and message, and a note for
// the user with the accepted names, and the name meant when the given one differs from it only
// in letter case, blanks or hyphens.
#pragma once

#include <string>
#include <string_view>

#include "errors.hpp"
#include "registry.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/fit.hpp"
#include "quorvel/measure.hpp"

namespace quorvel::py {

Outcome<Interpolation> interp_option(std::string_view given);
Outcome<Normalization> normalization_option(std::string_view given);
Outcome<Penalty::Kind> penalty_option(std::string_view given);
Outcome<MapKind> map_kind_option(std::string_view given);
Outcome<ParameterKind> parameter_option(std::string_view given);

// The notes for names that the core checks inside larger validations: empty when `given` is an
// accepted name.
std::string apodization_note(std::string_view given);
std::string covariance_family_note(std::string_view given);

// The private module attribute _vocabularies: every option's accepted names.
extern const Members vocabulary_members;

} // namespace quorvel::py
