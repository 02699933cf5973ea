// evaluate: the point-evaluation matrix of a basis at given points, lock released.
#include "binder.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

Outcome<SparseMatrix> evaluate_impl(const SpacePtr& basis, const std::vector<double>& x) {
    return with_nonfinite_note(without_gil([&] { return evaluate_points(*basis, x); }),
                               "delta position must be finite", "x", x);
}

constexpr Entry evaluate_entry{nullptr, "evaluate(basis, x)\n--\n\n"};
const Member members[] = {module_function<evaluate_entry, evaluate_impl>()};

} // namespace

const Members evaluate_members = members;

} // namespace quorvel::py
