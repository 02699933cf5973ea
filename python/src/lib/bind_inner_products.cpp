// inner_products: the sparse matrix of inner products of two spaces, lock released.
#include <optional>

#include "binder.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/quadrature.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

Result<SparseMatrix> inner_products_impl(const SpacePtr& a, const SpacePtr& b,
                                         const std::optional<double>& weight) {
    QUORVEL_TRY_ASSIGN(const auto w, check_weight(weight));
    return without_gil([&] { return inner_product_matrix(a->elements, *b, w); });
}

constexpr Entry inner_products_entry{nullptr, "inner_products(a, b, weight=None)\n--\n\n"};
const Member members[] = {module_function<inner_products_entry, inner_products_impl>()};

} // namespace

const Members inner_products_members = members;

} // namespace quorvel::py
