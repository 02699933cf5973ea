"""Evaluation and Gram-matrix timings beside their SciPy equivalents, in one process.

Run from a build tree: PYTHONPATH=<build dir> python benchmarks/bench_evaluate.py
Prints the best of a few repetitions for each side and the ratio SciPy time / quorvel time.
"""

import numpy as np
import scipy.special
from scipy.interpolate import BSpline

import quorvel
from timing import best, report


def bench_bspline_evaluate(n_basis=1000, n_points=1_000_000):
    rng = np.random.default_rng(1)
    breakpoints = np.linspace(0.0, 1.0, n_basis - 2)
    space = quorvel.Space.bsplines_clamped(breakpoints, 3)
    knots = np.concatenate([[0.0] * 3, breakpoints, [1.0] * 3])
    x = rng.uniform(0.0, 1.0, n_points)
    ours = best(lambda: quorvel.evaluate(space, x))
    theirs = best(lambda: BSpline.design_matrix(x, knots, 3))
    report(f"evaluate {n_basis} cubic B-splines at {n_points} points", ours, theirs)


def bench_gram(sizes=(10_000, 100_000)):
    # SciPy has no Gram assembly of its own; the scaling with the basis size is the point here.
    previous = None
    for n in sizes:
        space = quorvel.Space.bsplines_clamped(np.linspace(0.0, 1.0, n - 2), 3)
        t = best(lambda: quorvel.inner_products(space, space))
        growth = (
            ""
            if previous is None
            else f"  growth x{t / previous[1]:.2f} for x{n / previous[0]:.0f} size"
        )
        print(f"Gram matrix of {n:>7} cubic B-splines   {t * 1e3:9.2f} ms{growth}")
        previous = (n, t)


def bench_voigt_evaluate(n_elements=1000, n_points=1_000_000, cutoff=20.0):
    rng = np.random.default_rng(2)
    centers = np.sort(rng.uniform(0.0, 1000.0, n_elements))
    sigma = rng.uniform(0.05, 0.2, n_elements)
    gamma = rng.uniform(0.05, 0.2, n_elements)
    space = quorvel.Space.voigts(centers, sigma, gamma, cutoff)
    x = rng.uniform(0.0, 1000.0, n_points)
    m = quorvel.evaluate(space, x)
    nnz = len(m[2])
    # The same (point, element) pairs: those inside the closed supports.
    lower, upper = space.lower(), space.upper()
    xs = np.sort(x)
    first = np.searchsorted(xs, lower, side="left")
    last = np.searchsorted(xs, upper, side="right")
    counts = last - first
    cols = np.repeat(np.arange(n_elements), counts)
    starts = np.repeat(first - np.concatenate([[0], np.cumsum(counts)[:-1]]), counts)
    rows_sorted = starts + np.arange(counts.sum())
    t = xs[rows_sorted] - centers[cols]
    s, g = sigma[cols], gamma[cols]

    ours = best(lambda: quorvel.evaluate(space, x))
    theirs = best(lambda: scipy.special.voigt_profile(t, s, g))
    pairs = t.size
    print(
        f"evaluate {n_elements} Voigt elements (cutoff {cutoff:g}) at {n_points} points:"
        f" {pairs} pairs in support, {nnz} stored"
    )
    report("  per pair", ours / pairs * 1e6, theirs / pairs * 1e6, unit=" per 1e6 pairs")


if __name__ == "__main__":
    bench_bspline_evaluate()
    bench_gram()
    bench_voigt_evaluate()
