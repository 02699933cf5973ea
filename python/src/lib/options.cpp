#include "options.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <utility>
#include <vector>

#include "quorvel/covariance.hpp"

namespace quorvel::py {

namespace {

// The accepted names of one option, as the note introduces them, read from the core's table.
struct Names {
    std::string_view heading;
    std::vector<std::string_view> names;

    template <class Entry, std::size_t N>
    Names(std::string_view heading, const std::array<Entry, N>& table) : heading(heading) {
        for (const Entry& e : table)
            names.push_back(e.name);
    }
};

const Names interp_names{"accepted values of interp", interpolation_names};
const Names normalization_option_names{"accepted values of normalization", normalization_names};
const Names penalty_option_names{"accepted values of penalty", penalty_names};
const Names map_kind_option_names{"accepted values of kind", map_kind_names};
const Names parameter_option_names{"accepted values of parameter", parameter_names};
const Names apodization_option_names{"accepted values of apodization", apodization_names};
const Names family_names{"accepted covariance families", covariance_families};

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
    return with_note(parse_interpolation(given), interp_names, given);
}

Outcome<Normalization> normalization_option(std::string_view given) {
    return with_note(parse_normalization(given), normalization_option_names, given);
}

Outcome<Penalty::Kind> penalty_option(std::string_view given) {
    return with_note(parse_penalty(given), penalty_option_names, given);
}

Outcome<MapKind> map_kind_option(std::string_view given) {
    return with_note(parse_map_kind(given), map_kind_option_names, given);
}

Outcome<ParameterKind> parameter_option(std::string_view given) {
    return with_note(parse_parameter(given), parameter_option_names, given);
}

std::string apodization_note(std::string_view given) {
    return note_unless_accepted(apodization_option_names, given);
}

std::string covariance_family_note(std::string_view given) {
    return note_unless_accepted(family_names, given);
}

namespace {

// _vocabularies: {option: (name, ...)} for every option string, from the same tables (not part
// of the public surface; the tests compare the stub and the documentation with it).
Ref vocabularies(PyObject*) {
    const std::pair<const char*, const Names*> options[] = {
        {"normalization", &normalization_option_names}, {"parameter", &parameter_option_names},
        {"penalty", &penalty_option_names},             {"interp", &interp_names},
        {"kind", &map_kind_option_names},               {"apodization", &apodization_option_names},
        {"family", &family_names},
    };
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return dict;
    for (const auto& [option, names] : options) {
        Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(names->names.size())));
        if (!tuple) return tuple;
        for (std::size_t i = 0; i < names->names.size(); ++i) {
            const std::string_view n = names->names[i];
            PyObject* item = PyUnicode_FromStringAndSize(n.data(), static_cast<Py_ssize_t>(n.size()));
            if (item == nullptr) return Ref();
            PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
        }
        if (PyDict_SetItemString(dict.get(), option, tuple.get()) < 0) return Ref();
    }
    return dict;
}

const Member members[] = {{"_vocabularies", vocabularies}};

} // namespace

const Members vocabulary_members = members;

} // namespace quorvel::py
