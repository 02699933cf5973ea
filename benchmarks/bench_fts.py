"""Voigt lines seen through an FTS instrument: measure, measure_derivative and measure_derivatives
timed per (line, sample) pair, beside a NumPy Gauss-Legendre quadrature of the same matrix.

Run from a build tree: PYTHONPATH=<build dir> python benchmarks/bench_fts.py
Lines near 2000 cm^-1 (cutoff 100 half widths), a boxcar instrument with maximum optical path
difference 30 cm sampled every 0.01 cm^-1 (cutoff 60 zeros). Prints the best of a few repetitions
and the load average (a loaded machine makes the ratios noisy).
"""

import os

import numpy as np
import scipy.special

import quorvel
from timing import best

L = 30.0


def problem(n_lines, n_samples, seed=12):
    rng = np.random.default_rng(seed)
    centers = np.sort(rng.uniform(1995.0, 2005.0, n_lines))
    sigma = rng.uniform(0.004, 0.008, n_lines)
    gamma = rng.uniform(0.01, 0.03, n_lines)
    nu = 2000.0 + 0.01 * (np.arange(n_samples) - n_samples // 2)
    lines = quorvel.Space.voigts(centers, sigma, gamma, 100.0)
    ils = quorvel.Space.fts(nu, np.full(nu.size, L), 60.0, apodization="boxcar")
    return lines, ils, (centers, sigma, gamma, nu)


def numpy_measure(lines, ils, params):
    """<line_i, ils_j> by 8-point Gauss-Legendre on panels of one zero spacing of the sinc."""
    centers, sigma, gamma, nu = params
    z, w = np.polynomial.legendre.leggauss(8)
    llo, lhi, klo, khi = lines.lower(), lines.upper(), ils.lower(), ils.upper()
    out = np.zeros((len(centers), len(nu)))
    h = 0.5 / L
    for i in range(len(centers)):
        j = np.nonzero((klo < lhi[i]) & (khi > llo[i]))[0]
        a, b = np.maximum(klo[j], llo[i]), np.minimum(khi[j], lhi[i])
        npan = np.ceil((b - a) / h).astype(int)
        pair = np.repeat(np.arange(len(j)), npan)
        k = np.arange(npan.sum()) - np.repeat(np.cumsum(npan) - npan, npan)
        width = ((b - a) / npan)[pair]
        x = ((a[pair] + k * width)[:, None] + 0.5 * width[:, None] * (z + 1.0)).ravel()
        wx = (0.5 * width[:, None] * w).ravel()
        peak = scipy.special.voigt_profile(0.0, sigma[i], gamma[i])
        v = scipy.special.voigt_profile(x - centers[i], sigma[i], gamma[i]) / peak
        c = np.repeat(nu[j][pair], len(z))
        f = v * np.sinc(2.0 * L * (x - c)) * wx
        out[i, j] = np.bincount(np.repeat(pair, len(z)), weights=f, minlength=len(j))
    return out


def dense(m):
    indptr, indices, data, shape = m
    out = np.zeros(shape)
    for i in range(shape[0]):
        out[i, indices[indptr[i]:indptr[i + 1]]] = data[indptr[i]:indptr[i + 1]]
    return out


def main():
    print(f"# load average {os.getloadavg()[0]:.2f}")
    lines, ils, params = problem(10, 2001)
    ours = dense(quorvel.measure(lines, ils, "none"))
    ref = numpy_measure(lines, ils, params)
    pairs = np.count_nonzero(ref)
    print(f"10 lines x 2001 samples: {pairs} pairs, max relative difference to NumPy "
          f"{np.abs(ours - ref).max() / np.abs(ref).max():.1e}")
    tq = best(lambda: quorvel.measure(lines, ils, "none"))
    tp = best(lambda: numpy_measure(lines, ils, params))
    print(f"  measure       quorvel {tq / pairs * 1e6:7.2f} us/pair  numpy {tp / pairs * 1e6:7.2f}"
          f" us/pair  ratio {tp / tq:5.2f}")

    lines, ils, params = problem(2, 201)
    pairs = quorvel.measure(lines, ils, "integral")[0][-1]
    for parameter in ("center", "sigma", "gamma"):
        t = best(lambda: quorvel.measure_derivative(lines, ils, "integral", parameter))
        print(f"2 lines x 201 samples, measure_derivative {parameter:<6} "
              f"{t / pairs * 1e6:8.2f} us/pair")
    t = best(lambda: quorvel.measure_derivatives(lines, ils, "integral",
                                                  ["center", "sigma", "gamma"]))
    print(f"2 lines x 201 samples, measure_derivatives center+sigma+gamma "
          f"{t / pairs * 1e6:8.2f} us/pair")


if __name__ == "__main__":
    main()
