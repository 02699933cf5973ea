// Point atoms in blocks of columns: per dimension the exponent a, the factor p and the length
// derivative factor r of each pair's kernel, then one exponential of the summed exponents, all in
// loops the compiler vectorises.
#include "point_atoms.hpp"

#include <algorithm>
#include <cmath>
#include <variant>

#include "quorvel/vector_math.hpp"

namespace quorvel {
namespace {

constexpr std::size_t block = 256;

// The kernel's terms at offset t: k = p exp(a) and its derivative -t k'(t) = r exp(a), the
// formulas of the line-shape kinds written around one exponential.
struct Terms {
    double a, p, r;
};
template <PointForm F> inline Terms terms(double t, double length) {
    if constexpr (F == PointForm::SquaredExponential) {
        const double u = t / length;
        return {u * (u * -0.5), 1.0, u * u};
    } else if constexpr (F == PointForm::Matern12) {
        const double m = std::fabs(t) / length;
        return {-m, 1.0, m};
    } else if constexpr (F == PointForm::Matern32) {
        const double m = std::fabs(t) * constants::sqrt3 / length;
        return {-m, m + 1.0, m * m};
    } else {
        const double m = std::fabs(t) * constants::sqrt5 / length;
        return {-m, m + 1.0 + m * m / 3.0, m * m * (m + 1.0) / 3.0};
    }
}

// Adds one dimension's exponents to `exponent` and multiplies its factors into `factor` for the
// columns of a block; with `Keep` also stores this dimension's p and r in `factors`/`slopes`.
// Outside the window the factor is 0 and the exponent 0 (whatever the terms were there), so the
// loop has no branch and vectorises.
template <PointForm F, bool Keep>
[[gnu::always_inline]] inline void
add_dimension(double xi, double length, double window, const double* __restrict xb, std::size_t m,
              double* __restrict exponent, double* __restrict factor, double* __restrict factors,
              double* __restrict slopes) {
    for (std::size_t k = 0; k < m; ++k) {
        const double t = xi - xb[k];
        const bool inside = std::fabs(t) <= window;
        const Terms v = terms<F>(t, length);
        exponent[k] += inside ? v.a : 0.0;
        const double p = inside ? v.p : 0.0;
        factor[k] *= p;
        if constexpr (Keep) {
            factors[k] = p;
            slopes[k] = inside ? v.r : 0.0;
        }
    }
}

template <bool Keep>
[[gnu::always_inline]] inline void add_dimension(const PointDimension& dim, double xi,
                                                 const double* xb, std::size_t m,
                                                 double* exponent, double* factor,
                                                 double* factors, double* slopes) {
    const double l = dim.length, w = dim.window;
    switch (dim.form) {
    case PointForm::SquaredExponential:
        return add_dimension<PointForm::SquaredExponential, Keep>(xi, l, w, xb, m, exponent, factor, factors,
                                                        slopes);
    case PointForm::Matern12:
        return add_dimension<PointForm::Matern12, Keep>(xi, l, w, xb, m, exponent, factor, factors,
                                                        slopes);
    case PointForm::Matern32:
        return add_dimension<PointForm::Matern32, Keep>(xi, l, w, xb, m, exponent, factor, factors,
                                                        slopes);
    case PointForm::Matern52:
        return add_dimension<PointForm::Matern52, Keep>(xi, l, w, xb, m, exponent, factor, factors,
                                                        slopes);
    }
}

// The kernels of the columns j0 ... j0 + m - 1 over all dimensions: `factor` times the
// exponential left in `exponent` (with `Keep`, each dimension's p and r at offset d * block of
// factors/slopes).
template <bool Keep>
[[gnu::always_inline]] inline void block_terms(const PointAtoms& p, std::size_t i, std::size_t j0,
                                               std::size_t m, PointScratch& s) {
    std::fill_n(s.exponent.begin(), m, 0.0);
    std::fill_n(s.factor.begin(), m, 1.0);
    for (std::size_t d = 0; d < p.dims.size(); ++d)
        add_dimension<Keep>(p.dims[d], p.a[d][i], p.b[d].data() + j0, m, s.exponent.data(),
                            s.factor.data(), Keep ? s.factors.data() + d * block : nullptr,
                            Keep ? s.slopes.data() + d * block : nullptr);
    exp_many(s.exponent.data(), m, s.exponent.data());
}

template <bool Keep>
[[gnu::always_inline]] inline void row(const PointAtoms& p, double variance, std::size_t i,
                                       std::size_t first, double* __restrict k,
                                       std::span<double* const> l, PointScratch& s) {
    const std::size_t n = p.b[0].size(), n_dims = p.dims.size();
    for (std::size_t j0 = first; j0 < n; j0 += block) {
        const std::size_t m = std::min(block, n - j0);
        block_terms<Keep>(p, i, j0, m, s);
        const double* const f = s.factor.data();
        const double* const e = s.exponent.data();
        for (std::size_t c = 0; c < m; ++c)
            k[j0 + c] = variance * (f[c] * e[c]);
        if constexpr (Keep) {
            if (n_dims == 1) {
                const double* const r = s.slopes.data();
                double* const out = l[0] + j0;
                for (std::size_t c = 0; c < m; ++c)
                    out[c] = variance * (r[c] * e[c]);
                continue;
            }
            for (std::size_t d = 0; d < n_dims; ++d) {
                const double* const r = s.slopes.data() + d * block;
                double* const out = l[d] + j0;
                for (std::size_t c = 0; c < m; ++c) {
                    double others = variance;
                    for (std::size_t o = 0; o < n_dims; ++o)
                        if (o != d) others *= s.factors[o * block + c];
                    out[c] = others * (r[c] * e[c]);
                }
            }
        }
    }
}

// The same arithmetic in AVX2 lanes where the processor has them; without fused multiply-adds
// both give the same bits.
template <bool Keep>
void row_base(const PointAtoms& p, double variance, std::size_t i, std::size_t first, double* k,
              std::span<double* const> l, PointScratch& s) {
    row<Keep>(p, variance, i, first, k, l, s);
}
#if defined(__x86_64__) && !defined(QUORVEL_PORTABLE)
template <bool Keep>
__attribute__((target("avx2"))) void row_avx2(const PointAtoms& p, double variance,
                                              std::size_t i, std::size_t first, double* k,
                                              std::span<double* const> l, PointScratch& s) {
    row<Keep>(p, variance, i, first, k, l, s);
}
bool has_avx2() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}
#endif

template <bool Keep>
void any_row(const PointAtoms& p, double variance, std::size_t i, std::size_t first, double* k,
             std::span<double* const> l, PointScratch& s) {
#if defined(__x86_64__) && !defined(QUORVEL_PORTABLE)
    if (has_avx2()) return row_avx2<Keep>(p, variance, i, first, k, l, s);
#endif
    row_base<Keep>(p, variance, i, first, k, l, s);
}

void size_scratch(const PointAtoms& p, bool keep, PointScratch& s) {
    s.exponent.resize(block);
    s.factor.resize(block);
    if (keep) {
        s.factors.resize(block * p.dims.size());
        s.slopes.resize(block * p.dims.size());
    }
}

std::optional<PointForm> point_form(const ProfileKind& kind) {
    if (!is_correlation_kind(kind)) return std::nullopt;
    const std::optional<MaternOrder> order = correlation_order(kind);
    if (!order) return PointForm::SquaredExponential;
    switch (*order) {
    case MaternOrder::Half:
        return PointForm::Matern12;
    case MaternOrder::ThreeHalves:
        return PointForm::Matern32;
    case MaternOrder::FiveHalves:
        return PointForm::Matern52;
    }
    return std::nullopt;
}

} // namespace

std::optional<PointAtoms> point_atoms(std::span<const CovarianceDimension> dims, const AtomSide& a,
                                      const AtomSide& b) {
    if (dims.empty()) return std::nullopt;
    PointAtoms p;
    for (std::size_t d = 0; d < dims.size(); ++d) {
        if (dims[d].period || dims[d].amplitude()) return std::nullopt;
        if (!is_point_space(*a.spaces[d]) || !is_point_space(*b.spaces[d])) return std::nullopt;
        const std::optional<PointForm> form = point_form(dims[d].kind);
        if (!form) return std::nullopt;
        p.dims.push_back({*form, dims[d].length, dims[d].window});
    }
    for (auto [side, out] : {std::pair{&a, &p.a}, std::pair{&b, &p.b}}) {
        for (std::size_t d = 0; d < dims.size(); ++d) {
            std::vector<double>& x = out->emplace_back();
            x.reserve(side->spaces[d]->size());
            for (const Element& e : side->spaces[d]->elements)
                x.push_back(std::get<Delta>(e).x);
        }
    }
    return p;
}

void point_row(const PointAtoms& p, double variance, std::size_t i, std::size_t first, double* out,
               PointScratch& s) {
    size_scratch(p, false, s);
    any_row<false>(p, variance, i, first, out, {}, s);
}

void point_row_derivatives(const PointAtoms& p, double variance, std::size_t i, std::size_t first,
                           double* k, std::span<double* const> l, PointScratch& s) {
    size_scratch(p, true, s);
    any_row<true>(p, variance, i, first, k, l, s);
}

} // namespace quorvel
