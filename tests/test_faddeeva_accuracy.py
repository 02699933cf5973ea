"""faddeeva_re to a relative 1e-13 against mpmath over the double range, and the Voigt profiles
that are built on it where they used to be NaN or lose digits."""

import math

import mpmath as mp
import numpy as np
import pytest

import quorvel
from quorvel import Space
from helpers import dense

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


# ---- Voigt values, slopes and sigma / gamma derivatives against mpmath -------------------------


def w_and_slope_ref(x, y):
    """w(z) and w'(z) at the working precision plus the digits that w' = -2zw + 2i/sqrt(pi)
    cancels; beyond |z| = 1000 both from the asymptotic expansion."""
    z = mp.mpc(x, y)
    if abs(z) > 1000:
        q, term, total, slope = 1 / (2 * z * z), mp.mpf(1), mp.mpf(1), mp.mpf(1)
        for k in range(1, 30):
            term *= (2 * k - 1) * q
            total += term
            slope += (2 * k + 1) * term
        c = 1j / mp.sqrt(mp.pi)
        return c / z * total, -c / (z * z) * slope
    with mp.workdps(mp.mp.dps + 10):
        w = w_ref(x, y)
    return w, -2 * z * w + 2j / mp.sqrt(mp.pi)


def voigt_ref(t, sigma, gamma):
    """(V, dV/dt, dV/dsigma, dV/dgamma) of V = Re w(z) / Re w(iv); the precision covers the
    v^2 that the sigma derivative's quotient rule cancels."""
    v_double = gamma / (sigma * math.sqrt(2.0))
    with mp.workdps(40 + int(2 * max(0.0, math.log10(v_double)))):
        s = mp.mpf(sigma) * mp.sqrt(2)
        u, v = mp.mpf(t) / s, mp.mpf(gamma) / s
        w, ws = w_and_slope_ref(u, v)
        w0, ws0 = w_and_slope_ref(mp.mpf(0), v)
        r0 = mp.re(w0)
        value = mp.re(w) / r0
        d_t = mp.re(ws) / (s * r0)
        d_gamma = (mp.re(w) * mp.im(ws0) - mp.im(ws) * r0) / (s * r0**2)
        d_sigma = -(mp.re(mp.mpc(u, v) * ws) + value * v * mp.im(ws0)) / (mp.mpf(sigma) * r0)
        return np.array([float(value), float(d_t), float(d_sigma), float(d_gamma)])


def voigt_got(ts, sigma, gamma):
    space = Space.voigts(np.array([0.0]), np.array([sigma]), np.array([gamma]), 1e12)
    probes = Space.deltas(np.asarray(ts, dtype=float))
    rows = [quorvel.evaluate(space, np.asarray(ts, dtype=float))]
    rows += [quorvel.measure_derivative(space, probes, "none", p)[1] for p in ("center", "sigma", "gamma")]
    out = np.array([dense(r).ravel() for r in rows])
    out[1] = -out[1]
    return out.T


def max_relative_error(got, ref):
    assert np.isfinite(got).all()
    normal = np.abs(ref) >= TINY
    return np.where(normal, np.abs(got - ref) / np.where(normal, np.abs(ref), 1.0), 0.0).max(axis=0)


# Ratios gamma / sigma across the Gaussian and Lorentzian limits, both sides of v = 7 where the
# derivatives switch to the expansion; points from the core (away from the center, where the
# derivatives vanish quadratically and lose digits to cancellation) to the far wings.
@pytest.mark.parametrize("ratio", [1e-6, 1e-3, 0.1, 1.0, 5.0, 9.8, 9.95, 30.0, 1e3, 1e6])
def test_voigt_against_mpmath(ratio):
    sigma, gamma = 1.0, ratio
    ts = (sigma + gamma) * np.array([0.3, 1.0, 3.0, 30.0, 1e3, 1e6])
    got = voigt_got(ts, sigma, gamma)
    ref = np.array([voigt_ref(t, sigma, gamma) for t in ts])
    assert (max_relative_error(got, ref) <= 1e-13).all()


# Sigma far below gamma: t / s overflows, Re w goes subnormal, and the sigma derivative is 1e-300
# of its quotient-rule terms.
@pytest.mark.parametrize("sigma", [1e-8, 1e-150, 1e-300])
def test_nearly_lorentzian_voigt_against_mpmath(sigma):
    ts = np.array([0.5, 2.0, 100.0, 1e6, 1e9])
    got = voigt_got(ts, sigma, 1.0)
    ref = np.array([voigt_ref(t, sigma, 1.0) for t in ts])
    assert (max_relative_error(got, ref) <= 1e-13).all()
