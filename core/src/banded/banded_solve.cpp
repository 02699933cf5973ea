// Forward and backward substitution with a banded Cholesky factor, one or many right-hand sides.
#include "quorvel/banded.hpp"

#include <algorithm>

#include "quorvel/parallel.hpp"

namespace quorvel {

void solve_in_place(const BandedMatrix& l, std::span<double> v) {
    internal_assert(v.size() == l.n, "right-hand side has the wrong length");
    const std::size_t n = l.n;
    const std::size_t e = l.bandwidth;
    const double* const band = l.data.data();
    double* const x = v.data();

    // L y = v: row i of L is contiguous, so the forward sweep reads it directly.
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t first = i >= e ? i - e : 0;
        const double* const ri = band + e * (i + 1);
        double s = 0.0;
        for (std::size_t k = first; k < i; ++k) s += ri[k] * x[k];
        x[i] = (x[i] - s) / ri[i];
    }
    // L^T x = y: column i of L below the diagonal, L(k, i) at e (k + 1) + i, has stride e.
    for (std::size_t i = n; i-- > 0;) {
        const std::size_t last = std::min(n - 1, i + e);
        const double* p = band + e * (i + 2) + i;
        double s = 0.0;
        for (std::size_t k = i + 1; k <= last; ++k, p += e) s += *p * x[k];
        x[i] = (x[i] - s) / band[e * (i + 1) + i];
    }
}

void solve_rows(const BandedMatrix& l, double* y, std::size_t k) {
    const std::size_t n = l.n;
    if (n == 0) return;
    parallel_rows<NoScratch>(k, [&](std::size_t r, NoScratch&) {
        solve_in_place(l, std::span<double>(y + r * n, n));
    });
}

} // namespace quorvel
