// evaluate: the point-evaluation matrix of a basis at given points, lock released.
#include "binder.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

Result<SparseMatrix> evaluate_impl(const SpacePtr& basis, const std::vector<double>& x) {
    return without_gil([&] { return evaluate_points(*basis, x); });
}

constexpr Entry evaluate_entry{nullptr, "evaluate(basis, x)\n--\n\n"};
PyMethodDef evaluate_def = function_def<evaluate_entry, evaluate_impl>();

} // namespace

int add_evaluate(PyObject* module) {
    return add_function(module, evaluate_def);
}

} // namespace quorvel::py
