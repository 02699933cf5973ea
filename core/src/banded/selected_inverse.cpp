// The band of the inverse of a banded symmetric positive definite matrix from its Cholesky
// factor, and the conversions between the factor and the column band layout of LAPACK.
#include <algorithm>
#include <cmath>
#include <string>

#include "quorvel/banded.hpp"
#include "quorvel/format.hpp"

namespace quorvel {

Result<BandedMatrix> banded_cholesky_of_band(const MatrixView& ab) {
    const std::size_t n = ab.cols;
    internal_assert(ab.rows > 0, "band needs a diagonal");
    const std::size_t e = ab.rows - 1;
    // Every stored value must be finite: a NaN below the diagonal would otherwise travel into
    // the factor without reaching a pivot test.
    for (std::size_t d = 0; d <= e; ++d) {
        for (std::size_t j = 0; j + d < n; ++j) {
            const double v = ab(d, j);
            if (!std::isfinite(v))
                return invalid_input("band must be finite, got " + fmt_fixed(v) + " at row " +
                                     std::to_string(d) + ", column " + std::to_string(j));
        }
    }
    BandedMatrix l{n, e, std::vector<double>(n * (e + 1), 0.0)};
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = r >= e ? r - e : 0; c <= r; ++c)
            l.data[e * (r + 1) + c] = ab(r - c, c);
    std::vector<double> diagonal;
    QUORVEL_TRY(banded_cholesky_in_place(l, diagonal));
    return l;
}

std::vector<double> lower_band(const BandedMatrix& m) {
    const std::size_t n = m.n;
    const std::size_t e = m.bandwidth;
    std::vector<double> ab(n * (e + 1), 0.0);
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = r >= e ? r - e : 0; c <= r; ++c)
            ab[(r - c) * n + c] = m.data[e * (r + 1) + c];
    return ab;
}

std::vector<double> selected_inverse(const BandedMatrix& l) {
    const std::size_t n = l.n;
    const std::size_t e = l.bandwidth;
    const double* const f = l.data.data();
    std::vector<double> out(n * (e + 1), 0.0);
    double* const s = out.data();
    // L(r, c) in the factor's row blocks; S(r, c), r >= c, in LAPACK's column band.
    const auto factor = [e](std::size_t r, std::size_t c) { return e * (r + 1) + c; };
    const auto band = [n](std::size_t r, std::size_t c) { return (r - c) * n + c; };

    // Takahashi's recurrence: L^T S = L^{-1} is upper triangular with diagonal 1 / L(j, j), so
    // for i >= j, S(i, j) = (delta_ij / L(j, j) - sum_{k = j+1 .. j+e} L(k, j) S(k, i)) / L(j, j).
    // Column j needs only the entries of S below and right of it within the band, so the columns
    // are finished from the last to the first, and within a column from the bottom up.
    for (std::size_t j = n; j-- > 0;) {
        const std::size_t last = std::min(n - 1, j + e);
        const double ljj = f[factor(j, j)];
        for (std::size_t i = last; i > j; --i) {
            double sum = 0.0;
            for (std::size_t k = j + 1; k <= last; ++k)
                sum += f[factor(k, j)] * s[k >= i ? band(k, i) : band(i, k)];
            s[band(i, j)] = -sum / ljj;
        }
        double sum = 0.0;
        for (std::size_t k = j + 1; k <= last; ++k)
            sum += f[factor(k, j)] * s[band(k, j)];
        s[band(j, j)] = (1.0 / ljj - sum) / ljj;
    }
    return out;
}

std::vector<double> selected_inverse_derivative(const BandedMatrix& l, const std::vector<double>& s,
                                                const MatrixView& direction) {
    const std::size_t n = l.n;
    const std::size_t e = l.bandwidth;
    const double* const f = l.data.data();
    const auto factor = [e](std::size_t r, std::size_t c) { return e * (r + 1) + c; };
    const auto band = [n](std::size_t r, std::size_t c) { return (r - c) * n + c; };

    // The Cholesky-Crout recurrence differentiated entry by entry: dL stays in the band of L.
    std::vector<double> dl(n * (e + 1), 0.0);
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t first = j >= e ? j - e : 0;
        for (std::size_t c = first; c < j; ++c) {
            double ds = 0.0;
            for (std::size_t k = first; k < c; ++k)
                ds += dl[factor(j, k)] * f[factor(c, k)] + f[factor(j, k)] * dl[factor(c, k)];
            dl[factor(j, c)] =
                (direction(j - c, c) - ds - f[factor(j, c)] * dl[factor(c, c)]) / f[factor(c, c)];
        }
        double dw = direction(0, j);
        for (std::size_t k = first; k < j; ++k)
            dw -= 2.0 * f[factor(j, k)] * dl[factor(j, k)];
        dl[factor(j, j)] = 0.5 * dw / f[factor(j, j)];
    }

    // Takahashi's recurrence differentiated: the same order, columns from the last.
    std::vector<double> out(n * (e + 1), 0.0);
    double* const ds = out.data();
    const auto sym = [&](const double* m, std::size_t a, std::size_t b) {
        return m[a >= b ? band(a, b) : band(b, a)];
    };
    for (std::size_t j = n; j-- > 0;) {
        const std::size_t last = std::min(n - 1, j + e);
        const double ljj = f[factor(j, j)];
        const double dljj = dl[factor(j, j)];
        for (std::size_t i = last; i > j; --i) {
            double sum = 0.0;
            for (std::size_t k = j + 1; k <= last; ++k)
                sum += dl[factor(k, j)] * sym(s.data(), k, i) + f[factor(k, j)] * sym(ds, k, i);
            ds[band(i, j)] = (-sum - s[band(i, j)] * dljj) / ljj;
        }
        double sum = 0.0;
        for (std::size_t k = j + 1; k <= last; ++k)
            sum += dl[factor(k, j)] * s[band(k, j)] + f[factor(k, j)] * ds[band(k, j)];
        ds[band(j, j)] = (-dljj / (ljj * ljj) - sum - s[band(j, j)] * dljj) / ljj;
    }
    return out;
}

} // namespace quorvel
