"""A Gaussian process observed through bin averages, with exact hyperparameter gradients.

The data are noisy averages of a function over wide bins. The Gaussian process prior is
squared-exponential; the covariance of two bin averages is the double integral of the kernel
over the two bins divided by their widths, which `covariance_length_derivatives` computes with
boxes as atoms, together with ℓ ∂K/∂ℓ. Those give the exact gradient of the log marginal
likelihood with respect to log ℓ and log variance (the noise level is known), for L-BFGS-B.
The posterior of the point values comes from the covariance between deltas (points) and boxes
(bins).

The peer is scikit-learn's GaussianProcessRegressor on the same data placed at the bin
centres, which treats each average as a point value and therefore sees a smoother, flatter
function than there is.

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
from scipy.linalg import cho_factor, cho_solve  # noqa: E402
from scipy.optimize import minimize  # noqa: E402
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


def dims(length):
    return [("squared_exponential", length, None, None)]


class BinGP:
    """Negative log marginal likelihood of bin averages and its gradient in the log
    hyperparameters (log ℓ, log variance)."""

    def __init__(self, edges, y):
        self.bins, self.y = [quorvel.Space.boxes(edges)], y

    def __call__(self, theta):
        length, variance = np.exp(theta)
        # K and ℓ ∂K/∂ℓ; the derivative with respect to log variance is K itself.
        k, (k_length,), _ = quorvel.covariance_length_derivatives(
            variance, dims(length), self.bins, [None]
        )
        factor = cho_factor(k + NOISE**2 * np.eye(len(self.y)))
        alpha = cho_solve(factor, self.y)
        value = 0.5 * self.y @ alpha + np.log(np.diag(factor[0])).sum()
        inner = np.outer(alpha, alpha) - cho_solve(factor, np.eye(len(self.y)))
        gradient = [-0.5 * (inner * d).sum() for d in (k_length, k)]
        return value + 0.5 * len(self.y) * np.log(2 * np.pi), np.array(gradient)

    def posterior(self, theta, x):
        length, variance = np.exp(theta)
        points = [quorvel.Space.deltas(x)]
        k = quorvel.covariance_matrix(variance, dims(length), self.bins, [None], self.bins,
                                      [None], symmetric=True)
        cross = quorvel.covariance_matrix(variance, dims(length), points, [None], self.bins,
                                          [None])
        factor = cho_factor(k + NOISE**2 * np.eye(len(self.y)))
        mean = cross @ cho_solve(factor, self.y)
        var = variance - (cross * cho_solve(factor, cross.T).T).sum(axis=1)
        return mean, np.sqrt(np.maximum(var, 0.0))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="a fast run for tests")
    parser.add_argument("--output", type=Path, default=Path(__file__).with_suffix(".png"))
    args = parser.parse_args()

    edges = np.linspace(0.0, 16.0, 21)
    centres = 0.5 * (edges[:-1] + edges[1:])
    y = bin_averages_of_truth(edges) + np.random.default_rng(0).normal(0.0, NOISE, len(centres))
    x = np.linspace(edges[0], edges[-1], 150 if args.quick else 600)

    gp = BinGP(edges, y)
    theta0 = np.log([1.0, 1.0])
    step = 1e-5
    numeric = [(gp(theta0 + e)[0] - gp(theta0 - e)[0]) / (2 * step) for e in step * np.eye(2)]
    gradient_error = np.abs(gp(theta0)[1] - numeric).max() / np.abs(numeric).max()

    start = time.perf_counter()
    bounds = [(np.log(0.05), np.log(20.0)), (np.log(1e-3), np.log(1e2))]
    best = minimize(gp, theta0, jac=True, method="L-BFGS-B", bounds=bounds)
    mean, sd = gp.posterior(best.x, x)
    ours_s = time.perf_counter() - start

    start = time.perf_counter()
    noise = WhiteKernel(NOISE**2, noise_level_bounds="fixed")
    kernel = ConstantKernel(1.0, (1e-3, 1e2)) * RBF(1.0, (0.05, 20.0)) + noise
    peer = GaussianProcessRegressor(kernel, random_state=0).fit(centres[:, None], y)
    peer_mean, peer_sd = peer.predict(x[:, None], return_std=True)
    peer_s = time.perf_counter() - start

    length, variance = np.exp(best.x)
    p = peer.kernel_.get_params()
    rms = lambda m: np.sqrt(np.mean((m - truth(x)) ** 2))  # noqa: E731
    print(f"{len(centres)} bin averages of width {edges[1] - edges[0]:.2f}, noise sd {NOISE}")
    print(f"exact gradient vs central differences: max relative difference {gradient_error:.1e}")
    print(f"{'':24}{'quorvel (bins)':>16}{'sklearn (centres)':>19}")
    print(f"{'length':24}{length:16.3f}{p['k1__k2__length_scale']:19.3f}")
    print(f"{'variance':24}{variance:16.3f}{p['k1__k1__constant_value']:19.3f}")
    nll = -peer.log_marginal_likelihood_value_
    print(f"{'-log marginal likelihood':24}{best.fun:16.3f}{nll:19.3f}")
    print(f"{'rms error of the mean':24}{rms(mean):16.4f}{rms(peer_mean):19.4f}")
    print(f"{'iterations':24}{best.nit:16d}")
    print(f"{'seconds':24}{ours_s:16.3f}{peer_s:19.3f}")

    fig, ax = plt.subplots(figsize=(8, 4))
    ax.stairs(y, edges, baseline=None, color="0.5", label="bin averages (data)")
    ax.plot(x, truth(x), "k", lw=4, alpha=0.25, label="truth")
    ax.plot(x, mean, "C0", label="quorvel: GP of bin averages")
    ax.fill_between(x, mean - 2 * sd, mean + 2 * sd, color="C0", alpha=0.15)
    ax.plot(x, peer_mean, "C3--", label="scikit-learn: GP at bin centres")
    ax.set_xlabel("x")
    ax.legend(frameon=False, fontsize=9, ncol=2, loc="upper center")
    ax.set_ylim(-2.2, 2.6)
    fig.tight_layout()
    fig.savefig(args.output, dpi=80)
    print(f"wrote {args.output}")

    # Exact gradients; modelling the averages recovers the point values better.
    assert gradient_error < 1e-4, gradient_error
    assert rms(mean) < rms(peer_mean), (rms(mean), rms(peer_mean))
    return 0


if __name__ == "__main__":
    sys.exit(main())
