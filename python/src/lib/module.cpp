// The extension module _quorvel: multi-phase initialisation with one execution step that adds
// every object, in registration order.
#include "binder.hpp"
#include "registry.hpp"

namespace quorvel::py {

int add_object(PyObject* module, const char* name, PyObject* value) {
    const Ref owned = Ref::steal(value);
    if (!owned) return -1;
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    const Ref key = Ref::steal(PyUnicode_FromString(name));
    if (!key || !PyList_Check(all.get()) || PyList_Append(all.get(), key.get()) != 0) {
        PyErr_Clear();
        raise_internal("could not append __name__ to __all__");
        return -1;
    }
    return PyObject_SetAttrString(module, name, owned.get());
}

int add_function(PyObject* module, PyMethodDef& def) {
    const Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    return add_object(module, def.ml_name, PyCFunction_NewEx(&def, nullptr, module_name.get()));
}

int add_class(PyObject* module, const char* name, PyTypeObject* type) {
    return add_object(module, name, Ref::borrow(reinterpret_cast<PyObject*>(type)).release());
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
        if (add_object(module, "SingularError", Ref::borrow(singular_error()).release()) < 0)
            return -1;
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
