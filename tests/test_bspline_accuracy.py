"""B-splines to rounding on any knot vector: values, derivatives and integrals against an exact
rational Cox-de Boor recursion and SciPy, on uniform, random, near-repeated and offset knots."""

from fractions import Fraction
from functools import lru_cache
from math import factorial

import numpy as np
import pytest
import scipy.sparse
from scipy.interpolate import BSpline

import quorvel
from quorvel import Space

rng = np.random.default_rng(20240917)
KNOTS = {
    "uniform": np.arange(9.0),
    "random": np.sort(rng.uniform(1.0, 2.0, 11)),
    "random around 0": np.sort(rng.uniform(-1.0, 1.0, 11)),
    "near-repeated": np.array([0, 0, 0, 0, 0.5, 0.5001, 1, 1, 1, 1.0]),
    "clustered": np.sort(np.r_[rng.uniform(0.0, 1.0, 5), 0.3, 0.3 + 1e-9, 0.7, 0.7 + 1e-12]),
    "offset 1e4": 1e4 + np.linspace(0.0, 0.01, 8),
    "offset 1e6": 1e6 + np.sort(rng.uniform(0.0, 1e-2, 10)),
    "wide at 1e6": 1e6 + np.sort(rng.uniform(0.0, 10.0, 10)),
    # spacings whose powers leave the double range: stored in a scaled coordinate
    "spacing 1e200": 1e200 * np.sort(np.random.default_rng(1).uniform(-1.0, 1.0, 10)),
    "spacing 1e-120": 1e-120 * np.sort(np.random.default_rng(2).uniform(0.0, 1.0, 10)),
}
CASES = [
    (name, d)
    for name, t in KNOTS.items()
    for d in range(4)
    if all(t[i + d + 1] > t[i] for i in range(len(t) - d - 1))
]


def local_polynomial(t, i, d, k):
    """Exact coefficients of B-spline i on [t[k], t[k+1]) in powers of x - t[k] (Cox-de Boor)."""
    t = [Fraction(v) for v in t]
    n = [[Fraction(int(i + j == k))] + [Fraction(0)] * d for j in range(d + 1)]
    for p in range(1, d + 1):
        for j in range(d - p + 1):
            a, b, new = n[j], n[j + 1], [Fraction(0)] * (d + 1)
            if t[i + j + p] > t[i + j]:
                left, den = t[k] - t[i + j], t[i + j + p] - t[i + j]
                new = [v + (left * a[r] + (a[r - 1] if r else 0)) / den for r, v in enumerate(new)]
            if t[i + j + p + 1] > t[i + j + 1]:
                right, den = t[i + j + p + 1] - t[k], t[i + j + p + 1] - t[i + j + 1]
                new = [v + (right * b[r] - (b[r - 1] if r else 0)) / den for r, v in enumerate(new)]
            n[j] = new
    return n[0]


@lru_cache(maxsize=None)
def pieces(t, d):
    """Exact local polynomials {(i, k): coefficients} of the B-splines on non-empty intervals."""
    return {
        (i, k): local_polynomial(t, i, d, k)
        for i in range(len(t) - d - 1)
        for k in range(i, i + d + 1)
        if t[k] < t[k + 1]
    }


def derivative(c, nu, tau):
    """The nu-th derivative's terms at tau: the value and the sum of the terms' magnitudes."""
    terms = [c[r] * factorial(r) / factorial(r - nu) * tau ** (r - nu) for r in range(nu, len(c))]
    return sum(terms), sum(abs(v) for v in terms)


def exact(t, d, x, nu=0, local=False):
    """Exact nu-th derivatives of every B-spline at the doubles x, rounded once (0 outside), and
    the magnitude of the polynomial's terms there (the scale of a rounding error in its sum).

    With local=True each B-spline is read at the position its evaluation sees: the local
    coordinate u = x - center (center: where the B-spline is placed) and t = u - (t[k] - center)
    of the piece, rounded as doubles; in the
    second half of the piece it is read from the piece's end, at s = (t[k+1] - center) - u."""
    out, size = np.zeros((2, len(x), len(t) - d - 1))
    for (i, k), c in pieces(tuple(t), d).items():
        center = (t[i] + t[i + d + 1]) * 0.5
        # A B-spline is placed at its center where every knot of its span is center + (t - center)
        # exactly, else at 0.
        if any(center + (t[j] - center) != t[j] for j in range(i, i + d + 2)):
            center = 0.0
        a, b = t[k] - center, t[k + 1] - center
        for row in np.flatnonzero((t[k] <= x) & (x < t[k + 1])):
            if local:
                u = x[row] - center
                if u - a > 0.5 * (b - a):
                    tau = Fraction(t[k + 1]) - Fraction(t[k]) - Fraction(b - u)
                else:
                    tau = Fraction(u - a)
            else:
                tau = Fraction(x[row]) - Fraction(t[k])
            value, terms = derivative(c, nu, tau)
            out[row, i], size[row, i] = float(value), float(terms)
    return out, size


def scale(t, d, nu):
    """Largest |nu-th derivative| of each B-spline, from its exact pieces on a grid."""
    out = np.zeros(len(t) - d - 1)
    for (i, k), c in pieces(tuple(t), d).items():
        grid = np.linspace(0.0, t[k + 1] - t[k], 17)
        out[i] = max(out[i], max(abs(float(derivative(c, nu, Fraction(g))[0])) for g in grid))
    return out


def representable(t, d, nu):
    """Whether every B-spline's largest nu-th derivative is a finite double."""
    try:
        return bool(np.isfinite(scale(t, d, nu)).all())
    except OverflowError:
        return False


def widths(t, d):
    """The exact integrals (t[i+d+1] - t[i]) / (d + 1), rounded once."""
    exact = [(Fraction(t[i + d + 1]) - Fraction(t[i])) / (d + 1) for i in range(len(t) - d - 1)]
    return np.array([float(v) for v in exact])


def evaluate(space, x):
    indptr, indices, data, shape = quorvel.evaluate(space, x)
    return scipy.sparse.csr_matrix((data, indices, indptr), shape=shape).toarray(), data


def points(t, n=60):
    f = np.array([0.1, 0.5, 0.999])
    inner = [t[k] + (t[k + 1] - t[k]) * f for k in range(len(t) - 1) if t[k] < t[k + 1]]
    return np.unique(np.concatenate([rng.uniform(t[0], t[-1], n), t, *inner]))


# A value is exact to rounding when its error is within 4e-16 of the larger of 1 (the basis scale)
# and the magnitude of the terms its piece sums at that point.
def assert_rounded(got, ref, size, extra=0.0):
    assert np.all(np.abs(got - ref) <= 4e-16 * np.maximum(size, 1.0) + extra)


# The evaluation reads a piece at t = (x - center) - (t[k] - center). Where these differences are
# exact (knots within a factor 2 of each other, e.g. far from 0) the local reference equals the true
# one; elsewhere the rounded position moves a value by |slope| * ulp, the allowance "moved" below.
@pytest.mark.parametrize("name, d", CASES)
def test_values_are_exact_to_rounding(name, d):
    t = KNOTS[name]
    x = points(t)
    got, data = evaluate(Space.bsplines(t, d), x)
    (local, size), (true, _) = exact(t, d, x, local=True), exact(t, d, x)
    moved = np.abs(true - local)
    assert_rounded(got, local, size)
    assert_rounded(got, true, size, moved)
    # Exact zeros (outside a support, at its start) are not stored; stored values are positive.
    assert not got[true == 0].any()
    assert data.min() > 0
    inside = (x >= t[d]) & (x < t[len(t) - d - 1])
    if d > 0:
        sp = BSpline.design_matrix(x[inside], t, d).toarray()
        assert_rounded(got[inside], sp, size[inside], 2e-16 + moved[inside])


@pytest.mark.parametrize("name, d", [c for c in CASES if c[1] > 0])
def test_derivatives_are_exact_to_rounding(name, d):
    t = KNOTS[name]
    x = points(t)
    # Away from the knots, where a derivative may jump and a rounded position picks a side.
    x = x[np.abs(x[:, None] - t[None, :]).min(axis=1) > 1e-6 * (t[-1] - t[0])]
    s = Space.bsplines(t, d)
    # Orders whose derivatives exceed the double range are refused by derivative().
    for nu in (nu for nu in range(1, d + 1) if representable(t, d, nu)):
        got, _ = evaluate(s.derivative(nu), x)
        ref, size = exact(t, d, x, nu, local=True)
        # Relative to the B-spline's own largest nu-th derivative.
        assert np.all(np.abs(got - ref) <= 4e-16 * np.maximum(size, scale(t, d, nu))), nu


@pytest.mark.parametrize("name, d", CASES)
def test_integrals_are_exact_to_rounding(name, d):
    t = KNOTS[name]
    np.testing.assert_allclose(Space.bsplines(t, d).integrals(), widths(t, d), rtol=2e-15, atol=0)


# Breakpoints within a factor 2 of each other: the evaluation's local positions are exact.
@pytest.mark.parametrize("d", [1, 2, 3])
@pytest.mark.parametrize("offset, span", [(1.0, 1.0), (1e6, 1e-2)])
def test_clamped_and_periodic_families(offset, span, d):
    b = offset + np.sort(rng.uniform(0.0, span, 7))
    x = points(b)[:-1]  # the period's right end belongs to no periodic piece
    clamped = np.r_[[b[0]] * d, b, [b[-1]] * d]
    got, data = evaluate(Space.bsplines_clamped(b, d), x)
    ref, size = exact(clamped, d, x)
    assert_rounded(got, ref, size)
    assert data.min() > 0 and not got[ref == 0].any()

    period, n = b[-1] - b[0], len(b)
    extended = np.r_[b[n - 1 - d : n - 1] - period, b, b[1 : d + 1] + period]
    periodic = Space.bsplines_periodic(b, d)
    got, data = evaluate(periodic, x)
    parts = [exact(extended, d, x + k * period) for k in (-1, 0, 1)]
    ref, size = (sum(p[j] for p in parts)[:, : n - 1] for j in (0, 1))
    assert_rounded(got, ref, size)
    assert data.min() > 0
    np.testing.assert_allclose(periodic.integrals(), widths(extended, d)[: n - 1], rtol=2e-15, atol=0)


def test_short_span_far_from_zero_matches_scipy():
    t = 1e4 + np.linspace(0.0, 0.01, 8)
    x = np.array([t[2] + 0.3 * (t[3] - t[2])])
    got, _ = evaluate(Space.bsplines(t, 2), x)
    np.testing.assert_allclose(got, BSpline.design_matrix(x, t, 2).toarray(), rtol=0, atol=4e-16)


def test_second_derivative_next_to_a_tiny_interval():
    t = np.array([0, 0, 0, 0, 0.5, 0.5001, 1, 1, 1, 1.0])
    indptr, indices, data, _ = quorvel.evaluate(Space.bsplines(t, 3).derivative(2), np.array([0.5]))
    # B-spline 4 starts at 0.5 with value, slope and curvature 0.
    np.testing.assert_array_equal(indices, [1, 2, 3])
    np.testing.assert_allclose(data, exact(t, 3, np.array([0.5]), 2)[0][0, 1:4], rtol=1e-15, atol=0)


def test_clamped_start_stores_only_the_first_spline():
    s = Space.bsplines_clamped(np.array([0.0, 1, 2, 3]), 3)
    indptr, indices, data, _ = quorvel.evaluate(s, np.array([0.0]))
    assert indices.tolist() == [0] and data.tolist() == [1.0]


def test_knots_near_the_largest_double():
    # The midpoint of [1e308, 1.7e308] overflows as (a + b) / 2.
    s = Space.bsplines(np.array([1e308, 1.7e308]), 0)
    np.testing.assert_array_equal(s.centers(), [1.35e308])
    np.testing.assert_array_equal(s.integrals(), [1.7e308 - 1e308])
    got, _ = evaluate(s, np.array([1e308, 1.5e308, 1.7e308]))
    np.testing.assert_array_equal(got.ravel(), [1.0, 1.0, 0.0])


@pytest.mark.parametrize("spacing", [1e300, 1e-120])
def test_periodic_splines_with_extreme_spacing(spacing):
    b = spacing * np.array([0.0, 1.0, 2.5, 3.0, 4.5, 6.0])
    s = Space.bsplines_periodic(b, 3)
    unit = Space.bsplines_periodic(b / spacing, 3)
    x = spacing * np.linspace(0.0, 6.0, 25)[:-1]
    np.testing.assert_allclose(evaluate(s, x)[0], evaluate(unit, x / spacing)[0], rtol=1e-15,
                               atol=1e-16)
    np.testing.assert_allclose(s.integrals(), spacing * unit.integrals(), rtol=1e-15, atol=0)


# Next to a knot, a B-spline that starts or ends there is within rounding of 0 and the power form
# of its piece can round below it; no stored value of a basis is negative.
@pytest.mark.parametrize("name", ["random", "random around 0", "clustered", "offset 1e4",
                                  "offset 1e6", "wide at 1e6"])
@pytest.mark.parametrize("d", [1, 2, 3])
def test_values_next_to_every_knot(name, d):
    t = KNOTS[name]
    x = np.unique(np.r_[np.nextafter(t, -np.inf), t, np.nextafter(t, np.inf)])
    got, data = evaluate(Space.bsplines(t, d), x)
    assert data.min() > 0
    inside = (x >= t[d]) & (x < t[len(t) - d - 1])
    sp = BSpline.design_matrix(x[inside], t, d).toarray()
    (local, size), (true, _) = exact(t, d, x, local=True), exact(t, d, x)
    assert_rounded(got[inside], sp, size[inside], 2e-16 + np.abs(true - local)[inside])

    b = np.unique(t)
    x = np.unique(np.r_[np.nextafter(b, -np.inf), b, np.nextafter(b, np.inf)])
    clamped = np.r_[[b[0]] * d, b, [b[-1]] * d]
    got, data = evaluate(Space.bsplines_clamped(b, d), x)
    assert data.min() > 0
    inside = (x >= b[0]) & (x < b[-1])
    sp = BSpline.design_matrix(x[inside], clamped, d).toarray()
    (local, size), (true, _) = exact(clamped, d, x, local=True), exact(clamped, d, x)
    assert_rounded(got[inside], sp, size[inside], 2e-16 + np.abs(true - local)[inside])
    if len(b) > d + 1:
        assert evaluate(Space.bsplines_periodic(b, d), x)[1].min() > 0
