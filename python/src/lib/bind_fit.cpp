// The Python class Fit: construction, the design matrix, the dense operator, and application
// along the last axis.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "binder.hpp"
#include "options.hpp"
#include "pickle.hpp"
#include "quorvel/fit.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/quadrature.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

Outcome<Fit> make_impl(const SpacePtr& kernels, const SpacePtr& model,
                       const std::string& normalization, const double& smoothing,
                       const std::string& penalty, const std::uint64_t& order,
                       const std::optional<double>& weight) {
    QUORVEL_TRY_ASSIGN(const auto norm, normalization_option(normalization));
    QUORVEL_TRY_ASSIGN(const auto w, check_weight(weight));
    QUORVEL_TRY_ASSIGN(const auto kind, penalty_option(penalty));
    const FitInputs inputs{kernels, model, norm, smoothing, Penalty{kind, order}, w};
    return without_gil([&] { return make_fit(inputs); });
}

PyObject* apply_impl(const Fit& self, const ArrayView2& data) {
    PinnedView pinned;
    if (!pin_view(data, "data", pinned)) return nullptr;
    if (pinned.view.cols != self.n_data) {
        PyErr_SetString(PyExc_ValueError, ("data has " + std::to_string(pinned.view.cols) +
                                           " values along the transformed axis, expected " +
                                           std::to_string(self.n_data))
                                              .c_str());
        return nullptr;
    }
    auto u = without_gil([&] { return self.apply_last_axis(pinned.view); });
    return to_python(Dense2{pinned.view.rows, self.n_model, std::move(u)});
}

Dense2 to_dense_impl(const Fit& self) {
    const ResultSizeNote size("dense matrix", self.n_model, self.n_data);
    return Dense2{self.n_model, self.n_data, without_gil([&] { return self.to_dense(); })};
}

SparseMatrix design_impl(const Fit& self) {
    return self.design;
}

std::uint64_t n_data(const Fit& self) {
    return self.n_data;
}
std::uint64_t n_model(const Fit& self) {
    return self.n_model;
}

PyObject* repr(PyObject* self) {
    const Fit& f = instance_value<Fit>(self);
    return PyUnicode_FromFormat("Fit(n_data=%zu, n_model=%zu)", f.n_data, f.n_model);
}

constexpr Entry fit_new{
    "Fit", "Fit(kernels, model, normalization, smoothing, penalty, order, weight=None)\n--\n\n"};
constexpr Entry apply_entry{"Fit",
                            "apply_last_axis($self, data)\n--\n\nFits each row of data, shape (k, "
                            "n_data), returning coefficients (k, n_model)."};
constexpr Entry to_dense_entry{"Fit", "to_dense($self)\n--\n\n"};
constexpr Entry design_entry{"Fit", "design($self)\n--\n\n"};

PyMethodDef methods[] = {method_def<apply_entry, apply_impl>(),
                         noargs_def<to_dense_entry, to_dense_impl>(),
                         noargs_def<design_entry, design_impl>(),
                         reduce_method<Fit>(),
                         copy_method(),
                         deepcopy_method(),
                         {nullptr, nullptr, 0, nullptr}};
PyGetSetDef getset[] = {property_def<Fit, n_data>("n_data"),
                        property_def<Fit, n_model>("n_model"),
                        {nullptr, nullptr, nullptr, nullptr, nullptr}};
PyType_Slot slots[] = {{Py_tp_new, reinterpret_cast<void*>(constructor<fit_new, make_impl>)},
                       {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Fit>)},
                       {Py_tp_doc, const_cast<char*>(fit_new.doc)},
                       {Py_tp_repr, reinterpret_cast<void*>(repr)},
                       {Py_tp_methods, methods},
                       {Py_tp_getset, getset},
                       {0, nullptr}};
ClassDefinition fit_class{"Fit",
                          {"quorvel._quorvel.Fit", sizeof(Instance<Fit>), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots}};

const Member members[] = {module_class<fit_class>()};

} // namespace

const Members fit_members = members;

PyTypeObject* fit_type() {
    return fit_class.in_call();
}

} // namespace quorvel::py
