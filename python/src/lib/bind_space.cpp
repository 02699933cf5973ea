// The Space class: not constructible from Python; instances come from its static constructors
// and methods. Each owns one shared immutable core Space.
#include "binder.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

Py_ssize_t space_length(PyObject* self) {
    return static_cast<Py_ssize_t>(instance_value<Space>(self).size());
}

PyMethodDef space_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot space_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Space>)},
    {Py_sq_length, reinterpret_cast<void*>(space_length)},
    {Py_tp_methods, space_methods},
    {0, nullptr},
};

PyType_Spec space_spec = {
    "quorvel._quorvel.Space",
    sizeof(Instance<Space>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    space_slots,
};

PyTypeObject* space_class = nullptr;

} // namespace

PyTypeObject* space_type() { return class_object_in_call(space_class, space_spec, "Space"); }

int add_space(PyObject* module) {
    return add_class(module, "Space", class_object(space_class, space_spec));
}

} // namespace quorvel::py
