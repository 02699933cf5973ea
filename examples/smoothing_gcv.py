"""Penalised B-spline smoothing with the smoothing chosen by generalised cross-validation.

Noisy samples y_i = f(x_i) + noise are fitted by cubic B-splines with knots at the samples and
the penalty ∫ f''²: `Fit` with deltas as kernels (point data), normalisation "none", penalty
"derivative" of order 2. Its influence matrix H = W F (W = fit.design(), F = fit.to_dense())
gives the GCV score n·RSS / (n - tr H)², minimised over the smoothing. This is the natural
cubic smoothing spline, so the result is compared with scipy.interpolate.make_smoothing_spline,
which picks its λ by GCV too. `Fit` scales its dimensionless `smoothing` by tr(WᵀW) / tr(P), so
λ = smoothing · tr(WᵀW) / tr(P) with P[i, j] = ∫ m_i'' m_j''.

    python examples/smoothing_gcv.py [--quick] [--output FILE.png]
"""

import argparse
import sys
import time
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from scipy.interpolate import make_smoothing_spline  # noqa: E402
from scipy.optimize import minimize_scalar  # noqa: E402

import quorvel  # noqa: E402


def truth(x):
    return np.sin(6.0 * x) * np.exp(-x) + 0.3 * x


class Smoother:
    """Cubic smoothing splines with knots at the data, as quorvel Fit objects."""

    def __init__(self, x, y):
        self.y = y
        self.kernels = quorvel.Space.deltas(x)
        # Pieces are half-open, so every B-spline is 0 at the end of the last piece: ending it
        # one rounding step after the last sample keeps that sample in the fit.
        breakpoints = np.append(x[:-1], np.nextafter(x[-1], np.inf))
        self.model = quorvel.Space.bsplines_clamped(breakpoints, 3)
        # λ of the textbook criterion Σ (y_i - f(x_i))² + λ ∫ f''² is smoothing · tr(WᵀW)/tr(P).
        second = self.model.derivative(2)
        trace_p = quorvel.to_scipy(quorvel.inner_products(second, second)).diagonal().sum()
        w = quorvel.to_scipy(quorvel.measure(self.kernels, self.model, "none"))
        self.lam_per_smoothing = (w.data**2).sum() / trace_p

    def fit(self, lam):
        return quorvel.Fit(self.kernels, self.model, "none", lam / self.lam_per_smoothing,
                           "derivative", 2)

    def gcv(self, lam):
        fit = self.fit(lam)
        w = quorvel.to_scipy(fit.design())
        trace_h = (w.toarray() * fit.to_dense().T).sum()  # tr(W F)
        rss = ((w @ fit.apply_last_axis(self.y[None, :])[0] - self.y) ** 2).sum()
        n = len(self.y)
        return n * rss / (n - trace_h) ** 2

    def curve(self, lam, x):
        coefficients = self.fit(lam).apply_last_axis(self.y[None, :])[0]
        return quorvel.to_scipy(quorvel.evaluate(self.model, x)) @ coefficients


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="a fast run for tests")
    parser.add_argument("--output", type=Path, default=Path(__file__).with_suffix(".png"))
    args = parser.parse_args()

    rng = np.random.default_rng(7)
    n = 60 if args.quick else 250
    x = np.sort(rng.uniform(0.0, 3.0, n))
    y = truth(x) + rng.normal(0.0, 0.15, n)
    grid = np.linspace(x[0], x[-1], 400)

    start = time.perf_counter()
    smoother = Smoother(x, y)
    log_lams = np.linspace(-9.0, 1.0, 11 if args.quick else 41)
    scores = np.array([smoother.gcv(10.0**t) for t in log_lams])
    best = log_lams[scores.argmin()]
    step = log_lams[1] - log_lams[0]
    refined = minimize_scalar(lambda t: smoother.gcv(10.0**t), bounds=(best - step, best + step),
                              method="bounded", options={"xatol": 1e-4})
    lam = 10.0**refined.x
    ours = smoother.curve(lam, grid)
    ours_s = time.perf_counter() - start

    start = time.perf_counter()
    peer = make_smoothing_spline(x, y)  # λ by GCV
    peer_s = time.perf_counter() - start
    same_lam = make_smoothing_spline(x, y, lam=lam)

    scale = np.abs(ours).max()
    same_lam_error = np.abs(same_lam(grid) - ours).max() / scale
    gcv_choice_difference = np.abs(peer(grid) - ours).max() / scale
    rms = lambda c: np.sqrt(np.mean((c - truth(grid)) ** 2))  # noqa: E731
    print(f"{n} noisy samples, cubic B-splines with knots at the samples")
    print(f"GCV choice: λ = {lam:.4g} (smoothing = {lam / smoother.lam_per_smoothing:.4g})")
    print(f"same λ in make_smoothing_spline: largest difference {same_lam_error:.1e} of the peak")
    print(f"make_smoothing_spline with its own GCV λ: largest difference "
          f"{gcv_choice_difference:.1e} of the peak")
    print(f"rms error against the truth: quorvel {rms(ours):.4f}, scipy {rms(peer(grid)):.4f}")
    print(f"seconds: quorvel (GCV scan and fit) {ours_s:.3f}, scipy {peer_s:.3f}")

    fig, (left, right) = plt.subplots(1, 2, figsize=(10, 4), gridspec_kw={"width_ratios": [3, 2]})
    left.plot(x, y, ".", color="0.6", ms=4, label="data")
    left.plot(grid, truth(grid), "k", lw=4, alpha=0.25, label="truth")
    left.plot(grid, ours, "C0", label="quorvel Fit, λ by GCV")
    left.plot(grid, peer(grid), "C3--", label="make_smoothing_spline")
    left.set_xlabel("x")
    left.legend(frameon=False, fontsize=9)
    right.semilogx(10.0**log_lams, scores, "C0.-")
    right.axvline(lam, color="C0", lw=0.8)
    right.set_xlabel("λ")
    right.set_ylabel("GCV score")
    fig.tight_layout()
    fig.savefig(args.output, dpi=80)
    print(f"wrote {args.output}")

    # The same criterion with the same λ is the same spline; both GCV choices nearly agree.
    assert same_lam_error < 1e-7, same_lam_error
    assert gcv_choice_difference < 1e-2, gcv_choice_difference
    return 0


if __name__ == "__main__":
    sys.exit(main())
