"""A Gaussian process observed through bin averages, fitted with quorvel.GaussianProcess.

The data are noisy averages of a function over wide bins. quorvel.GaussianProcess takes the bins
as atoms (boxes): the covariance of two bin averages is the exact double integral of the kernel
over the two bins divided by their widths, and the hyperparameters maximise the marginal
likelihood with L-BFGS-B on its exact gradient. The posterior of the point values follows from
the covariance between points (deltas) and bins.

The peer is scikit-learn's GaussianProcessRegressor with the same kernel and bounds on the same
data placed at the bin centres, which treats each average as a point value and therefore sees a
smoother, flatter function than there is.

    python examples/gp_bin_averages.py [--quick] [--output FILE.png]
"""

import argparse
import sys
import time
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import scipy.optimize  # noqa: E402, F401  (loaded before the timings, as scikit-learn loads it)
from sklearn.gaussian_process import GaussianProcessRegressor  # noqa: E402
from sklearn.gaussian_process.kernels import RBF, ConstantKernel, WhiteKernel  # noqa: E402

import quorvel  # noqa: E402

WAVES = [(1.0, 1.5, 0.0), (0.5, 3.0, 1.0)]  # amplitude, frequency, phase of the truth
NOISE = 0.05  # standard deviation of the noise of each average, known


def truth(x):
    return sum(a * np.sin(k * x + p) for a, k, p in WAVES)


def bin_averages_of_truth(edges):
    lo, hi = edges[:-1], edges[1:]
    return sum(a * (np.cos(k * lo + p) - np.cos(k * hi + p)) / (k * (hi - lo)) for a, k, p in WAVES)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="a fast run for tests")
    parser.add_argument("--output", type=Path, default=Path(__file__).with_suffix(".png"))
    args = parser.parse_args()

    edges = np.linspace(0.0, 16.0, 21)
    centres = 0.5 * (edges[:-1] + edges[1:])
    y = bin_averages_of_truth(edges) + np.random.default_rng(0).normal(0.0, NOISE, len(centres))
    x = np.linspace(edges[0], edges[-1], 150 if args.quick else 600)

    start = time.perf_counter()
    gp = quorvel.GaussianProcess("squared_exponential", length=1.0, variance=1.0,
                                 noise=NOISE**2, noise_bounds="fixed",
                                 length_bounds=(0.05, 20.0), variance_bounds=(1e-3, 1e2))
    gp.fit(quorvel.Space.boxes(edges), y)
    mean, sd = gp.predict(quorvel.Space.deltas(x), return_std=True)
    ours_s = time.perf_counter() - start

    step = 1e-5
    lml = gp.log_marginal_likelihood
    numeric = [(lml(gp.theta_ + e) - lml(gp.theta_ - e)) / (2 * step) for e in step * np.eye(2)]
    exact = lml(gp.theta_, eval_gradient=True)[1]
    gradient_error = np.abs(exact - numeric).max() / max(np.abs(numeric).max(), 1e-3)

    start = time.perf_counter()
    noise = WhiteKernel(NOISE**2, noise_level_bounds="fixed")
    kernel = ConstantKernel(1.0, (1e-3, 1e2)) * RBF(1.0, (0.05, 20.0)) + noise
    peer = GaussianProcessRegressor(kernel, random_state=0).fit(centres[:, None], y)
    peer_mean = peer.predict(x[:, None])
    peer_s = time.perf_counter() - start

    p = peer.kernel_.get_params()
    rms = lambda m: np.sqrt(np.mean((m - truth(x)) ** 2))  # noqa: E731
    print(f"{len(centres)} bin averages of width {edges[1] - edges[0]:.2f}, noise sd {NOISE}")
    print(f"exact gradient vs central differences: max relative difference {gradient_error:.1e}")
    print(f"{'':24}{'quorvel (bins)':>16}{'sklearn (centres)':>19}")
    print(f"{'length':24}{gp.length_:16.3f}{p['k1__k2__length_scale']:19.3f}")
    print(f"{'variance':24}{gp.variance_:16.3f}{p['k1__k1__constant_value']:19.3f}")
    print(f"{'log marginal likelihood':24}{gp.log_marginal_likelihood_value_:16.3f}"
          f"{peer.log_marginal_likelihood_value_:19.3f}")
    print(f"{'rms error of the mean':24}{rms(mean):16.4f}{rms(peer_mean):19.4f}")
    print(f"{'evaluations':24}{gp.optimize_result_.nfev:16d}")
    print(f"{'seconds':24}{ours_s:16.3f}{peer_s:19.3f}")

    fig, ax = plt.subplots(figsize=(8, 4))
    ax.stairs(y, edges, baseline=None, color="0.5", label="bin averages (data)")
    ax.plot(x, truth(x), "k", lw=4, alpha=0.25, label="truth")
    ax.plot(x, mean, "C0", label=f"quorvel, GP of bin averages: rms error {rms(mean):.3f}")
    ax.fill_between(x, mean - 2 * sd, mean + 2 * sd, color="C0", alpha=0.15,
                    label="quorvel: ±2σ of the latent function")
    ax.plot(x, peer_mean, "C3--",
            label=f"scikit-learn, GP at bin centres: rms error {rms(peer_mean):.3f}")
    ax.set_xlabel("x (arbitrary units)")
    ax.set_ylabel("f(x) (arbitrary units)")
    ax.legend(frameon=False, fontsize=8, ncol=2, loc="upper center")
    ax.set_ylim(-2.2, 2.9)
    ax.set_title("A GP of the bin averages recovers the point values better than one at the "
                 "bin centres", fontsize=10)
    fig.tight_layout()
    fig.savefig(args.output, dpi=80)
    print(f"wrote {args.output}")

    # Exact gradients; modelling the averages recovers the point values better.
    assert gradient_error < 1e-4, gradient_error
    assert rms(mean) < rms(peer_mean), (rms(mean), rms(peer_mean))
    return 0


if __name__ == "__main__":
    sys.exit(main())
