// Python entry points of the measurement matrices: measure and measure_derivative.
#include <optional>
#include <string>
#include <utility>

#include "binder.hpp"
#include "options.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/quadrature.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

Outcome<SparseMatrix> measure_impl(const SpacePtr& kernels, const SpacePtr& basis,
                                   const std::string& normalization,
                                   const std::optional<double>& weight) {
    QUORVEL_TRY_ASSIGN(const auto norm, normalization_option(normalization));
    QUORVEL_TRY_ASSIGN(const auto w, check_weight(weight));
    return without_gil([&] { return measurement_matrix(kernels->elements, *basis, norm, w); });
}

Outcome<std::pair<SparseMatrix, SparseMatrix>>
measure_derivative_impl(const SpacePtr& kernels, const SpacePtr& basis,
                        const std::string& normalization, const std::string& parameter,
                        const std::optional<double>& weight) {
    QUORVEL_TRY_ASSIGN(const auto norm, normalization_option(normalization));
    QUORVEL_TRY_ASSIGN(const auto w, check_weight(weight));
    QUORVEL_TRY_ASSIGN(const auto p, parameter_option(parameter));
    return without_gil(
        [&] { return measurement_derivative(kernels->elements, *basis, norm, p, w); });
}

constexpr Entry measure_entry{nullptr,
                              "measure(kernels, basis, normalization, weight=None)\n--\n\n"};
constexpr Entry measure_derivative_entry{
    nullptr, "measure_derivative(kernels, basis, normalization, parameter, weight=None)\n--\n\n"
             "(W, \xe2\x88\x82W/\xe2\x88\x82p) for the kernels' parameter p; see "
             "`quorvel.measure_derivative`."};

const Member members[] = {
    module_function<measure_entry, measure_impl>(),
    module_function<measure_derivative_entry, measure_derivative_impl>(),
};

} // namespace

const Members measure_members = members;

} // namespace quorvel::py
