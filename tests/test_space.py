"""The Space value: supports and centers in element order, take, concatenate, derivative, and
the overlap index seen through sparse products."""

import numpy as np
import pytest

import quorvel
from quorvel import Space
from helpers import arr, assert_canonical, dense, value_error_message


def test_empty_space():
    s = Space.deltas(arr())
    assert len(s) == 0
    for values in (s.lower(), s.upper(), s.centers()):
        assert values.dtype == np.float64 and values.shape == (0,)
    assert len(s.take([])) == 0
    assert len(Space.concatenate([])) == 0
    assert len(Space.concatenate([s, s])) == 0
    indptr, indices, data, shape = quorvel.inner_products(Space.hats(arr(0.0, 1.0)), s)
    assert shape == (2, 0) and len(indices) == 0


def test_take_in_given_order_with_repeats():
    s = Space.hats(arr(0.0, 1.0, 2.0))
    t = s.take([2, 0, 0])
    assert len(t) == 3
    np.testing.assert_array_equal(t.lower(), [1.0, 0.0, 0.0])
    np.testing.assert_array_equal(t.upper(), [2.0, 1.0, 1.0])
    np.testing.assert_array_equal(t.centers(), [2.0, 0.0, 0.0])
    np.testing.assert_array_equal(s.take(np.array([1, 0])).centers(), [1.0, 0.0])


@pytest.mark.parametrize(
    "indices, message",
    [
        ([3], "index 3 out of range for 3 elements"),
        ([0, 5, 7], "index 5 out of range for 3 elements"),
        ([2, 1, 2**64 - 1], "index 18446744073709551615 out of range for 3 elements"),
    ],
)
def test_take_out_of_range(indices, message):
    assert value_error_message(Space.hats(arr(0.0, 1.0, 2.0)).take, indices) == message


def test_take_on_empty_space_names_the_size():
    assert value_error_message(Space.deltas(arr()).take, [0]) == (
        "index 0 out of range for 0 elements"
    )


def test_concatenate_keeps_every_element_in_order():
    a = Space.hats(arr(0.0, 1.0, 2.0))
    b = Space.deltas(arr(5.0, -1.0))
    c = Space.gaussians(arr(3.0), arr(0.5), 2.0)
    s = Space.concatenate([a, b, c, a])
    assert len(s) == 2 * len(a) + len(b) + len(c)
    for method in ("lower", "upper", "centers"):
        expected = np.concatenate([getattr(x, method)() for x in (a, b, c, a)])
        np.testing.assert_array_equal(getattr(s, method)(), expected)


def test_elements_constructed_out_of_order():
    s = Space.deltas(arr(3.0, 1.0, 2.0))
    np.testing.assert_array_equal(s.lower(), [3.0, 1.0, 2.0])
    # The boxes meeting [0.5, 2.5] are those of the deltas 1 and 2, in ascending element order.
    probe = Space.boxes(arr(0.5, 2.5))
    indptr, indices, data, shape = quorvel.inner_products(probe, s)
    np.testing.assert_array_equal(indices, [1, 2])


def test_derivative_keeps_length_and_order():
    s = Space.concatenate([Space.hats(arr(2.0, 3.0, 5.0)), Space.boxes(arr(-1.0, 0.0))])
    d = s.derivative(1)
    assert len(d) == len(s)
    np.testing.assert_array_equal(d.lower(), s.lower())
    np.testing.assert_array_equal(d.upper(), s.upper())


def shuffled_boxes(rng, n, wide=False):
    lo = rng.uniform(-10, 10, n)
    width = rng.uniform(0.01, 2.0, n)
    if wide:
        width[rng.integers(n)] = 15.0
    # Identical lower bounds are allowed and must not confuse the index.
    lo[: n // 5] = lo[0]
    spaces = [Space.boxes(arr(a, a + w)) for a, w in zip(lo, width)]
    order = rng.permutation(n)
    return Space.concatenate([spaces[i] for i in order]), lo[order], (lo + width)[order]


@pytest.mark.parametrize("n, wide", [(5, False), (30, False), (200, False), (200, True)])
def test_overlap_index_finds_every_overlap(n, wide):
    rng = np.random.default_rng(n + wide)
    a, alo, ahi = shuffled_boxes(rng, n, wide)
    b, blo, bhi = shuffled_boxes(rng, n // 2 + 3, wide)
    np.testing.assert_array_equal(a.lower(), alo)
    np.testing.assert_array_equal(a.upper(), ahi)
    expected = np.clip(np.minimum(ahi[:, None], bhi) - np.maximum(alo[:, None], blo), 0, None)
    result = quorvel.inner_products(a, b)
    assert_canonical(result)
    np.testing.assert_allclose(dense(result), expected, rtol=1e-13, atol=1e-13)


def test_touching_supports_meet_a_point():
    # Evaluated at the node 1 the three hats touch it, but only the middle one is non-zero there.
    s = Space.hats(arr(0.0, 1.0, 2.0))
    deltas = Space.deltas(arr(1.0, 1.5))
    np.testing.assert_allclose(
        dense(quorvel.inner_products(deltas, s)), [[0, 1, 0], [0, 0.5, 0.5]]
    )


def test_points_at_the_support_ends_find_their_element():
    # Rounded support widths must not hide an element from a query at its exact upper end.
    rng = np.random.default_rng(7)
    n = 300
    s = Space.lorentzians(rng.uniform(-50, 50, n), rng.uniform(0.01, 3.0, n), 6.0)
    for ends in (s.lower(), s.upper()):
        v = dense(quorvel.inner_products(Space.deltas(ends), s))
        assert np.all(np.diag(v) > 0)
        v = dense(quorvel.evaluate(s, ends))
        assert np.all(np.diag(v) > 0)


def test_index_kept_by_a_space_serves_later_calls():
    # A call with many queries builds the bucket table of the space's index and the space keeps
    # it; later calls with few queries, and calls from several threads that race to build it on
    # a new space, find the same elements as a space that never had one.
    from concurrent.futures import ThreadPoolExecutor

    rng = np.random.default_rng(21)
    knots = np.sort(rng.uniform(-4.0, 4.0, 400))
    many = Space.gaussians(rng.uniform(-5.0, 5.0, 300), rng.uniform(0.01, 0.3, 300), 4.0)
    few = Space.gaussians(rng.uniform(-5.0, 5.0, 7), rng.uniform(0.01, 0.3, 7), 4.0)
    plain = Space.bsplines(knots, 3)
    expected_few = quorvel.inner_products(few, plain)
    expected_many = quorvel.inner_products(many, Space.bsplines(knots, 3))

    s = Space.bsplines(knots, 3)
    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(lambda _: quorvel.inner_products(many, s), range(8)))
    for r in results + [quorvel.inner_products(many, s)]:
        for got, want in zip(r[:3], expected_many[:3]):
            np.testing.assert_array_equal(got, want)
    for got, want in zip(quorvel.inner_products(few, s)[:3], expected_few[:3]):
        np.testing.assert_array_equal(got, want)
