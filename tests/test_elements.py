"""Deltas, boxes and hats: construction rules, messages, values and derivatives."""

import numpy as np
import pytest

from quorvel import Space
from helpers import (arr, central_difference, parameter_derivative, point_values as dense,
                     positional, value_error_message)


def test_deltas_keep_order_and_repeats():
    s = Space.deltas(arr(3.0, 1.0, 1.0))
    assert len(s) == 3
    np.testing.assert_array_equal(s.lower(), [3.0, 1.0, 1.0])
    np.testing.assert_array_equal(s.upper(), [3.0, 1.0, 1.0])
    np.testing.assert_array_equal(s.centers(), [3.0, 1.0, 1.0])


def test_empty_deltas():
    assert len(Space.deltas(arr())) == 0


@pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf])
def test_delta_must_be_finite(bad):
    assert value_error_message(Space.deltas, arr(0.0, bad)) == "delta position must be finite"


def test_boxes_values_and_supports():
    s = Space.boxes(arr(0.0, 1.0, 3.0))
    assert len(s) == 2
    np.testing.assert_array_equal(s.lower(), [0.0, 1.0])
    np.testing.assert_array_equal(s.upper(), [1.0, 3.0])
    np.testing.assert_array_equal(s.centers(), [0.5, 2.0])
    x = [-0.5, 0.0, 0.5, 1.0, 2.9, 3.0]
    expected = [[0, 0], [1, 0], [1, 0], [0, 1], [0, 1], [0, 0]]
    np.testing.assert_array_equal(dense(s, x), expected)


def test_hats_on_three_nodes():
    s = Space.hats(arr(0.0, 1.0, 2.0))
    np.testing.assert_array_equal(s.lower(), [0.0, 0.0, 1.0])
    np.testing.assert_array_equal(s.upper(), [1.0, 2.0, 2.0])
    np.testing.assert_array_equal(s.centers(), [0.0, 1.0, 2.0])
    v = dense(s, [0.0, 0.5, 1.0, 1.25, 2.0, 2.5, -0.1])
    np.testing.assert_allclose(
        v,
        [[1, 0, 0], [0.5, 0.5, 0], [0, 1, 0], [0, 0.75, 0.25], [0, 0, 1], [0, 0, 0], [0, 0, 0]],
        rtol=0,
        atol=1e-15,
    )


def test_hats_match_linear_interpolation():
    rng = np.random.default_rng(1)
    nodes = np.sort(rng.uniform(-3, 5, 9))
    x = rng.uniform(nodes[0], nodes[-1], 200)
    v = dense(Space.hats(nodes), x)
    # Each column is the piecewise-linear interpolant of a unit vector.
    for i in range(len(nodes)):
        np.testing.assert_allclose(v[:, i], np.interp(x, nodes, np.eye(len(nodes))[i]), atol=1e-14)


@pytest.mark.parametrize(
    "ctor, name",
    [(Space.boxes, "edges"), (Space.hats, "nodes"), (Space.bsplines_clamped, "breakpoints")],
)
@pytest.mark.parametrize(
    "values, tail",
    [
        ((), " needs at least 2 values"),
        ((0.0,), " needs at least 2 values"),
        ((0.0, np.nan, -1.0), " must be finite"),  # finiteness is checked before the order
        ((0.0, 1.0, np.inf), " must be finite"),
        ((1.0, 0.0), " must be strictly increasing"),
        ((0.0, 1.0, 1.0), " must be strictly increasing"),
    ],
)
def test_strictly_increasing_messages(ctor, name, values, tail):
    args = (arr(*values),) if ctor is not Space.bsplines_clamped else (arr(*values), 1)
    assert value_error_message(ctor, *args) == name + tail


def test_hat_derivatives():
    s = Space.hats(arr(0.0, 1.0, 2.0)).take([1])
    d1 = s.derivative(1)
    np.testing.assert_array_equal(d1.lower(), [0.0])
    np.testing.assert_array_equal(d1.upper(), [2.0])
    np.testing.assert_array_equal(dense(d1, [0.0, 0.5, 1.0, 1.5, 2.0]).ravel(), [1, 1, -1, -1, 0])
    d2 = s.derivative(2)
    assert dense(d2, np.linspace(-1, 3, 41)).sum() == 0
    np.testing.assert_array_equal(d2.lower(), [0.0])
    np.testing.assert_array_equal(d2.upper(), [2.0])


def test_half_hat_derivatives_and_unequal_sides():
    s = Space.hats(arr(0.0, 0.5, 2.5))
    d = s.derivative(1)
    got = dense(d, [0.0, 0.25, 0.5, 1.0, 2.4])
    expected = [
        [-2.0, 2.0, 0.0],
        [-2.0, 2.0, 0.0],
        [0.0, -0.5, 0.5],
        [0.0, -0.5, 0.5],
        [0.0, -0.5, 0.5],
    ]
    np.testing.assert_allclose(got, expected, rtol=1e-15)


def test_box_derivative_is_zero_on_the_same_support():
    d = Space.boxes(arr(0.0, 1.0)).derivative(1)
    np.testing.assert_array_equal(d.lower(), [0.0])
    np.testing.assert_array_equal(d.upper(), [1.0])
    assert dense(d, [0.0, 0.5, 1.0]).sum() == 0


@pytest.mark.parametrize("order", [4, 5, 1000, 2**63, 2**64 - 1])
def test_huge_derivative_order_is_zero_and_returns_at_once(order):
    s = Space.bsplines(arr(0.0, 0.25, 0.5, 1.5, 3.0), 3)
    d = s.derivative(order)
    np.testing.assert_array_equal(d.lower(), s.lower())
    np.testing.assert_array_equal(d.upper(), s.upper())
    assert not dense(d, np.linspace(0, 3, 31)).any()


def test_derivative_order_zero_copies_every_kind():
    spaces = [
        Space.deltas(arr(1.0, 2.0)),
        Space.gaussians(arr(0.0), arr(1.0), 3.0),
        Space.boxes(arr(0.0, 1.0)),
    ]
    for s in spaces:
        d = s.derivative(0)
        np.testing.assert_array_equal(d.lower(), s.lower())
        np.testing.assert_array_equal(d.upper(), s.upper())
        x = np.linspace(-4, 4, 17)
        np.testing.assert_array_equal(dense(d, x), dense(s, x))


@pytest.mark.parametrize(
    "space",
    [
        Space.deltas(arr(1.0)),
        Space.gaussians(arr(0.0), arr(1.0), 3.0),
        Space.harmonics(1, 2.0, 0.0),
    ],
)
def test_only_piecewise_elements_have_derivatives(space):
    assert value_error_message(space.derivative, 1) == (
        "only piecewise-polynomial elements have derivatives"
    )


def test_first_failing_element_decides_derivative_error():
    s = Space.concatenate([Space.hats(arr(0.0, 1.0)), Space.deltas(arr(0.5))])
    assert value_error_message(s.derivative, 2) == (
        "only piecewise-polynomial elements have derivatives"
    )


# Mapped elements: parameter derivatives go through the inner element at u = inverse(x).


def mapped_gaussians(center, sigma, kind, jacobian):
    a, b = (10.0, 0.0) if kind == "reciprocal" else (-1.5, -2.0)
    return Space.gaussians(arr(center), arr(sigma), 4.0).mapped(kind, a, b, jacobian)


@pytest.mark.parametrize("kind", ["reciprocal", "affine"])
@pytest.mark.parametrize("jacobian", [False, True])
@pytest.mark.parametrize("parameter", ["sigma", "center", "scale"])
def test_mapped_parameter_derivatives(kind, jacobian, parameter):
    center, sigma = 2.0, 0.3
    s = mapped_gaussians(center, sigma, kind, jacobian)
    x = np.linspace(s.lower()[0], s.upper()[0], 23)[1:-1]
    got = parameter_derivative(s, x, parameter).ravel()
    # "scale" stretches the inner Gaussian about its center: it multiplies sigma and the cutoff
    moved = {
        "sigma": lambda d: mapped_gaussians(center, sigma + d, kind, jacobian),
        "center": lambda d: mapped_gaussians(center + d, sigma, kind, jacobian),
        "scale": lambda d: mapped_gaussians(center, sigma * (1 + d), kind, jacobian),
    }[parameter]
    fd = central_difference(lambda d: dense(moved(d), x), 0.0, 1e-6).ravel()
    np.testing.assert_allclose(got, fd, rtol=0, atol=1e-7 * np.abs(fd).max())
    assert np.abs(got).max() > 0.1


def test_mapped_derivative_is_zero_outside_and_profile_parameters_need_a_profile():
    s = mapped_gaussians(2.0, 0.3, "reciprocal", True)
    d = parameter_derivative(s, [s.lower()[0] - 0.1, s.upper()[0] + 0.1], "sigma")
    assert not d.any()
    b = Space.bsplines(arr(1.0, 2.0, 3.0), 1).mapped("affine", 0.0, 2.0, False)
    assert value_error_message(parameter_derivative, b, [3.0], "sigma") == (
        "Sigma applies only to line-shape profiles"
    )


def test_derivative_of_a_stretched_shape():
    s = Space.shifted(arr(-1.0, 0.0, 1.0), arr(0.0, 1.0, 0.0), arr(3.0), arr(2.0), "linear")
    d = s.derivative(1)
    np.testing.assert_array_equal(d.lower(), [1.0])
    np.testing.assert_array_equal(d.upper(), [5.0])
    np.testing.assert_array_equal(
        dense(d, [1.5, 2.5, 3.5, 4.5, 5.0]).ravel(), [0.5, 0.5, -0.5, -0.5, 0]
    )


def test_derivative_that_overflows_is_refused():
    # A tiny stretch scales the second derivative by 1e400: an error, not infinite coefficients.
    s = Space.shifted(
        arr(-1.0, 0.0, 0.5, 1.0), arr(0.0, 1.0, 0.3, 0.0), arr(3.0), arr(1e-200), "pchip"
    )
    assert value_error_message(s.derivative, 2) == "shape segments must be finite"
    # Past the cubic degree the derivative is 0 whatever the stretch.
    assert not dense(s.derivative(4), np.linspace(3 - 1e-200, 3 + 1e-200, 9)).any()


# An element is built only if the width of its support is a finite double (its integrals are
# multiples of it); wider ones are refused where they are built, naming the support.
BIG = 1e308
WIDTH = "{} support width must be finite, got [{}, {}]"


@pytest.mark.parametrize("call, what, lower, upper", [
    (lambda: Space.boxes(arr(-BIG, BIG)), "box", -BIG, BIG),
    (lambda: Space.hats(arr(-BIG, 0.0, BIG)), "hat", -BIG, BIG),
    (lambda: Space.triangles(arr(0.0), arr(BIG / 2)), "hat", -BIG, BIG),
    (lambda: Space.bsplines(arr(-BIG, BIG), 0), "B-spline", -BIG, BIG),
    (lambda: Space.bsplines(arr(-BIG, 0.0, 1.0, BIG), 2), "B-spline", -BIG, BIG),
    (lambda: Space.tabulated(arr(0.0), np.array([[-BIG, BIG]]), np.array([[0.0, 1.0]]), "linear"),
     "piecewise element", -BIG, BIG),
    (lambda: Space.gaussians(arr(0.0), arr(5e306), 20.0), "profile", -BIG, BIG),
    (lambda: Space.hats(arr(-1.0, 1.0)).mapped("affine", 0.0, BIG, False), "mapped", -BIG, BIG),
])
def test_supports_wider_than_a_double_are_refused(call, what, lower, upper):
    message = value_error_message(call)
    assert message == WIDTH.format(what, positional(lower), positional(upper))


def test_periodic_breakpoints_whose_extension_overflows_are_refused():
    message = value_error_message(Space.bsplines_periodic, arr(1e308, 1.5e308, 1.7e308), 1)
    assert message == (f"periodic B-spline knots extended by the period must be finite, got "
                       f"[{positional(1.5e308 - (1.7e308 - 1e308))}, inf]")
