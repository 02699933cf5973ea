// The objects that module execution adds: one member table per bind_*.cpp. exec_module in
// module.cpp walks the tables in registration order and adds every member with the "add"
// operation, so a new module function is one line in its file's table.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

#include "binder.hpp"
#include "instance.hpp"
#include "ref.hpp"

namespace quorvel::py {

// One module attribute: its name and how to make its object (a new reference, or an empty Ref
// with the Python exception pending).
struct Member {
    const char* name;
    Ref (*make)(PyObject* module);
};
using Members = std::span<const Member>;

extern const Members space_members;          // bind_space.cpp: Space
extern const Members projection_members;     // bind_projection.cpp: Projection
extern const Members fit_members;            // bind_fit.cpp: Fit
extern const Members inner_products_members; // bind_inner_products.cpp: inner_products
extern const Members measure_members;        // bind_measure.cpp: measure, measure_derivative
extern const Members measure_derivatives_members; // bind_measure_derivatives.cpp
extern const Members evaluate_members;       // bind_evaluate.cpp: evaluate
extern const Members faddeeva_members;       // bind_faddeeva.cpp: faddeeva_re
extern const Members covariance_members;     // bind_covariance.cpp: the covariance functions
extern const Members selected_inverse_members; // bind_selected_inverse.cpp: selected_inverse
// Private attributes (not in __all__).
extern const Members covariance_private_members; // bind_covariance.cpp: the derivative blocks

// A function object for `def` whose __module__ is the module's name.
Ref new_function(PyObject* module, PyMethodDef& def);

template <const Entry& E, auto Impl> Ref make_function(PyObject* module) {
    static PyMethodDef def = function_def<E, Impl>();
    return new_function(module, def);
}

template <ClassDefinition& C> Ref make_class(PyObject*) {
    return Ref::borrow(reinterpret_cast<PyObject*>(C.at_import()));
}

// The table member of a module function, named by its text signature.
template <const Entry& E, auto Impl> constexpr Member module_function() {
    return {entry_name<E>.data(), &make_function<E, Impl>};
}

// The table member of a class.
template <ClassDefinition& C> constexpr Member module_class() {
    return {C.name, &make_class<C>};
}

} // namespace quorvel::py
