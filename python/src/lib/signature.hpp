// The text signature of an entry point, read at compile time.
//
// An entry's docstring "name(a, b, c=None)\n--\n\ndescription" is the one declaration of its
// parameters: the binder takes their names, their number and which of them may be omitted from
// it, and binder.hpp checks it against the implementation with static_assert.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel::py {

// One entry point: the owning class (nullptr for a module function) and the docstring, which
// starts with the text signature. The entry's name is the one in the text signature; a class's
// constructor is written with the class name ("Projection(src, dst, weight=None)").
struct Entry {
    const char* owner;
    const char* doc;
};

inline constexpr std::size_t max_parameters = 8;

// What an omitted parameter means: it is required, or written "=None" or "=False".
enum class Default { Required, None, False };

struct Parameter {
    std::string_view name;
    Default fallback = Default::Required;
};

struct Signature {
    std::string_view owner; // empty for a module function
    std::string_view name;
    bool has_self = false; // "$self" first: a method
    std::array<Parameter, max_parameters> params{};
    std::size_t count = 0;    // parameters besides $self
    std::size_t required = 0; // the leading parameters without a default

    // Found while reading; each is checked by its own static_assert.
    bool has_separator = false; // "(...)" followed by "\n--\n\n"
    bool identifiers = true;    // every name is a Python identifier
    bool self_first = true;     // "$self" only as the first item
    bool known_defaults = true; // every default is None or False
    bool defaults_last = true;  // no required parameter after an optional one
    bool distinct = true;       // no name twice
    bool fits = true;           // at most max_parameters parameters

    constexpr bool constructor() const { return !owner.empty() && name == owner; }

    // The callable named by argument errors: "evaluate()", "Space.take()",
    // "Projection.__new__()".
    std::string callable() const {
        std::string out;
        if (!owner.empty()) out.append(owner).append(".");
        out.append(constructor() ? std::string_view("__new__") : name).append("()");
        return out;
    }
};

namespace detail {

constexpr bool is_identifier(std::string_view s) {
    if (s.empty() || (s.front() >= '0' && s.front() <= '9')) return false;
    for (char c : s) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9') && c != '_') return false;
    }
    return true;
}

constexpr std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

} // namespace detail

constexpr Signature parse_signature(const Entry& entry) {
    Signature sig;
    if (entry.owner != nullptr) sig.owner = entry.owner;
    const std::string_view doc(entry.doc);
    const auto open = doc.find('(');
    const auto close = doc.find(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return sig;
    sig.has_separator = doc.substr(close + 1, 5) == "\n--\n\n";
    sig.name = doc.substr(0, open);
    sig.identifiers = detail::is_identifier(sig.name);

    std::string_view list = doc.substr(open + 1, close - open - 1);
    bool first = true;
    while (!list.empty()) {
        const auto comma = list.find(',');
        const std::string_view item = detail::trim(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        if (item == "$self") {
            if (first)
                sig.has_self = true;
            else
                sig.self_first = false;
            first = false;
            continue;
        }
        first = false;
        if (sig.count == max_parameters) {
            sig.fits = false;
            break;
        }
        Parameter p;
        const auto eq = item.find('=');
        p.name = detail::trim(item.substr(0, eq));
        if (eq != std::string_view::npos) {
            const std::string_view value = detail::trim(item.substr(eq + 1));
            if (value == "None")
                p.fallback = Default::None;
            else if (value == "False")
                p.fallback = Default::False;
            else
                sig.known_defaults = false;
        }
        sig.identifiers = sig.identifiers && detail::is_identifier(p.name);
        for (std::size_t j = 0; j < sig.count; ++j)
            if (sig.params[j].name == p.name) sig.distinct = false;
        const bool required = p.fallback == Default::Required;
        if (required && sig.required != sig.count) sig.defaults_last = false;
        if (required && sig.defaults_last) ++sig.required;
        sig.params[sig.count++] = p;
    }
    return sig;
}

// The signature of an entry, read once by the compiler.
template <const Entry& E> inline constexpr Signature signature_of = parse_signature(E);

// The entry's name as a null-terminated string with static storage (for PyMethodDef).
template <const Entry& E>
inline constexpr auto entry_name = [] {
    constexpr std::string_view name = signature_of<E>.name;
    std::array<char, name.size() + 1> out{};
    for (std::size_t i = 0; i < name.size(); ++i)
        out[i] = name[i];
    return out;
}();

} // namespace quorvel::py
