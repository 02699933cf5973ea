// NumPy arrays in and out. The only file that includes NumPy: its C interface is imported lazily,
// on the first conversion that needs it, not when the module is imported.
#include <cstring>
#include <string>

#include "convert.hpp"

#include <numpy/arrayobject.h>

namespace quorvel::py {

namespace {

bool numpy_ready() {
    static bool ready = false;
    if (ready) return true;
    if (!Ref::steal(PyImport_ImportModule("numpy"))) return false;
    if (_import_array() < 0) {
        PyErr_Clear();
        raise_internal("Failed to access NumPy array API capsule");
        return false;
    }
    ready = true;
    return true;
}

// str(obj), or "?" when that fails.
std::string text_of(PyObject* obj) {
    const Ref text = Ref::steal(PyObject_Str(obj));
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "?";
    }
    return utf8;
}

// "int64", or "big-endian float64 (>f8)" for data in the other byte order.
std::string dtype_text(PyArray_Descr* descr) {
    std::string text = text_of(reinterpret_cast<PyObject*>(descr));
    if (PyArray_ISNBO(descr->byteorder)) return text;
    const Ref native =
        Ref::steal(reinterpret_cast<PyObject*>(PyArray_DescrNewByteorder(descr, NPY_NATIVE)));
    if (!native) {
        PyErr_Clear();
        return text;
    }
    return "big-endian " + text_of(native.get()) + " (" + text + ")";
}

// "(3,)", "(2, 4)", "()".
std::string shape_text(PyArrayObject* a) {
    const int ndim = PyArray_NDIM(a);
    std::string text = "(";
    for (int d = 0; d < ndim; ++d) {
        if (d > 0) text += ", ";
        text += std::to_string(PyArray_DIM(a, d));
    }
    return text + (ndim == 1 ? ",)" : ")");
}

bool is_float64(PyArrayObject* a) {
    const Ref f8 = Ref::steal(reinterpret_cast<PyObject*>(PyArray_DescrFromType(NPY_DOUBLE)));
    return PyArray_EquivTypes(PyArray_DESCR(a), reinterpret_cast<PyArray_Descr*>(f8.get()));
}

// The usual mistakes behind a rejected array argument, as a conversion hint: an array of another
// type, byte order or dimension, a list or tuple, or a number where an array of them is expected.
void hint_array(PyObject* obj, int ndim) {
    const std::string expected = "expected a " + std::to_string(ndim) + "-D float64 array, got ";
    if (PyArray_Check(obj)) {
        auto* a = reinterpret_cast<PyArrayObject*>(obj);
        const bool float64 = is_float64(a);
        const std::string as_float64 = float64 ? "{name}" : "np.asarray({name}, dtype=np.float64)";
        std::string fix;
        if (PyArray_NDIM(a) == ndim)
            fix = "use " + as_float64;
        else if (ndim == 1)
            fix = "pass a 1-D array, e.g. np.ravel(" + as_float64 + ")";
        else if (PyArray_NDIM(a) < ndim)
            fix = "for a single row use np.atleast_2d(" + as_float64 + ")";
        else
            fix = "reshape it to 2-D, e.g. np.reshape(" + as_float64 + ", (-1, {name}.shape[-1]))";
        ConversionHint::record(expected + dtype_text(PyArray_DESCR(a)) + " with shape " +
                               shape_text(a) + "; " + fix);
        return;
    }
    if (PyList_Check(obj) || PyTuple_Check(obj)) {
        ConversionHint::record(expected + (PyList_Check(obj) ? "a list" : "a tuple") +
                               "; use np.asarray({name}, dtype=np.float64)");
        return;
    }
    const bool number =
        (PyFloat_Check(obj) || PyLong_Check(obj) || PyArray_IsScalar(obj, Number)) &&
        !PyBool_Check(obj);
    if (ndim == 1 && number)
        ConversionHint::record(expected + "a single number (" + Py_TYPE(obj)->tp_name +
                               "); for n equal values use np.full(n, {name})");
}

// A NumPy array (or subclass) of `ndim` dimensions whose data type is equivalent to float64;
// otherwise raises the not-an-instance TypeError naming the array type, with a hint.
PyArrayObject* float64_array(PyObject* obj, int ndim) {
    if (!numpy_ready()) return nullptr;
    if (PyArray_Check(obj)) {
        auto* a = reinterpret_cast<PyArrayObject*>(obj);
        if (PyArray_NDIM(a) == ndim && is_float64(a)) return a;
    }
    hint_array(obj, ndim); // first: describing the object calls into NumPy
    raise_not_instance(obj, "ndarray");
    return nullptr;
}

// A 2-D float64 array that can be read in place: aligned and C or F contiguous.
PyArrayObject* in_place_array(PyObject* obj) {
    PyArrayObject* a = float64_array(obj, 2);
    if (a == nullptr) return nullptr;
    if (!PyArray_ISALIGNED(a) || !(PyArray_IS_C_CONTIGUOUS(a) || PyArray_IS_F_CONTIGUOUS(a))) {
        PyErr_SetString(PyExc_TypeError, "The given array is not contiguous or is misaligned.");
        ConversionHint::record("use np.ascontiguousarray({name})");
        return nullptr;
    }
    return a;
}

double read_at(const char* p) {
    double v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A writeable array over the memory of `values`, which it takes over: a capsule that owns the
// vector is the array's base and frees it with the array. Results are not copied at the boundary.
template <class T> PyObject* adopt(std::vector<T>&& values, int ndim, npy_intp* dims, int type) {
    if (!numpy_ready()) return nullptr;
    if (values.empty()) return PyArray_SimpleNew(ndim, dims, type);
    auto* owned = new std::vector<T>(std::move(values));
    Ref capsule = Ref::steal(PyCapsule_New(owned, nullptr, [](PyObject* c) {
        delete static_cast<std::vector<T>*>(PyCapsule_GetPointer(c, nullptr));
    }));
    if (!capsule) {
        delete owned;
        return nullptr;
    }
    PyObject* a = PyArray_SimpleNewFromData(ndim, dims, type, owned->data());
    if (a == nullptr) return nullptr;
    // Steals the capsule's reference, also on failure.
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(a), capsule.release()) < 0) {
        Py_DECREF(a);
        return nullptr;
    }
    return a;
}

} // namespace

bool from_python(PyObject* obj, std::vector<double>& out) {
    PyArrayObject* a = float64_array(obj, 1);
    if (a == nullptr) return false;
    const npy_intp n = PyArray_DIM(a, 0);
    const npy_intp stride = PyArray_STRIDE(a, 0);
    const char* base = static_cast<const char*>(PyArray_DATA(a));
    out.resize(static_cast<std::size_t>(n));
    for (npy_intp i = 0; i < n; ++i)
        out[static_cast<std::size_t>(i)] = read_at(base + i * stride);
    return true;
}

bool from_python(PyObject* obj, Array2& out) {
    PyArrayObject* a = float64_array(obj, 2);
    if (a == nullptr) return false;
    const npy_intp rows = PyArray_DIM(a, 0), cols = PyArray_DIM(a, 1);
    const npy_intp rs = PyArray_STRIDE(a, 0), cs = PyArray_STRIDE(a, 1);
    const char* base = static_cast<const char*>(PyArray_DATA(a));
    out.rows = static_cast<std::size_t>(rows);
    out.cols = static_cast<std::size_t>(cols);
    out.data.resize(out.rows * out.cols);
    for (npy_intp r = 0; r < rows; ++r)
        for (npy_intp c = 0; c < cols; ++c)
            out.data[static_cast<std::size_t>(r * cols + c)] = read_at(base + r * rs + c * cs);
    return true;
}

bool from_python(PyObject* obj, ArrayView2& out) {
    PyArrayObject* a = in_place_array(obj);
    if (a == nullptr) return false;
    out.rows = static_cast<std::size_t>(PyArray_DIM(a, 0));
    out.cols = static_cast<std::size_t>(PyArray_DIM(a, 1));
    out.array_ = Ref::borrow(obj);
    return true;
}

bool pin_view(const ArrayView2& array, std::string_view name, PinnedView& out) {
    // The array that owns the data is the last array in the chain of bases. NumPy refuses to
    // resize an array that has a weak reference, even with refcheck=False, so holding one keeps
    // the buffer in place while other threads run during the call. Made first: creating it may
    // collect garbage and so run finalizers; nothing below runs Python code.
    PyObject* owner = array.object();
    while (PyArray_Check(owner)) {
        PyObject* base = PyArray_BASE(reinterpret_cast<PyArrayObject*>(owner));
        if (base == nullptr || !PyArray_Check(base)) break;
        owner = base;
    }
    out.pin = Ref::steal(PyWeakref_NewRef(owner, nullptr));
    if (!out.pin) return false;

    const ConversionHint hint;
    PyArrayObject* a = in_place_array(array.object());
    if (a == nullptr) {
        note_conversion_failure(name, hint.text());
        return false;
    }
    const auto rows = static_cast<std::size_t>(PyArray_DIM(a, 0));
    const auto cols = static_cast<std::size_t>(PyArray_DIM(a, 1));
    // An axis of length 1 may carry any stride; give it the one its contiguous layout implies.
    const bool c_order = PyArray_IS_C_CONTIGUOUS(a);
    const auto elem = static_cast<std::ptrdiff_t>(sizeof(double));
    std::ptrdiff_t rs =
        rows > 1 ? PyArray_STRIDE(a, 0) / elem : (c_order ? static_cast<std::ptrdiff_t>(cols) : 1);
    std::ptrdiff_t cs =
        cols > 1 ? PyArray_STRIDE(a, 1) / elem : (c_order ? 1 : static_cast<std::ptrdiff_t>(rows));
    out.view = MatrixView{static_cast<const double*>(PyArray_DATA(a)), rows, cols, rs, cs};
    return true;
}

PyObject* to_python(std::vector<double>&& values) {
    npy_intp n = static_cast<npy_intp>(values.size());
    return adopt(std::move(values), 1, &n, NPY_DOUBLE);
}

PyObject* to_python(Dense2&& values) {
    npy_intp dims[2] = {static_cast<npy_intp>(values.rows), static_cast<npy_intp>(values.cols)};
    internal_assert(values.data.size() == values.rows * values.cols,
                    "dense result has the wrong size");
    return adopt(std::move(values.data), 2, dims, NPY_DOUBLE);
}

// Counts and column indices, all below 2^63, read as int64 in place.
PyObject* to_python(std::vector<std::uint64_t>&& values) {
    npy_intp n = static_cast<npy_intp>(values.size());
    static_assert(sizeof(std::uint64_t) == sizeof(npy_int64));
    return adopt(std::move(values), 1, &n, NPY_INT64);
}

PyObject* to_python(SparseMatrix&& m) {
    internal_assert(m.indptr.size() == m.n_rows + 1, "sparse result has the wrong indptr length");
    const std::tuple<std::uint64_t, std::uint64_t> shape{m.n_rows, m.n_cols};
    return to_python(
        std::tuple(std::move(m.indptr), std::move(m.indices), std::move(m.data), shape));
}

} // namespace quorvel::py
