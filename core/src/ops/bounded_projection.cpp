// Bounded, integral-preserving projection of one row: a primal-dual active-set method on the
// equality-constrained quadratic program
//     minimise  1/2 g^T G g - b^T g   subject to  w^T g = w^T y,  lower <= g <= upper,
// with a clamp-and-redistribute fallback when the iteration does not settle.
#include "bounded_projection.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "quorvel/parallel.hpp"

namespace quorvel {

namespace {

constexpr int max_iterations = 100;
constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr std::size_t not_free = std::numeric_limits<std::size_t>::max();

enum class State : std::uint8_t { Free, AtLower, AtUpper };

// Per-worker arrays of length n_dst, reused for every row the worker handles.
struct BoundedScratch {
    std::vector<double> lower, upper, x, z, u;
    std::vector<State> state;
    std::vector<std::size_t> free, position;
    SparseMatrix reduced;
    BandedMatrix reduced_factor;
    std::vector<double> reduced_diagonal;

    void resize(std::size_t n) {
        lower.resize(n);
        upper.resize(n);
        x.resize(n);
        state.resize(n);
        position.resize(n);
    }
};

void fixed_bounds(const Bounds& bounds, BoundedScratch& s, std::size_t n) {
    std::fill_n(s.lower.begin(), n, bounds.lo);
    std::fill_n(s.upper.begin(), n, bounds.hi);
}

// The range of the source coefficients that overlap each destination element. A destination
// element without overlapping source values (none stored, or all NaN) is left unbounded.
void local_bounds(const SparseMatrix& cross, const MatrixView& f, std::size_t r,
                  BoundedScratch& s) {
    for (std::size_t i = 0; i < cross.n_rows; ++i) {
        double lo = infinity, hi = -infinity;
        for (std::uint64_t p = cross.indptr[i]; p < cross.indptr[i + 1]; ++p) {
            const double v = f(r, cross.indices[p]);
            if (std::isnan(v)) continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        if (lo > hi) {
            lo = -infinity;
            hi = infinity;
        }
        s.lower[i] = lo;
        s.upper[i] = hi;
    }
}

// Clamps y into the bounds, then moves every coefficient the same fraction of the way towards the
// bound on the side that restores the integral removed by clamping, as far as the room allows.
// The result is written over y.
void clamp_and_redistribute(std::span<double> y, std::span<const double> w, BoundedScratch& s) {
    const std::size_t n = y.size();
    double* const out = s.x.data();
    double removed = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = std::clamp(y[i], s.lower[i], s.upper[i]);
        removed += w[i] * (y[i] - out[i]);
    }
    if (removed == 0.0 || std::isnan(removed)) {
        std::copy_n(out, n, y.begin());
        return;
    }
    const bool raise = removed > 0.0;
    auto room = [&](std::size_t i) {
        const double r = raise ? s.upper[i] - out[i] : out[i] - s.lower[i];
        return std::isfinite(r) ? r : 0.0;
    };
    double available = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        available += w[i] * room(i);
    if (available > 0.0) {
        const double theta = std::min(std::fabs(removed) / available, 1.0);
        for (std::size_t i = 0; i < n; ++i) {
            const double step = theta * room(i);
            out[i] = raise ? out[i] + step : out[i] - step;
        }
    }
    std::copy_n(out, n, y.begin());
}

// The starting states: a value beyond a bound starts at that bound, the rest free.
void classify(const double* y, std::size_t n, BoundedScratch& s) {
    for (std::size_t i = 0; i < n; ++i) {
        if (y[i] > s.upper[i]) {
            s.state[i] = State::AtUpper;
        } else if (y[i] < s.lower[i]) {
            s.state[i] = State::AtLower;
        } else {
            s.state[i] = State::Free;
        }
        s.x[i] = std::clamp(y[i], s.lower[i], s.upper[i]);
    }
}

// Values at their active bounds, and the free coefficients numbered in order.
void place_at_bounds(std::size_t n, BoundedScratch& s) {
    s.free.clear();
    for (std::size_t i = 0; i < n; ++i) {
        switch (s.state[i]) {
        case State::AtLower:
            s.x[i] = s.lower[i];
            break;
        case State::AtUpper:
            s.x[i] = s.upper[i];
            break;
        case State::Free:
            break;
        }
        if (s.state[i] == State::Free) {
            s.position[i] = s.free.size();
            s.free.push_back(i);
        } else {
            s.position[i] = not_free;
        }
    }
}

// The free values minimising the projection error with the bounded ones fixed and the integral
// kept at `target` (a KKT solve of G_FF with one constraint); their multiplier, or nullopt where
// G_FF cannot be factorised.
std::optional<double> solve_free(const SparseMatrix& g, std::span<const double> w,
                                 std::span<const double> b, double target, BoundedScratch& s) {
    if (s.free.empty()) return 0.0;
    const std::size_t n = g.n_rows;
    // G_FF renumbered in free order, and the right-hand side b_F - G_FA x_A.
    const std::size_t nf = s.free.size();
    SparseMatrix& red = s.reduced;
    red.n_rows = red.n_cols = nf;
    red.indptr.assign(1, 0);
    red.indices.clear();
    red.data.clear();
    s.z.resize(nf);
    s.u.resize(nf);
    for (std::size_t q = 0; q < nf; ++q) {
        const std::size_t i = s.free[q];
        double rhs = b[i];
        for (std::uint64_t p = g.indptr[i]; p < g.indptr[i + 1]; ++p) {
            const std::size_t k = g.indices[p];
            if (s.position[k] == not_free) {
                rhs -= g.data[p] * s.x[k];
            } else {
                red.indices.push_back(s.position[k]);
                red.data.push_back(g.data[p]);
            }
        }
        red.indptr.push_back(red.indices.size());
        s.z[q] = rhs;
        s.u[q] = w[i];
    }
    if (!banded_cholesky_into(red, s.reduced_factor, s.reduced_diagonal)) return std::nullopt;
    solve_in_place(s.reduced_factor, s.z);
    solve_in_place(s.reduced_factor, s.u);

    // The multiplier of the integral constraint.
    double wz = 0.0, wu = 0.0, wa = 0.0;
    for (std::size_t q = 0; q < nf; ++q) {
        wz += w[s.free[q]] * s.z[q];
        wu += w[s.free[q]] * s.u[q];
    }
    for (std::size_t i = 0; i < n; ++i)
        if (s.state[i] != State::Free) wa += w[i] * s.x[i];
    double lambda = (wz + wa - target) / wu;
    if (wu == 0.0 || std::isnan(wu)) lambda = 0.0;
    for (std::size_t q = 0; q < nf; ++q)
        s.x[s.free[q]] = s.z[q] - lambda * s.u[q];
    return lambda;
}

// The KKT check: the dual values of the active bounds give the next states; whether any changed.
bool update_states(const SparseMatrix& g, std::span<const double> gdiag, std::span<const double> w,
                   std::span<const double> b, double lambda, BoundedScratch& s) {
    bool changed = false;
    for (std::size_t i = 0; i < g.n_rows; ++i) {
        double v = 0.0;
        if (s.state[i] != State::Free) {
            double gx = 0.0;
            for (std::uint64_t p = g.indptr[i]; p < g.indptr[i + 1]; ++p)
                gx += g.data[p] * s.x[g.indices[p]];
            v = b[i] - gx - lambda * w[i];
        }
        State next;
        if (s.lower[i] == s.upper[i]) {
            next = State::AtLower;
        } else if (v + gdiag[i] * (s.x[i] - s.upper[i]) > 0.0) {
            next = State::AtUpper;
        } else if (v + gdiag[i] * (s.x[i] - s.lower[i]) < 0.0) {
            next = State::AtLower;
        } else {
            next = State::Free;
        }
        if (next != s.state[i]) changed = true;
        s.state[i] = next;
    }
    return changed;
}

// One row: y holds the unconstrained solution on entry and the bounded one on return.
// From the clamped start, solve for the free values and update the active set until it settles;
// past the iteration limit or on a singular G_FF, clamp and redistribute instead.
void bound_row(const SparseMatrix& g, std::span<const double> gdiag, std::span<const double> w,
               std::span<const double> b, double* y, BoundedScratch& s) {
    const std::size_t n = g.n_rows;
    double target = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        target += w[i] * y[i];
    classify(y, n, s);
    for (int iteration = 0;; ++iteration) {
        if (iteration == max_iterations) {
            clamp_and_redistribute({y, n}, w, s);
            return;
        }
        place_at_bounds(n, s);
        const std::optional<double> lambda = solve_free(g, w, b, target, s);
        if (!lambda) {
            clamp_and_redistribute({y, n}, w, s);
            return;
        }
        if (!update_states(g, gdiag, w, b, *lambda, s)) {
            std::copy_n(s.x.begin(), n, y);
            return;
        }
    }
}

} // namespace

void bound_rows(const Projection& p, const MatrixView& f, std::span<const double> rhs, double* y,
                const Bounds& bounds) {
    const std::size_t n = p.n_dst;
    if (n == 0 || bounds.kind == Bounds::Kind::None) return;

    // Diagonal of G, 1 where it stores none: the scale of the complementarity test.
    std::vector<double> gdiag(n, 1.0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::uint64_t q = p.gram.indptr[i]; q < p.gram.indptr[i + 1]; ++q) {
            if (p.gram.indices[q] == i) {
                gdiag[i] = p.gram.data[q];
                break;
            }
        }
    }

    parallel_rows<BoundedScratch>(f.rows, [&](std::size_t r, BoundedScratch& s) {
        s.resize(n);
        if (bounds.kind == Bounds::Kind::Local) {
            local_bounds(p.cross, f, r, s);
        } else {
            fixed_bounds(bounds, s, n);
        }
        bound_row(p.gram, gdiag, p.integrals, rhs.subspan(r * n, n), y + r * n, s);
    });
}

} // namespace quorvel
