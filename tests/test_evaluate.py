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
    with pytest.raises(ValueError, match="^delta position must be finite$"):
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
