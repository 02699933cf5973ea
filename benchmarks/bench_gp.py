"""GaussianProcess against scikit-learn's GaussianProcessRegressor on the same point data.

Fit with optimisation (L-BFGS-B from the same start), one evaluation of the log marginal
likelihood with its gradient, and predict with standard deviations, for 2,000 noisy point
observations and a Matérn 3/2 kernel; prints times and the ratio scikit-learn / quorvel (above 1:
quorvel faster). Both spend most of their time in the same LAPACK Cholesky; on a busy machine
set OPENBLAS_NUM_THREADS=1 for steadier ratios.

    PYTHONPATH=<build dir> python benchmarks/bench_gp.py [n]
"""

import os
import sys

import numpy as np
from sklearn.gaussian_process import GaussianProcessRegressor
from sklearn.gaussian_process.kernels import ConstantKernel, Matern, WhiteKernel

import quorvel
from timing import best


def report(name, ours, theirs):
    print(f"{name:<44} quorvel {ours:8.3f} s  scikit-learn {theirs:8.3f} s  "
          f"ratio {theirs / ours:5.2f}")


def main(n=2000):
    rng = np.random.default_rng(0)
    x = np.sort(rng.uniform(0.0, 100.0, n))
    y = np.sin(x) + 0.5 * np.sin(0.3 * x) + 0.1 * rng.normal(size=n)
    new = np.linspace(-1.0, 101.0, n)
    atoms, new_atoms = quorvel.Space.deltas(x), quorvel.Space.deltas(new)

    def ours():
        return quorvel.GaussianProcess("matern32", 1.0, 1.0, 0.01).fit(atoms, y)

    def theirs():
        kernel = ConstantKernel(1.0) * Matern(1.0, nu=1.5) + WhiteKernel(0.01)
        return GaussianProcessRegressor(kernel, alpha=0.0).fit(x[:, None], y)

    print(f"{n} point observations, Matern 3/2 kernel; load average "
          f"{open('/proc/loadavg').read().split()[0]}, "
          f"OPENBLAS_NUM_THREADS={os.environ.get('OPENBLAS_NUM_THREADS', 'unset')}")
    gp, peer = ours(), theirs()
    agreement = np.abs(np.exp(gp.theta_) / np.exp(peer.kernel_.theta) - 1).max()
    print(f"optimised hyperparameters agree to {agreement:.1e} relative "
          f"(quorvel: {gp.optimize_result_.nfev} evaluations)")

    report("fit with optimisation", best(ours, 2), best(theirs, 2))
    theta = gp.theta_
    report("log marginal likelihood and gradient",
           best(lambda: gp.log_marginal_likelihood(theta, eval_gradient=True), 3),
           best(lambda: peer.log_marginal_likelihood(theta, eval_gradient=True), 3))
    report(f"predict mean and std at {n} points",
           best(lambda: gp.predict(new_atoms, return_std=True), 3),
           best(lambda: peer.predict(new[:, None], return_std=True), 3))


if __name__ == "__main__":
    main(*map(int, sys.argv[1:]))
