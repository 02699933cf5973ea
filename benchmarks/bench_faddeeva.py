"""faddeeva_re beside scipy.special.wofz, in one process.

Run from a build tree: PYTHONPATH=<build dir> python benchmarks/bench_faddeeva.py
Prints the best of a few repetitions for each side and the ratio SciPy time / quorvel time.
Both sides are called once per point from Python, so the figures include the call overhead
that a user of the scalar function pays.
"""

import numpy as np
from scipy.special import wofz

import quorvel
from timing import best


def main(n=200_000):
    rng = np.random.default_rng(1)
    xs = rng.uniform(-20.0, 20.0, n).tolist()
    ys = rng.uniform(0.0, 20.0, n).tolist()
    zs = [complex(x, y) for x, y in zip(xs, ys)]
    f = quorvel.faddeeva_re

    ours = best(lambda: [f(x, y) for x, y in zip(xs, ys)])
    theirs = best(lambda: [wofz(z).real for z in zs])
    print(f"scalar calls, {n} points: quorvel {ours / n * 1e9:7.1f} ns/call  "
          f"scipy {theirs / n * 1e9:7.1f} ns/call  ratio {theirs / ours:6.2f}")

    xa, ya = np.array(xs), np.array(ys)
    vector = best(lambda: wofz(xa + 1j * ya).real)
    print(f"scipy vectorised wofz: {vector / n * 1e9:7.1f} ns/point "
          f"(quorvel scalar / scipy vectorised {ours / vector:6.2f})")


if __name__ == "__main__":
    main()
