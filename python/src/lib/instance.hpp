// Python classes whose instances own one immutable core value.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <new>
#include <utility>

namespace quorvel::py {

// The layout of every instance: the object header and one shared, immutable core value.
template <class Core> struct Instance {
    PyObject_HEAD std::shared_ptr<const Core> value;
};

template <class Core> const Core& instance_value(PyObject* self) {
    return *reinterpret_cast<Instance<Core>*>(self)->value;
}

template <class Core> const std::shared_ptr<const Core>& instance_pointer(PyObject* self) {
    return reinterpret_cast<Instance<Core>*>(self)->value;
}

// A new instance of `type` owning `value`; nullptr with an exception set on failure.
template <class Core>
PyObject* new_instance(PyTypeObject* type, std::shared_ptr<const Core> value) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&reinterpret_cast<Instance<Core>*>(self)->value)
        std::shared_ptr<const Core>(std::move(value));
    return self;
}

// Py_tp_dealloc of an instance class.
template <class Core> void dealloc_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<Instance<Core>*>(self)->value.~shared_ptr();
    type->tp_free(self);
    Py_DECREF(type);
}

// The process-wide class object of `spec`, created on first use and kept in `slot`. On failure
// returns nullptr with the creation error pending.
PyTypeObject* class_object(PyTypeObject*& slot, PyType_Spec& spec);

// As class_object, but for use inside a call: a failure becomes the internal failure
// "An error occurred while initializing class {name}".
PyTypeObject* class_object_in_call(PyTypeObject*& slot, PyType_Spec& spec, const char* name);

// One class of the module: its name, its spec, and its process-wide object once created.
struct ClassDefinition {
    const char* name;
    PyType_Spec spec;
    PyTypeObject* object = nullptr;

    // At module execution a failure to create the class fails the import with that failure.
    PyTypeObject* at_import() { return class_object(object, spec); }
    // Inside a call (a method that returns a new instance).
    PyTypeObject* in_call() { return class_object_in_call(object, spec, name); }
};

} // namespace quorvel::py
