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
    PyObject* numpy = PyImport_ImportModule("numpy");
    if (numpy == nullptr) return false;
    Py_DECREF(numpy);
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
            PyArray_Descr* f8 = PyArray_DescrFromType(NPY_DOUBLE);
            const bool equivalent = PyArray_EquivTypes(PyArray_DESCR(a), f8);
            Py_DECREF(f8);
            if (equivalent) return a;
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

PyObject* new_array(int ndim, npy_intp* dims, int type, const void* data, std::size_t bytes) {
    if (!numpy_ready()) return nullptr;
    PyObject* a = PyArray_SimpleNew(ndim, dims, type);
    if (a == nullptr) return nullptr;
    if (bytes != 0) std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(a)), data, bytes);
    return a;
}

PyObject* int64_array(const std::vector<std::uint64_t>& values) {
    npy_intp n = static_cast<npy_intp>(values.size());
    static_assert(sizeof(std::uint64_t) == sizeof(npy_int64));
    return new_array(1, &n, NPY_INT64, values.data(), values.size() * sizeof(std::uint64_t));
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
    Py_INCREF(obj);
    Py_XDECREF(out.owner_);
    out.owner_ = obj;
    out.view = MatrixView{static_cast<const double*>(PyArray_DATA(a)), rows, cols, rs, cs};
    return true;
}

PyObject* to_python(std::vector<double>&& values) {
    npy_intp n = static_cast<npy_intp>(values.size());
    return new_array(1, &n, NPY_DOUBLE, values.data(), values.size() * sizeof(double));
}

PyObject* to_python(Dense2&& values) {
    npy_intp dims[2] = {static_cast<npy_intp>(values.rows), static_cast<npy_intp>(values.cols)};
    internal_assert(values.data.size() == values.rows * values.cols,
                    "dense result has the wrong size");
    return new_array(2, dims, NPY_DOUBLE, values.data.data(), values.data.size() * sizeof(double));
}

PyObject* to_python(SparseMatrix&& m) {
    internal_assert(m.indptr.size() == m.n_rows + 1, "sparse result has the wrong indptr length");
    PyObject* indptr = int64_array(m.indptr);
    PyObject* indices = indptr ? int64_array(m.indices) : nullptr;
    PyObject* data = indices ? to_python(std::move(m.data)) : nullptr;
    PyObject* shape = data ? Py_BuildValue("(KK)", static_cast<unsigned long long>(m.n_rows),
                                           static_cast<unsigned long long>(m.n_cols))
                           : nullptr;
    PyObject* result = shape ? PyTuple_Pack(4, indptr, indices, data, shape) : nullptr;
    Py_XDECREF(indptr);
    Py_XDECREF(indices);
    Py_XDECREF(data);
    Py_XDECREF(shape);
    return result;
}

} // namespace quorvel::py
