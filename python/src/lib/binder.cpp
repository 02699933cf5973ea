#include "binder.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::py {

namespace {

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string join_names(const std::vector<std::string_view>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2)
                out += " and ";
            else
                out += i + 1 == names.size() ? ", and " : ", ";
        }
        out.append("'").append(names[i]).append("'");
    }
    return out;
}

void too_many_positional(const Signature& sig, Py_ssize_t given) {
    const std::size_t max = sig.count;
    std::string message = sig.callable() + " takes ";
    if (sig.required != max) message += "from " + std::to_string(sig.required) + " to ";
    message += std::to_string(max) + " positional arguments but " + std::to_string(given) +
               (given == 1 ? " was given" : " were given");
    PyErr_SetString(PyExc_TypeError, message.c_str());
}

// Levenshtein distance: single-character insertions, deletions and substitutions.
std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The parameter a misspelt keyword most likely meant ("normalisation" -> "normalization"): the
// nearest name within a third of the longer spelling, or empty.
std::string_view nearest_name(const Signature& sig, std::string_view given) {
    std::string_view best;
    std::size_t best_distance = 0;
    for (std::size_t j = 0; j < sig.count; ++j) {
        const std::string_view name = sig.params[j].name;
        const std::size_t d = edit_distance(given, name);
        if (3 * d > std::max(given.size(), name.size())) continue;
        if (best.empty() || d < best_distance) {
            best = name;
            best_distance = d;
        }
    }
    return best;
}

// Places one keyword argument; false with the TypeError pending.
bool bind_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** bound) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &size);
    if (text == nullptr) return false;
    const std::string_view name(text, static_cast<std::size_t>(size));
    for (std::size_t j = 0; j < sig.count; ++j) {
        if (sig.params[j].name != name) continue;
        if (bound[j] != nullptr) {
            const std::string message =
                sig.callable() + " got multiple values for argument '" + std::string(name) + "'";
            PyErr_SetString(PyExc_TypeError, message.c_str());
            return false;
        }
        bound[j] = value;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                 sig.callable().c_str(), key);
    if (const std::string_view near = nearest_name(sig, name); !near.empty())
        add_note_to_pending(("did you mean '" + std::string(near) + "'?").c_str());
    return false;
}

bool check_missing(const Signature& sig, PyObject** bound) {
    std::vector<std::string_view> missing;
    for (std::size_t j = 0; j < sig.required; ++j)
        if (bound[j] == nullptr) missing.push_back(sig.params[j].name);
    if (missing.empty()) return true;
    const std::string message =
        sig.callable() + " missing " + std::to_string(missing.size()) + " required positional " +
        (missing.size() == 1 ? "argument: " : "arguments: ") + join_names(missing);
    PyErr_SetString(PyExc_TypeError, message.c_str());
    return false;
}

} // namespace

bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** bound) {
    if (nargs > static_cast<Py_ssize_t>(sig.count)) {
        too_many_positional(sig, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i)
        bound[i] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k)
            if (!bind_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], bound))
                return false;
    }
    return check_missing(sig, bound);
}

bool bind_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** bound) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > static_cast<Py_ssize_t>(sig.count)) {
        too_many_positional(sig, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i)
        bound[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value))
            if (!bind_keyword(sig, key, value, bound)) return false;
    }
    return check_missing(sig, bound);
}

} // namespace quorvel::py
