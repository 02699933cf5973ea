"""Inner-product matrices and integrals: supports, deltas, weights, symmetry, empty spaces."""

import math

import numpy as np
import pytest

import quorvel
from quorvel import Space
from helpers import arr, assert_canonical, dense, rows_of, value_error_message


def test_adjacent_boxes_give_diagonal_of_widths():
    edges = arr(0.0, 0.5, 2.0, 2.25)
    rows = rows_of(quorvel.inner_products(Space.boxes(edges), Space.boxes(edges)))
    assert [[c for c, _ in r] for r in rows] == [[0], [1], [2]]
    np.testing.assert_allclose([r[0][1] for r in rows], np.diff(edges), rtol=1e-15)


@pytest.mark.parametrize("weight", [None, 3.0])
def test_deltas_pair_by_position(weight):
    a = Space.deltas(arr(1.0, 2.0, 5.0))
    b = Space.deltas(arr(2.0, 1.0, 1.0, 7.0))
    rows = rows_of(quorvel.inner_products(a, b, weight))
    assert rows == [[(1, 1.0), (2, 1.0)], [(0, 1.0)], []]


def test_delta_against_box_edges():
    box = Space.boxes(arr(1.0, 3.0))
    rows = rows_of(quorvel.inner_products(Space.deltas(arr(1.0, 3.0, 2.0)), box))
    assert rows == [[(0, 1.0)], [], [(0, 1.0)]]


def test_delta_against_hat_weighted_is_value_times_cosine():
    hats = Space.hats(arr(0.0, 1.0, 2.0))
    got = dense(quorvel.inner_products(Space.deltas(arr(0.25, 1.5)), hats, 2.0))
    expected = np.array([[0.75, 0.25, 0.0], [0.0, 0.5, 0.5]])
    expected[0] *= math.cos(2.0 * 0.25)
    expected[1] *= math.cos(2.0 * 1.5)
    np.testing.assert_allclose(got, expected, rtol=1e-15, atol=0)


def test_empty_rows_space():
    indptr, indices, data, shape = quorvel.inner_products(
        Space.deltas(arr()), Space.hats(arr(0, 1))
    )
    assert indptr.tolist() == [0] and len(indices) == len(data) == 0 and shape == (0, 2)


def test_empty_columns_space():
    indptr, indices, data, shape = quorvel.inner_products(
        Space.hats(arr(0, 1, 2)), Space.deltas(arr())
    )
    assert indptr.tolist() == [0, 0, 0, 0] and len(indices) == 0 and shape == (3, 0)


@pytest.mark.parametrize(
    "weight, text",
    [(0.0, "0"), (-0.0, "-0"), (math.inf, "inf"), (-math.inf, "-inf"), (math.nan, "NaN")],
)
def test_bad_weight_rejected(weight, text):
    hats = Space.hats(arr(0, 1, 2))
    for call in (
        lambda: quorvel.inner_products(hats, hats, weight),
        lambda: hats.integrals(weight),
    ):
        assert value_error_message(call) == "bad cosine weight scale " + text


def test_bad_weight_rejected_even_for_empty_spaces():
    empty = Space.deltas(arr())
    with pytest.raises(ValueError, match="^bad cosine weight scale 0$"):
        quorvel.inner_products(empty, empty, 0.0)
    with pytest.raises(ValueError, match="^bad cosine weight scale NaN$"):
        empty.integrals(math.nan)


def test_weight_is_even_in_omega():
    a = Space.gaussians(arr(0.0, 1.5), arr(0.4, 0.7), 5.0)
    b = Space.bsplines_clamped(np.linspace(-2, 4, 9), 3)
    plus = dense(quorvel.inner_products(a, b, 2.0))
    minus = dense(quorvel.inner_products(a, b, -2.0))
    np.testing.assert_allclose(minus, plus, rtol=1e-14, atol=1e-16)
    np.testing.assert_allclose(a.integrals(-2.0), a.integrals(2.0), rtol=1e-14)


def test_subnormal_weight_accepted():
    hats = Space.hats(arr(0.0, 1.0, 3.0))
    np.testing.assert_allclose(hats.integrals(5e-324), [0.5, 1.5, 1.0], rtol=1e-15)


SPACES = {
    "hats": lambda: Space.hats(arr(0.0, 0.7, 1.0, 2.5, 3.0)),
    "bsplines": lambda: Space.bsplines_clamped(np.linspace(-1.0, 3.5, 7), 2),
    "gaussians": lambda: Space.gaussians(arr(0.0, 1.0, 2.0), arr(0.3, 0.5, 0.2), 4.0),
    "deltas": lambda: Space.deltas(arr(0.0, 0.7, 1.3, 3.0)),
    "boxes": lambda: Space.boxes(arr(-0.5, 0.7, 1.0, 2.2)),
}


@pytest.mark.parametrize("weight", [None, 1.7])
@pytest.mark.parametrize(
    "a_name, b_name",
    [
        ("hats", "bsplines"),
        ("gaussians", "hats"),
        ("deltas", "boxes"),
        ("boxes", "gaussians"),
        ("deltas", "gaussians"),
    ],
)
def test_transpose_symmetry(a_name, b_name, weight):
    a, b = SPACES[a_name](), SPACES[b_name]()
    ab = dense(quorvel.inner_products(a, b, weight))
    ba = dense(quorvel.inner_products(b, a, weight))
    np.testing.assert_allclose(ab, ba.T, rtol=1e-13, atol=1e-16)


@pytest.mark.parametrize("name", list(SPACES))
def test_gram_structure_and_symmetry(name):
    s = SPACES[name]()
    result = quorvel.inner_products(s, s)
    assert result[3] == (len(s), len(s))
    assert_canonical(result)
    g = dense(result)
    np.testing.assert_allclose(g, g.T, rtol=1e-13, atol=0)


def jittered_knots(rng, n, x0, h):
    """n distinct knots from x0 on, spaced h times a factor in [0.5, 1.5)."""
    return x0 + np.concatenate([[0.0], np.cumsum(h * rng.uniform(0.5, 1.5, n - 1))])


GRAM_SPACES = {
    **SPACES,
    "mixed": lambda: Space.concatenate([SPACES[k]() for k in SPACES]),
    "random knots": lambda: Space.bsplines(
        np.sort(np.random.default_rng(11).uniform(-3.0, 5.0, 40)), 3),
    "knots at 1e4": lambda: Space.bsplines(jittered_knots(np.random.default_rng(12), 40, 1e4,
                                                          1e-3), 3),
    "knots at 1e6": lambda: Space.bsplines(jittered_knots(np.random.default_rng(13), 40, 1e6,
                                                          1e-3), 3),
    "repeated knots": lambda: Space.bsplines(
        arr(0, 0, 0, 0, 0.3, 0.3, 0.5, 0.7, 0.7, 0.7, 1, 1, 1, 1), 3),
    "periodic": lambda: Space.bsplines_periodic(
        np.sort(np.random.default_rng(14).uniform(-1.0, 1.0, 14)), 3),
    "stretched": lambda: Space.shifted(
        np.linspace(-1.0, 1.0, 9), np.sin(np.linspace(0.0, 3.0, 9)) + 1.0,
        np.sort(np.random.default_rng(15).uniform(-3.0, 5.0, 20)),
        np.random.default_rng(16).uniform(0.2, 3.0, 20), "pchip"),
    "stretched in order": lambda: Space.shifted(
        np.linspace(-1.0, 1.0, 9), np.sin(np.linspace(0.0, 3.0, 9)) + 1.0,
        np.linspace(-3.0, 5.0, 20), np.random.default_rng(18).uniform(0.2, 0.6, 20), "pchip"),
    "long, swept in chunks": lambda: Space.bsplines(np.sort(np.concatenate(
        [np.random.default_rng(20).uniform(-3.0, 5.0, 6000), np.full(3, 1.0)])), 3),
    "second derivatives": lambda: Space.bsplines(
        np.sort(np.random.default_rng(19).uniform(-3.0, 5.0, 40)), 3).derivative(2),
}


def assert_same_bits(a, b):
    """Two sparse results with the same shape, pattern and value bits."""
    assert a[3] == b[3]
    for x, y in zip(a[:3], b[:3]):
        assert x.dtype == y.dtype and x.tobytes() == y.tobytes()


@pytest.mark.parametrize("weight", [None, 1.7])
@pytest.mark.parametrize("name", list(GRAM_SPACES))
def test_gram_equals_rows_computed_in_full(name, weight):
    # With the same space on both sides the pairs below the diagonal are mirrored, and a space of
    # shapes along the axis is swept knot interval by knot interval; a copy of the space on one
    # side makes every pair its own integral, in the order of its row. Mirroring keeps the bits;
    # the sweep sums the same exact quadrature in another order, so it agrees to rounding.
    s = GRAM_SPACES[name]()
    copy = s.take(list(range(len(s))))
    gram = quorvel.inner_products(s, s, weight)
    for full in (quorvel.inner_products(s, copy, weight), quorvel.inner_products(copy, s, weight)):
        if weight is None:
            assert gram[3] == full[3]
            np.testing.assert_array_equal(gram[0], full[0])
            np.testing.assert_array_equal(gram[1], full[1])
            # Entries that cancel (derivatives change sign) are exact to rounding of the
            # largest entry rather than of their own size.
            np.testing.assert_allclose(gram[2], full[2], rtol=2e-15,
                                       atol=2e-15 * np.abs(full[2]).max())
        else:
            assert_same_bits(gram, full)


@pytest.mark.parametrize("degree", [0, 1, 2, 3])
@pytest.mark.parametrize("x0", [0.0, 1e4])
def test_bspline_gram_matches_scipy(x0, degree):
    # Gauss-Legendre with 4 points per knot interval integrates products of cubics exactly.
    from scipy.interpolate import BSpline

    t = jittered_knots(np.random.default_rng(17), 30, x0, 1e-2) - x0
    n = len(t) - degree - 1
    nodes, weights = np.polynomial.legendre.leggauss(4)
    a, b = t[:-1], t[1:]
    keep = b > a
    x = ((a + b)[keep, None] / 2 + (b - a)[keep, None] / 2 * nodes).ravel()
    w = ((b - a)[keep, None] / 2 * weights).ravel()
    design = np.nan_to_num(np.stack(
        [BSpline.basis_element(t[j:j + degree + 2], extrapolate=False)(x) for j in range(n)],
        axis=1))
    expected = design.T @ (w[:, None] * design)
    s = Space.bsplines(t + x0, degree)
    got = dense(quorvel.inner_products(s, s))
    scale = np.abs(expected).max()
    np.testing.assert_allclose(got, expected, rtol=0, atol=scale * (1e-12 if x0 == 0 else 1e-9))
    assert got.shape == (n, n)


def test_hat_integrals_are_half_widths():
    nodes = arr(-1.0, 0.5, 0.75, 4.0)
    expected = [(0.5 - -1.0) / 2, (0.75 - -1.0) / 2, (4.0 - 0.5) / 2, (4.0 - 0.75) / 2]
    np.testing.assert_allclose(Space.hats(nodes).integrals(), expected, rtol=1e-15)


@pytest.mark.parametrize("name", ["hats", "bsplines", "deltas", "boxes", "knots at 1e4",
                                  "knots at 1e6", "repeated knots", "periodic", "stretched"])
def test_kept_integrals_equal_those_computed_per_element(name):
    # A space whose elements all have closed-form integrals keeps them; beside a Gaussian, which
    # has none, the same elements are integrated one by one. A pickled space computes them again.
    import pickle

    s = GRAM_SPACES[name]()
    mixed = Space.concatenate([s, SPACES["gaussians"]()])
    kept = s.integrals()
    assert kept.tobytes() == mixed.integrals()[: len(s)].tobytes()
    assert pickle.loads(pickle.dumps(s)).integrals().tobytes() == kept.tobytes()
    kept[:] = np.nan  # the result is the caller's: the space keeps its own
    assert s.integrals().tobytes() == mixed.integrals()[: len(s)].tobytes()


@pytest.mark.parametrize("x0", [0.0, 1e4, 1e6])
def test_cubic_bspline_integrals_are_a_quarter_of_their_knot_span(x0):
    t = jittered_knots(np.random.default_rng(18), 200, x0, 1e-3)
    got = Space.bsplines(t, 3).integrals()
    # Differences of nearby knots are exact.
    expected = (t[4:] - t[:-4]) / 4.0
    np.testing.assert_allclose(got, expected, rtol=1e-12 if x0 == 0 else 1e-9, atol=0)


def test_integrals_of_empty_space():
    got = Space.deltas(arr()).integrals()
    assert got.dtype == np.float64 and got.shape == (0,)


def test_delta_integrals():
    x = arr(0.0, 0.3, -2.0)
    np.testing.assert_array_equal(Space.deltas(x).integrals(), [1.0, 1.0, 1.0])
    np.testing.assert_allclose(Space.deltas(x).integrals(1.5), np.cos(1.5 * x), rtol=1e-15)


def test_box_integrals_unweighted_and_weighted():
    edges = arr(0.0, 1.0, 2.5)
    boxes = Space.boxes(edges)
    np.testing.assert_allclose(boxes.integrals(), [1.0, 1.5], rtol=1e-15)
    w = 0.8
    expected = (np.sin(w * edges[1:]) - np.sin(w * edges[:-1])) / w
    np.testing.assert_allclose(boxes.integrals(w), expected, rtol=1e-14)


def test_elements_far_apart_have_no_entries():
    a = Space.gaussians(arr(0.0), arr(1.0), 3.0)
    b = Space.gaussians(arr(10.0), arr(1.0), 3.0)
    indptr, indices, data, shape = quorvel.inner_products(a, b)
    assert indptr.tolist() == [0, 0] and shape == (1, 1)


def test_touching_profiles_give_no_entry():
    a = Space.gaussians(arr(0.0), arr(1.0), 3.0)
    b = Space.gaussians(arr(6.0), arr(1.0), 3.0)
    assert rows_of(quorvel.inner_products(a, b)) == [[]]
