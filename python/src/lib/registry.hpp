// Registration functions of the module's objects, one per object, called by exec_module in the
// registration order. Each adds its object with add_object / add_class / add_function and
// returns 0, or -1 with an exception pending.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvel::py {

int add_space(PyObject* module);              // bind_space.cpp
int add_projection(PyObject* module);         // bind_projection.cpp
int add_fit(PyObject* module);                // bind_fit.cpp
int add_inner_products(PyObject* module);     // bind_inner_products.cpp
int add_measure(PyObject* module);            // bind_measure.cpp
int add_measure_derivative(PyObject* module); // bind_measure.cpp
int add_evaluate(PyObject* module);           // bind_evaluate.cpp
int add_faddeeva_re(PyObject* module);        // bind_faddeeva.cpp
int add_covariance_matrix(PyObject* module);  // bind_covariance.cpp
int add_covariance_diagonal(PyObject* module); // bind_covariance.cpp
int add_covariance_length_derivatives(PyObject* module); // bind_covariance.cpp

} // namespace quorvel::py
