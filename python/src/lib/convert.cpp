#include "convert.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include <unistd.h>

#include "instance.hpp"

namespace quorvel::py {

namespace {

// The hint of a negative count, degree or index, whose OverflowError from the interpreter reads
// like an internal overflow.
void hint_negative(PyObject* index) {
    const Ref text = Ref::steal(PyObject_Str(index));
    const char* digits = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (digits == nullptr) {
        PyErr_Clear();
        return;
    }
    ConversionHint::record(std::string("{name} must be >= 0, got ") + digits);
}

} // namespace

bool from_python(PyObject* obj, std::uint64_t& out) {
    const Ref index = Ref::steal(PyNumber_Index(obj));
    if (!index) return false;
    int overflow = 0;
    const long long small = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (overflow == 0 && small >= 0) {
        out = static_cast<std::uint64_t>(small);
        return true;
    }
    if (overflow < 0 || (overflow == 0 && small < 0)) hint_negative(index.get());
    // The interpreter's own errors: OverflowError for a negative or too large value.
    const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = static_cast<std::uint64_t>(v);
    return true;
}

bool from_python(PyObject* obj, double& out) {
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

namespace {

// A NumPy boolean scalar: its type is named bool_ or bool and lives in the module numpy.
bool is_numpy_bool(PyObject* obj) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
    const Ref module = Ref::steal(PyObject_GetAttrString(type, "__module__"));
    if (!module) {
        PyErr_Clear();
        return false;
    }
    if (!PyUnicode_Check(module.get()) ||
        PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0)
        return false;
    const char* name = Py_TYPE(obj)->tp_name;
    const char* dot = std::strrchr(name, '.');
    if (dot != nullptr) name = dot + 1;
    return std::strcmp(name, "bool_") == 0 || std::strcmp(name, "bool") == 0;
}

} // namespace

bool from_python(PyObject* obj, bool& out) {
    if (PyBool_Check(obj)) {
        out = obj == Py_True;
        return true;
    }
    if (is_numpy_bool(obj)) {
        const int truth = PyObject_IsTrue(obj);
        if (truth < 0) return false;
        out = truth != 0;
        return true;
    }
    raise_not_instance(obj, "bool");
    return false;
}

bool from_python(PyObject* obj, std::string& out) {
    if (!PyUnicode_Check(obj)) {
        raise_not_instance(obj, "str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
    if (text == nullptr) return false;
    out.assign(text, static_cast<std::size_t>(size));
    return true;
}

bool from_python(PyObject* obj, SpacePtr& out) {
    PyTypeObject* type = space_type();
    if (type == nullptr) return false;
    if (!PyObject_TypeCheck(obj, type)) {
        raise_not_instance(obj, "Space");
        return false;
    }
    out = instance_pointer<Space>(obj);
    return true;
}

void hint_single_space(PyObject* obj) {
    PyTypeObject* space = space_type();
    if (space == nullptr)
        PyErr_Clear();
    else if (PyObject_TypeCheck(obj, space))
        ConversionHint::record("{name} is a list of spaces; for one, wrap it in a list: [space]");
}

bool check_sequence(PyObject* obj, Py_ssize_t& length_hint) {
    if (PyUnicode_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(obj)) {
        raise_not_instance(obj, "Sequence");
        return false;
    }
    // The length only sizes the list; an object without one is still iterated.
    length_hint = PySequence_Size(obj);
    if (length_hint < 0) {
        PyErr_Clear();
        length_hint = 0;
    }
    return true;
}

namespace {

// Bytes of physical memory, or the largest size when the system does not say.
std::size_t physical_memory() {
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0) return std::numeric_limits<std::size_t>::max();
    const auto p = static_cast<std::size_t>(pages), b = static_cast<std::size_t>(page);
    return p > std::numeric_limits<std::size_t>::max() / b ? std::numeric_limits<std::size_t>::max()
                                                           : p * b;
}

} // namespace

bool sequence_capacity(Py_ssize_t length, std::size_t item_size, std::size_t& capacity) {
    static const std::size_t memory = physical_memory();
    const auto n = static_cast<std::size_t>(length);
    if (n > memory / item_size) {
        PyErr_Format(PyExc_MemoryError, "the sequence reports %zd items, more than memory can hold",
                     length);
        return false;
    }
    constexpr std::size_t first_block = std::size_t{1} << 16; // bytes
    capacity = std::min(n, std::max<std::size_t>(first_block / item_size, 1));
    return true;
}

PyObject* to_python(PyObject* obj) {
    return obj;
}

PyObject* to_python(Space&& space) {
    return to_python(std::make_shared<const Space>(std::move(space)));
}

PyObject* to_python(SpacePtr space) {
    PyTypeObject* type = space_type();
    if (type == nullptr) return nullptr;
    return new_instance<Space>(type, std::move(space));
}

PyObject* to_python(double value) {
    return PyFloat_FromDouble(value);
}

PyObject* to_python(std::uint64_t value) {
    return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value));
}

PyObject* to_python(bool value) {
    return PyBool_FromLong(value ? 1 : 0);
}

namespace detail {

PyObject* new_tuple(std::span<Ref> items) {
    PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(items.size()));
    if (tuple == nullptr) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i)
        PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), items[i].release());
    return tuple;
}

} // namespace detail

} // namespace quorvel::py
