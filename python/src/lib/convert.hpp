// Converters between Python objects and core values, one per parameter kind and result kind.
//
// Every argument converter has the form `bool from_python(PyObject* obj, T& out)`: it fills `out`
// and returns true, or returns false with a Python exception pending. The type T selects the
// parameter kind:
//
//   std::vector<double>        1-D float64 array, copied in index order through any stride
//   Array2                     2-D float64 array, copied into a row-major table
//   ArrayView2                 2-D float64 array read in place (aligned, C or F contiguous); holds
//   a
//                              reference to the array until the converted value is destroyed
//   std::uint64_t              non-negative integer (index protocol)
//   double                     real (float protocol)
//   bool                       exactly a bool, or a NumPy boolean scalar
//   std::string                str, as UTF-8
//   SpacePtr                   a Space instance (shared, read-only)
//   Sequence<T>                any sequence except str, each item converted as T
//   std::optional<T>           None -> nullopt, otherwise T
//
// Results: `PyObject* to_python(T)` for Space / SpacePtr, std::vector<double> (1-D array), Dense2
// (2-D array), SparseMatrix (the (indptr, indices, data, (rows, cols)) tuple), double, integers,
// std::pair, PyObject* (passed through) and Result<T> (raises the core error).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "errors.hpp"
#include "quorvel/error.hpp"
#include "quorvel/space.hpp"
#include "quorvel/sparse.hpp"

namespace quorvel::py {

template <class T> struct Sequence {
    std::vector<T> items;
};

// A row-major copy of a 2-D array.
struct Array2 {
    std::size_t rows = 0, cols = 0;
    std::vector<double> data;
};

// A read-only in-place view of a caller's 2-D array, keeping the array alive.
class ArrayView2 {
  public:
    ArrayView2() = default;
    ArrayView2(const ArrayView2&) = delete;
    ArrayView2& operator=(const ArrayView2&) = delete;
    ArrayView2(ArrayView2&& o) noexcept : view(o.view), owner_(std::exchange(o.owner_, nullptr)) {}
    ArrayView2& operator=(ArrayView2&& o) noexcept {
        std::swap(view, o.view);
        std::swap(owner_, o.owner_);
        return *this;
    }
    // Destroyed with the interpreter lock held (converted values never outlive the call).
    ~ArrayView2() { Py_XDECREF(owner_); }

    MatrixView view;

  private:
    friend bool from_python(PyObject* obj, ArrayView2& out);
    PyObject* owner_ = nullptr;
};

// A row-major dense result.
struct Dense2 {
    std::size_t rows = 0, cols = 0;
    std::vector<double> data;
};

// ---- arguments -------------------------------------------------------------------------------

bool from_python(PyObject* obj, std::vector<double>& out);
bool from_python(PyObject* obj, Array2& out);
bool from_python(PyObject* obj, ArrayView2& out);
bool from_python(PyObject* obj, std::uint64_t& out);
bool from_python(PyObject* obj, double& out);
bool from_python(PyObject* obj, bool& out);
bool from_python(PyObject* obj, std::string& out);
bool from_python(PyObject* obj, SpacePtr& out);

// Raises the str rejection or the non-sequence TypeError; returns the sequence length hint.
bool check_sequence(PyObject* obj, Py_ssize_t& length_hint);

template <class T> bool from_python(PyObject* obj, Sequence<T>& out) {
    Py_ssize_t hint = 0;
    if (!check_sequence(obj, hint)) return false;
    out.items.clear();
    out.items.reserve(static_cast<std::size_t>(hint));
    PyObject* it = PyObject_GetIter(obj);
    if (it == nullptr) return false;
    while (PyObject* item = PyIter_Next(it)) {
        T value{};
        const bool ok = from_python(item, value);
        Py_DECREF(item);
        if (!ok) {
            Py_DECREF(it);
            return false;
        }
        out.items.push_back(std::move(value));
    }
    Py_DECREF(it);
    return !PyErr_Occurred();
}

template <class T> bool from_python(PyObject* obj, std::optional<T>& out) {
    if (obj == Py_None) {
        out.reset();
        return true;
    }
    T value{};
    if (!from_python(obj, value)) return false;
    out = std::move(value);
    return true;
}

// ---- results ---------------------------------------------------------------------------------

PyTypeObject* space_type();         // class object of Space (bind_space.cpp)
PyObject* to_python(PyObject* obj); // passes a new reference through
PyObject* to_python(Space&& space);
PyObject* to_python(SpacePtr space);
PyObject* to_python(std::vector<double>&& values);
PyObject* to_python(Dense2&& values);
PyObject* to_python(SparseMatrix&& m);
PyObject* to_python(double value);
PyObject* to_python(std::uint64_t value);
PyObject* to_python(bool value);

template <class A, class B> PyObject* to_python(std::pair<A, B>&& p) {
    PyObject* first = to_python(std::move(p.first));
    if (first == nullptr) return nullptr;
    PyObject* second = to_python(std::move(p.second));
    if (second == nullptr) {
        Py_DECREF(first);
        return nullptr;
    }
    PyObject* t = PyTuple_Pack(2, first, second);
    Py_DECREF(first);
    Py_DECREF(second);
    return t;
}

template <class T> PyObject* to_python(Result<T>&& r) {
    if (!r) {
        raise_core_error(r.error());
        return nullptr;
    }
    return to_python(std::move(*r));
}

} // namespace quorvel::py
