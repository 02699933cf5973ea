// selected_inverse: the Cholesky factor of a banded symmetric matrix and the band of its
// inverse, lock released.
#include <utility>

#include "binder.hpp"
#include "quorvel/banded.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

Result<std::pair<Dense2, Dense2>> factor_and_invert(const MatrixView& band) {
    if (band.rows == 0) return invalid_input("band needs at least one row (the diagonal)");
    return without_gil([&]() -> Result<std::pair<Dense2, Dense2>> {
        QUORVEL_TRY_ASSIGN(const BandedMatrix l, banded_cholesky_of_band(band));
        return std::pair{Dense2{band.rows, band.cols, lower_band(l)},
                         Dense2{band.rows, band.cols, selected_inverse(l)}};
    });
}

// The band is read in place (no copy of a large argument), once every argument is converted.
PyObject* selected_inverse_impl(const ArrayView2& band) {
    PinnedView pinned;
    if (!pin_view(band, "band", pinned)) return nullptr;
    return to_python(factor_and_invert(pinned.view));
}

constexpr Entry selected_inverse_entry{
    nullptr, "selected_inverse(band)\n--\n\nThe Cholesky factor of a symmetric positive definite "
             "banded matrix and the same band of its inverse, both in LAPACK's lower band form."};
const Member members[] = {module_function<selected_inverse_entry, selected_inverse_impl>()};

} // namespace

const Members selected_inverse_members = members;

} // namespace quorvel::py
