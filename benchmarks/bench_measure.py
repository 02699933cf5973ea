"""measure and measure_derivative timings beside a SciPy equivalent, in one process.

Run from a build tree: PYTHONPATH=<build dir> python benchmarks/bench_measure.py
Gaussian kernels measured on 10,000 cubic B-splines ("integral" normalisation). Prints the best
of a few repetitions, the growth from 1,000 to 10,000 kernels, and the speed-up of two threads
over one (each thread count in its own subprocess, OMP_NUM_THREADS set before the import).
"""

import json
import os
import subprocess
import sys

import numpy as np
from scipy import sparse
from scipy.interpolate import BSpline

import quorvel
from timing import best

N_BASIS = 10_000
CUTOFF = 4.0


def problem(n_kernels):
    knots = np.linspace(0.0, 1000.0, N_BASIS + 4)
    basis = quorvel.Space.bsplines(knots, 3)
    rng = np.random.default_rng(7)
    centers = np.sort(rng.uniform(5.0, 995.0, n_kernels))
    sigma = rng.uniform(0.15, 0.4, n_kernels)
    return knots, basis, centers, sigma


def scipy_measure(knots, centers, sigma, order=8):
    """W by an 8-point Gauss-Legendre rule on every knot interval met by each truncated Gaussian
    (panels clipped to the support), B-spline values from BSpline.design_matrix, one sparse
    product, rows divided by the kernels' integrals."""
    nodes, weights = np.polynomial.legendre.leggauss(order)
    step = knots[1] - knots[0]
    lo, hi = centers - CUTOFF * sigma, centers + CUTOFF * sigma
    first = np.floor((lo - knots[0]) / step)
    n_panels = int(np.max(np.floor((hi - knots[0]) / step) - first)) + 1
    edges = knots[0] + (first[:, None] + np.arange(n_panels + 1)[None, :]) * step
    edges = np.clip(edges, lo[:, None], hi[:, None])
    half = np.diff(edges, axis=1)[:, :, None] / 2
    mid = (edges[:, :-1, None] + edges[:, 1:, None]) / 2
    x = (mid + half * nodes).reshape(len(centers), -1)
    kw = (half * weights).reshape(len(centers), -1) * np.exp(
        -0.5 * ((x - centers[:, None]) / sigma[:, None]) ** 2)
    n, m = x.shape
    k = sparse.csr_matrix((kw.ravel(), np.arange(n * m), np.arange(0, n * m + 1, m)),
                          shape=(n, n * m))
    b = BSpline.design_matrix(np.clip(x.ravel(), knots[3], knots[-4]), knots, 3)
    w = (k @ b).tocsr()
    w.eliminate_zeros()
    return sparse.diags(1.0 / np.asarray(k.sum(axis=1)).ravel()) @ w


def dense_rows(m, rows):
    indptr, indices, data, shape = m
    return sparse.csr_matrix((data, indices, indptr), shape=shape)[rows].toarray()


def timings(n_kernels):
    knots, basis, centers, sigma = problem(n_kernels)
    kernels = quorvel.Space.gaussians(centers, sigma, CUTOFF)
    t_measure = best(lambda: quorvel.measure(kernels, basis, "integral"))
    t_derivative = best(lambda: quorvel.measure_derivative(kernels, basis, "integral", "sigma"))
    return {"measure": t_measure, "derivative": t_derivative}


def child(n_kernels):
    print(json.dumps(timings(n_kernels)))


def in_subprocess(threads, n_kernels):
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))
    out = subprocess.run([sys.executable, __file__, "--child", str(n_kernels)], env=env,
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    n = 10_000
    knots, basis, centers, sigma = problem(n)
    kernels = quorvel.Space.gaussians(centers, sigma, CUTOFF)

    ours = best(lambda: quorvel.measure(kernels, basis, "integral"))
    theirs = best(lambda: scipy_measure(knots, centers, sigma))
    rows = np.arange(0, n, 97)
    err = np.abs(dense_rows(quorvel.measure(kernels, basis, "integral"), rows)
                 - scipy_measure(knots, centers, sigma)[rows].toarray()).max()
    print(f"measure, {n} Gaussians x {N_BASIS} cubic B-splines: quorvel {ours * 1e3:8.1f} ms, "
          f"scipy (GL per knot interval + design_matrix) {theirs * 1e3:8.1f} ms, "
          f"ratio {theirs / ours:5.2f}, max difference {err:.1e}")

    # Without an exact derivative a caller differences two measurements.
    h = 1e-6
    ours_d = best(lambda: quorvel.measure_derivative(kernels, basis, "integral", "sigma"))
    theirs_d = best(lambda: (scipy_measure(knots, centers, sigma + h)
                             - scipy_measure(knots, centers, sigma - h)) / (2 * h))
    print(f"measure_derivative (sigma): quorvel {ours_d * 1e3:8.1f} ms, "
          f"scipy central difference {theirs_d * 1e3:8.1f} ms, ratio {theirs_d / ours_d:5.2f}")

    small, large = timings(1_000), timings(10_000)
    for key in ("measure", "derivative"):
        print(f"{key:<10} 1,000 kernels {small[key] * 1e3:8.1f} ms, 10,000 kernels "
              f"{large[key] * 1e3:8.1f} ms, growth x{large[key] / small[key]:.2f} for x10 kernels")

    # Alternate the two thread counts and keep the best of each, so that a burst of other load
    # on the machine does not land on one side only.
    runs = [(in_subprocess(1, n), in_subprocess(2, n)) for _ in range(3)]
    one = {key: min(r[0][key] for r in runs) for key in runs[0][0]}
    two = {key: min(r[1][key] for r in runs) for key in runs[0][1]}
    for key in ("measure", "derivative"):
        print(f"{key:<10} 1 thread {one[key] * 1e3:8.1f} ms, 2 threads {two[key] * 1e3:8.1f} ms, "
              f"speed-up x{one[key] / two[key]:.2f}")


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--child":
        child(int(sys.argv[2]))
    else:
        main()
