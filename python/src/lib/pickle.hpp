// Pickling and copying of Space, Projection and Fit (bind_pickle.cpp).
//
// __reduce__ returns (_from_bytes, (data,)): the private module function _from_bytes and the
// binary form of quorvel/serialize.hpp. A Space is written element by element; a Projection or
// a Fit as the spaces and options it was built from, and _from_bytes builds it again from them,
// so every result of the copy is bitwise that of the original. Instances are immutable, so
// __copy__ and __deepcopy__ return the instance itself.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "registry.hpp"

namespace quorvel::py {

// Entries of a class's method table; Core is Space, Projection or Fit.
template <class Core> PyMethodDef reduce_method();
PyMethodDef copy_method();
PyMethodDef deepcopy_method();

// Module attributes that are not part of __all__: _from_bytes.
extern const Members private_members;

// The class objects, for instances that _from_bytes builds (bind_projection.cpp, bind_fit.cpp).
PyTypeObject* projection_type();
PyTypeObject* fit_type();

} // namespace quorvel::py
