"""Line fitting: LineModel and fit_lines beside lmfit's VoigtModel sum, in one process.

Run from a build tree: PYTHONPATH=<build dir> python benchmarks/bench_lines.py [--lines 100]
    [--samples 2000] [--fit-lines 20]

Voigt lines seen by an FTS (0.01 cm^-1 spacing, Norton-Beer medium ILS, cutoff 20 ILS half
widths; line cutoff 100 half widths). Prints
- one evaluation of the samples and of the exact Jacobian (`model(p)` + `model.jacobian(p)`, and
  the single `measure_derivatives` call that fit_lines makes per point), beside one evaluation of
  lmfit's sum of VoigtModels at the sample positions and the forward-difference Jacobian that
  its default solver builds from n_params + 1 such evaluations;
- a whole fit of `--fit-lines` of those lines from a perturbed start on the same data by both,
  with the time and the bias of the fitted Gaussian widths (lmfit solves a different problem: it
  ignores the instrument, so its widths absorb the ILS).
Ratios are lmfit time / quorvel time (above 1: quorvel faster).
"""

import argparse
import os
import time

import lmfit
import numpy as np

import quorvel
from timing import best

STEP = 0.01


def problem(n_lines, n_samples, seed=5):
    rng = np.random.default_rng(seed)
    centres = 2000.0 + STEP * np.arange(n_samples)
    span = STEP * n_samples
    # Lines spread evenly over the samples (jittered), 0.5 cm^-1 from the ends.
    spacing = (span - 1.0) / n_lines
    centers = 2000.5 + spacing * (np.arange(n_lines) + 0.5)
    centers += rng.uniform(-0.1, 0.1, n_lines) * spacing
    truth = {"amplitude": rng.uniform(0.3, 1.0, n_lines), "center": centers,
             "sigma": rng.uniform(0.005, 0.008, n_lines),
             "gamma": rng.uniform(0.002, 0.005, n_lines)}
    ils = quorvel.Space.fts(centres, np.full(n_samples, 0.5 / STEP), 20.0,
                            apodization="norton_beer_medium")
    return centres, ils, truth


def lmfit_model(n_lines, p):
    model = lmfit.models.VoigtModel(prefix="l0_")
    for i in range(1, n_lines):
        model = model + lmfit.models.VoigtModel(prefix=f"l{i}_")
    params = model.make_params()
    for i in range(n_lines):
        s, g = p["sigma"][i], p["gamma"][i]
        peak = quorvel.faddeeva_re(0.0, g / (s * np.sqrt(2.0))) / (s * np.sqrt(2.0 * np.pi))
        params[f"l{i}_amplitude"].set(value=p["amplitude"][i] / peak, min=0.0)
        params[f"l{i}_center"].set(value=p["center"][i])
        params[f"l{i}_sigma"].set(value=s, min=1e-5)
        params[f"l{i}_gamma"].set(value=g, min=1e-5, vary=True, expr="")
    return model, params


def evaluation(n_lines, n_samples):
    centres, ils, truth = problem(n_lines, n_samples)
    model = quorvel.LineModel("voigt", ils, cutoff=100.0)
    ours_y = best(lambda: model(truth))
    ours_j = best(lambda: model.jacobian(truth))
    p = model._values(truth)
    ours_one = best(lambda: model._measure(p, derivatives=True))

    peer, params = lmfit_model(n_lines, truth)
    theirs_y = best(lambda: peer.eval(params, x=centres))
    n_free = 4 * n_lines
    # Forward differences: n_free evaluations beside the one at the point.
    theirs_j = theirs_y * n_free
    print(f"{n_lines} Voigt lines, {n_samples} FTS samples, "
          f"{quorvel.measure(model.lines(truth), ils, 'none')[1].size} line-sample pairs")
    print(f"  quorvel model(p)                       {ours_y * 1e3:9.1f} ms")
    print(f"  quorvel model.jacobian(p)              {ours_j * 1e3:9.1f} ms")
    print(f"  quorvel both from one core call        {ours_one * 1e3:9.1f} ms")
    print(f"  lmfit VoigtModel sum, one evaluation   {theirs_y * 1e3:9.1f} ms")
    print(f"  lmfit forward-difference Jacobian      {theirs_j * 1e3:9.1f} ms"
          f"  ({n_free} evaluations)")
    print(f"  ratio lmfit (eval + jacobian) / quorvel (one call): "
          f"{(theirs_y + theirs_j) / ours_one:.1f}")


def whole_fit(n_lines, n_samples):
    centres, ils, truth = problem(n_lines, n_samples, seed=11)
    model = quorvel.LineModel("voigt", ils, cutoff=100.0)
    noise = 0.005
    data = model(truth) + np.random.default_rng(1).normal(0.0, noise, n_samples)
    rng = np.random.default_rng(2)
    p0 = {"amplitude": truth["amplitude"] * rng.uniform(0.8, 1.2, n_lines),
          "center": truth["center"] + rng.uniform(-0.002, 0.002, n_lines),
          "sigma": np.full(n_lines, 0.008), "gamma": np.full(n_lines, 0.004)}

    t0 = time.perf_counter()
    res = quorvel.fit_lines(model, data, p0, sigma=noise)
    ours = time.perf_counter() - t0
    peer, params = lmfit_model(n_lines, p0)
    t0 = time.perf_counter()
    out = peer.fit(data, params, x=centres)
    theirs = time.perf_counter() - t0
    lm_sigma = np.array([out.params[f"l{i}_sigma"].value for i in range(n_lines)])

    def bias(sigma):
        return np.mean(sigma / truth["sigma"] - 1.0)

    z = (res.params["sigma"] - truth["sigma"]) / res.stderr["sigma"]
    print(f"whole fit, {n_lines} Voigt lines ({4 * n_lines} parameters), {n_samples} samples")
    print(f"  quorvel fit_lines  {ours:8.2f} s  nfev {res.nfev:4d}  "
          f"sigma bias {bias(res.params['sigma']):+7.1%}  (rms z {np.sqrt(np.mean(z**2)):.2f})")
    print(f"  lmfit (no ILS)     {theirs:8.2f} s  nfev {out.nfev:4d}  "
          f"sigma bias {bias(lm_sigma):+7.1%}")
    print(f"  ratio lmfit / quorvel time: {theirs / ours:.1f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--lines", type=int, default=100)
    parser.add_argument("--samples", type=int, default=2000)
    parser.add_argument("--fit-lines", type=int, default=20)
    args = parser.parse_args()
    print(f"load average {os.getloadavg()[0]:.2f}; OMP_NUM_THREADS "
          f"{os.environ.get('OMP_NUM_THREADS', 'unset')}")
    evaluation(args.lines, args.samples)
    whole_fit(args.fit_lines, args.fit_lines * args.samples // args.lines)


if __name__ == "__main__":
    main()
