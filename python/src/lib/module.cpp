// The extension module _quorvel: multi-phase initialisation with one execution step that adds
// every object, in registration order.
#include "binder.hpp"
#include "registry.hpp"

namespace quorvel::py {

int add_object(PyObject* module, const char* name, PyObject* value) {
    if (value == nullptr) return -1;
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            Py_DECREF(value);
            return -1;
        }
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            Py_DECREF(value);
            return -1;
        }
    }
    PyObject* key = PyUnicode_FromString(name);
    const bool appended = key != nullptr && PyList_Check(all) && PyList_Append(all, key) == 0;
    Py_XDECREF(key);
    Py_DECREF(all);
    if (!appended) {
        PyErr_Clear();
        raise_internal("could not append __name__ to __all__");
        Py_DECREF(value);
        return -1;
    }
    const int r = PyObject_SetAttrString(module, name, value);
    Py_DECREF(value);
    return r;
}

int add_function(PyObject* module, PyMethodDef& def) {
    PyObject* module_name = PyModule_GetNameObject(module);
    if (module_name == nullptr) return -1;
    PyObject* f = PyCFunction_NewEx(&def, nullptr, module_name);
    Py_DECREF(module_name);
    return add_object(module, def.ml_name, f);
}

int add_class(PyObject* module, const char* name, PyTypeObject* type) {
    if (type == nullptr) return -1;
    Py_INCREF(type);
    return add_object(module, name, reinterpret_cast<PyObject*>(type));
}

namespace {

int exec_module(PyObject* module) {
    try {
        if (!PyModule_Check(module)) {
            PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of 'module'",
                         Py_TYPE(module)->tp_name);
            return -1;
        }
        if (add_object(module, "__version__", PyUnicode_FromString("0.2.1")) < 0) return -1;
        PyObject* singular = singular_error();
        Py_XINCREF(singular);
        if (add_object(module, "SingularError", singular) < 0) return -1;
        if (add_object(module, "FWHM_PER_SIGMA", PyFloat_FromDouble(2.3548200450309493)) < 0)
            return -1;
        if (add_space(module) < 0) return -1;
        if (add_projection(module) < 0) return -1;
        if (add_fit(module) < 0) return -1;
        if (add_inner_products(module) < 0) return -1;
        if (add_measure(module) < 0) return -1;
        if (add_measure_derivative(module) < 0) return -1;
        if (add_evaluate(module) < 0) return -1;
        if (add_faddeeva_re(module) < 0) return -1;
        if (add_covariance_matrix(module) < 0) return -1;
        if (add_covariance_diagonal(module) < 0) return -1;
        if (add_covariance_length_derivatives(module) < 0) return -1;
        return 0;
    } catch (...) {
        raise_from_current_exception();
        return -1;
    }
}

PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "_quorvel", "", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

} // namespace

} // namespace quorvel::py

PyMODINIT_FUNC PyInit__quorvel(void) {
    return PyModuleDef_Init(&quorvel::py::definition);
}
