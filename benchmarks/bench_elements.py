"""Element construction and line-shape evaluation timings beside NumPy/SciPy equivalents.

Run from a build tree: PYTHONPATH=<build dir> python benchmarks/bench_elements.py
Prints the best of a few repetitions for each side and the ratio SciPy time / quorvel time.
"""

import math

import numpy as np
import scipy.special
from scipy.interpolate import PPoly

import quorvel
from quorvel import Space
from timing import best, report


def bench_bspline_construction(n=200_000):
    b = np.linspace(0.0, 1.0, n)
    knots = np.concatenate([[0.0] * 3, b, [1.0] * 3])
    ours = best(lambda: Space.bsplines_clamped(b, 3))
    # SciPy's nearest equivalent: the piecewise polynomial form of one spline on the same knots
    # (quorvel builds the pieces of every basis function, four per interval).
    theirs = best(lambda: PPoly.from_spline((knots, np.ones(n + 2), 3)))
    report(f"build {n + 2} clamped cubic B-splines (vs PPoly.from_spline)", ours, theirs)


def profile_case(name, space, reference, n_points=1_000_000):
    lo, hi = space.lower()[0], space.upper()[0]
    x = np.random.default_rng(3).uniform(lo, hi, n_points)
    ours = best(lambda: quorvel.evaluate(space, x))
    theirs = best(lambda: reference(x))
    report(f"{name} at {n_points} points", ours, theirs)


def main():
    bench_bspline_construction()
    one = np.array([0.0])
    s2 = math.sqrt(2.0)
    profile_case(
        "smoothed box",
        Space.smoothed_boxes(one, np.array([1.0]), np.array([0.3]), 8.0),
        lambda x: scipy.special.erf((x + 1.0) / (0.3 * s2))
        - scipy.special.erf((x - 1.0) / (0.3 * s2)),
    )
    profile_case(
        "super-Gaussian",
        Space.super_gaussians(one, np.array([0.5]), np.array([0.8]), np.array([3.0]), 4.0),
        lambda x: np.exp(-math.log(2) * (np.abs(x) / np.where(x < 0, 0.5, 0.8)) ** 3.0),
    )
    profile_case(
        "pseudo-Voigt",
        Space.pseudo_voigts(one, np.array([0.5]), np.array([0.3]), 10.0),
        lambda x: 0.3 / (1 + (x / 0.5) ** 2) + 0.7 * np.exp(-math.log(2) * (x / 0.5) ** 2),
    )
    c = [0.045335, 0.0, 0.554883, 0.0, 0.399782]
    profile_case(
        "FTS, strong Norton-Beer window",
        Space.fts(one, np.array([1.0]), 20.0, apodization="norton_beer_strong"),
        # j_n(theta) / theta^n from SciPy's spherical Bessel functions
        lambda x: sum(
            f * cn * scipy.special.spherical_jn(k, 2 * np.pi * x) / (2 * np.pi * x) ** k
            for k, (f, cn) in enumerate(zip([2, 4, 16, 96, 768], c))
            if cn
        ),
    )


if __name__ == "__main__":
    main()
