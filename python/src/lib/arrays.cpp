// NumPy arrays in and out. The only file that includes NumPy: its C interface is imported lazily,
// on the first conversion that needs it, not when the module is imported.
#include <cstring>

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

// A NumPy array (or subclass) of `ndim` dimensions whose data type is equivalent to float64;
// otherwise raises the not-an-instance TypeError naming the array type.
PyArrayObject* float64_array(PyObject* obj, int ndim) {
    if (!numpy_ready()) return nullptr;
    if (PyArray_Check(obj)) {
        auto* a = reinterpret_cast<PyArrayObject*>(obj);
        if (PyArray_NDIM(a) == ndim) {
            const Ref f8 =
                Ref::steal(reinterpret_cast<PyObject*>(PyArray_DescrFromType(NPY_DOUBLE)));
            if (PyArray_EquivTypes(PyArray_DESCR(a), reinterpret_cast<PyArray_Descr*>(f8.get())))
                return a;
        }
    }
    raise_not_instance(obj, "ndarray");
    return nullptr;
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
    PyArrayObject* a = float64_array(obj, 2);
    if (a == nullptr) return false;
    if (!PyArray_ISALIGNED(a) || !(PyArray_IS_C_CONTIGUOUS(a) || PyArray_IS_F_CONTIGUOUS(a))) {
        PyErr_SetString(PyExc_TypeError, "The given array is not contiguous or is misaligned.");
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
    out.owner_ = Ref::borrow(obj);
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
