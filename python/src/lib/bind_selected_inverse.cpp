// selected_inverse: the Cholesky factor of a banded symmetric matrix, the band of its inverse
// and optionally the derivative of that band along a direction, lock released.
#include <cmath>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "binder.hpp"
#include "quorvel/banded.hpp"
#include "quorvel/format.hpp"
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

Result<std::tuple<Dense2, Dense2, Dense2>> with_derivative(const MatrixView& band,
                                                         const MatrixView& direction) {
    if (band.rows == 0) return invalid_input("band needs at least one row (the diagonal)");
    if (direction.rows != band.rows || direction.cols != band.cols)
        return invalid_input("direction must have the shape of band, (" +
                             std::to_string(band.rows) + ", " + std::to_string(band.cols) +
                             "), got (" + std::to_string(direction.rows) + ", " +
                             std::to_string(direction.cols) + ")");
    return without_gil([&]() -> Result<std::tuple<Dense2, Dense2, Dense2>> {
        for (std::size_t d = 0; d < direction.rows; ++d)
            for (std::size_t j = 0; j + d < direction.cols; ++j)
                if (!std::isfinite(direction(d, j)))
                    return invalid_input("direction must be finite, got " +
                                         fmt_fixed(direction(d, j)) + " at row " +
                                         std::to_string(d) + ", column " + std::to_string(j));
        QUORVEL_TRY_ASSIGN(const BandedMatrix l, banded_cholesky_of_band(band));
        std::vector<double> s = selected_inverse(l);
        std::vector<double> ds = selected_inverse_derivative(l, s, direction);
        return std::tuple{Dense2{band.rows, band.cols, lower_band(l)},
                          Dense2{band.rows, band.cols, std::move(s)},
                          Dense2{band.rows, band.cols, std::move(ds)}};
    });
}

// The bands are read in place (no copy of a large argument), once every argument is converted.
PyObject* selected_inverse_impl(const ArrayView2& band,
                                const std::optional<ArrayView2>& direction) {
    PinnedView pinned;
    if (!pin_view(band, "band", pinned)) return nullptr;
    if (!direction) return to_python(factor_and_invert(pinned.view));
    PinnedView pinned_direction;
    if (!pin_view(*direction, "direction", pinned_direction)) return nullptr;
    return to_python(with_derivative(pinned.view, pinned_direction.view));
}

constexpr Entry selected_inverse_entry{
    nullptr,
    "selected_inverse(band, direction=None)\n--\n\nThe Cholesky factor of a symmetric positive "
    "definite banded matrix and the same band of its inverse, both in LAPACK's lower band form. "
    "With a direction dA (a symmetric band of the same shape), also the derivative of that band "
    "of the inverse along dA, the band of -A^-1 dA A^-1."};
const Member members[] = {module_function<selected_inverse_entry, selected_inverse_impl>()};

} // namespace

const Members selected_inverse_members = members;

} // namespace quorvel::py
