#include "errors.hpp"

#include <new>
#include <string>

#include "interrupt.hpp"
#include "ref.hpp"

namespace quorvel::py {

PyObject* singular_error() {
    // Created once per process under the interpreter lock; reused by every module object.
    static PyObject* type = nullptr;
    if (type == nullptr) {
        type =
            PyErr_NewExceptionWithDoc("_quorvel.SingularError", nullptr, PyExc_ValueError, nullptr);
        if (type == nullptr) {
            PyErr_Clear();
            raise_internal("Failed to initialize new exception type.");
        }
    }
    return type;
}

void raise_core_error(const CoreError& error) {
    PyObject* type = PyExc_ValueError;
    if (error.kind == ErrorKind::Singular) {
        type = singular_error();
        if (type == nullptr) return;
    }
    const Ref message = Ref::steal(PyUnicode_FromStringAndSize(
        error.message.data(), static_cast<Py_ssize_t>(error.message.size())));
    if (message) PyErr_SetObject(type, message.get());
}

void raise_internal(const char* message) {
    PyErr_SetString(PyExc_SystemError, message);
}

void raise_from_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonErrorPending&) {
        // The Python exception is already set.
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_internal(e.what());
    } catch (...) {
        raise_internal("unknown internal failure");
    }
}

void add_note_to_pending(const char* note) {
#if PY_VERSION_HEX >= 0x030C0000
    Ref exc = Ref::steal(PyErr_GetRaisedException());
    if (!exc) return;
    if (!Ref::steal(PyObject_CallMethod(exc.get(), "add_note", "s", note))) PyErr_Clear();
    PyErr_SetRaisedException(exc.release());
#else
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    if (type == nullptr) return;
    PyErr_NormalizeException(&type, &value, &tb);
    if (value != nullptr) {
        // Notes exist from Python 3.11 on; older interpreters keep the bare exception.
        if (!Ref::steal(PyObject_CallMethod(value, "add_note", "s", note))) PyErr_Clear();
        if (tb != nullptr) PyException_SetTraceback(value, tb);
    }
    PyErr_Restore(type, value, tb);
#endif
}

void raise_not_instance(PyObject* obj, const char* expected) {
    if (obj == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    const Ref name = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
    if (name)
        PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(),
                     expected);
}

} // namespace quorvel::py
