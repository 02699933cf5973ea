"""Projection and Fit against the SciPy equivalents, in one process; prints times and ratios.

    PYTHONPATH=<build dir> python benchmarks/bench_projection_fit.py
"""

import numpy as np
import scipy.interpolate
import scipy.linalg
import scipy.sparse

from quorvel import Fit, Projection, Space, inner_products
from timing import best


def csr(t):
    indptr, indices, data, shape = t
    return scipy.sparse.csr_matrix((data, indices, indptr), shape=shape)


def cubic_bsplines(lo, hi, n):
    # n cubic B-splines on a uniform grid covering [lo, hi].
    h = (hi - lo) / (n - 3)
    return lo + h * np.arange(-3, n + 1, dtype=float)


def bench_projection(rows=10_000, n_dst=1_000, n_src=1_500, repeat=5):
    dst = Space.bsplines(cubic_bsplines(0.0, 1.0, n_dst), 3)
    src = Space.boxes(np.linspace(0.0, 1.0, n_src + 1))
    p = Projection(src, dst)
    f = np.random.default_rng(0).normal(size=(rows, n_src))

    # SciPy: the same cross matrix as a CSR product, then a banded Cholesky solve of all rows.
    k = csr(p.cross())
    g = csr(inner_products(dst, dst)).toarray()
    e = 3
    upper = np.zeros((e + 1, n_dst))
    for d in range(e + 1):
        upper[e - d, d:] = np.diagonal(g, d)
    factor = scipy.linalg.cholesky_banded(upper)

    def scipy_apply():
        b = k @ f.T  # (n_dst, rows)
        return scipy.linalg.cho_solve_banded((factor, False), b).T

    ours = p.apply_last_axis(f)
    ref = scipy_apply()
    assert np.allclose(ours, ref, rtol=1e-9, atol=1e-9)
    t_ours = best(lambda: p.apply_last_axis(f), repeat)
    t_scipy = best(scipy_apply, repeat)
    print(f"Projection.apply_last_axis {rows} rows, {n_src} boxes -> {n_dst} cubic B-splines: "
          f"quorvel {t_ours * 1e3:.1f} ms, scipy {t_scipy * 1e3:.1f} ms, "
          f"speed-up {t_scipy / t_ours:.2f}x")
    return t_scipy / t_ours


def bench_fit(points=100_000, n_model=1_000, repeat=5):
    rng = np.random.default_rng(1)
    x = np.sort(rng.uniform(0.0, 1.0, points))
    y = np.sin(12.0 * x) + 0.1 * rng.normal(size=points)
    t = cubic_bsplines(0.0, 1.0, n_model)
    # make_lsq_spline wants x inside the base interval [t[3], t[-4]] and clamped-style end knots.
    tc = np.concatenate([[0.0] * 3, np.linspace(0.0, 1.0, n_model - 2), [1.0] * 3])

    def ours():
        model = Space.bsplines(tc, 3)
        fit = Fit(Space.deltas(x), model, "none", 0.0, "difference", 2)
        return fit.apply_last_axis(y[None, :])[0]

    def scipy_fit():
        return scipy.interpolate.make_lsq_spline(x, y, tc, k=3).c

    assert len(t) - 4 == n_model
    np.testing.assert_allclose(ours(), scipy_fit(), rtol=1e-7, atol=1e-8)
    t_ours = best(ours, repeat)
    t_scipy = best(scipy_fit, repeat)
    print(f"Fit of {points} points onto {n_model} cubic B-splines (construction + one row): "
          f"quorvel {t_ours * 1e3:.1f} ms, scipy make_lsq_spline {t_scipy * 1e3:.1f} ms, "
          f"speed-up {t_scipy / t_ours:.2f}x")
    return t_scipy / t_ours


def bench_fit_normal_equations(points=100_000, n_model=1_000, smoothing=1e-3, repeat=7):
    """Fit (least squares, then with a 2nd-difference penalty) against the normal equations
    written with SciPy: design matrix, B^T B (+ mu D^T D), solveh_banded."""
    rng = np.random.default_rng(7)
    x = np.sort(rng.uniform(0.0, 1.0, points))
    y = np.sin(12.0 * x) + 0.1 * rng.normal(size=points)
    bp = np.linspace(0.0, 1.0, n_model - 2)
    tc = np.concatenate([[0.0] * 3, bp, [1.0] * 3])
    model = Space.bsplines_clamped(bp, 3)
    d = scipy.sparse.diags_array([np.ones(n_model - 2), -2.0 * np.ones(n_model - 2),
                                  np.ones(n_model - 2)], offsets=[0, 1, 2],
                                 shape=(n_model - 2, n_model))
    dtd = (d.T @ d).tocsr()

    def upper_band(a):
        a = a.todia()
        band = np.zeros((4, n_model))
        for k in range(4):
            band[3 - k, k:] = a.diagonal(k)
        return band

    for lam in (0.0, smoothing):
        def ours():
            fit = Fit(Space.deltas(x), model, "none", lam, "difference", 2)
            return fit.apply_last_axis(y[None, :])[0]

        def scipy_fit():
            b = scipy.interpolate.BSpline.design_matrix(x, tc, 3)
            a = (b.T @ b).tocsr()
            if lam > 0.0:
                a = a + lam * a.diagonal().sum() / dtd.diagonal().sum() * dtd
            return scipy.linalg.solveh_banded(upper_band(a), b.T @ y, check_finite=False)

        ref = scipy_fit()
        np.testing.assert_allclose(ours(), ref, rtol=0, atol=1e-9 * np.abs(ref).max())
        t_ours = best(ours, repeat)
        t_scipy = best(scipy_fit, repeat)
        label = "least squares" if lam == 0.0 else "2nd-difference penalty"
        print(f"Fit {label}, {points} points onto {n_model} B-splines, vs normal equations: "
              f"quorvel {t_ours * 1e3:.1f} ms, scipy {t_scipy * 1e3:.1f} ms, "
              f"speed-up {t_scipy / t_ours:.2f}x")


if __name__ == "__main__":
    bench_projection()
    bench_fit()
    bench_fit_normal_equations()
