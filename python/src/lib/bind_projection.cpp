// The Python class Projection: construction, the cross matrix, the dense operator, and
// application along the last axis with optional bounds.
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "binder.hpp"
#include "pickle.hpp"
#include "quorvel/format.hpp"
#include "quorvel/projection.hpp"
#include "quorvel/quadrature.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

// The `bounds` argument as given: converted only after the shape of f has been checked.
struct BoundsArgument {
    static constexpr bool accepts_none = true; // omitted and None both mean no bounds
    Ref object;
};

bool from_python(PyObject* obj, BoundsArgument& out) {
    out.object = Ref::borrow(obj);
    return true;
}

void raise_value_error(const std::string& message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
}

bool check_columns(std::size_t cols, std::size_t n_src) {
    if (cols == n_src) return true;
    raise_value_error("f has " + std::to_string(cols) +
                      " values along the transformed axis, expected " + std::to_string(n_src));
    return false;
}

// None, exactly "local", or a tuple (lo, hi) of reals with lo <= hi.
bool parse_bounds(PyObject* obj, Bounds& out) {
    out = Bounds{};
    if (obj == nullptr || obj == Py_None) return true;
    if (PyUnicode_Check(obj)) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
        if (text == nullptr) return false;
        const std::string_view s(text, static_cast<std::size_t>(size));
        if (s != "local") {
            raise_value_error("bounds must be 'local' or (lo, hi), got " + fmt_quoted(s));
            return false;
        }
        out.kind = Bounds::Kind::Local;
        return true;
    }
    if (!PyTuple_Check(obj)) {
        raise_not_instance(obj, "tuple");
        return false;
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(obj);
    if (n != 2) {
        raise_value_error("expected tuple of length 2, but got tuple of length " +
                          std::to_string(n));
        return false;
    }
    double lo = 0.0, hi = 0.0;
    if (!py::from_python(PyTuple_GET_ITEM(obj, 0), lo) ||
        !py::from_python(PyTuple_GET_ITEM(obj, 1), hi))
        return false;
    if (!(lo <= hi)) {
        raise_value_error("bounds need lo <= hi");
        return false;
    }
    out.kind = Bounds::Kind::Fixed;
    out.lo = lo;
    out.hi = hi;
    return true;
}

Result<Projection> make_impl(const SpacePtr& src, const SpacePtr& dst,
                             const std::optional<double>& weight) {
    QUORVEL_TRY_ASSIGN(const auto w, check_weight(weight));
    return without_gil([&] { return make_projection(ProjectionInputs{src, dst, w}); });
}

PyObject* apply_impl(const Projection& self, const ArrayView2& f, const BoundsArgument& given) {
    if (!check_columns(f.cols, self.n_src)) return nullptr;
    Bounds bounds;
    if (!parse_bounds(given.object.get(), bounds)) return nullptr;
    // Converting the bounds may have run Python code that changed f: read it only now.
    PinnedView pinned;
    if (!pin_view(f, "f", pinned) || !check_columns(pinned.view.cols, self.n_src)) return nullptr;
    auto y = without_gil([&] { return self.apply_last_axis(pinned.view, bounds); });
    return to_python(Dense2{pinned.view.rows, self.n_dst, std::move(y)});
}

Dense2 to_dense_impl(const Projection& self) {
    const ResultSizeNote size("dense matrix", self.n_dst, self.n_src);
    return Dense2{self.n_dst, self.n_src, without_gil([&] { return self.to_dense(); })};
}

SparseMatrix cross_impl(const Projection& self) {
    return self.cross;
}

std::uint64_t n_src(const Projection& self) {
    return self.n_src;
}
std::uint64_t n_dst(const Projection& self) {
    return self.n_dst;
}

PyObject* repr(PyObject* self) {
    const Projection& p = instance_value<Projection>(self);
    return PyUnicode_FromFormat("Projection(n_src=%zu, n_dst=%zu)", p.n_src, p.n_dst);
}

constexpr Entry projection_new{"Projection", "Projection(src, dst, weight=None)\n--\n\n"};
constexpr Entry apply_entry{
    "Projection",
    "apply_last_axis($self, f, bounds=None)\n--\n\nProjects each row of f, shape (k, n_src), "
    "returning (k, n_dst). `bounds` is None,\n\"local\", or (lo, hi)."};
constexpr Entry to_dense_entry{"Projection", "to_dense($self)\n--\n\n"};
constexpr Entry cross_entry{"Projection", "cross($self)\n--\n\n"};

PyMethodDef methods[] = {method_def<apply_entry, apply_impl>(),
                         noargs_def<to_dense_entry, to_dense_impl>(),
                         noargs_def<cross_entry, cross_impl>(),
                         reduce_method<Projection>(),
                         copy_method(),
                         deepcopy_method(),
                         {nullptr, nullptr, 0, nullptr}};
PyGetSetDef getset[] = {property_def<Projection, n_src>("n_src"),
                        property_def<Projection, n_dst>("n_dst"),
                        {nullptr, nullptr, nullptr, nullptr, nullptr}};
PyType_Slot slots[] = {{Py_tp_new, reinterpret_cast<void*>(constructor<projection_new, make_impl>)},
                       {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Projection>)},
                       {Py_tp_doc, const_cast<char*>(projection_new.doc)},
                       {Py_tp_repr, reinterpret_cast<void*>(repr)},
                       {Py_tp_methods, methods},
                       {Py_tp_getset, getset},
                       {0, nullptr}};
ClassDefinition projection_class{"Projection",
                                 {"quorvel._quorvel.Projection", sizeof(Instance<Projection>), 0,
                                  Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots}};

const Member members[] = {module_class<projection_class>()};

} // namespace

const Members projection_members = members;

PyTypeObject* projection_type() {
    return projection_class.in_call();
}

} // namespace quorvel::py
