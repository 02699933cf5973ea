// Converters between Python objects and core values, one per parameter kind and result kind.
//
// Every argument converter has the form `bool from_python(PyObject* obj, T& out)`: it fills `out`
// and returns true, or returns false with a Python exception pending. The type T selects the
// parameter kind:
//
//   std::vector<double>   1-D float64 array, copied in index order through any stride
//   Array2                2-D float64 array, copied into a row-major table
//   ArrayView2            2-D float64 array read in place (aligned, C or F contiguous), through
//                         pin_view once every argument is converted
//   std::uint64_t         non-negative integer (index protocol)
//   double                real (float protocol)
//   bool                  exactly a bool, or a NumPy boolean scalar
//   std::string           str, as UTF-8
//   SpacePtr              a Space instance (shared, read-only)
//   Sequence<T>           any sequence except str, each item converted as T
//   std::optional<T>      None -> nullopt, otherwise T
//
// Results: `PyObject* to_python(T)` returns a new reference, or nullptr with the Python exception
// pending. Space / SpacePtr, std::vector<double> (1-D float64 array), std::vector<std::uint64_t>
// (1-D int64 array), Dense2 (2-D array), SparseMatrix (the (indptr, indices, data, (rows, cols))
// tuple), double, integers, bool, std::pair and std::tuple (tuples), List<T> (list), PyObject*
// (passed through), Result<T> and Outcome<T> (raise the core error, with its note).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "errors.hpp"
#include "quorvel/error.hpp"
#include "quorvel/space.hpp"
#include "quorvel/sparse.hpp"
#include "ref.hpp"

namespace quorvel::py {

template <class T> struct Sequence {
    std::vector<T> items;
};

// A row-major copy of a 2-D array.
struct Array2 {
    std::size_t rows = 0, cols = 0;
    std::vector<double> data;
};

// A caller's 2-D float64 array to be read in place (aligned, C or F contiguous). Conversion
// checks it and keeps a reference; its data are read only through pin_view, after every other
// argument was converted, since those conversions run Python code that may reshape the array or
// replace its buffer.
class ArrayView2 {
  public:
    std::size_t rows = 0, cols = 0; // as found by the conversion

    PyObject* object() const noexcept { return array_.get(); }

  private:
    friend bool from_python(PyObject* obj, ArrayView2& out);
    // Released with the interpreter lock held: converted values never outlive the call.
    Ref array_;
};

// The view of an ArrayView2 that the core reads, taken when no Python code runs before the
// core: while it lives, the array's buffer cannot be resized (a weak reference on the array that
// owns the data), not even by a thread that runs while the interpreter lock is released.
struct PinnedView {
    MatrixView view;
    Ref pin; // released with the interpreter lock held
};

// Checks the array again, as its conversion did (the same TypeErrors, with the notes naming
// `name`), and pins its current buffer.
bool pin_view(const ArrayView2& array, std::string_view name, PinnedView& out);

// A row-major dense result.
struct Dense2 {
    std::size_t rows = 0, cols = 0;
    std::vector<double> data;
};

// A list result, each item converted by its own rule.
template <class T> struct List {
    std::vector<T> items;
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

// Where a list of spaces is expected, a Space given alone gets the hint to wrap it in a list.
void hint_single_space(PyObject* obj);

// What to reserve for a sequence that reports `length` items of `item_size` bytes. The reported
// length is not trusted with memory: the reservation is at most a small first block and the list
// grows as items arrive. A length that more than fills the machine's memory is refused with
// MemoryError, before iterating towards it.
bool sequence_capacity(Py_ssize_t length, std::size_t item_size, std::size_t& capacity);

template <class T> bool from_python(PyObject* obj, Sequence<T>& out) {
    Py_ssize_t hint = 0;
    std::size_t capacity = 0;
    if constexpr (std::is_same_v<T, SpacePtr>) hint_single_space(obj);
    if (!check_sequence(obj, hint) || !sequence_capacity(hint, sizeof(T), capacity)) return false;
    out.items.clear();
    out.items.reserve(capacity);
    const Ref it = Ref::steal(PyObject_GetIter(obj));
    if (!it) return false;
    while (const Ref item = Ref::steal(PyIter_Next(it.get()))) {
        T value{};
        if (!from_python(item.get(), value)) return false;
        out.items.push_back(std::move(value));
    }
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
PyObject* to_python(std::vector<std::uint64_t>&& values);

template <class... T> PyObject* to_python(std::tuple<T...>&& values);
template <class A, class B> PyObject* to_python(std::pair<A, B>&& p);
template <class T> PyObject* to_python(List<T>&& list);
template <class T, class E> PyObject* to_python(std::expected<T, E>&& r);

namespace detail {

// Converts `value` into `slot`; false with the exception pending.
template <class T> bool convert_into(Ref& slot, T&& value) {
    slot = Ref::steal(to_python(std::forward<T>(value)));
    return static_cast<bool>(slot);
}

// A tuple that takes over the references of `items`.
PyObject* new_tuple(std::span<Ref> items);

} // namespace detail

// Items are converted in order; the first failure ends the conversion.
template <class... T> PyObject* to_python(std::tuple<T...>&& values) {
    std::array<Ref, sizeof...(T)> items;
    const bool converted = [&]<std::size_t... I>(std::index_sequence<I...>) {
        return (detail::convert_into(items[I], std::get<I>(std::move(values))) && ...);
    }(std::index_sequence_for<T...>{});
    return converted ? detail::new_tuple(items) : nullptr;
}

template <class A, class B> PyObject* to_python(std::pair<A, B>&& p) {
    return to_python(std::tuple<A, B>(std::move(p.first), std::move(p.second)));
}

template <class T> PyObject* to_python(List<T>&& list) {
    Ref out = Ref::steal(PyList_New(static_cast<Py_ssize_t>(list.items.size())));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < list.items.size(); ++i) {
        PyObject* item = to_python(std::move(list.items[i]));
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), item);
    }
    return out.release();
}

template <class T, class E> PyObject* to_python(std::expected<T, E>&& r) {
    if (!r) {
        raise_core_error(r.error());
        return nullptr;
    }
    return to_python(std::move(*r));
}

} // namespace quorvel::py
