"""B-splines of knot vectors, clamped and periodic families: values against SciPy, messages."""

import pickle
from fractions import Fraction

import numpy as np
import pytest

from quorvel import Space, inner_products
from helpers import (arr, bspline_functions, columns, periodic_bspline_functions,
                     point_values as dense, value_error_message)


KNOT_VECTORS = [
    [0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0],
    [-1.0, -0.3, 0.2, 0.25, 1.7, 2.0, 4.5, 5.0],
    [0.0, 0.0, 1.0, 1.0, 2.0, 3.0, 3.0, 3.0, 4.0],  # repeated knots
    [0.0, 0.0, 0.0, 0.0, 0.5, 2.0, 2.0, 3.5, 4.0, 4.0, 4.0, 4.0],
]


def valid(knots, degree):
    return all(knots[i + degree + 1] > knots[i] for i in range(len(knots) - degree - 1))


@pytest.mark.parametrize(
    "knots, degree", [(k, d) for k in KNOT_VECTORS for d in range(4) if valid(k, d)]
)
def test_values_match_scipy(knots, degree):
    t = np.array(knots)
    x = np.concatenate([np.linspace(t[0] - 0.5, t[-1] + 0.5, 401), t])
    got = dense(Space.bsplines(t, degree), x)
    np.testing.assert_allclose(got, columns(bspline_functions(t, degree), x), rtol=0, atol=2e-14)


@pytest.mark.parametrize("degree, nu", [(1, 1), (2, 1), (2, 2), (3, 1), (3, 2), (3, 3)])
def test_derivatives_match_scipy(degree, nu):
    t = np.array([-1.0, -0.3, 0.2, 0.25, 1.7, 2.0, 4.5, 5.0])
    x = np.linspace(-1.2, 5.2, 331)
    x = x[~np.isin(x, t)]  # derivatives jump at knots
    got = dense(Space.bsplines(t, degree).derivative(nu), x)
    ref = columns(bspline_functions(t, degree, nu), x)
    np.testing.assert_allclose(got, ref, rtol=1e-11, atol=1e-11)


def test_supports_and_centers():
    t = arr(0.0, 0.5, 2.0, 2.0, 3.0, 7.0)
    s = Space.bsplines(t, 2)
    np.testing.assert_array_equal(s.lower(), [0.0, 0.5, 2.0])
    np.testing.assert_array_equal(s.upper(), [2.0, 3.0, 7.0])
    np.testing.assert_array_equal(s.centers(), [1.0, 1.75, 4.5])


def test_degree_zero_on_one_interval():
    s = Space.bsplines(arr(0.0, 1.0), 0)
    assert len(s) == 1
    np.testing.assert_array_equal(dense(s, [0.0, 0.5, 1.0]).ravel(), [1.0, 1.0, 0.0])


def test_full_multiplicity_is_allowed():
    s = Space.bsplines(arr(0.0, 0.0, 0.0, 0.0, 1.0), 3)
    assert len(s) == 1
    x = np.linspace(0, 0.99, 12)
    np.testing.assert_allclose(dense(s, x).ravel(), (1 - x) ** 3, rtol=1e-14, atol=1e-15)


@pytest.mark.parametrize(
    "knots, degree, message",
    [
        ((0.0, 1.0), 1, "degree 1 B-splines need at least 3 knots"),
        ((), 0, "degree 0 B-splines need at least 2 knots"),
        ((0.0, 1.0, 2.0, 3.0), 3, "degree 3 B-splines need at least 5 knots"),
        ((0.0, 1.0, 2.0, 3.0, 4.0), 4, "B-spline degree must be 0..=3, got 4"),
        ((np.nan,), 4, "B-spline degree must be 0..=3, got 4"),
        ((), 2**64 - 1, "B-spline degree must be 0..=3, got 18446744073709551615"),
        ((np.nan, 0.0), 1, "degree 1 B-splines need at least 3 knots"),  # count before values
        ((0.0, np.nan, 1.0), 1, "knots must be finite and nondecreasing"),
        ((0.0, 1.0, np.inf), 1, "knots must be finite and nondecreasing"),
        ((0.0, 2.0, 1.0), 1, "knots must be finite and nondecreasing"),
        (
            (0.0, 0.0, 0.0, 0.0, 0.0, 1.0),
            3,
            "B-spline 0 has empty support (knot multiplicity > degree + 1)",
        ),
        (
            (0.0, 1.0, 2.0, 2.0, 2.0, 3.0),
            1,
            "B-spline 2 has empty support (knot multiplicity > degree + 1)",
        ),
    ],
)
def test_bspline_messages(knots, degree, message):
    assert value_error_message(Space.bsplines, arr(*knots), degree) == message


@pytest.mark.parametrize("degree", [0, 1, 2, 3])
def test_clamped_family(degree):
    b = arr(0.0, 0.4, 1.0, 2.5, 3.0)
    s = Space.bsplines_clamped(b, degree)
    assert len(s) == len(b) + degree - 1
    knots = np.concatenate([[b[0]] * degree, b, [b[-1]] * degree])
    x = np.concatenate([np.linspace(-0.5, 3.5, 301), b])
    v = dense(s, x)
    np.testing.assert_allclose(v, columns(bspline_functions(knots, degree), x), rtol=0, atol=2e-14)
    inside = (x >= b[0]) & (x < b[-1])
    np.testing.assert_allclose(v[inside].sum(axis=1), 1.0, rtol=0, atol=1e-14)
    assert not v[~inside].any()


def test_clamped_cubic_on_four_breakpoints():
    s = Space.bsplines_clamped(arr(0.0, 1.0, 2.0, 3.0), 3)
    assert len(s) == 6
    v = dense(s, [3.0])
    assert not v.any()  # the last one too is 0 at the right end


@pytest.mark.parametrize(
    "breakpoints, degree, message",
    [
        ((1.0, 0.0), 7, "breakpoints must be strictly increasing"),
        ((0.0,), 0, "breakpoints needs at least 2 values"),
        ((0.0, 1.0), 7, "B-spline degree must be 0..=3, got 7"),
    ],
)
def test_clamped_messages(breakpoints, degree, message):
    assert value_error_message(Space.bsplines_clamped, arr(*breakpoints), degree) == message


@pytest.mark.parametrize("degree", [0, 1, 2, 3])
@pytest.mark.parametrize(
    "breakpoints", [[0.0, 1.0, 2.0, 3.0, 4.0], [-1.0, -0.2, 0.5, 0.6, 2.0, 3.5, 4.0]]
)
def test_periodic_family_matches_wrapped_splines(breakpoints, degree):
    b = np.array(breakpoints)
    s = Space.bsplines_periodic(b, degree)
    assert len(s) == len(b) - 1
    x = np.linspace(b[0], b[-1], 401)[:-1]
    v = dense(s, x)
    ref = columns(periodic_bspline_functions(b, degree), x)
    np.testing.assert_allclose(v, ref, rtol=0, atol=2e-14)
    np.testing.assert_allclose(v.sum(axis=1), 1.0, rtol=0, atol=1e-14)
    # Pieces stay inside one period.
    assert np.all(s.lower() >= b[0]) and np.all(s.upper() <= b[-1])
    outside = np.array([b[0] - 0.1, b[-1] + 0.1])
    assert not dense(s, outside).any()


@pytest.mark.parametrize("degree", [1, 2, 3])
def test_uniform_periodic_splines_are_translates(degree):
    b = np.linspace(0.0, 4.0, 5)
    s = Space.bsplines_periodic(b, degree)
    x = np.linspace(0.0, 4.0, 161)[:-1]
    v = dense(s, x)
    for j in range(4):
        shifted = dense(s, np.mod(x - j, 4.0))[:, 0]
        np.testing.assert_allclose(v[:, j], shifted, rtol=0, atol=1e-14)


def test_periodic_cubic_wraps_over_the_whole_period():
    s = Space.bsplines_periodic(np.linspace(0.0, 4.0, 5), 3)
    np.testing.assert_array_equal(s.lower(), [0.0] * 4)
    np.testing.assert_array_equal(s.upper(), [4.0] * 4)


def test_periodic_linear_supports():
    s = Space.bsplines_periodic(arr(0.0, 1.0, 3.0, 4.0), 1)
    # The first hat wraps from the last interval; the others are inner hats.
    np.testing.assert_array_equal(s.lower(), [0.0, 0.0, 1.0])
    np.testing.assert_array_equal(s.upper(), [4.0, 3.0, 4.0])
    np.testing.assert_allclose(dense(s, [0.0, 0.5, 3.5]), [[1, 0, 0], [0.5, 0.5, 0], [0.5, 0, 0.5]])


@pytest.mark.parametrize(
    "breakpoints, degree, message",
    [
        (
            (0.0, 1.0, 2.0, 3.0),
            3,
            "periodic degree-3 B-splines need degree <= 3 and at least 4 intervals",
        ),
        ((0.0, 1.0), 1, "periodic degree-1 B-splines need degree <= 3 and at least 2 intervals"),
        (
            tuple(range(10)),
            5,
            "periodic degree-5 B-splines need degree <= 3 and at least 6 intervals",
        ),
        (
            (0.0, 1.0),
            2**64 - 1,
            "periodic degree-18446744073709551615 B-splines need degree <= 3 and at least "
            "18446744073709551616 intervals",
        ),
        ((0.0, 2.0, 1.0), 5, "breakpoints must be strictly increasing"),
    ],
)
def test_periodic_messages(breakpoints, degree, message):
    assert value_error_message(Space.bsplines_periodic, arr(*breakpoints), degree) == message


@pytest.mark.parametrize("degree", [1, 2])
def test_periodic_ends_keep_closely_spaced_breakpoints(degree):
    # Breakpoints closer together than the snapping tolerance: an end that already is a
    # breakpoint must stay on it instead of moving to its neighbour.
    b = arr(0.0, 1e-10, 0.5, 1.0)
    s = Space.bsplines_periodic(b, degree)
    x = np.concatenate([np.linspace(0.0, 1.0, 41)[:-1], [5e-11]])
    v = dense(s, x)
    ref = columns(periodic_bspline_functions(b, degree), x)
    np.testing.assert_allclose(v, ref, rtol=0, atol=1e-9)
    np.testing.assert_allclose(v.sum(axis=1), 1.0, rtol=0, atol=1e-14)


# ---- supports are the knots, exactly ------------------------------------------------------------

def _families(seed):
    rng = np.random.default_rng(seed)
    t = np.sort(rng.uniform(-3.0, 7.0, 12))
    for d in range(4):
        yield f"plain {d}", Space.bsplines(t, d), t[:len(t) - d - 1], t[d + 1:]
    for d in range(4):
        k = np.r_[[t[0]] * d, t, [t[-1]] * d]
        yield f"clamped {d}", Space.bsplines_clamped(t, d), k[:len(k) - d - 1], k[d + 1:]


@pytest.mark.parametrize("seed", range(8))
def test_supports_are_the_given_knots_and_touching_supports_store_nothing(seed):
    for name, s, lo, hi in _families(seed):
        assert np.array_equal(s.lower(), lo) and np.array_equal(s.upper(), hi), name
        indptr, indices, _, _ = inner_products(s, s)
        for i in range(len(s)):
            overlap = np.flatnonzero((lo < hi[i]) & (hi > lo[i]))
            assert np.array_equal(indices[indptr[i]:indptr[i + 1]], overlap), (name, i)
        if name.startswith("plain"):  # centers are the knot spans' midpoints, also unpickled
            d = int(name[-1])
            mid = (lo + hi) * 0.5
            assert np.array_equal(s.centers(), mid)
            assert np.array_equal(pickle.loads(pickle.dumps(s)).centers(), mid)
            if d:
                assert np.array_equal(s.derivative(1).centers(), mid)
    b = np.sort(np.random.default_rng(seed).uniform(0.0, 5.0, 9))
    for d in range(4):
        s = Space.bsplines_periodic(b, d)
        assert set(s.lower()) <= set(b) and set(s.upper()) <= set(b)


def test_pieces_a_few_ulps_wide_are_integrated_whole():
    v = 0.502
    for n in (1, 4):
        w = v
        for _ in range(n):
            w = np.nextafter(w, 1.0)
        s = Space.bsplines_periodic(arr(0.5, 0.501, v, w, 0.503, 0.504, 0.505), 0)
        gram = inner_products(s, s)
        assert gram[2][gram[0][2]:gram[0][3]] == pytest.approx([w - v], rel=1e-15)
    # Degree 1 at offset 0: two hats overlap on one ulp-wide piece, h / 6 (exact rationals).
    w = np.nextafter(0.002, 1.0)
    s = Space.bsplines(arr(0.0, 0.001, 0.002, w, 0.003, 0.004), 1)
    indptr, indices, data, _ = inner_products(s, s)
    row = dict(zip(indices[indptr[1]:indptr[2]], data[indptr[1]:indptr[2]]))
    assert row[2] == pytest.approx(float((Fraction(w) - Fraction(0.002)) / 6), rel=1e-15)
