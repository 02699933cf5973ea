// Pickling and copying (pickle.hpp): the __reduce__, __copy__ and __deepcopy__ methods of the
// three classes and the reconstructor _from_bytes.
#include "pickle.hpp"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "binder.hpp"
#include "quorvel/overloaded.hpp"
#include "quorvel/serialize.hpp"

namespace quorvel::py {

namespace {

// A bytes-like argument (bytes, bytearray, memoryview, ...), copied.
struct ByteString {
    std::vector<std::uint8_t> bytes;
};

bool from_python(PyObject* obj, ByteString& out) {
    if (!PyObject_CheckBuffer(obj)) {
        raise_not_instance(obj, "bytes");
        return false;
    }
    // Any layout (a strided memoryview too), copied in C order.
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_FULL_RO) < 0) return false;
    out.bytes.resize(static_cast<std::size_t>(view.len));
    const int copied = PyBuffer_ToContiguous(out.bytes.data(), &view, view.len, 'C');
    PyBuffer_Release(&view);
    return copied == 0;
}

Result<Bytes> serialized(const Space& space) {
    return serialize(space);
}
Result<Bytes> serialized(const Projection& projection) {
    return serialize(projection.inputs);
}
Result<Bytes> serialized(const Fit& fit) {
    return serialize(fit.inputs);
}

// The reconstructor as pickle finds it: the attribute _from_bytes of the module that defines the
// class of `self`.
Ref reconstructor(PyObject* self) {
    const Ref module_name = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "__module__"));
    if (!module_name) return {};
    const Ref module = Ref::steal(PyImport_Import(module_name.get()));
    if (!module) return {};
    return Ref::steal(PyObject_GetAttrString(module.get(), "_from_bytes"));
}

template <class Core> PyObject* reduce(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const Core& value = instance_value<Core>(self);
        auto bytes = without_gil([&] { return serialized(value); });
        if (!bytes) {
            raise_core_error(bytes.error());
            return nullptr;
        }
        const Ref data = Ref::steal(PyBytes_FromStringAndSize(
            reinterpret_cast<const char*>(bytes->data()), static_cast<Py_ssize_t>(bytes->size())));
        if (!data) return nullptr;
        const Ref load = reconstructor(self);
        if (!load) return nullptr;
        return Py_BuildValue("(O(O))", load.get(), data.get());
    });
}

PyObject* copy_self(PyObject* self, PyObject*) {
    return Py_NewRef(self);
}

PyObject* deepcopy_self(PyObject* self, PyObject*) {
    return Py_NewRef(self);
}

template <class Core> PyObject* instance_of(PyTypeObject* type, Result<Core>&& made) {
    if (type == nullptr) return nullptr;
    if (!made) {
        raise_core_error(made.error());
        return nullptr;
    }
    return new_instance<Core>(type, std::make_shared<const Core>(std::move(*made)));
}

// Parsing and building run without the interpreter lock, on the owned copy of the bytes.
PyObject* from_bytes_impl(const ByteString& data) {
    auto decoded = without_gil([&] { return deserialize(data.bytes); });
    if (!decoded) {
        raise_core_error(decoded.error());
        return nullptr;
    }
    return std::visit(
        Overloaded{
            [](Space& space) { return to_python(std::move(space)); },
            [](ProjectionInputs& inputs) {
                return instance_of(projection_type(),
                                   without_gil([&] { return make_projection(inputs); }));
            },
            [](FitInputs& inputs) {
                return instance_of(fit_type(), without_gil([&] { return make_fit(inputs); }));
            },
        },
        *decoded);
}

constexpr Entry from_bytes_entry{
    nullptr, "_from_bytes(data)\n--\n\nThe Space, Projection or Fit whose binary form `data` is, "
             "as made by its __reduce__."};

const Member members[] = {module_function<from_bytes_entry, from_bytes_impl>()};

} // namespace

template <class Core> PyMethodDef reduce_method() {
    return {"__reduce__", reinterpret_cast<PyCFunction>(&reduce<Core>), METH_NOARGS,
            "__reduce__($self, /)\n--\n\nThe reconstructor and the binary form, for pickle."};
}
template PyMethodDef reduce_method<Space>();
template PyMethodDef reduce_method<Projection>();
template PyMethodDef reduce_method<Fit>();

PyMethodDef copy_method() {
    return {"__copy__", &copy_self, METH_NOARGS,
            "__copy__($self, /)\n--\n\nThe instance itself: instances are immutable."};
}

PyMethodDef deepcopy_method() {
    return {"__deepcopy__", &deepcopy_self, METH_O,
            "__deepcopy__($self, memo, /)\n--\n\nThe instance itself: instances are immutable."};
}

const Members private_members = members;

} // namespace quorvel::py
