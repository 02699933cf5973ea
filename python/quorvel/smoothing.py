"""Smoothing splines: penalised least squares on B-splines, the smoothing chosen by GCV or REML.

`smoothing_spline` minimises ``Σ w_i (y_i - f(x_i))² + lam ∫ f⁽ᵐ⁾(x)² dx`` over the splines of
odd degree ``2m - 1`` on a set of breakpoints. The normal matrix ``BᵀWB`` and the exact
derivative Gram matrix are banded; each trial ``lam`` is one banded Cholesky factorisation, and
the trace of the influence matrix and the pointwise variances come from the band of the inverse
(`quorvel.selected_inverse`). Everything is computed in the coordinate
``u = (x - center) / scale`` that maps the breakpoints onto [-1, 1], so an axis far from 0 loses
nothing beyond the rounding of its inputs. SciPy is imported when a spline is fitted.
"""

from __future__ import annotations

import operator
from typing import Any

import numpy as np

from . import _quorvel

_CRITERIA = ("gcv", "reml")


def _scipy() -> Any:
    try:
        import scipy.interpolate  # type: ignore[import-untyped]
        import scipy.linalg  # type: ignore[import-untyped]
        import scipy.optimize  # type: ignore[import-untyped]
    except ImportError as error:
        raise ImportError(
            "quorvel.smoothing_spline needs SciPy; install it with: pip install 'quorvel[scipy]'"
        ) from error
    return scipy


# ---- validation ---------------------------------------------------------------------------------


def _vector(name: str, value: Any) -> np.ndarray:
    """`value` as a 1-D float64 array whose entries are all finite."""
    try:
        a = np.asarray(value, dtype=np.float64)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name} must be a 1-D array of real numbers") from error
    if a.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional, got shape {a.shape}")
    bad = np.flatnonzero(~np.isfinite(a))
    if bad.size:
        raise ValueError(f"{name} must be finite, got {a[bad[0]]} at index {bad[0]}")
    return a


def _check_degree(degree: Any) -> int:
    if isinstance(degree, bool):
        raise TypeError("degree must be an integer, got bool")
    degree = operator.index(degree)
    if degree not in (1, 3):
        raise ValueError(f"degree must be 1 or 3 (odd, at most 3), got {degree}")
    return degree


def _check_lam(lam: Any) -> float | None:
    if lam is None:
        return None
    value = float(lam)
    if not (np.isfinite(value) and value >= 0.0):
        raise ValueError(f"lam must be finite and >= 0, got {value}")
    return value


def _distinct(x: np.ndarray) -> np.ndarray:
    """The distinct values of x in increasing order; sorted data skip the sort."""
    if x.size and np.all(x[1:] >= x[:-1]):
        return x[np.r_[True, x[1:] != x[:-1]]]
    return np.unique(x)


def _breakpoints(knots: Any, x: np.ndarray, distinct: np.ndarray) -> np.ndarray:
    """The breakpoints in x: every distinct x, n uniform intervals, or the given knots."""
    if knots is None:
        return distinct
    if isinstance(knots, (int, np.integer)) and not isinstance(knots, bool):
        if knots < 1:
            raise ValueError(f"knots must be at least 1 interval, got {knots}")
        return np.linspace(x.min(), x.max(), int(knots) + 1)
    br = _vector("knots", knots)
    if br.size < 2:
        raise ValueError(f"knots needs at least 2 values, got {br.size}")
    step = np.flatnonzero(np.diff(br) <= 0.0)
    if step.size:
        i = step[0] + 1
        raise ValueError(
            f"knots must be strictly increasing, got knots[{i}] = {br[i]} after {br[i - 1]}"
        )
    outside = np.flatnonzero((x < br[0]) | (x > br[-1]))
    if outside.size:
        i = outside[0]
        raise ValueError(f"x[{i}] = {x[i]} lies outside the knots [{br[0]}, {br[-1]}]")
    return br


# ---- banded algebra -----------------------------------------------------------------------------


class _Rows:
    """The rows of a design matrix: row r holds ``values[r]`` in columns ``first[r] + 0..d``.

    Each row of a degree-d B-spline design matrix is non-zero in at most d + 1 consecutive
    columns, so the weighted normal matrix and every product with it are ``(d + 1)²`` sums over
    the rows (`np.bincount`), with no sparse-sparse product.
    """

    def __init__(self, indptr: np.ndarray, indices: np.ndarray, data: np.ndarray, p: int, d: int):
        n = indptr.size - 1
        last = max(p - 1 - d, 0)
        if data.size == n * (d + 1):
            # Every row full: its d + 1 columns are consecutive.
            first = indices[:: d + 1].astype(np.int64)
            values = data.reshape(n, d + 1).copy()
        else:
            counts = np.diff(indptr)
            rows = np.repeat(np.arange(n), counts)
            first = np.full(n, last, dtype=np.int64)
            filled = counts > 0
            first[filled] = np.minimum(indices[indptr[:-1][filled]], last)
            values = np.zeros((n, d + 1))
            values[rows, indices - first[rows]] = data
        self.p, self.d, self.first, self.values = p, d, first, values

    @classmethod
    def bsplines(cls, knots: np.ndarray, p: int, d: int, u: np.ndarray) -> _Rows:
        """The rows of SciPy's B-spline design matrix (left limits at the right end)."""
        sp = _scipy()
        m = sp.interpolate.BSpline.design_matrix(u, knots, d, extrapolate=True)
        return cls(m.indptr, m.indices, m.data, p, d)

    @classmethod
    def evaluate(cls, space: _quorvel.Space, breakpoints: np.ndarray, u: np.ndarray,
                 d: int) -> _Rows:
        """The rows of `evaluate` for clamped B-splines on the breakpoints, u within them."""
        indptr, indices, data, _ = _quorvel.evaluate(space, u)
        rows = cls(indptr, indices, data, len(space), d)
        # Pieces are half-open, so nothing is stored at the right end of the last piece; there
        # the clamped basis has the left limit 1 in its last element and 0 in the others.
        end = u == breakpoints[-1]
        rows.values[end] = 0.0
        rows.values[end, d] = 1.0
        rows.first[end] = rows.p - 1 - d
        return rows

    def normal_band(self, w: np.ndarray) -> np.ndarray:
        """The lower band of BᵀWB in LAPACK form, shape (d + 1, p)."""
        d, p = self.d, self.p
        band = np.zeros((d + 1, p))
        for a in range(d + 1):
            wa = w * self.values[:, a]
            for b in range(a, d + 1):
                band[b - a] += np.bincount(self.first + a, wa * self.values[:, b], minlength=p)
        return band

    def transpose_times(self, v: np.ndarray) -> np.ndarray:
        """Bᵀ v."""
        out = np.zeros(self.p)
        for a in range(self.d + 1):
            out += np.bincount(self.first + a, v * self.values[:, a], minlength=self.p)
        return out

    def times(self, c: np.ndarray) -> np.ndarray:
        """B c."""
        out = np.zeros(self.first.size)
        for a in range(self.d + 1):
            out += self.values[:, a] * c[self.first + a]
        return out

    def quadratic(self, band: np.ndarray) -> np.ndarray:
        """The diagonal of B S Bᵀ for a symmetric S given by its lower band (d + 1 rows)."""
        out = np.zeros(self.first.size)
        for a in range(self.d + 1):
            for b in range(a, self.d + 1):
                term = self.values[:, a] * self.values[:, b] * band[b - a, self.first + a]
                out += term if a == b else 2.0 * term
        return out


class _Penalty:
    """P = Dᵀ G D: the band of P, and cᵀPc summed as (Dc)ᵀ G (Dc).

    The entries of P grow as the inverse (2m - 1)-th power of the knot spacing while cᵀPc is
    small, so summing the band against c would cancel every digit; the differences Dc carry the
    m-th derivative directly.
    """

    def __init__(self, band: np.ndarray, coef: np.ndarray, gram: dict[int, np.ndarray]):
        self.band, self.coef, self.gram = band, coef, gram

    def differences(self, c: np.ndarray) -> np.ndarray:
        q = self.coef.shape[1]
        return sum(self.coef[a] * c[a : a + q] for a in range(self.coef.shape[0]))

    def times(self, c: np.ndarray) -> np.ndarray:
        """P c as Dᵀ (G (D c))."""
        dc = self.differences(c)
        v = self.gram[0] * dc
        if 1 in self.gram:
            v[1:] += self.gram[1] * dc[:-1]
            v[:-1] += self.gram[1] * dc[1:]
        out = np.zeros(c.size)
        q = dc.size
        for a in range(self.coef.shape[0]):
            out[a : a + q] += self.coef[a] * v
        return out

    def quadratic(self, c: np.ndarray) -> float:
        dc = self.differences(c)
        total = float((self.gram[0] * dc * dc).sum())
        if 1 in self.gram:
            total += 2.0 * float((self.gram[1] * dc[1:] * dc[:-1]).sum())
        return total


def _penalty_band(knots: np.ndarray, breakpoints: np.ndarray, d: int, m: int) -> _Penalty:
    """P[i, j] = ∫ B_i⁽ᵐ⁾ B_j⁽ᵐ⁾ for the degree-d B-splines of the knot vector.

    The m-th derivative of Σ c_j B_j is Σ (D c)_i B̃_i over the B-splines of degree d - m (the
    knot vector without m knots at each end), D the product of m difference steps
    ``k (c_{j+1} - c_j) / (t_{j+k+1} - t_{j+1})``; so P = Dᵀ G D exactly, G the Gram matrix of the
    lower-degree splines: the interval lengths (degree 0) or the tridiagonal hat Gram (degree 1).
    """
    p = knots.size - d - 1
    coef = np.ones((1, p))  # coef[a, i] = D[i, i + a]
    t = knots
    for k in range(d, d - m, -1):
        n_k = coef.shape[1]
        step = k / (t[k + 1 : k + n_k] - t[1:n_k])
        new = np.zeros((coef.shape[0] + 1, n_k - 1))
        new[:-1] -= step * coef[:, :-1]
        new[1:] += step * coef[:, 1:]
        coef, t = new, t[1:-1]
    q = coef.shape[1]
    h = np.diff(breakpoints)
    if d - m == 0:
        gram = {0: h}
    else:
        gram = {0: (np.r_[h, 0.0] + np.r_[0.0, h]) / 3.0, 1: h / 6.0, -1: h / 6.0}
    # P[i + a, i + s + b] gets D[i, i + a] G[i, i + s] D[i + s, i + s + b]; the lower band keeps
    # row - column = s + b - a >= 0 (the rest is its mirror image).
    band = np.zeros((d + 1, p))
    for s_, g in gram.items():
        lo, hi = max(0, -s_), q - max(0, s_)
        for a in range(m + 1):
            left = coef[a, lo:hi] * g
            for b in range(m + 1):
                k = s_ + b - a
                if k >= 0:
                    band[k, lo + a : hi + a] += left * coef[b, lo + s_ : hi + s_]
    return _Penalty(band, coef, gram)


def _band_quadratic(band: np.ndarray, c: np.ndarray) -> float:
    """cᵀ A c for a symmetric A given by its lower band."""
    total = float((band[0] * c * c).sum())
    for k in range(1, band.shape[0]):
        total += 2.0 * float((band[k, :-k] * c[k:] * c[:-k]).sum())
    return total


def _band_times(band: np.ndarray, c: np.ndarray) -> np.ndarray:
    """A c for a symmetric A given by its lower band."""
    out = band[0] * c
    for k in range(1, band.shape[0]):
        out[k:] += band[k, :-k] * c[:-k]
        out[:-k] += band[k, :-k] * c[k:]
    return out


def _band_trace_product(s: np.ndarray, a: np.ndarray) -> float:
    """tr(S A) for symmetric S and A given by lower bands of the same width."""
    return float((s[0] * a[0]).sum() + 2.0 * (s[1:] * a[1:]).sum())


class _Problem:
    """The penalised least-squares problem in the scaled coordinate, for any lam_u."""

    def __init__(self, design: _Rows, penalty: _Penalty, y: np.ndarray, w: np.ndarray,
                 m: int):
        self.design, self.roughness, self.y, self.w, self.m = design, penalty, y, w, m
        self.penalty = penalty.band
        self.normal = design.normal_band(w)
        self.rhs = design.transpose_times(w * y)
        self.yy = float((w * y * y).sum())
        self.nfev = 0

    def refine(self, factor: np.ndarray, lam_u: float, c: np.ndarray) -> np.ndarray:
        """c improved by one step of iterative refinement.

        With a knot at every datum the entries of lam_u P exceed those of BᵀWB by many orders
        of magnitude and cancel in P c, so the solve keeps only a few digits of c (1e-3
        relative at 1e4 knots). The residual with P c summed as Dᵀ(G(D c)) is accurate to the
        size of the m-th derivative rather than of the entries of P, and each step gains about
        as many digits again; it also keeps the criteria smooth in lam.
        """
        sp = _scipy()
        r = self.rhs - _band_times(self.normal, c) - lam_u * self.roughness.times(c)
        step, _ = sp.linalg.lapack.dpbtrs(factor, r[:, None], lower=1)
        return c + step[:, 0]

    def converge(self, factor: np.ndarray, lam_u: float, c: np.ndarray,
                 rtol: float) -> np.ndarray:
        """Steps of `refine` until a step is below rtol of c, or stops shrinking (at most 6).

        Each step gains a factor of about cond(A)·eps: three or four at 1e4 evenly spread
        knots, one at 1e5 random x, whose closest pairs set the conditioning.
        """
        last = np.inf
        for _ in range(6):
            new = self.refine(factor, lam_u, c)
            size = float(np.abs(new - c).max())
            c = new
            if size <= rtol * float(np.abs(c).max()) or size > 0.5 * last:
                break
            last = size
        return c

    def solve(self, lam_u: float, slopes: bool = False, rtol: float = 1e-10) -> dict[str, Any]:
        """Coefficients, factor, band of the inverse, edf and weighted residual sum at lam_u.

        With `slopes`, also the derivatives of edf and of the residual sum with respect to
        ln lam_u, for the slope of the GCV score. The coefficients are refined to `rtol` (1e-6
        suffices for the criteria; `polish` finishes the chosen solution).
        """
        sp = _scipy()
        self.nfev += 1
        a = self.normal + lam_u * self.penalty
        if slopes:
            factor, inverse, d_inverse = _quorvel.selected_inverse(a, self.penalty)
        else:
            factor, inverse = _quorvel.selected_inverse(a)
        # LAPACK reads the factor in Fortran order: one copy here rather than one per solve.
        factor = np.asfortranarray(factor)
        # The factor is finite by construction: LAPACK's solve without SciPy's input checks.
        c, info = sp.linalg.lapack.dpbtrs(factor, self.rhs[:, None], lower=1)
        if info != 0:  # pragma: no cover - a valid factor never fails
            raise RuntimeError(f"banded solve failed: info = {info}")
        c = self.converge(factor, lam_u, c[:, 0], rtol)
        return self.summarise(c, factor, inverse, lam_u, d_inverse if slopes else None)

    def polish(self, solved: dict[str, Any]) -> dict[str, Any]:
        """The solution with its coefficients refined to full accuracy."""
        c = self.converge(solved["factor"], solved["lam_u"], solved["coefficients"], 1e-10)
        return self.summarise(c, solved["factor"], solved["inverse"], solved["lam_u"], None)

    def summarise(self, c: np.ndarray, factor: np.ndarray, inverse: np.ndarray, lam_u: float,
                  d_inverse: np.ndarray | None) -> dict[str, Any]:
        sp = _scipy()
        # Σ w r² = yᵀWy - 2 cᵀBᵀWy + cᵀ(BᵀWB)c in the coefficients, without a pass over the
        # data; when that sum cancels most of yᵀWy it is recomputed from the residuals.
        penalty = self.roughness.quadratic(c)
        rss = self.yy - 2.0 * float((c * self.rhs).sum()) + _band_quadratic(self.normal, c)
        if not rss > 1e-6 * self.yy:
            residual = self.y - self.design.times(c)
            rss = float((self.w * residual * residual).sum())
        solved = {"coefficients": c, "factor": factor, "inverse": inverse, "penalty": penalty,
                  "edf": _band_trace_product(inverse, self.normal), "rss": rss, "lam_u": lam_u}
        if d_inverse is not None:
            # dc/dlam = -A⁻¹Pc and Bᵀ W r = lam P c give d Σ w r² / d ln lam = 2 lam² cᵀPA⁻¹Pc;
            # d edf / d ln lam = lam tr(d(A⁻¹)/dlam · BᵀWB).
            pc = self.roughness.times(c)
            z, _ = sp.linalg.lapack.dpbtrs(factor, pc[:, None], lower=1)
            # (a NumPy sum, not a BLAS dot: its order must not depend on the thread count)
            solved["rss_slope"] = 2.0 * lam_u * lam_u * float((pc * z[:, 0]).sum())
            solved["edf_slope"] = lam_u * _band_trace_product(d_inverse, self.normal)
        return solved

    def criterion(self, name: str, solved: dict[str, Any]) -> float:
        """The GCV score n Σ w r² / (n - edf)², or -2 log of the restricted likelihood.

        The restricted likelihood is that of y ~ N(B c, σ² W⁻¹) with the prior
        c ~ N(0, σ² / lam_u P⁺), σ² profiled out: (n - M) log D + log|A| - (p - M) log lam_u up
        to a constant, D the penalised residual sum of squares and M the dimension of the
        penalty's null space.
        """
        n, p, M = self.y.size, self.design.p, self.m
        lam_u, rss, edf = solved["lam_u"], solved["rss"], solved["edf"]
        if name == "gcv":
            return n * rss / (n - edf) ** 2 if edf < n else np.inf
        d = rss + lam_u * solved["penalty"]
        if not (lam_u > 0.0 and d > 0.0):
            return np.inf
        log_det = 2.0 * float(np.log(solved["factor"][0]).sum())
        return float((n - M) * np.log(d) + log_det - (p - M) * np.log(lam_u))

    def slope(self, name: str, solved: dict[str, Any]) -> float:
        """A function of ln lam_u with the sign of the criterion's slope, nearly linear.

        Each slope is a difference of two positive terms, u - v, and ln(u / v) has its sign and
        zero while growing about linearly in ln lam, which the root finder prefers.
        REML: D is the minimum over c of the penalised sum, so dD/dlam = cᵀPc; d log|A|/dlam =
        tr(A⁻¹P) and lam tr(A⁻¹P) = p - edf; so the slope is (n - M) lam cᵀPc / D - (edf - M),
        from quantities every evaluation has already. GCV (of ln of the score):
        d ln(Σ w r²) - 2 d ln(n - edf).
        """
        n, M = self.y.size, self.m
        if name == "gcv":
            u = solved["rss_slope"] / solved["rss"]
            v = -2.0 * solved["edf_slope"] / (n - solved["edf"])
        else:
            lam_pen = solved["lam_u"] * solved["penalty"]
            u = (n - M) * lam_pen / (solved["rss"] + lam_pen)
            v = solved["edf"] - M
        if u > 0.0 and v > 0.0:
            return float(np.log(u / v))
        return float(np.sign(u - v))

    def choose(self, name: str) -> dict[str, Any]:
        """The solution at the lam_u minimising the criterion (a search over log10 lam_u).

        The number of effective parameters falls roughly as lam^(-1/(2m)) between m and p,
        starting near p where lam_u · tr(P) ≈ tr(BᵀWB); the search starts where about 16
        remain, walks downhill (first steps change them twofold, later ones extrapolate the
        slope) until the slope of the criterion changes sign, and then finds the zero of the
        slope by Brent's root finder. Each trial is one factorisation, whose selected inverse and its derivative
        give the exact slope; the best trial is returned solved.
        """
        m, p = self.m, self.design.p
        reference = float(np.log10(self.normal[0].sum() / self.penalty[0].sum()))
        low, high = reference - 3.0, reference + 2 * m * np.log10(p) + 4.0
        start = min(max(reference + 2 * m * np.log10(p / 16.0), low), high)
        search = _Search(self, name)
        search.run(start, 2 * m * np.log10(2.0), low, high)
        if search.best is None:
            raise _quorvel.SingularError(
                "no smoothing gives a positive definite system: the data do not determine the "
                "spline"
            )
        return self.polish(search.best)


class _Converged(Exception):
    """Raised inside the root finder when a trial's slope is already within tolerance."""


class _Search:
    """Trials of one criterion over t = log10 lam_u, keeping the best solution seen."""

    # Stop when the minimum is located to this many decades of lam (0.5 %), or when the
    # logarithmic slope, which grows by 0.3 to 1 per decade near the minimum, is below it.
    tol = 0.002

    def __init__(self, problem: _Problem, name: str):
        self.problem, self.name = problem, name
        self.slopes: dict[float, float] = {}
        self.best: dict[str, Any] | None = None
        self.best_value = np.inf

    def slope(self, t: float, anchor: float) -> float:
        """The slope at t; a singular system counts as a wall on its side of the anchor."""
        if t not in self.slopes:
            try:
                solved = self.problem.solve(10.0**t, slopes=self.name == "gcv", rtol=1e-6)
            except _quorvel.SingularError:
                slope = np.nan
            else:
                value = self.problem.criterion(self.name, solved)
                slope = self.problem.slope(self.name, solved) if np.isfinite(value) else np.nan
                if value < self.best_value:
                    self.best, self.best_value = solved, value
            self.slopes[t] = slope
        s = self.slopes[t]
        if np.isfinite(s):
            return s
        return 1.0 if t >= anchor else -1.0

    def run(self, start: float, step: float, low: float, high: float) -> None:
        sp = _scipy()
        # A large lam on many close knots can make the factorisation lose the penalty's null
        # space: from a singular start, move to smaller lam first.
        a = start
        while not np.isfinite(self._probe(a)):
            if a == low:
                return
            a = max(a - step, low)
        sa = self.slope(a, a)
        direction = -1.0 if sa > 0.0 else 1.0
        b = min(max(a + direction * step, low), high)
        while True:
            if b == a:
                return  # the minimum lies at an end of the range
            sb = self.slope(b, a)
            if (sb > 0.0) != (sa > 0.0):
                break
            # Extrapolate the two latest slopes to their zero, overshooting by a fifth so that
            # the next trial brackets it; between one and two first steps at a time.
            jump = step
            if np.isfinite(self.slopes[b]) and sb != sa:
                jump = 1.2 * abs(sb * (b - a) / (sb - sa))
            jump = min(max(jump, step), 2.0 * step)
            a, sa = b, sb
            b = min(max(a + direction * jump, low), high)
        lo, hi = min(a, b), max(a, b)
        anchor = a

        def slope(t: float) -> float:
            value = self.slope(t, anchor)
            if np.isfinite(self.slopes[t]) and abs(value) < self.tol:
                raise _Converged
            return value

        # Against a singular end, where the criterion's minimum may lie at the edge of what the
        # factorisation resolves (the slope jumps there), a coarser approach suffices.
        wall = not (np.isfinite(self.slopes[a]) and np.isfinite(self.slopes[b]))
        try:
            sp.optimize.brentq(slope, lo, hi, xtol=10 * self.tol if wall else self.tol,
                               rtol=1e-12)
        except _Converged:
            pass

    def _probe(self, t: float) -> float:
        """The slope at t, NaN where the system is singular."""
        self.slope(t, t)
        return self.slopes[t]


# ---- results ------------------------------------------------------------------------------------


class Spline:
    """A spline of x held as a SciPy B-spline of the scaled coordinate u = (x - center) / scale.

    Values, derivatives and integrals are computed in u, where the knots are well separated
    whatever the offset of the axis.
    """

    def __init__(self, spline_u: Any, center: float, scale: float):
        self._spline_u = spline_u
        self._center = center
        self._scale = scale

    def _u(self, x: Any) -> np.ndarray:
        return (np.asarray(x, dtype=np.float64) - self._center) / self._scale

    def __call__(self, x: Any, nu: int = 0) -> np.ndarray:
        """Values (``nu=0``) or the ``nu``-th derivative at x; extrapolates past the ends."""
        nu = operator.index(nu)
        return self._spline_u(self._u(x), nu) / self._scale**nu

    def derivative(self, nu: int = 1) -> Spline:
        """The ``nu``-th derivative as a `Spline`."""
        nu = operator.index(nu)
        d = self._spline_u.derivative(nu)
        d.c = d.c / self._scale**nu
        return Spline(d, self._center, self._scale)

    def integrate(self, a: float, b: float) -> float:
        """``∫_a^b f(x) dx`` (the end polynomials extended outside the knots)."""
        ua, ub = self._u(a), self._u(b)
        return float(self._spline_u.integrate(ua, ub)) * self._scale

    def to_scipy(self) -> Any:
        """The same spline as a ``scipy.interpolate.BSpline`` of x."""
        sp = _scipy()
        s = self._spline_u
        return sp.interpolate.BSpline(self._center + self._scale * s.t, s.c.copy(), s.k)


class SmoothingSpline(Spline):
    """The result of `smoothing_spline`: a callable spline with its smoothing and diagnostics.

    Attributes
    ----------
    lam : float
        The smoothing parameter, in the units of the objective ``Σ w (y - f)² + lam ∫ f⁽ᵐ⁾² dx``.
    edf : float
        Effective degrees of freedom: the trace of the influence matrix that maps y to the fitted
        values, between m (the penalty's null space: a line for cubics) and the number of
        coefficients.
    criterion : str
        ``"gcv"`` or ``"reml"``: the criterion that chose ``lam`` (or that was evaluated at the
        given ``lam``).
    criterion_value : float
        The GCV score ``n Σ w r² / (n - edf)²``, or ``-2`` times the restricted log-likelihood up
        to a constant that does not depend on ``lam``.
    coefficients : ndarray
        The B-spline coefficients: ``f(x) = Σ coefficients[j] basis[j](x)``.
    knots : ndarray
        The breakpoints in x (the B-spline knots without the repeated end knots).
    degree : int
    residual_std : float
        ``sqrt(Σ w r² / (n - edf))``, the estimated noise of a datum of weight 1.
    nfev : int
        Number of banded factorisations.
    n : int
        Number of data.
    """

    def __init__(self, spline_u: Any, center: float, scale: float, breakpoints_u: np.ndarray,
                 inverse: np.ndarray, *, lam: float, edf: float, criterion: str,
                 criterion_value: float, knots: np.ndarray, degree: int, residual_std: float,
                 nfev: int, n: int):
        super().__init__(spline_u, center, scale)
        self._breakpoints_u = breakpoints_u
        self._inverse = inverse
        self._basis: _quorvel.Space | None = None
        self.lam = lam
        self.edf = edf
        self.criterion = criterion
        self.criterion_value = criterion_value
        self.knots = knots
        self.degree = degree
        self.residual_std = residual_std
        self.nfev = nfev
        self.n = n

    @property
    def coefficients(self) -> np.ndarray:
        return self._spline_u.c

    @property
    def basis(self) -> _quorvel.Space:
        """The B-spline basis as a quorvel `Space` over x (an affine map of the scaled basis)."""
        if self._basis is None:
            space_u = _quorvel.Space.bsplines_clamped(self._breakpoints_u, self.degree)
            self._basis = space_u.mapped("affine", self._center, self._scale, False)
        return self._basis

    def std(self, x: Any) -> np.ndarray:
        """Pointwise standard error of f(x): the Bayesian posterior band of the smoothing spline.

        ``residual_std · sqrt(b(x)ᵀ A⁻¹ b(x))`` with ``b(x)`` the basis values and ``A`` the
        penalised normal matrix; only the band of ``A⁻¹`` is needed.
        """
        sp = _scipy()
        u = np.atleast_1d(self._u(x))
        t, k = self._spline_u.t, self._spline_u.k
        design = sp.interpolate.BSpline.design_matrix(u.ravel(), t, k, extrapolate=True)
        n_cols = len(self._spline_u.c)
        variance = _Rows(design.indptr, design.indices, design.data, n_cols, k).quadratic(
            self._inverse
        )
        out = self.residual_std * np.sqrt(np.maximum(variance, 0.0))
        return out.reshape(np.shape(x))

    def to_scipy(self) -> Any:
        """The same spline as a ``scipy.interpolate.BSpline`` of x, on the exact breakpoints."""
        sp = _scipy()
        k = self.degree
        t = np.r_[[self.knots[0]] * k, self.knots, [self.knots[-1]] * k]
        return sp.interpolate.BSpline(t, self.coefficients.copy(), k)

    def __repr__(self) -> str:
        return (
            f"SmoothingSpline(n={self.n}, degree={self.degree}, intervals={self.knots.size - 1}, "
            f"lam={self.lam:.6g}, edf={self.edf:.4g}, {self.criterion}={self.criterion_value:.6g}, "
            f"residual_std={self.residual_std:.4g})"
        )


# ---- entry point --------------------------------------------------------------------------------


def smoothing_spline(x: Any, y: Any, *, w: Any = None, lam: float | None = None,
                     criterion: str = "gcv", knots: Any = None, degree: int = 3
                     ) -> SmoothingSpline:
    """The smoothing spline of data (x, y), with the smoothing chosen by GCV or REML.

    Minimises ``Σ w_i (y_i - f(x_i))² + lam ∫ f⁽ᵐ⁾(x)² dx`` over the splines f of odd degree
    ``2m - 1`` (cubic: the penalty ``∫ f''²``) on the given breakpoints. ``lam`` has exactly these
    units (those of ``scipy.interpolate.make_smoothing_spline``): multiplying x by ``a`` with the
    same curve multiplies the best ``lam`` by ``a^(2m - 1)``.

    Parameters
    ----------
    x, y : array_like, shape (n,)
        Finite data, x in any order, ties allowed.
    w : array_like, shape (n,), optional
        Positive weights (inverse variances up to a common factor); 1 by default.
    lam : float, optional
        The smoothing, >= 0. By default chosen by `criterion`.
    criterion : {"gcv", "reml"}
        Generalised cross-validation, or restricted maximum likelihood (more stable for small or
        correlated samples). Used to choose ``lam``, and reported at the final ``lam``.
    knots : None, int or array_like
        None: a breakpoint at every distinct x (the exact smoothing spline, a natural spline).
        An int k: k uniform intervals over the range of x (a penalised regression spline, for
        very many points). An array: these breakpoints (strictly increasing, covering x).
    degree : {3, 1}
        Cubic (penalty on f'') or linear (penalty on f').

    Returns
    -------
    SmoothingSpline
        Callable ``s(x, nu=0)``, with ``lam``, ``edf``, ``criterion_value``, ``coefficients``,
        ``basis``, ``knots``, ``residual_std``, ``std(x)``, ``derivative``, ``integrate`` and
        ``to_scipy()``.

    Raises
    ------
    ValueError
        Non-finite data (naming the index), non-positive weights, a negative ``lam``, an unknown
        criterion, fewer than ``degree + 1`` distinct x, knots that do not cover x.
    SingularError
        ``lam = 0`` (or a criterion search) on knots that the data do not determine.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> rng = np.random.default_rng(0)
    >>> x = np.sort(rng.uniform(0.0, 1.0, 200))
    >>> y = np.sin(2 * np.pi * x) + rng.normal(0.0, 0.1, x.size)
    >>> s = quorvel.smoothing_spline(x, y)
    >>> bool(np.sqrt(np.mean((s(x) - np.sin(2 * np.pi * x)) ** 2)) < 0.05)
    True
    >>> bool(4.0 < s.edf < 15.0), bool(abs(s.residual_std - 0.1) < 0.02)
    (True, True)
    """
    sp = _scipy()
    x = _vector("x", x)
    y = _vector("y", y)
    if y.size != x.size:
        raise ValueError(f"y has {y.size} values, x has {x.size}")
    if w is None:
        w = np.ones_like(x)
    else:
        w = _vector("w", w)
        if w.size != x.size:
            raise ValueError(f"w has {w.size} values, x has {x.size}")
        bad = np.flatnonzero(~(w > 0.0))
        if bad.size:
            raise ValueError(f"w must be > 0, got {w[bad[0]]} at index {bad[0]}")
    lam = _check_lam(lam)
    if criterion not in _CRITERIA:
        raise ValueError(f"criterion must be 'gcv' or 'reml', got {criterion!r}")
    degree = _check_degree(degree)
    distinct = _distinct(x if knots is None else x[: 64 * (degree + 1)])
    if distinct.size < degree + 1:
        distinct = _distinct(x)
    if distinct.size < degree + 1:
        raise ValueError(
            f"x needs at least {degree + 1} distinct values for degree {degree}, "
            f"got {distinct.size}"
        )
    breakpoints = _breakpoints(knots, x, distinct)
    m = (degree + 1) // 2

    # The scaled coordinate maps the breakpoints onto [-1, 1]; the penalty scales as
    # ∫ f⁽ᵐ⁾(x)² dx = scale^(1 - 2m) ∫ g⁽ᵐ⁾(u)² du.
    center = 0.5 * (breakpoints[0] + breakpoints[-1])
    scale = 0.5 * (breakpoints[-1] - breakpoints[0])
    lam_per_lam_u = scale ** (2 * m - 1)
    br_u = (breakpoints - center) / scale
    u = (x - center) / scale
    knots_u = np.r_[[br_u[0]] * degree, br_u, [br_u[-1]] * degree]
    p = br_u.size + degree - 1
    if knots is None:
        # A basis as long as the data: SciPy's design matrix skips building the elements.
        design = _Rows.bsplines(knots_u, p, degree, u)
    else:
        design = _Rows.evaluate(_quorvel.Space.bsplines_clamped(br_u, degree), br_u, u, degree)
    penalty = _penalty_band(knots_u, br_u, degree, m)

    # Constants are in the penalty's null space: fitting y minus its weighted mean and adding it
    # back to every coefficient (a partition of unity) keeps large offsets out of the algebra.
    offset = float((w * y).sum() / w.sum())
    problem = _Problem(design, penalty, y - offset, w, m)
    if lam is None:
        solved = problem.choose(criterion)
        lam_u = solved["lam_u"]
    else:
        lam_u = lam / lam_per_lam_u
        try:
            solved = problem.solve(lam_u)
        except _quorvel.SingularError as error:
            if lam_u == 0.0:
                raise _quorvel.SingularError(
                    f"{error}; the data do not determine every coefficient at lam = 0, so use "
                    f"lam > 0 or fewer knots"
                ) from None
            # Positive definite in exact arithmetic: the penalty of closely spaced knots swamps
            # the data's terms beyond double precision.
            raise _quorvel.SingularError(
                f"{error}; at lam = {lam} the penalty of knots this close (smallest spacing "
                f"{float(np.diff(breakpoints).min()):.3g}) leaves the system beyond double "
                f"precision, so use a smaller lam or fewer knots (knots=<number of intervals>)"
            ) from None

    spline_u = sp.interpolate.BSpline.construct_fast(
        knots_u, solved["coefficients"] + offset, degree)
    n = x.size
    rss = solved["rss"]
    residual_std = float(np.sqrt(rss / (n - solved["edf"]))) if solved["edf"] < n else 0.0
    return SmoothingSpline(
        spline_u, center, scale, br_u, solved["inverse"], lam=lam_u * lam_per_lam_u,
        edf=solved["edf"], criterion=criterion,
        criterion_value=problem.criterion(criterion, solved), knots=breakpoints, degree=degree,
        residual_std=residual_std, nfev=problem.nfev, n=n,
    )
