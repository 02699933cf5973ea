#include "errors.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>

#include "interrupt.hpp"
#include "quorvel/format.hpp"
#include "ref.hpp"

namespace quorvel::py {

PyObject* singular_error() {
    // Created once per process under the interpreter lock; reused by every module object.
    static PyObject* type = nullptr;
    if (type == nullptr) {
        type =
            PyErr_NewExceptionWithDoc("_quorvel.SingularError", nullptr, PyExc_ValueError, nullptr);
        if (type == nullptr) {
            PyErr_Clear();
            raise_internal("Failed to initialize new exception type.");
        }
    }
    return type;
}

void raise_core_error(const CoreError& error) {
    PyObject* type = PyExc_ValueError;
    if (error.kind == ErrorKind::Singular) {
        type = singular_error();
        if (type == nullptr) return;
    }
    const Ref message = Ref::steal(PyUnicode_FromStringAndSize(
        error.message.data(), static_cast<Py_ssize_t>(error.message.size())));
    if (message) PyErr_SetObject(type, message.get());
}

void raise_core_error(const NotedError& error) {
    raise_core_error(error.error);
    if (!error.note.empty() && PyErr_Occurred()) add_note_to_pending(error.note.c_str());
}

std::string first_nonfinite_note(std::string_view name, std::span<const double> values) {
    const auto bad = std::ranges::find_if(values, [](double v) { return !std::isfinite(v); });
    if (bad == values.end()) return {};
    return std::string(name) + "[" + std::to_string(bad - values.begin()) + "] is " +
           fmt_fixed(*bad);
}

void raise_internal(const char* message) {
    PyErr_SetString(PyExc_SystemError, message);
}

namespace {

// The description of the result that the innermost ResultSizeNote names, kept after an exception
// left its scope until the exception is translated.
thread_local std::string result_size_note;

void raise_no_memory() {
    if (result_size_note.empty()) {
        PyErr_NoMemory();
    } else {
        PyErr_Format(PyExc_MemoryError, "%s does not fit in memory", result_size_note.c_str());
    }
}

std::string byte_size(double bytes) {
    const char* units[] = {"bytes", "kB", "MB", "GB", "TB", "PB", "EB"};
    std::size_t u = 0;
    while (bytes >= 1000.0 && u + 1 < std::size(units)) {
        bytes /= 1000.0;
        ++u;
    }
    char text[32];
    std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.3g %s", bytes, units[u]);
    return text;
}

} // namespace

ResultSizeNote::ResultSizeNote(const char* what, std::size_t rows, std::size_t cols)
    : uncaught_(std::uncaught_exceptions()) {
    const double bytes = static_cast<double>(rows) * static_cast<double>(cols) * 8.0;
    result_size_note = std::string(what) + " of " + std::to_string(rows) + " x " +
                       std::to_string(cols) + " doubles (" + byte_size(bytes) + ")";
}

ResultSizeNote::~ResultSizeNote() {
    // Kept for the translation when an exception leaves the call.
    if (std::uncaught_exceptions() == uncaught_) result_size_note.clear();
}

void raise_from_current_exception() noexcept {
    struct Consume {
        ~Consume() { result_size_note.clear(); }
    } consume;
    try {
        throw;
    } catch (const CoreFailure& failure) {
        raise_core_error(failure.error);
    } catch (const PythonErrorPending&) {
        // The Python exception is already set.
    } catch (const std::bad_alloc&) {
        raise_no_memory();
    } catch (const std::length_error&) {
        raise_no_memory();
    } catch (const std::exception& e) {
        raise_internal(e.what());
    } catch (...) {
        raise_internal("unknown internal failure");
    }
}

void add_note_to_pending(const char* note) {
#if PY_VERSION_HEX >= 0x030C0000
    Ref exc = Ref::steal(PyErr_GetRaisedException());
    if (!exc) return;
    if (!Ref::steal(PyObject_CallMethod(exc.get(), "add_note", "s", note))) PyErr_Clear();
    PyErr_SetRaisedException(exc.release());
#else
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    if (type == nullptr) return;
    PyErr_NormalizeException(&type, &value, &tb);
    if (value != nullptr) {
        // Notes exist from Python 3.11 on; older interpreters keep the bare exception.
        if (!Ref::steal(PyObject_CallMethod(value, "add_note", "s", note))) PyErr_Clear();
        if (tb != nullptr) PyException_SetTraceback(value, tb);
    }
    PyErr_Restore(type, value, tb);
#endif
}

void note_conversion_failure(std::string_view name, std::string_view hint) {
    add_note_to_pending(("while processing '" + std::string(name) + "'").c_str());
    if (hint.empty()) return;
    std::string note;
    constexpr std::string_view placeholder = "{name}";
    for (std::size_t at = hint.find(placeholder); at != std::string_view::npos;
         at = hint.find(placeholder)) {
        note.append(hint.substr(0, at)).append(name);
        hint.remove_prefix(at + placeholder.size());
    }
    note.append(hint);
    add_note_to_pending(note.c_str());
}

namespace {
thread_local ConversionHint* innermost_hint = nullptr;
} // namespace

ConversionHint::ConversionHint() noexcept : outer_(std::exchange(innermost_hint, this)) {}

ConversionHint::~ConversionHint() {
    innermost_hint = outer_;
}

void ConversionHint::record(std::string text) {
    if (innermost_hint != nullptr) innermost_hint->text_ = std::move(text);
}

void raise_not_instance(PyObject* obj, const char* expected) {
    if (obj == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    const Ref name = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
    if (name)
        PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(),
                     expected);
}

} // namespace quorvel::py
