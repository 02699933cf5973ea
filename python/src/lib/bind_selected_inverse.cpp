// selected_inverse: the Cholesky factor of a banded symmetric matrix and the band of its
// inverse, lock released.
#include <utility>

#include "binder.hpp"
#include "quorvel/banded.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

Result<std::pair<Dense2, Dense2>> selected_inverse_impl(const Array2& band) {
    if (band.rows == 0) return invalid_input("band needs at least one row (the diagonal)");
    const std::size_t e = band.rows - 1;
    const std::size_t n = band.cols;
    return without_gil([&]() -> Result<std::pair<Dense2, Dense2>> {
        QUORVEL_TRY_ASSIGN(const BandedMatrix l, banded_cholesky_of_band(band.data, n, e));
        const BandedMatrix s = selected_inverse(l);
        return std::pair{Dense2{e + 1, n, lower_band(l)}, Dense2{e + 1, n, lower_band(s)}};
    });
}

constexpr Entry selected_inverse_entry{
    nullptr, "selected_inverse(band)\n--\n\nThe Cholesky factor of a symmetric positive definite "
             "banded matrix and the same band of its inverse, both in LAPACK's lower band form."};
const Member members[] = {module_function<selected_inverse_entry, selected_inverse_impl>()};

} // namespace

const Members selected_inverse_members = members;

} // namespace quorvel::py
