"""Point evaluation matrices: structure, edge cases of closed supports, deltas and profiles."""

import numpy as np
import pytest
import scipy.special
from scipy.interpolate import BSpline

import quorvel
from quorvel import Space
from helpers import arr, assert_canonical, assert_same_sparse, dense, rows_of, value_error_message


def test_empty_points():
    indptr, indices, data, shape = quorvel.evaluate(Space.hats(arr(0, 1, 2)), arr())
    assert indptr.tolist() == [0] and len(indices) == 0 and len(data) == 0
    assert shape == (0, 3)


def test_empty_basis():
    indptr, indices, data, shape = quorvel.evaluate(Space.deltas(arr()), arr(0.5, 1, 2))
    assert indptr.tolist() == [0, 0, 0, 0] and len(indices) == 0 and shape == (3, 0)


def test_hats_at_nodes_and_feet():
    result = quorvel.evaluate(Space.hats(arr(0, 1, 2)), arr(0, 0.5, 1, 2))
    assert rows_of(result) == [[(0, 1.0)], [(0, 0.5), (1, 0.5)], [(1, 1.0)], [(2, 1.0)]]


def test_box_is_half_open():
    assert rows_of(quorvel.evaluate(Space.boxes(arr(0, 1, 2)), arr(1))) == [[(1, 1.0)]]
    # Just below the upper edge the first box is still 1; at the last edge nothing is stored.
    below = np.nextafter(1.0, 0.0)
    assert rows_of(quorvel.evaluate(Space.boxes(arr(0, 1, 2)), arr(below, 2))) == [[(0, 1.0)], []]


def test_delta_columns_store_one_only_at_their_position():
    result = quorvel.evaluate(Space.deltas(arr(1, 2)), arr(2, 3))
    assert rows_of(result) == [[(1, 1.0)], []]
    near = np.nextafter(2.0, 3.0)
    assert rows_of(quorvel.evaluate(Space.deltas(arr(2, 2)), arr(near, 2))) == [
        [],
        [(0, 1.0), (1, 1.0)],
    ]


@pytest.mark.parametrize("bad", [np.inf, -np.inf, np.nan])
def test_non_finite_point_fails(bad):
    assert value_error_message(quorvel.evaluate, Space.hats(arr(0, 1, 2)), arr(0.5, bad, 1)) == (
        "delta position must be finite"
    )


def test_non_finite_point_fails_also_for_empty_basis():
    with pytest.raises(ValueError, match=r"^delta position must be finite\nx\[0\] is NaN$"):
        quorvel.evaluate(Space.deltas(arr()), arr(np.nan))


def test_shape_stores_nothing_at_end_of_last_segment():
    knots = arr(0, 1, 2, 3, 4)
    result = quorvel.evaluate(Space.bsplines(knots, 3), arr(4, 2))
    rows = rows_of(result)
    assert rows[0] == []
    assert rows[1] == [(0, pytest.approx(2.0 / 3.0, rel=1e-14))]


def test_unsorted_points_and_repeats():
    space = Space.hats(arr(0, 1, 2, 3))
    x = arr(2.5, 0.25, 2.5, 3, -1)
    expected = np.array([[max(0.0, 1 - abs(p - c)) for c in range(4)] for p in x])
    np.testing.assert_allclose(dense(quorvel.evaluate(space, x)), expected, rtol=0, atol=1e-15)


def test_clamped_bspline_design_matrix_matches_scipy():
    rng = np.random.default_rng(7)
    breakpoints = np.sort(np.concatenate([[0.0, 3.0], rng.uniform(0, 3, 12)]))
    knots = np.concatenate([[0.0] * 3, breakpoints, [3.0] * 3])
    x = np.concatenate([rng.uniform(-0.5, 3.5, 2000), breakpoints])
    result = quorvel.evaluate(Space.bsplines_clamped(breakpoints, 3), x)
    assert_canonical(result)
    inside = (x >= 0.0) & (x < 3.0)
    ref = np.zeros((len(x), len(knots) - 4))
    ref[inside] = BSpline.design_matrix(x[inside], knots, 3).toarray()
    np.testing.assert_allclose(dense(result), ref, rtol=0, atol=1e-14)


@pytest.mark.parametrize(
    "make, cutoff, shape",
    [
        (Space.gaussians, 4.0, lambda u: np.exp(-0.5 * u**2)),
        (Space.lorentzians, 3.0, lambda u: 1.0 / (1.0 + u**2)),
    ],
)
def test_profiles_evaluate_against_closed_forms(make, cutoff, shape):
    centers, widths = arr(0.0, 1.0, 2.5), arr(0.5, 0.25, 1.0)
    x = np.linspace(-5, 8, 1301)
    got = dense(quorvel.evaluate(make(centers, widths, cutoff), x))
    u = (x[:, None] - centers) / widths
    ref = np.where(np.abs(u) <= cutoff, shape(u), 0.0)
    np.testing.assert_allclose(got, ref, rtol=1e-14, atol=0)


def test_voigt_evaluate_against_scipy():
    centers, sigma, gamma = arr(-1.0, 2.0), arr(0.3, 0.1), arr(0.2, 0.4)
    space = Space.voigts(centers, sigma, gamma, 6.0)
    x = np.linspace(-6, 8, 2001)
    got = dense(quorvel.evaluate(space, x))
    lower, upper = space.lower(), space.upper()
    for j in range(2):
        peak = scipy.special.voigt_profile(0.0, sigma[j], gamma[j])
        ref = scipy.special.voigt_profile(x - centers[j], sigma[j], gamma[j]) / peak
        ref[(x < lower[j]) | (x > upper[j])] = 0.0
        np.testing.assert_allclose(got[:, j], ref, rtol=1e-12, atol=1e-15)


def test_profile_stores_nothing_outside_cutoff():
    space = Space.gaussians(arr(0.0), arr(1.0), 3.0)
    x = arr(-3.0, 3.0, np.nextafter(3.0, 4.0), np.nextafter(-3.0, -4.0))
    result = quorvel.evaluate(space, x)
    rows = rows_of(result)
    assert rows[0][0][0] == 0 and rows[0][0][1] == pytest.approx(np.exp(-4.5), rel=1e-15)
    assert len(rows[1]) == 1 and rows[2] == [] and rows[3] == []


@pytest.mark.parametrize("chunk_size", [2, 10_000])
def test_evaluate_equals_inner_products_of_deltas(chunk_size):
    # Points at every support end, duplicated elements with equal lower ends, deltas, profiles and
    # a very wide element: evaluate must find exactly the candidates of the general overlap query.
    hats = Space.hats(arr(0.0, 0.5, 0.5 + 1e-12, 2.0, 7.0))
    basis = Space.concatenate(
        [
            hats.take([3, 0, 0, 2]),
            Space.deltas(arr(0.5, 2.0, 2.0)),
            Space.gaussians(arr(1.0, 4.0), arr(0.1, 2.0), 3.0),
            Space.boxes(arr(-100.0, 100.0)),
            Space.bsplines(arr(0.0, 0.25, 1.0, 1.0, 3.0), 2),
        ]
    )
    ends = np.concatenate([basis.lower(), basis.upper()])
    x = np.concatenate(
        [ends, np.nextafter(ends, np.inf), np.nextafter(ends, -np.inf), np.linspace(-2, 12, 301)]
    )
    # A few points at a time are looked up by bisection, many through a bucket table.
    for chunk in np.array_split(x, max(1, len(x) // chunk_size)):
        got = quorvel.evaluate(basis, chunk)
        ref = quorvel.inner_products(Space.deltas(chunk), basis)
        assert_canonical(got)
        assert_same_sparse(got, ref)


def test_overlap_query_when_the_widest_support_rounds_down():
    # The first hat's width 1 + 1e-30 rounds to 1: the query from x = 1 must still reach back to
    # its lower end -1e-30 and find the second hat, which is 1 at its peak.
    got = quorvel.evaluate(Space.hats(arr(-1e-30, 1.0)), arr(1.0))
    assert got[1].tolist() == [1] and got[2].tolist() == [1.0]


# ---- many points against the general path ---------------------------------------------------------


def _bases():
    rng = np.random.default_rng(5)

    def knots(n, start, step):
        return start + step * (np.arange(n) + 0.4 * rng.random(n))

    def spread(n, lo, hi):
        return np.sort(rng.uniform(lo, hi, n))

    bases = {}
    for offset in (0.0, 1e4, 1e6):
        cubic = Space.bsplines(knots(40, offset, 1e-3), 3)
        for order in range(4):
            bases[f"bsplines3-d{order}@{offset:g}"] = cubic.derivative(order)
        bases[f"clamped@{offset:g}"] = Space.bsplines_clamped(knots(30, -offset, 1e-3), 3)
        bases[f"hats@{offset:g}"] = Space.hats(knots(30, offset, 1e-3))
        bases[f"boxes@{offset:g}"] = Space.boxes(knots(30, offset, 1e-3))
        widths = rng.uniform(2e-3, 6e-3, 12)
        centers = knots(12, offset, 2e-3)
        bases[f"gaussians@{offset:g}"] = Space.gaussians(centers, widths, 6.0)
        bases[f"lorentzians@{offset:g}"] = Space.lorentzians(centers, widths, 20.0)
        bases[f"voigts@{offset:g}"] = Space.voigts(centers, widths, widths[::-1], 10.0)
    for degree in range(3):
        bases[f"bsplines{degree}"] = Space.bsplines(spread(30, -3.0, 5.0), degree)
    bases["periodic"] = Space.bsplines_periodic(spread(20, 1e4, 1e4 + 2.0), 3)
    repeated = arr(0, 0, 0, 0, 0.3, 0.3, 0.5, 0.7, 0.7, 0.7, 1, 1, 1, 1, 1.5, 2, 2.5)
    bases["repeated-knots"] = Space.bsplines(repeated, 3)
    bases["repeated-knots-d2"] = Space.bsplines(repeated, 3).derivative(2)
    bases["hats-d1"] = Space.hats(spread(20, -2.0, 2.0)).derivative(1)
    bases["deltas"] = Space.deltas(np.repeat(spread(15, -1.0, 1.0), 2))
    shape_x, shape_y = arr(-1.0, -0.3, 0.2, 1.0), arr(0.0, 1.0, 0.5, 2.0)
    for interp in ("linear", "pchip"):
        bases[f"shifted-{interp}"] = Space.shifted(
            shape_x, shape_y, spread(20, -2.0, 2.0), arr(0.37), interp
        )
    widths = rng.uniform(0.05, 0.4, 12)
    # Wide Lorentzian parts, where the far expansion serves the whole line, and narrow Gaussian
    # parts with a huge cutoff, where it serves the far points.
    bases["voigts-wide"] = Space.voigts(spread(12, -2, 2), widths, rng.uniform(4, 9, 12), 3.0)
    bases["voigts-far"] = Space.voigts(spread(12, -2, 2), rng.uniform(1e-10, 2e-10, 12), widths, 1e9)
    bases["pseudo-voigts"] = Space.pseudo_voigts(spread(12, -2, 2), widths, widths, 6.0)
    inner = Space.bsplines(spread(12, 1.0, 3.0), 3)
    bases["mapped"] = inner.mapped("reciprocal", 2.0, 0.0, True)
    mixed = [b.take(np.arange(0, len(b), 3)) for k, b in bases.items() if k != "voigts-far"]
    bases["mixed"] = Space.concatenate(mixed)
    return bases


_BASES = _bases()


def _probe_points(basis, rng):
    ends = np.concatenate([basis.lower(), basis.upper()])
    lo, hi = ends.min(), ends.max()
    span = hi - lo
    x = np.concatenate(
        [
            ends,
            np.nextafter(ends, np.inf),
            np.nextafter(ends, -np.inf),
            rng.uniform(lo - 0.1 * span, hi + 0.1 * span, 1500),
            lo + 1e-3 * span * np.arange(1000),
        ]
    )
    return np.sort(x), rng.permutation(x)


def _general_rows(basis, x, weight=None):
    # Delta rows mixed with one other element take the general pairing of every row with every
    # candidate; the last row is that element's.
    rows = Space.concatenate([Space.deltas(x), Space.boxes(arr(1e300, 2e300))])
    indptr, indices, data, (n, m) = quorvel.inner_products(rows, basis, weight)
    end = indptr[-2]
    return indptr[:-1], indices[:end], data[:end], (n - 1, m)


def _assert_bitwise(got, want):
    assert_same_sparse(got, want)
    np.testing.assert_array_equal(got[2].view(np.uint64), want[2].view(np.uint64))


@pytest.mark.parametrize("name", sorted(_BASES))
def test_many_points_equal_the_general_pairing_bitwise(name):
    basis = _BASES[name]
    rng = np.random.default_rng(len(name))
    for x in _probe_points(basis, rng):
        got = quorvel.evaluate(basis, x)
        assert_canonical(got)
        _assert_bitwise(got, _general_rows(basis, x))
        # One point at a time is looked up without the cell table.
        assert len(basis) >= 8
        some = x[:: max(1, len(x) // 300)]
        one_by_one = [quorvel.evaluate(basis, some[i : i + 1]) for i in range(len(some))]
        picked = quorvel.evaluate(basis, some)
        for i, row in enumerate(one_by_one):
            start, stop = picked[0][i], picked[0][i + 1]
            np.testing.assert_array_equal(picked[1][start:stop], row[1])
            np.testing.assert_array_equal(
                picked[2][start:stop].view(np.uint64), row[2].view(np.uint64)
            )
        for weight in (None, 0.7):
            _assert_bitwise(
                quorvel.inner_products(Space.deltas(x), basis, weight),
                _general_rows(basis, x, weight),
            )


@pytest.mark.parametrize("offset", [0.0, 1e4, 1e6])
@pytest.mark.parametrize("order", [0, 1, 2, 3])
def test_many_points_on_cubic_bsplines_match_scipy(offset, order):
    rng = np.random.default_rng(2)
    t = offset + 1e-3 * np.cumsum(0.5 + rng.random(40))
    x = rng.uniform(t[3], t[-4], 4000)
    got = dense(quorvel.evaluate(Space.bsplines(t, 3).derivative(order), x))
    n = len(t) - 4
    want = np.stack(
        [BSpline(t, np.eye(n)[j], 3, extrapolate=False).derivative(order)(x) for j in range(n)],
        axis=1,
    )
    want = np.nan_to_num(want)
    scale = np.abs(want).max()
    np.testing.assert_allclose(got, want, rtol=0, atol=1e-14 * scale)


def test_gaussian_values_within_two_ulp_of_mpmath():
    # Enough points for the cell table and lanes of several values; exponents from 0 to beyond
    # the normal range, where the exponential leaves its lanes.
    mpmath = pytest.importorskip("mpmath")
    rng = np.random.default_rng(25)
    centers = np.sort(rng.uniform(0.0, 100.0, 200))
    sigma = rng.uniform(0.05, 0.5, 200)
    x = rng.uniform(-5.0, 105.0, 20000)
    indptr, indices, data, _ = quorvel.evaluate(Space.gaussians(centers, sigma, 40.0), x)
    rows = np.repeat(np.arange(len(x)), np.diff(indptr))
    u = (x[rows] - centers[indices]) / sigma[indices]
    pick = np.flatnonzero(data > 0)[::7]
    assert len(pick) > 1000
    # The exponent rounded to a double as the library forms it, its exponential to 30 digits
    # (whatever precision other tests left mpmath at).
    exponent = u[pick] * (u[pick] * -0.5)
    with mpmath.workdps(30):
        ref = np.array([float(mpmath.exp(mpmath.mpf(e))) for e in exponent])
    ulps = np.abs(data[pick] - ref) / np.spacing(ref)
    assert ulps.max() <= 2.0
