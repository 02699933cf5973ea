"""Two overlapping Voigt lines seen by a Fourier-transform spectrometer, fitted through its
instrument line shape with exact Jacobians.

An FTS sample is not the spectrum at a wavenumber: it is the spectrum averaged by the instrument
line shape (ILS), here a Norton-Beer "medium" apodized ILS of 0.01 cm^-1 half width, wider than
the lines themselves. `quorvel.LineModel` models exactly that: each sample is the ILS-weighted
average of the spectrum, and `quorvel.fit_lines` fits the line parameters with the exact
Jacobian and returns standard errors. lmfit's `VoigtModel` sum, the usual choice, fits the
samples as if they were the spectrum itself and so returns lines about twice as wide.

The data are computed independently of quorvel: the ILS by a numerical cosine transform of the
apodization window, the spectrum by `scipy.special.voigt_profile`, their product integrated on a
fine grid.

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
from scipy.special import voigt_profile  # noqa: E402

import quorvel  # noqa: E402

TRUE = {"amplitude": np.array([1.0, 0.6]), "center": np.array([2000.0, 2000.035]),
        "sigma": np.array([0.006, 0.006]), "gamma": np.array([0.003, 0.004])}
STEP = 0.01  # sample spacing (cm^-1); the maximum path difference is 0.5 / STEP
ILS_CUTOFF = 20.0  # ILS support in ILS half widths (0.5 / max_opd = STEP)
NORTON_BEER_MEDIUM = (0.152442, -0.136176, 0.983734)
NOISE = 0.005


def true_spectrum(x):
    """The lines with peak heights TRUE['amplitude'] (untruncated Voigt profiles)."""
    return sum(a * voigt_profile(x - c, s, g) / voigt_profile(0.0, s, g)
               for a, c, s, g in zip(*(TRUE[n] for n in ("amplitude", "center", "sigma", "gamma"))))


def fts_samples(centres, fine):
    """ILS averages of the true spectrum at the sample centres, by quadrature on a grid of
    spacing STEP / fine: the ILS is the cosine transform of the window over [-L, L]."""
    L, h = 0.5 / STEP, STEP / fine
    k = np.arange(-int(round(ILS_CUTOFF * STEP / h)), int(round(ILS_CUTOFF * STEP / h)) + 1)
    t = k * h
    u, w = np.polynomial.legendre.leggauss(400)
    window = sum(c * (1.0 - u * u) ** n for n, c in enumerate(NORTON_BEER_MEDIUM))
    ils = np.cos(2.0 * np.pi * L * np.outer(t, u)) @ (w * window)
    ils[[0, -1]] *= 0.5  # trapezoid end weights
    x = centres[:, None] + t
    return (true_spectrum(x) @ ils) / ils.sum()


def fit_lmfit(x, data, p0):
    model = lmfit.models.VoigtModel(prefix="a_") + lmfit.models.VoigtModel(prefix="b_")
    params = model.make_params()
    for i, pre in enumerate(("a_", "b_")):
        s, g = p0["sigma"][i], p0["gamma"][i]
        params[pre + "amplitude"].set(value=p0["amplitude"][i] / voigt_profile(0.0, s, g), min=0)
        params[pre + "center"].set(value=p0["center"][i])
        params[pre + "sigma"].set(value=s, min=1e-5)
        params[pre + "gamma"].set(value=g, min=1e-5, vary=True, expr="")
    start = time.perf_counter()
    out = model.fit(data, params, x=x)
    seconds = time.perf_counter() - start
    values, errors = {}, {}
    for name in TRUE:
        key = "amplitude" if name == "amplitude" else name
        values[name] = np.array([out.params[p + key].value for p in ("a_", "b_")])
        errors[name] = np.array([out.params[p + key].stderr or np.nan for p in ("a_", "b_")])
    # lmfit's amplitude is the area: the peak height is area times the unit-area peak.
    peak = voigt_profile(0.0, values["sigma"], values["gamma"])
    values["amplitude"] = values["amplitude"] * peak
    errors["amplitude"] = errors["amplitude"] * peak
    return out, values, errors, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="a fast run for tests")
    parser.add_argument("--output", type=Path, default=Path(__file__).with_suffix(".png"))
    args = parser.parse_args()

    centres = 1999.72 + STEP * np.arange(61)
    data = fts_samples(centres, 20 if args.quick else 100)
    data = data + np.random.default_rng(7).normal(0.0, NOISE, data.size)

    # The instrument: one FTS line shape per sample; the model: Voigt lines seen through it.
    instrument = quorvel.Space.fts(centres, np.full(centres.size, 0.5 / STEP), ILS_CUTOFF,
                                   apodization="norton_beer_medium")
    model = quorvel.LineModel("voigt", instrument, cutoff=100.0)
    p0 = {"amplitude": [0.7, 0.4], "center": [1999.995, 2000.04], "sigma": [0.01, 0.01],
          "gamma": [0.005, 0.005]}

    start = time.perf_counter()
    res = quorvel.fit_lines(model, data, p0)
    ours_s = time.perf_counter() - start
    lm, peer, peer_err, peer_s = fit_lmfit(centres, data, p0)

    # The Jacobian against central differences at the solution.
    jac = model.jacobian(res.params)
    columns = []
    for i in range(2):
        for name in model.parameter_names:
            h = 2.0**-20 if name in ("amplitude", "center") else 2.0**-30
            up = {n: v.copy() for n, v in res.params.items()}
            down = {n: v.copy() for n, v in res.params.items()}
            up[name][i] += h
            down[name][i] -= h
            columns.append((model(up) - model(down)) / (2.0 * h))
    numeric = np.stack(columns, axis=1)
    jac_error = np.max(np.abs(jac - numeric).max(axis=0) / np.abs(numeric).max(axis=0))

    print(f"{centres.size} FTS samples, spacing {STEP} cm^-1, Norton-Beer medium, noise {NOISE}")
    print(f"exact Jacobian vs central differences: max relative difference {jac_error:.1e}")
    print(f"{'':12}{'true':>10}{'quorvel':>22}{'lmfit (no ILS)':>24}")
    for name in TRUE:
        for i in range(2):
            ours = f"{res.params[name][i]:.5f} ± {res.stderr[name][i]:.5f}"
            theirs = f"{peer[name][i]:.5f} ± {peer_err[name][i]:.5f}"
            print(f"{name} {i + 1:<{11 - len(name)}}{TRUE[name][i]:10.5f}{ours:>22}{theirs:>24}")
    print(f"reduced chi2 {res.redchi / NOISE**2:21.2f}{lm.redchi / NOISE**2:24.2f}  (in noise^2)")
    print(f"evaluations  {res.nfev:21d}{lm.nfev:24d}")
    print(f"seconds      {ours_s:21.3f}{peer_s:24.3f}")
    print(res.report())

    x = np.linspace(centres[0], centres[-1], 600 if args.quick else 2400)
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(7.5, 6.0), sharex=True,
                                      gridspec_kw={"height_ratios": [3, 1]})
    top.plot(x, true_spectrum(x), "k", lw=5, alpha=0.25, label="true spectrum")
    top.plot(centres, data, "o", ms=3, color="0.4", label="FTS samples (ILS averages + noise)")
    top.plot(x, model.spectrum(res.params, x), "C0", label="quorvel: fitted lines (ILS removed)")
    top.plot(centres, res.best_fit, "C0:", lw=1, label="quorvel: fitted lines seen by the FTS")
    top.plot(x, lm.eval(x=x), "C3--", label="lmfit VoigtModel sum (no ILS)")
    top.set_ylabel("radiance (line 1 peak = 1)")
    top.set_title(f"line 1 Gaussian σ: true {TRUE['sigma'][0]:.4f} cm⁻¹, quorvel "
                  f"{res.params['sigma'][0]:.4f} ± {res.stderr['sigma'][0]:.4f}, "
                  f"lmfit {peer['sigma'][0]:.4f}", fontsize=10)
    top.legend(frameon=False, fontsize=8)
    bottom.plot(centres, res.best_fit - data, "C0o-", ms=2, lw=0.8, label="quorvel")
    bottom.plot(centres, lm.best_fit - data, "C3s--", ms=2, lw=0.8, label="lmfit")
    bottom.axhline(0.0, color="k", lw=0.5)
    bottom.set_xlabel("wavenumber (cm⁻¹)")
    bottom.ticklabel_format(axis="x", useOffset=False)
    bottom.set_ylabel("model − data")
    bottom.legend(frameon=False, fontsize=8, ncol=2)
    fig.tight_layout()
    fig.savefig(args.output, dpi=80)
    print(f"wrote {args.output}")

    # The fit must find the true lines within its standard errors, with an exact Jacobian;
    # the instrument-free fit must show the widening that the ILS causes.
    assert jac_error < 1e-6, jac_error
    for name in TRUE:
        assert np.all(np.abs(res.params[name] - TRUE[name]) < 4 * res.stderr[name]), name
    assert peer["sigma"][0] - TRUE["sigma"][0] > 5 * peer_err["sigma"][0], peer["sigma"]
    return 0


if __name__ == "__main__":
    sys.exit(main())
