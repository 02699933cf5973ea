"""Fit: the dense operator against normal equations assembled with NumPy, the penalties, and the
messages of construction and application."""

import gc
import math

import numpy as np
import pytest

import quorvel as q
from quorvel import Fit, SingularError, Space
from helpers import (assert_same_sparse, dense, raises_with_note, type_error_message,
                     uniform_bsplines as bsplines, value_error_message)

SUFFIX = "; the data do not determine every model coefficient, so add smoothing"


def triangles(centers, height=1.0, half_base=0.6):
    x = np.array([-half_base, 0.0, half_base])
    return Space.shifted(x, np.array([0.0, height, 0.0]), np.asarray(centers, float), np.array([1.0]),
                         "linear")


def points(n, seed=0):
    return np.sort(np.random.default_rng(seed).uniform(0.0, 10.0, n))


def penalty_matrix(model, penalty, order):
    n = len(model)
    if penalty == "difference":
        if order >= n:
            return None
        d = np.diff(np.eye(n), order, axis=0)
        return d.T @ d
    deriv = model.derivative(order)
    return dense(q.inner_products(deriv, deriv))


def reference_operator(fit, model, smoothing, penalty, order):
    w = dense(fit.design())
    n = w.T @ w
    p = penalty_matrix(model, penalty, order) if smoothing > 0 else None
    a = n if p is None else n + smoothing * np.trace(n) / np.trace(p) * p
    return np.linalg.solve(a, w.T)


CASES = [
    ("derivative", 1, 0.1, "none"),
    ("derivative", 2, 1e-3, "none"),
    ("derivative", 3, 1e-2, "integral"),
    ("derivative", 0, 0.5, "rowsum"),
    ("difference", 1, 0.1, "none"),
    ("difference", 2, 1e-3, "integral"),
    ("difference", 3, 1.0, "rowsum"),
    ("difference", 0, 0.2, "none"),
]


@pytest.mark.parametrize("kernels", ["deltas", "triangles"])
@pytest.mark.parametrize("penalty, order, smoothing, normalization", CASES)
def test_to_dense_solves_the_penalised_normal_equations(kernels, penalty, order, smoothing,
                                                        normalization):
    x = points(40)
    k = Space.deltas(x) if kernels == "deltas" else triangles(x, height=2.0)
    model = bsplines(0.0, 10.0, 9)
    fit = Fit(k, model, normalization, smoothing, penalty, order)
    expected = reference_operator(fit, model, smoothing, penalty, order)
    got = fit.to_dense()
    assert got.shape == (len(model), len(k))
    np.testing.assert_allclose(got, expected, rtol=1e-8, atol=1e-10 * np.abs(expected).max())


def test_design_is_the_measurement_matrix():
    k = triangles(points(25), height=3.0)
    model = bsplines(0.0, 10.0, 6)
    for normalization in ["integral", "rowsum", "none"]:
        fit = Fit(k, model, normalization, 0.1, "derivative", 2)
        assert_same_sparse(fit.design(), q.measure(k, model, normalization))
        assert fit.design()[3] == (len(k), len(model))


def test_cosine_weight_is_used_for_the_design_only():
    k = triangles(points(30))
    model = bsplines(0.0, 10.0, 5)
    fit = Fit(k, model, "none", 0.05, "derivative", 2, weight=0.4)
    np.testing.assert_allclose(dense(fit.design()), dense(q.inner_products(k, model, 0.4)), rtol=1e-14)
    expected = reference_operator(fit, model, 0.05, "derivative", 2)
    np.testing.assert_allclose(fit.to_dense(), expected, rtol=1e-8, atol=1e-12)


def test_interpolation_without_smoothing():
    model = bsplines(0.0, 10.0, 7)
    x = np.linspace(0.2, 9.8, len(model))
    fit = Fit(Space.deltas(x), model, "none", 0.0, "derivative", 2)
    e = dense(q.evaluate(model, x))
    np.testing.assert_allclose(fit.to_dense(), np.linalg.inv(e), rtol=1e-9, atol=1e-11)


def test_least_squares_without_smoothing():
    model = bsplines(0.0, 10.0, 7)
    x = points(200, seed=4)
    y = np.cos(x) + 0.1 * x
    fit = Fit(Space.deltas(x), model, "none", 0.0, "difference", 2)
    expected = np.linalg.lstsq(dense(q.evaluate(model, x)), y, rcond=None)[0]
    np.testing.assert_allclose(fit.apply_last_axis(y[None, :])[0], expected, rtol=1e-10, atol=1e-12)


def test_negative_zero_smoothing_behaves_like_zero():
    model = bsplines(0.0, 10.0, 7)
    k = Space.deltas(points(50))
    a = Fit(k, model, "none", -0.0, "derivative", 9).to_dense()
    b = Fit(k, model, "none", 0.0, "derivative", 2).to_dense()
    np.testing.assert_array_equal(a, b)


def test_difference_order_at_least_the_model_size_adds_nothing():
    model = bsplines(0.0, 10.0, 3)
    k = Space.deltas(points(30))
    n = len(model)
    unpenalised = Fit(k, model, "none", 0.0, "difference", 1).to_dense()
    for order in [n, n + 5]:
        np.testing.assert_array_equal(Fit(k, model, "none", 10.0, "difference", order).to_dense(),
                                      unpenalised)


@pytest.mark.parametrize("alpha", [3.0, 0.25])
def test_scaling_the_kernels_divides_the_coefficients(alpha):
    x = points(60, seed=7)
    model = bsplines(0.0, 10.0, 8)
    d = np.sin(x)[None, :]
    base = Fit(triangles(x), model, "none", 1e-2, "derivative", 2).apply_last_axis(d)
    scaled = Fit(triangles(x, height=alpha), model, "none", 1e-2, "derivative", 2).apply_last_axis(d)
    np.testing.assert_allclose(scaled, base / alpha, rtol=1e-10)


@pytest.mark.parametrize("rows", [6, 19])
@pytest.mark.parametrize("order", ["C", "F"])
def test_apply_last_axis_agrees_with_to_dense(order, rows):
    x = points(35, seed=2)
    fit = Fit(triangles(x), bsplines(0.0, 10.0, 6), "integral", 0.01, "difference", 2)
    data = np.asarray(np.random.default_rng(8).normal(size=(rows, len(x))), order=order)
    got = fit.apply_last_axis(data)
    assert got.shape == (rows, fit.n_model)
    np.testing.assert_allclose(got, data @ fit.to_dense().T, rtol=1e-11, atol=1e-12)
    one = np.ascontiguousarray(data[2:3])
    np.testing.assert_allclose(fit.apply_last_axis(one)[0], fit.to_dense() @ data[2], rtol=1e-11,
                               atol=1e-12)


def test_sizes():
    x = points(12)
    model = bsplines(0.0, 10.0, 4)
    fit = Fit(Space.deltas(x), model, "none", 0.1, "derivative", 1)
    assert (fit.n_data, fit.n_model) == (len(x), len(model))
    assert fit.apply_last_axis(np.zeros((0, len(x)))).shape == (0, len(model))


# ---- failures ---------------------------------------------------------------------------------


def test_too_few_kernels_is_singular():
    model = bsplines(0.0, 10.0, 7)
    with pytest.raises(SingularError) as info:
        Fit(Space.deltas(np.array([1.0, 2.0, 3.0])), model, "none", 0.0, "derivative", 2)
    message = str(info.value)
    assert message.startswith("pivot ")
    assert message.endswith(
        ": the target elements are linearly dependent, or one of them has zero norm" + SUFFIX)


def test_singular_suffix_also_with_smoothing():
    # Weighted by an empty design, trace(N) = 0 and the scaled penalty adds nothing.
    model = bsplines(0.0, 10.0, 4)
    with pytest.raises(SingularError) as info:
        Fit(Space.deltas(np.array([20.0])), model, "none", 1.0, "derivative", 2)
    assert str(info.value) == (
        "pivot 0 is 0e0 (diagonal 0e0): the target elements are linearly dependent, or one of "
        "them has zero norm" + SUFFIX)


@pytest.mark.parametrize("smoothing", [-1.0, math.inf, -math.inf, math.nan])
def test_bad_smoothing(smoothing):
    message = value_error_message(Fit, Space.deltas(points(10)), bsplines(0.0, 10.0, 3), "none",
                                  smoothing, "derivative", 2)
    assert message == "smoothing must be finite and >= 0"


@pytest.mark.parametrize("text", ["Derivative", "diff", "", "derivative "])
def test_bad_penalty(text):
    message = value_error_message(Fit, Space.deltas(points(10)), bsplines(0.0, 10.0, 3), "none",
                                  0.1, text, 2)
    assert message == f"penalty must be 'derivative' or 'difference', got \"{text}\""


@pytest.mark.parametrize("degree, order", [(3, 4), (1, 2), (0, 1)])
def test_penalty_zero_for_low_degree(degree, order):
    model = bsplines(0.0, 10.0, 5, degree=degree)
    message = value_error_message(Fit, Space.deltas(points(40)), model, "none", 0.1, "derivative",
                                  order)
    assert message == f"the Derivative({order}) penalty is zero for this model (degree too low?)"


def test_derivative_penalty_needs_piecewise_polynomials():
    model = Space.deltas(np.linspace(0.0, 10.0, 5))
    message = value_error_message(Fit, Space.deltas(np.linspace(0.0, 10.0, 5)), model, "none", 0.1,
                                  "derivative", 1)
    assert message == "only piecewise-polynomial elements have derivatives"


def test_validation_order():
    k = Space.deltas(points(10))
    m = bsplines(0.0, 10.0, 3)
    cases = [
        (("Integral", -1.0, "x", 2, 0.0),
         "normalization must be 'integral', 'rowsum' or 'none', got \"Integral\""),
        (("none", -1.0, "x", 2, 0.0), "bad cosine weight scale 0"),
        (("none", -1.0, "x", 2, None), "penalty must be 'derivative' or 'difference', got \"x\""),
        (("none", -1.0, "derivative", 9, None), "smoothing must be finite and >= 0"),
    ]
    for (norm, smoothing, penalty, order, weight), message in cases:
        got = value_error_message(Fit, k, m, norm, smoothing, penalty, order, weight=weight)
        assert got == message


def test_data_shape_and_layout_errors():
    fit = Fit(Space.deltas(points(5)), bsplines(0.0, 10.0, 1), "none", 0.1, "difference", 1)
    assert value_error_message(fit.apply_last_axis, np.zeros((2, 3))) == (
        "data has 3 values along the transformed axis, expected 5"
    )
    assert raises_with_note(TypeError, "data", fit.apply_last_axis, np.zeros((2, 10))[:, ::2],
                            hint="use np.ascontiguousarray(data)") == (
        "The given array is not contiguous or is misaligned."
    )


def test_docstrings():
    assert Fit.__text_signature__ == (
        "(kernels, model, normalization, smoothing, penalty, order, weight=None)")
    assert Fit.apply_last_axis.__doc__ == (
        "Fits each row of data, shape (k, n_data), returning coefficients (k, n_model).")
    assert Fit.design.__text_signature__ == "($self)"


def test_keyword_values_outlive_a_conversion_that_clears_their_dict():
    k, m = Space.deltas(points(5)), bsplines(0.0, 10.0, 1)

    class ClearsKeywords:
        def __float__(self):
            for referrer in gc.get_referrers(self):
                if isinstance(referrer, dict) and "penalty" in referrer:
                    referrer.clear()  # drops the only reference to the penalty string
            return 0.1

    fit = Fit(k, m, **{"normalization": "none", "smoothing": ClearsKeywords(),
                       "penalty": "".join(["diff", "erence"]), "order": 1})
    np.testing.assert_array_equal(fit.to_dense(),
                                  Fit(k, m, "none", 0.1, "difference", 1).to_dense())


def test_argument_errors_name_the_parameter():
    k = Space.deltas(points(5))
    m = bsplines(0.0, 10.0, 1)
    raises_with_note(OverflowError, "order", Fit, k, m, "none", 0.1, "difference", -1,
                     hint="order must be >= 0, got -1")
    raises_with_note(TypeError, "smoothing", Fit, k, m, "none", "0.1", "difference", 1)
    assert type_error_message(Fit, k, m, "none", 0.1, "difference") == (
        "Fit.__new__() missing 1 required positional argument: 'order'"
    )
    fit = Fit(kernels=k, model=m, normalization="none", smoothing=0.1, penalty="difference", order=1)
    assert fit.n_model == len(m)


@pytest.mark.parametrize("x0", [0.0, 1e4, 1e6])
@pytest.mark.parametrize("smoothing", [0.0, 1e-3])
def test_normal_equations_of_close_knots_far_from_zero(x0, smoothing):
    # Knots 1e-3 apart at x0, many points per knot interval: the operator equals the solution of
    # the normal equations assembled densely from the design.
    rng = np.random.default_rng(int(x0) % 97 + 3)
    knots = x0 + np.concatenate([[0.0], np.cumsum(1e-3 * rng.uniform(0.5, 1.5, 24))])
    model = Space.bsplines(knots, 3)
    x = np.sort(rng.uniform(knots[3], knots[-4], 600))
    fit = Fit(Space.deltas(x), model, "none", smoothing, "difference", 2)
    expected = reference_operator(fit, model, smoothing, "difference", 2)
    np.testing.assert_allclose(fit.to_dense(), expected, rtol=1e-7,
                               atol=1e-9 * np.abs(expected).max())
