"""covariance_matrix of point atoms against scikit-learn's kernels, the cost of the length
derivatives against the matrix, and weighted bins against the weight's frequency.

Point atoms: 2,000 uniform points on [0, 100], squared exponential of length 5 (1-D) and length
(5, 2) on a second coordinate (2-D), symmetric, against RBF; prints the ratio scikit-learn /
quorvel (above 1: quorvel faster). Then covariance_length_derivatives / covariance_matrix on the
same points (target: near 1-2), and the self-covariance of one cos(w x)-weighted bin [0, 10] with
length 1e-4 for growing w.

    PYTHONPATH=<build dir> python benchmarks/bench_covariance.py [n]
"""

import sys

import numpy as np
from sklearn.gaussian_process.kernels import RBF

import quorvel
from timing import best


def main(n=2000):
    print(f"load average {open('/proc/loadavg').read().split()[0]}")
    rng = np.random.default_rng(9)
    x, x2 = rng.uniform(0.0, 100.0, n), rng.uniform(0.0, 50.0, n)
    one, two = [quorvel.Space.deltas(x)], [quorvel.Space.deltas(x), quorvel.Space.deltas(x2)]
    se = [("squared_exponential", 5.0, None, None)]
    se2 = se + [("squared_exponential", 2.0, None, None)]
    for name, dims, atoms, peer in (
            ("1-D", se, one, lambda: RBF(5.0)(x[:, None])),
            ("2-D", se2, two, lambda: RBF([5.0, 2.0])(np.column_stack([x, x2])))):
        w = [None] * len(dims)

        def ours():
            return quorvel.covariance_matrix(1.0, dims, atoms, w, atoms, w, symmetric=True)

        assert np.abs(ours() - peer()).max() <= 1e-14
        tq, tp = best(ours, 7), best(peer, 7)
        print(f"SE {name} n={n} symmetric: quorvel {tq * 1e3:7.2f} ms  scikit-learn "
              f"{tp * 1e3:7.2f} ms  ratio {tp / tq:5.2f}")
        td = best(lambda: quorvel.covariance_length_derivatives(1.0, dims, atoms, w), 5)
        print(f"   length derivatives / matrix: {td / tq:5.2f}")
    box = [quorvel.Space.boxes(np.array([0.0, 10.0]))]
    for omega in (1.0, 1e2, 1e4, 1e5):
        t = best(lambda: quorvel.covariance_matrix(
            1.0, [("squared_exponential", 1e-4, None, None)], box, [omega], box, [omega]), 3)
        print(f"weighted bin [0, 10], length 1e-4, w = {omega:g}: {t * 1e3:8.2f} ms")


if __name__ == "__main__":
    main(*map(int, sys.argv[1:]))
