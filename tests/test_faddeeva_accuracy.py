"""faddeeva_re to a relative 1e-13 against mpmath over the double range, and the Voigt profiles
that are built on it where they used to be NaN or lose digits."""

import math

import mpmath as mp
import numpy as np
import pytest

import quorvel
from quorvel import Space

TINY = 2.2250738585072014e-308  # smallest normal double


def w_ref(x, y):
    """w(x + iy) to ~30 digits. erfc(-iz) is huge next to the real axis, so the working precision
    grows with the digits that its product with exp(-z^2) cancels; beyond |z| = 1000 the
    asymptotic expansion (i / (sqrt(pi) z)) sum (2k-1)!! / (2z^2)^k, where the part exp(-z^2)
    that it misses next to the real axis is below the double range."""
    if math.hypot(x, y) > 1000:
        with mp.workdps(40):
            z = mp.mpc(x, y)
            u, term, total = 1 / (2 * z * z), mp.mpf(1), mp.mpf(1)
            for k in range(1, 12):
                term *= (2 * k - 1) * u
                total += term
            return 1j / (mp.sqrt(mp.pi) * z) * total
    with mp.workdps(30):
        X, Y = mp.mpf(x), mp.mpf(y)
        size = max(mp.exp(Y * Y - X * X), Y / (X * X + Y * Y + 1), mp.mpf(10) ** -330)
        digits = 40 + int(-mp.log10(size * (abs(X) + 1)))
    with mp.workdps(max(digits, 40)):
        z = mp.mpc(x, y)
        return mp.exp(-z * z) * mp.erfc(-1j * z)


def check(x, y):
    """faddeeva_re(x, y) and its relative error where Re w is a normal double."""
    got = quorvel.faddeeva_re(x, y)
    ref = float(mp.re(w_ref(x, y)))
    assert math.isfinite(got) and got >= 0.0, (x, y, got)
    assert quorvel.faddeeva_re(-x, y) == got
    if ref < TINY:
        assert got < 2 * TINY, (x, y, got, ref)  # below the normal range, not garbage
        return 0.0
    return abs(got - ref) / ref


# Region edges (|z| = 7, y = 0.15, |x| = 2), the real axis, tiny and subnormal y, large |z|.
XS = [0.0, 0.5, 1.99, 2.0, 2.5, 3.7, 5.9, 6.2, 6.99, 7.0, 7.5, 10.0, 26.5, 27.5, 60.0, 300.0, 1e3]
YS = [0.0, 5e-324, 1e-300, 1e-30, 1e-10, 1e-4, 0.05, 0.1499, 0.15, 0.5, 0.999, 1.0, 3.0, 6.99, 7.0, 30.0, 1e3]


@pytest.mark.parametrize("x", XS)
def test_relative_accuracy_on_region_edges(x):
    assert max(check(x, y) for y in YS) <= 1e-13


def test_relative_accuracy_on_random_points():
    rng = np.random.default_rng(5)
    xs = np.r_[rng.uniform(0.0, 10.0, 60), 10.0 ** rng.uniform(-3.0, 3.0, 60)]
    ys = np.r_[rng.uniform(0.0, 0.3, 40), 10.0 ** rng.uniform(-20.0, 3.0, 80)]
    assert max(check(float(x), float(y)) for x, y in zip(xs, ys)) <= 1e-13


@pytest.mark.parametrize("x", [0.0, 5e-324, 1.0, 1e8, 1e155, 1e200, 1e300, 1.7976931348623157e308])
def test_extreme_arguments_are_finite_and_accurate(x):
    ys = [0.0, 5e-324, 1e-310, 1e-150, 1.0, 1e8, 1e155, 1e300, 1.7976931348623157e308]
    assert max(check(x, y) for y in ys) <= 1e-13


@pytest.mark.parametrize("x", [3.0, 6.0, 10.0, 20.0, 26.0])
def test_real_axis_is_exp_minus_x_squared(x):
    ref = float(mp.exp(-mp.mpf(x) ** 2))
    assert quorvel.faddeeva_re(x, 0.0) == pytest.approx(ref, rel=1e-15, abs=0)


def test_far_real_axis_underflows_to_zero():
    assert quorvel.faddeeva_re(27.3, 0.0) == 0.0
    assert quorvel.faddeeva_re(1e155, 0.0) == 0.0


@pytest.mark.parametrize("sigma", [1e-150, 1e-300])
def test_lorentzian_limit_of_a_voigt_is_finite(sigma):
    # A tiny sigma puts the wings at |z| ~ 1e154 and beyond, where x^2 + y^2 overflows.
    space = Space.voigts(np.array([0.0]), np.array([sigma]), np.array([1.0]), 1e5)
    x = np.linspace(-1e5, 1e5, 41)
    indptr, _, data, _ = quorvel.evaluate(space, x)
    rows = np.repeat(np.arange(len(x)), np.diff(indptr))
    np.testing.assert_allclose(data, 1.0 / (1.0 + x[rows] ** 2), rtol=1e-13, atol=0)
    assert np.isfinite(space.integrals()).all()
    assert np.isfinite(quorvel.inner_products(space, space)[2]).all()


@pytest.mark.parametrize("t", [0.0, 3.0, 8.0, 12.0, 20.0])
def test_nearly_gaussian_voigt_in_the_wings(t):
    # gamma / sigma = 1e-6: the Lorentzian wing is the whole value beyond ~8 sigma.
    space = Space.voigts(np.array([0.0]), np.array([1.0]), np.array([1e-6]), 40.0)
    got = quorvel.evaluate(space, np.array([t]))[2][0]
    v = 1e-6 / math.sqrt(2.0)
    ref = mp.re(w_ref(t / math.sqrt(2.0), v)) / mp.re(w_ref(0.0, v))
    assert got == pytest.approx(float(ref), rel=1e-13, abs=0)
