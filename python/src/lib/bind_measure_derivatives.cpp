// Python entry point of the measurement matrix with several parameter derivatives at once.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "binder.hpp"
#include "convert.hpp"
#include "options.hpp"
#include "quorvel/measure_derivatives.hpp"
#include "quorvel/quadrature.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

// The matrices as one flat tuple (W, dW_1, ..., dW_m).
PyObject* matrices_tuple(std::vector<SparseMatrix>&& matrices) {
    const Ref list = Ref::steal(to_python(List<SparseMatrix>{std::move(matrices)}));
    return list ? PyList_AsTuple(list.get()) : nullptr;
}

Outcome<PyObject*> measure_derivatives_impl(const SpacePtr& kernels, const SpacePtr& basis,
                                            const std::string& normalization,
                                            const Sequence<std::string>& parameters,
                                            const std::optional<double>& weight) {
    QUORVEL_TRY_ASSIGN(const auto norm, normalization_option(normalization));
    QUORVEL_TRY_ASSIGN(const auto w, check_weight(weight));
    std::vector<ParameterKind> kinds;
    kinds.reserve(parameters.items.size());
    for (const std::string& name : parameters.items) {
        QUORVEL_TRY_ASSIGN(const auto p, parameter_option(name));
        kinds.push_back(p);
    }
    QUORVEL_TRY_ASSIGN(auto matrices, without_gil([&] {
                           return measurement_derivatives(kernels->elements, *basis, norm, kinds,
                                                          w);
                       }));
    return matrices_tuple(std::move(matrices));
}

constexpr Entry measure_derivatives_entry{
    nullptr, "measure_derivatives(kernels, basis, normalization, parameters, weight=None)\n--\n\n"
             "(W, \xe2\x88\x82W/\xe2\x88\x82p\xe2\x82\x81, ...) for several parameters of the "
             "kernels; see `quorvel.measure_derivatives`."};

const Member members[] = {
    module_function<measure_derivatives_entry, measure_derivatives_impl>(),
};

} // namespace

const Members measure_derivatives_members = members;

} // namespace quorvel::py
