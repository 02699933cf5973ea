// The extension module _quorvel: multi-phase initialisation with one execution step that adds
// every object, table by table, in registration order.
#include "interrupt.hpp"
#include "options.hpp"
#include "pickle.hpp"
#include "quorvel/parallel.hpp"
#include "quorvel/platform.hpp"
#include "quorvel/profile.hpp"
#include "registry.hpp"

#ifndef QUORVEL_VERSION
#error "QUORVEL_VERSION, the version in pyproject.toml, is defined by python/CMakeLists.txt"
#endif

namespace quorvel::py {

Ref new_function(PyObject* module, PyMethodDef& def) {
    const Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return {};
    return Ref::steal(PyCFunction_NewEx(&def, nullptr, module_name.get()));
}

namespace {

// The "add" operation: appends `name` to the module's __all__ (created as an empty list when the
// module has none), then sets the attribute. An empty `value` fails with its error pending.
int add_object(PyObject* module, const char* name, Ref value) {
    if (!value) return -1;
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
    return PyObject_SetAttrString(module, name, value.get());
}

Ref version(PyObject*) {
    return Ref::steal(PyUnicode_FromString(QUORVEL_VERSION));
}
Ref singular_error_class(PyObject*) {
    return Ref::borrow(singular_error());
}
Ref fwhm_per_sigma(PyObject*) {
    return Ref::steal(PyFloat_FromDouble(quorvel::constants::fwhm_per_sigma));
}

const Member constants[] = {
    {"__version__", version},
    {"SingularError", singular_error_class},
    {"FWHM_PER_SIGMA", fwhm_per_sigma},
};

int exec_module(PyObject* module) {
    try {
        if (!PyModule_Check(module)) {
            PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of 'module'",
                         Py_TYPE(module)->tp_name);
            return -1;
        }
        // Work arrays are freed and allocated again call after call: keep their pages.
        platform::keep_freed_memory();
        // Before anything can fork or be interrupted.
        watch_forks();
        if (!note_main_thread()) return -1;
        const Members tables[] = {
            constants,        space_members,          projection_members,
            fit_members,      inner_products_members, measure_members,
            evaluate_members, faddeeva_members,       covariance_members,
            measure_derivatives_members,
            selected_inverse_members,
        };
        for (const Members table : tables)
            for (const Member& member : table)
                if (add_object(module, member.name, member.make(module)) < 0) return -1;
        // Private attributes are set without entering __all__.
        for (const Members table :
             {private_members, vocabulary_members, covariance_private_members}) {
            for (const Member& member : table) {
                const Ref value = member.make(module);
                if (!value || PyObject_SetAttrString(module, member.name, value.get()) < 0)
                    return -1;
            }
        }
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
