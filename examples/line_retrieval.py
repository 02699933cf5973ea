"""Two overlapping Voigt lines seen through pixels, fitted with exact Jacobians.

A detector integrates the spectrum over each pixel, so the data are pixel averages, not samples
at the pixel centres. The model here is exactly that: the pixels are boxes, the lines Voigt
elements, and `measure` gives the integral of each line over each pixel. `measure_derivative`
gives the exact derivative of those integrals with respect to each line's center, sigma and
gamma, which is the Jacobian that `scipy.optimize.least_squares` needs. The same data are then
fitted with lmfit's Voigt models at the pixel centres, the usual choice, which ignores the
pixel integration and so widens the lines.

    python examples/line_retrieval.py [--quick] [--output FILE.png]
"""

import argparse
import sys
import time
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import lmfit  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from scipy.optimize import least_squares  # noqa: E402
from scipy.special import voigt_profile  # noqa: E402

import quorvel  # noqa: E402

TRUE = {"area": [1.0, 0.6], "center": [4.7, 5.3], "sigma": [0.16, 0.22], "gamma": [0.1, 0.14]}
PIXEL = 0.25  # pixel width: comparable to the line widths
NOISE = 0.003
CUTOFF = 60.0  # the line supports (in Voigt half widths) cover the whole detector


def pixel_averages_of_truth(edges, per_pixel):
    """Pixel averages of the true, untruncated lines, by Gauss-Legendre sums inside each pixel
    (independent of quorvel)."""
    nodes, weights = np.polynomial.legendre.leggauss(per_pixel)
    half = 0.5 * np.diff(edges)
    x = (0.5 * (edges[:-1] + edges[1:]))[:, None] + half[:, None] * nodes
    spectrum = sum(
        a * voigt_profile(x - c, s, g)
        for a, c, s, g in zip(TRUE["area"], TRUE["center"], TRUE["sigma"], TRUE["gamma"])
    )
    return (spectrum * weights).sum(axis=1) / 2.0


def voigt_peak(sigma, gamma):
    """The peak value of a unit-area Voigt profile: quorvel's lines have peak 1 instead."""
    return quorvel.faddeeva_re(0.0, gamma / (sigma * np.sqrt(2.0))) / (sigma * np.sqrt(2 * np.pi))


class PixelModel:
    """Pixel averages of lines with peak heights a_k: d_j = sum_k a_k V_kj / width_j, where
    V_kj is the integral of line k over pixel j (lines are the rows, pixels the columns)."""

    def __init__(self, edges):
        self.pixels = quorvel.Space.boxes(edges)
        self.widths = np.diff(edges)

    @staticmethod
    def lines(p):
        height, center, sigma, gamma = p.reshape(-1, 4).T
        return height, quorvel.Space.voigts(center, sigma, gamma, CUTOFF)

    def __call__(self, p):
        height, lines = self.lines(p)
        v = quorvel.to_scipy(quorvel.measure(lines, self.pixels, "none")).toarray()
        return height @ v / self.widths

    def jacobian(self, p):
        height, lines = self.lines(p)
        columns = []
        for parameter in ("center", "sigma", "gamma"):
            pair = quorvel.measure_derivative(lines, self.pixels, "none", parameter)
            v, dv = (m.toarray() for m in quorvel.to_scipy(pair))
            columns.append(height[:, None] * dv / self.widths)
        # Column order per line: height, center, sigma, gamma.
        jac = np.stack([v / self.widths, *columns], axis=1)  # (lines, 4, pixels)
        return jac.reshape(-1, len(self.widths)).T


def fit_quorvel(model, data, p0):
    lower = np.tile([0.0, -np.inf, 1e-3, 1e-3], 2)
    start = time.perf_counter()
    fit = least_squares(lambda p: model(p) - data, p0, jac=model.jacobian, bounds=(lower, np.inf))
    seconds = time.perf_counter() - start
    height, center, sigma, gamma = fit.x.reshape(-1, 4).T
    area = height / np.array([voigt_peak(s, g) for s, g in zip(sigma, gamma)])
    result = {"area": area, "center": center, "sigma": sigma, "gamma": gamma}
    return fit, result, seconds


def fit_lmfit(x, data, p0):
    model = lmfit.models.VoigtModel(prefix="a_") + lmfit.models.VoigtModel(prefix="b_")
    params = model.make_params()
    for k, prefix in enumerate(("a_", "b_")):
        height, center, sigma, gamma = p0.reshape(-1, 4)[k]
        params[prefix + "amplitude"].set(value=height / voigt_peak(sigma, gamma), min=0)
        params[prefix + "center"].set(value=center)
        params[prefix + "sigma"].set(value=sigma, min=1e-3)
        params[prefix + "gamma"].set(value=gamma, min=1e-3, vary=True, expr="")
    start = time.perf_counter()
    fit = model.fit(data, params, x=x)
    seconds = time.perf_counter() - start
    get = lambda name: np.array([fit.params[p + name].value for p in ("a_", "b_")])  # noqa: E731
    result = {"area": get("amplitude"), "center": get("center"), "sigma": get("sigma"),
              "gamma": get("gamma")}
    return fit, result, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="a fast run for tests")
    parser.add_argument("--output", type=Path, default=Path(__file__).with_suffix(".png"))
    args = parser.parse_args()

    edges = np.arange(2.5, 7.5 + PIXEL / 2, PIXEL)
    centres = 0.5 * (edges[:-1] + edges[1:])
    clean = pixel_averages_of_truth(edges, 16 if args.quick else 64)
    data = clean + np.random.default_rng(1).normal(0.0, NOISE, clean.size)

    # Start from rough guesses: heights from the data, equal widths.
    p0 = np.array([1.2, 4.6, 0.2, 0.2, 0.7, 5.4, 0.2, 0.2])
    model = PixelModel(edges)
    step = 1e-6 * np.maximum(np.abs(p0), 1.0)
    numeric = np.stack([(model(p0 + e) - model(p0 - e)) / (2 * h)
                        for e, h in zip(np.diag(step), step)], axis=1)
    jac_error = np.abs(model.jacobian(p0) - numeric).max() / np.abs(numeric).max()

    ls, ours, ours_s = fit_quorvel(model, data, p0)
    lm, peer, peer_s = fit_lmfit(centres, data, p0)

    print(f"{len(edges) - 1} pixels of width {PIXEL}, noise {NOISE}")
    print(f"exact Jacobian vs central differences: max relative difference {jac_error:.1e}")
    print(f"{'':14}{'true':>9}{'quorvel':>10}{'lmfit':>9}")
    for name in ("area", "center", "sigma", "gamma"):
        for k in range(2):
            label = f"{name} {k + 1}"
            print(f"{label:14}{TRUE[name][k]:9.4f}{ours[name][k]:10.4f}{peer[name][k]:9.4f}")
    rms = lambda r: np.sqrt(np.mean(r**2))  # noqa: E731
    print(f"rms residual  {'':9}{rms(ls.fun):10.4f}{rms(lm.residual):9.4f}")
    print(f"evaluations   {'':9}{ls.nfev:10d}{lm.nfev:9d}")
    print(f"seconds       {'':9}{ours_s:10.3f}{peer_s:9.3f}")

    x = np.linspace(edges[0], edges[-1], 300 if args.quick else 1200)
    height, lines = PixelModel.lines(ls.x)
    fitted = height @ quorvel.to_scipy(quorvel.evaluate(lines, x)).toarray().T
    true_curve = sum(a * voigt_profile(x - c, s, g)
                     for a, c, s, g in zip(*(TRUE[n] for n in ("area", "center", "sigma", "gamma"))))
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(7.5, 5.5), sharex=True,
                                      gridspec_kw={"height_ratios": [3, 1]})
    top.stairs(data, edges, baseline=None, color="0.6", label="pixel data")
    top.plot(x, true_curve, "k", lw=4, alpha=0.25, label="true spectrum")
    top.plot(x, fitted, "C0", label="quorvel: pixel-integrated model")
    top.plot(x, lm.eval(x=x), "C3--", label="lmfit: Voigts at pixel centres")
    top.set_ylabel("intensity")
    top.set_title(f"line 1: σ true {TRUE['sigma'][0]:.3f}, quorvel {ours['sigma'][0]:.3f}, "
                  f"lmfit {peer['sigma'][0]:.3f}", fontsize=10)
    top.legend(frameon=False)
    bottom.stairs(ls.fun, edges, baseline=None, color="C0", label="quorvel")
    bottom.stairs(-lm.residual, edges, baseline=None, color="C3", ls="--", label="lmfit")
    bottom.axhline(0, color="k", lw=0.5)
    bottom.set_xlabel("wavenumber")
    bottom.set_ylabel("model - data")
    fig.tight_layout()
    fig.savefig(args.output, dpi=80)
    print(f"wrote {args.output}")

    # The retrieval must find the true lines within the noise; the Jacobian must be exact.
    assert jac_error < 1e-6, jac_error
    for name, tolerance in (("center", 0.01), ("sigma", 0.015), ("gamma", 0.015)):
        assert np.abs(ours[name] - TRUE[name]).max() < tolerance, (name, ours[name])
    return 0


if __name__ == "__main__":
    sys.exit(main())
