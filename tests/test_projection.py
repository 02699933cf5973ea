"""Projection: dense references from inner products, bounded rows certified by the optimality
conditions of their quadratic program, and the messages of the constructor and apply_last_axis."""

import itertools
import math
import threading

import numpy as np
import pytest

import quorvel as q
from quorvel import Projection, Space
from helpers import (assert_same_sparse, dense, raises_with_note, type_error_message,
                     uniform_bsplines as bsplines, value_error_message)


def boxes(lo, hi, n):
    return Space.boxes(np.linspace(lo, hi, n + 1))


SPACE_PAIRS = {
    "boxes->cubic": (lambda: boxes(0.0, 10.0, 37), lambda: bsplines(0.0, 10.0, 12)),
    "cubic->hats": (lambda: bsplines(0.0, 10.0, 12), lambda: Space.hats(np.linspace(0.5, 9.5, 15))),
    "deltas->quadratic": (
        lambda: Space.deltas(np.sort(np.random.default_rng(1).uniform(0.0, 10.0, 60))),
        lambda: bsplines(0.0, 10.0, 9, degree=2),
    ),
    "hats->boxes": (lambda: Space.hats(np.linspace(0.0, 10.0, 23)), lambda: boxes(-1.0, 11.0, 8)),
}


@pytest.mark.parametrize("weight", [None, 0.1])
@pytest.mark.parametrize("pair", sorted(SPACE_PAIRS))
def test_to_dense_is_gram_inverse_times_cross(pair, weight):
    src, dst = (make() for make in SPACE_PAIRS[pair])
    p = Projection(src, dst, weight)
    g = dense(q.inner_products(dst, dst, weight))
    k = dense(q.inner_products(dst, src, weight))
    expected = np.linalg.solve(g, k)
    got = p.to_dense()
    assert got.shape == (len(dst), len(src))
    assert got.flags.c_contiguous
    np.testing.assert_allclose(got, expected, rtol=1e-9, atol=1e-11 * np.abs(expected).max())


def test_weight_that_changes_sign_makes_the_gram_matrix_indefinite():
    # cos(0.7 x) is negative on part of [0, 10]: the weighted Gram matrix has a negative pivot.
    s = bsplines(0.0, 10.0, 12)
    with pytest.raises(q.SingularError) as info:
        Projection(s, s, 0.7)
    assert str(info.value).endswith(
        ": the target elements are linearly dependent, or one of them has zero norm")


def test_cross_is_the_inner_product_matrix():
    src, dst = (make() for make in SPACE_PAIRS["boxes->cubic"])
    cross = Projection(src, dst).cross()
    assert_same_sparse(cross, q.inner_products(dst, src))
    assert cross[3] == (len(dst), len(src))


def test_delta_source_interpolates_point_values():
    x = np.array([0.3, 1.7, 2.2, 4.9, 6.0, 8.8])
    dst = Space.hats(np.linspace(0.0, 9.0, 4))
    p = Projection(Space.deltas(x), dst)
    np.testing.assert_allclose(dense(p.cross()), dense(q.evaluate(dst, x)).T, rtol=1e-15)


@pytest.mark.parametrize("make", [lambda: bsplines(0.0, 5.0, 7), lambda: boxes(0.0, 1.0, 9),
                                  lambda: Space.hats(np.array([0.0, 0.5, 2.0, 2.1, 4.0]))])
def test_projection_onto_the_source_space_is_the_identity(make):
    s = make()
    p = Projection(s, s)
    np.testing.assert_allclose(p.to_dense(), np.eye(len(s)), atol=1e-12)
    f = np.random.default_rng(2).normal(size=(5, len(s)))
    np.testing.assert_allclose(p.apply_last_axis(f), f, atol=1e-12)


@pytest.mark.parametrize("order", ["C", "F"])
def test_apply_last_axis_agrees_with_to_dense(order):
    src, dst = (make() for make in SPACE_PAIRS["boxes->cubic"])
    p = Projection(src, dst)
    f = np.random.default_rng(3).normal(size=(7, len(src)))
    f = np.asarray(f, order=order)
    got = p.apply_last_axis(f)
    assert got.shape == (7, len(dst))
    np.testing.assert_allclose(got, f @ p.to_dense().T, rtol=1e-12, atol=1e-12)


def test_sizes():
    src, dst = (make() for make in SPACE_PAIRS["cubic->hats"])
    p = Projection(src, dst)
    assert (p.n_src, p.n_dst) == (len(src), len(dst))
    assert isinstance(p.n_src, int)
    assert p.apply_last_axis(np.zeros((0, len(src)))).shape == (0, len(dst))


# ---- bounded rows -----------------------------------------------------------------------------


def step_rows(src):
    # Jumps between 0 and 1 make the unconstrained projection overshoot on both sides.
    c = np.array(src.centers())
    rows = [
        (c > 3.0).astype(float),
        ((c > 2.0) & (c < 6.5)).astype(float),
        np.clip(np.sin(c), 0.0, None) * ((c > 1.0) & (c < 8.0)),
    ]
    return np.array(rows)


def noisy_rows(src):
    # Jumps plus noise: wide local ranges, so the local problems stay feasible.
    c = np.array(src.centers())
    rng = np.random.default_rng(4)
    rows = [
        np.clip((c > 3.0) + 0.3 * rng.normal(size=c.size), 0.0, 1.0),
        np.clip(((c > 2.0) & (c < 6.5)) + 0.2 * rng.uniform(-1, 1, c.size), 0.0, 1.0),
        rng.uniform(0.0, 1.0, c.size),
    ]
    return np.array(rows)


def assert_kkt(g, b, w, target, lower, upper, x, tol=1e-9):
    """x minimises 1/2 x'Gx - b'x subject to w'x = target and lower <= x <= upper (G positive
    definite, so the KKT conditions certify the unique optimum): some multiplier lambda makes the
    gradient Gx - b + lambda w vanish on the free coefficients, be >= 0 where x sits at its lower
    bound and <= 0 where it sits at its upper bound."""
    assert np.all(x >= lower - tol) and np.all(x <= upper + tol)
    assert w @ x == pytest.approx(target, rel=1e-12, abs=1e-12)
    scale = np.abs(b).max() + np.abs(g).max()
    at_lower = np.abs(x - lower) <= tol
    at_upper = np.abs(x - upper) <= tol
    free = ~(at_lower | at_upper)
    grad = g @ x - b
    assert free.any()
    lam = -np.linalg.lstsq(w[free, None], grad[free], rcond=None)[0][0]
    r = grad + lam * w
    assert np.abs(r[free]).max() <= 1e-9 * scale
    assert np.all(r[at_lower & ~at_upper] >= -1e-9 * scale)
    assert np.all(r[at_upper & ~at_lower] <= 1e-9 * scale)


def local_ranges(p, f_row):
    k = dense(p.cross())
    lower = np.full(p.n_dst, -np.inf)
    upper = np.full(p.n_dst, np.inf)
    for i in range(p.n_dst):
        vals = f_row[k[i] != 0.0]
        vals = vals[~np.isnan(vals)]
        if vals.size:
            lower[i], upper[i] = vals.min(), vals.max()
    return lower, upper


@pytest.mark.parametrize("kind", ["fixed", "local"])
def test_bounded_rows_solve_the_constrained_least_squares_problem(kind):
    src = boxes(0.0, 10.0, 40)
    dst = bsplines(0.0, 10.0, 14)
    p = Projection(src, dst)
    f = step_rows(src) if kind == "fixed" else noisy_rows(src)
    bounds = (0.0, 1.0) if kind == "fixed" else "local"
    got = p.apply_last_axis(f, bounds)
    free = p.apply_last_axis(f)
    g = dense(q.inner_products(dst, dst))
    w = dst.integrals()
    b = f @ dense(p.cross()).T
    for r in range(f.shape[0]):
        if kind == "fixed":
            lower, upper = np.zeros(p.n_dst), np.ones(p.n_dst)
        else:
            lower, upper = local_ranges(p, f[r])
        assert_kkt(g, b[r], w, w @ free[r], lower, upper, got[r])
    assert np.any(np.abs(got - free) > 1e-3)  # the bounds were active somewhere


def test_infeasible_local_row_takes_the_clamped_redistribution():
    # Flat source levels pin almost every element; the few free ones cannot reach the integral, so
    # the row is clamped and the missing integral is moved into the remaining room (all of it).
    src = boxes(0.0, 10.0, 40)
    dst = bsplines(0.0, 10.0, 14)
    p = Projection(src, dst)
    c = np.array(src.centers())
    f = np.where(c < 5.0, 0.2, 0.9)[None, :]
    y = p.apply_last_axis(f)[0]
    lower, upper = local_ranges(p, f[0])
    w = dst.integrals()
    x = np.clip(y, lower, upper)
    s = w @ (y - x)
    room = np.where(s > 0, upper - x, x - lower)
    room[~np.isfinite(room)] = 0.0
    theta = min(abs(s) / (w @ room), 1.0)
    expected = x + np.sign(s) * theta * room
    assert theta == 1.0
    np.testing.assert_allclose(p.apply_last_axis(f, "local")[0], expected, rtol=1e-14, atol=1e-15)


def test_bounds_that_hold_already_change_nothing():
    src = boxes(-4.0, 14.0, 60)
    dst = bsplines(0.0, 10.0, 8)
    p = Projection(src, dst)
    c = np.array(src.centers())
    f = (0.5 + 0.3 * np.sin(c / 3.0))[None, :]
    free = p.apply_last_axis(f)
    assert free.min() > 0.0 and free.max() < 1.0
    np.testing.assert_allclose(p.apply_last_axis(f, (0.0, 1.0)), free, rtol=1e-13, atol=1e-14)


def test_equal_bounds_pin_every_coefficient():
    src = boxes(0.0, 10.0, 20)
    dst = bsplines(0.0, 10.0, 6)
    p = Projection(src, dst)
    f = step_rows(src)
    np.testing.assert_array_equal(p.apply_last_axis(f, (0.25, 0.25)), np.full((len(f), p.n_dst), 0.25))


def test_local_bounds_leave_elements_without_source_unbounded():
    src = boxes(0.0, 5.0, 20)
    dst = bsplines(0.0, 10.0, 10)
    p = Projection(src, dst)
    k = dense(p.cross())
    uncovered = ~np.any(k != 0.0, axis=1)
    assert uncovered.any()
    f = (np.array(src.centers()) > 2.5).astype(float)[None, :]
    got = p.apply_last_axis(f, "local")[0]
    free = p.apply_last_axis(f)[0]
    lower, upper = local_ranges(p, f[0])
    assert np.all(np.isinf(lower[uncovered])) and np.all(np.isinf(upper[uncovered]))
    g = dense(q.inner_products(dst, dst))
    w = dst.integrals()
    assert_kkt(g, k @ f[0], w, w @ free, lower, upper, got)


def test_local_bounds_with_nan_sources_do_not_fail():
    src = boxes(0.0, 10.0, 20)
    dst = bsplines(0.0, 10.0, 6)
    p = Projection(src, dst)
    f = np.ones((2, len(src)))
    f[0, :5] = np.nan
    f[1, :] = np.nan
    got = p.apply_last_axis(f, "local")
    assert got.shape == (2, p.n_dst)
    assert np.all(np.isnan(got[1]))
    # Elements with some finite overlapping source stay within its range; the first element sees
    # only NaN sources and is left unbounded (NaN, from its NaN right-hand side).
    lower, upper = local_ranges(p, f[0])
    has_range = np.isfinite(lower)
    assert not has_range[0] and has_range[1:].all()
    assert np.all((got[0][has_range] >= lower[has_range]) & (got[0][has_range] <= upper[has_range]))


# ---- messages ---------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def small():
    return Projection(boxes(0.0, 1.0, 4), bsplines(0.0, 1.0, 2))


@pytest.mark.parametrize(
    "bounds, exc, message",
    [
        ((2.0, 1.0), ValueError, "bounds need lo <= hi"),
        ((0.0, float("nan")), ValueError, "bounds need lo <= hi"),
        ((float("nan"), 1.0), ValueError, "bounds need lo <= hi"),
        ("Local", ValueError, "bounds must be 'local' or (lo, hi), got \"Local\""),
        ("global", ValueError, "bounds must be 'local' or (lo, hi), got \"global\""),
        ('a"b\\', ValueError, "bounds must be 'local' or (lo, hi), got \"a\\\"b\\\\\""),
        ((1.0, 2.0, 3.0), ValueError, "expected tuple of length 2, but got tuple of length 3"),
        ((1.0,), ValueError, "expected tuple of length 2, but got tuple of length 1"),
        ([0.0, 1.0], TypeError, "'list' object is not an instance of 'tuple'"),
        (1.5, TypeError, "'float' object is not an instance of 'tuple'"),
    ],
)
def test_bad_bounds(small, bounds, exc, message):
    f = np.zeros((2, small.n_src))
    with pytest.raises(exc) as info:
        small.apply_last_axis(f, bounds)
    assert str(info.value) == message


def test_bound_items_convert_like_floats(small):
    f = np.random.default_rng(5).normal(size=(3, small.n_src))
    np.testing.assert_array_equal(small.apply_last_axis(f, bounds=None), small.apply_last_axis(f))
    np.testing.assert_array_equal(small.apply_last_axis(f, (0, 1)), small.apply_last_axis(f, (0.0, 1.0)))
    with pytest.raises(TypeError):
        small.apply_last_axis(f, ("0", 1.0))


def test_shape_is_checked_before_bounds(small):
    assert value_error_message(small.apply_last_axis, np.zeros((2, 3)), "global") == (
        "f has 3 values along the transformed axis, expected 4"
    )


@pytest.mark.parametrize(
    "f",
    [np.zeros((2, 8))[:, ::2], np.zeros((8, 4))[::2], np.zeros((3, 4, 2))[:, :, 0]],
)
def test_non_contiguous_input_is_rejected(small, f):
    assert raises_with_note(TypeError, "f", small.apply_last_axis, f,
                            hint="use np.ascontiguousarray(f)") == (
        "The given array is not contiguous or is misaligned."
    )


class ChangesF:
    """A bound whose conversion changes the array being projected: resizes it (freeing its
    buffer) or gives it a new buffer through __setstate__."""

    def __init__(self, f, change, value):
        self.f, self.change, self.value = f, change, value

    def __float__(self):
        self.change(self.f)
        return self.value


def resized(shape):
    def change(f):
        f.resize(shape, refcheck=False)
        f[...] = np.arange(f.size, dtype=float).reshape(shape) % 7.0
    return change


def replaced(f):
    f.__setstate__(np.full((3, 4), 2.5).__reduce__()[2])


@pytest.mark.parametrize("change", [resized((500, 4)), resized((1, 4)), replaced])
def test_f_is_read_as_it_is_after_the_bounds_are_converted(small, change):
    f = np.ones((2, 4))
    got = small.apply_last_axis(f, (ChangesF(f, change, -1.0), 9.0))
    np.testing.assert_array_equal(got, small.apply_last_axis(f.copy(), (-1.0, 9.0)))
    assert got.shape == (f.shape[0], small.n_dst)


def test_f_changed_to_a_wrong_shape_while_the_bounds_are_converted(small):
    f = np.ones((2, 4))
    assert value_error_message(small.apply_last_axis, f, (0.0, ChangesF(f, resized((3, 7)), 1.0))) == (
        "f has 7 values along the transformed axis, expected 4"
    )


def test_f_cannot_be_resized_while_a_call_reads_it():
    p = Projection(bsplines(0.0, 1.0, 300), boxes(0.0, 1.0, 50))
    f = np.ones((400, p.n_src))
    refused, stop = [], threading.Event()

    def resize_repeatedly():
        for rows in itertools.cycle([400, 800]):
            if stop.is_set():
                return
            try:
                f.resize((rows, p.n_src), refcheck=False)
            except ValueError as error:  # NumPy refuses while the call holds the array
                refused.append(str(error))

    thread = threading.Thread(target=resize_repeatedly)
    thread.start()
    try:
        for _ in range(200):
            assert p.apply_last_axis(f, (0.0, 1.0)).shape[1] == p.n_dst
            if refused:
                break
    finally:
        stop.set()
        thread.join()
    assert refused and refused[0].startswith("cannot resize an array that references or is referenced")


@pytest.mark.parametrize("weight, shown", [(0.0, "0"), (-0.0, "-0"), (math.inf, "inf"), (math.nan, "NaN")])
def test_bad_weight(weight, shown):
    s = boxes(0.0, 1.0, 2)
    assert value_error_message(Projection, s, s, weight) == f"bad cosine weight scale {shown}"


def test_docstrings():
    assert Projection.__text_signature__ == "(src, dst, weight=None)"
    assert Projection.apply_last_axis.__doc__ == (
        "Projects each row of f, shape (k, n_src), returning (k, n_dst). `bounds` is None,\n"
        "\"local\", or (lo, hi)."
    )
    assert Projection.apply_last_axis.__text_signature__ == "($self, f, bounds=None)"
    assert Projection.__module__ == "quorvel._quorvel"
    with pytest.raises(AttributeError):
        Projection(boxes(0.0, 1.0, 2), boxes(0.0, 1.0, 2)).n_src = 3


def test_argument_errors_name_the_parameter():
    s = boxes(0.0, 1.0, 2)
    assert type_error_message(Projection, s) == (
        "Projection.__new__() missing 1 required positional argument: 'dst'"
    )
    assert raises_with_note(TypeError, "dst", Projection, s, "dst") == (
        "'str' object is not an instance of 'Space'"
    )
    raises_with_note(TypeError, "f", Projection(s, s).apply_last_axis, [[0.0, 1.0]],
                     hint="expected a 2-D float64 array, got a list; use np.asarray(f, dtype=np.float64)")
    p = Projection(src=s, dst=s, weight=None)
    np.testing.assert_allclose(p.apply_last_axis(f=np.ones((1, 2)), bounds=(0.0, 2.0)), np.ones((1, 2)))
