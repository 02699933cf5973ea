#include "instance.hpp"

#include <string>

#include "errors.hpp"

namespace quorvel::py {

PyTypeObject* class_object(PyTypeObject*& slot, PyType_Spec& spec) {
    if (slot == nullptr) slot = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
    return slot;
}

PyTypeObject* class_object_in_call(PyTypeObject*& slot, PyType_Spec& spec, const char* name) {
    PyTypeObject* type = class_object(slot, spec);
    if (type == nullptr) {
        PyErr_Clear();
        raise_internal((std::string("An error occurred while initializing class ") + name).c_str());
    }
    return type;
}

} // namespace quorvel::py
