"""smoothing_spline beside scipy.interpolate.make_smoothing_spline: agreement and speed.

Data: sin(2πx) plus Gaussian noise of 0.1. Rows:

- fixed lam, a knot at every point (1e3 to 1e5 points, with and without weights): the largest
  difference of the two splines relative to their peak, which penalised objective is lower, and
  the two times with their ratio;
- GCV on an even grid of 1,000 points (where SciPy's choice works): the difference of the two
  fits and their rms errors against the true curve;
- GCV on random x (300 to 3,000 points) and on even grids of 3,000 and 10,000 points: rms errors
  of both against the true curve (SciPy's message when it fails);
- the whole GCV and REML searches against one fit at the lam they choose, at 1e4 and 1e5
  points (a knot at every point) and 1e6 points (knots=1000);
- 1e5 points near 1e4 with spacing 1e-4 (GCV, exact spline) and 1e6 points with knots=1000.

    PYTHONPATH=build/dev python benchmarks/bench_smoothing.py [--scipy-large]

`--scipy-large` also runs SciPy's GCV on the 1e5-point axis near 1e4 (minutes).
"""

import argparse
import os
import time

import numpy as np
from scipy.interpolate import make_smoothing_spline

import quorvel
from timing import best, report

TRUTH = lambda x: np.sin(2.0 * np.pi * x)  # noqa: E731
NOISE = 0.1


def data(n, rng, grid=False, weighted=False):
    x = np.linspace(0.0, 1.0, n) if grid else np.sort(rng.uniform(0.0, 1.0, n))
    y = TRUTH(x) + rng.normal(0.0, NOISE, n)
    w = rng.uniform(0.5, 2.0, n) if weighted else None
    return x, y, w


def objective(spline, x, y, w, lam):
    """Σ w (y - f)² + lam ∫ f''², the integral exact by 2-point Gauss–Legendre per piece."""
    t = np.unique(spline.t)
    nodes, weights = np.polynomial.legendre.leggauss(2)
    mid, half = (t[1:] + t[:-1]) / 2, (t[1:] - t[:-1]) / 2
    at = (mid[:, None] + half[:, None] * nodes).ravel()
    wt = (half[:, None] * weights).ravel()
    w = np.ones_like(x) if w is None else w
    r = y - spline(x)
    return float(np.sum(w * r * r, dtype=np.longdouble)
                 + lam * np.sum(wt * spline(at, 2) ** 2, dtype=np.longdouble))


def rms(f, x):
    return float(np.sqrt(np.mean((f(x) - TRUTH(x)) ** 2)))


def scipy_gcv(x, y):
    try:
        return make_smoothing_spline(x, y)
    except ValueError as error:
        return str(error)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--scipy-large", action="store_true")
    args = parser.parse_args()
    rng = np.random.default_rng(1)
    print(f"load average: {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f} (2 cores)")
    quorvel.smoothing_spline(np.linspace(0, 1, 50), np.linspace(0, 1, 50) ** 2, lam=1.0)

    print("\nfixed lam = 1e-6, a knot at every point")
    for n, weighted in [(1000, False), (1000, True), (10_000, False), (10_000, True),
                        (100_000, False)]:
        x, y, w = data(n, rng, weighted=weighted)
        ours = quorvel.smoothing_spline(x, y, w=w, lam=1e-6)
        theirs = make_smoothing_spline(x, y, w=w, lam=1e-6)
        grid = np.linspace(x[0], x[-1], 20_001)
        diff = np.abs(ours(grid) - theirs(grid)).max() / np.abs(theirs(grid)).max()
        j_ours = objective(ours.to_scipy(), x, y, w, 1e-6)
        j_theirs = objective(theirs, x, y, w, 1e-6)
        lower = "quorvel" if j_ours < j_theirs else "scipy" if j_theirs < j_ours else "equal"
        print(f"  n={n:>6} {'weights' if weighted else 'no weights':<10} difference {diff:.1e} "
              f"of the peak; objective lower: {lower} (relative gap "
              f"{abs(j_ours - j_theirs) / j_theirs:.1e})")
        repeat = 3 if n < 100_000 else 1
        report(f"  time, n={n}{' weighted' if weighted else ''}",
               best(lambda: quorvel.smoothing_spline(x, y, w=w, lam=1e-6), repeat),
               best(lambda: make_smoothing_spline(x, y, w=w, lam=1e-6), repeat))

    print("\nGCV, even grid of 1,000 points")
    x, y, _ = data(1000, rng, grid=True)
    ours, theirs = quorvel.smoothing_spline(x, y), make_smoothing_spline(x, y)
    grid = np.linspace(0.0, 1.0, 5001)
    print(f"  lam quorvel {ours.lam:.4g}, scipy: see fits; largest difference of the fits "
          f"{np.abs(ours(grid) - theirs(grid)).max():.1e} (noise {NOISE})")
    print(f"  rms error against the truth: quorvel {rms(ours, grid):.4f}, "
          f"scipy {rms(theirs, grid):.4f}")

    print("\nGCV choice, rms error against the truth (noise 0.1)")
    for n, grid_x in [(300, False), (1000, False), (3000, False), (3000, True), (10_000, True)]:
        x, y, _ = data(n, rng, grid=grid_x)
        ours = quorvel.smoothing_spline(x, y)
        reml = quorvel.smoothing_spline(x, y, criterion="reml")
        theirs = scipy_gcv(x, y)
        peer = theirs if isinstance(theirs, str) else f"{rms(theirs, x):.4f}"
        print(f"  n={n:>6} {'even grid' if grid_x else 'random x':<9} quorvel gcv "
              f"{rms(ours, x):.4f} (edf {ours.edf:.1f}), reml {rms(reml, x):.4f} "
              f"(edf {reml.edf:.1f}), scipy {peer}")

    print("\nsearch against one fixed-lam fit at the chosen lam")
    for n, knots in [(10_000, None), (100_000, None), (1_000_000, 1000)]:
        x, y, _ = data(n, rng)
        repeat = 5 if n <= 10_000 else 2
        for criterion in ["gcv", "reml"]:
            s = quorvel.smoothing_spline(x, y, criterion=criterion, knots=knots)
            fixed = best(lambda: quorvel.smoothing_spline(x, y, lam=s.lam, knots=knots), repeat)
            t = best(lambda: quorvel.smoothing_spline(x, y, criterion=criterion, knots=knots),
                     repeat)
            print(f"  n={n:>7} knots={knots} {criterion}: {t * 1e3:.1f} ms = {t / fixed:.1f} "
                  f"fixed-lam fits ({fixed * 1e3:.1f} ms), {s.nfev} factorisations, "
                  f"edf {s.edf:.1f}")

    print("\n100,000 points near 1e4 with spacing 1e-4, GCV, a knot at every point")
    x = 1e4 + np.arange(100_000) * 1e-4
    y = TRUTH((x - x[0]) / (x[-1] - x[0])) + rng.normal(0.0, NOISE, x.size)
    t0 = time.perf_counter()
    s = quorvel.smoothing_spline(x, y)
    t = time.perf_counter() - t0
    truth = TRUTH((x - x[0]) / (x[-1] - x[0]))
    print(f"  quorvel {t:.2f} s, lam {s.lam:.3g}, edf {s.edf:.1f}, rms error "
          f"{np.sqrt(np.mean((s(x) - truth) ** 2)):.4f}")
    if args.scipy_large:
        t0 = time.perf_counter()
        theirs = scipy_gcv(x, y)
        t = time.perf_counter() - t0
        result = theirs if isinstance(theirs, str) else (
            f"rms error {np.sqrt(np.mean((theirs(x) - truth) ** 2)):.4f}")
        print(f"  scipy {t:.1f} s: {result}")

    print("\n1,000,000 points, knots=1000, GCV")
    x, y, _ = data(1_000_000, rng)
    t = best(lambda: quorvel.smoothing_spline(x, y, knots=1000), 2)
    s = quorvel.smoothing_spline(x, y, knots=1000)
    print(f"  quorvel {t:.2f} s, edf {s.edf:.1f}, rms error {rms(s, x[::100]):.4f}")
    print(f"\nload average: {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f} (2 cores)")


if __name__ == "__main__":
    main()
