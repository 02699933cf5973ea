"""The Faddeeva function w(z) = exp(-z^2) erfc(-iz): faddeeva_re against closed forms and SciPy."""

import math

import numpy as np
import pytest
from scipy.special import erfcx, wofz

from quorvel import _quorvel as q
from helpers import raises_with_note


def re_w(x, y):
    return q.faddeeva_re(x, y)


def test_value_at_origin_is_one():
    assert re_w(0.0, 0.0) == pytest.approx(1.0, rel=0, abs=1e-13)


@pytest.mark.parametrize("y", [0.1, 0.5, 1.0, 3.0, 10.0])
def test_imaginary_axis_closed_form(y):
    # Re w(iy) = exp(y^2) erfc(y), the scaled complementary error function.
    assert re_w(0.0, y) == pytest.approx(erfcx(y), rel=1e-13, abs=0)


def test_imaginary_axis_dense():
    ys = np.linspace(0.0, 50.0, 1001)
    got = np.array([re_w(0.0, y) for y in ys])
    np.testing.assert_allclose(got, erfcx(ys), rtol=1e-13, atol=0)


def test_real_axis_closed_form():
    xs = np.linspace(-2.0, 2.0, 801)
    got = np.array([re_w(x, 0.0) for x in xs])
    np.testing.assert_allclose(got, np.exp(-xs * xs), rtol=1e-13, atol=0)


def test_grid_against_scipy_absolute():
    xs = np.linspace(-50.0, 50.0, 201)
    ys = np.linspace(0.0, 50.0, 101)
    got = np.array([[re_w(x, y) for x in xs] for y in ys])
    ref = wofz(xs[None, :] + 1j * ys[:, None]).real
    assert np.max(np.abs(got - ref)) <= 1e-15


def test_near_axis_relative_against_scipy():
    # Away from the far real axis, where Re w underflows, the error is also small relative.
    xs = np.linspace(-6.0, 6.0, 121)
    ys = np.array([0.05, 0.3, 1.0, 4.0, 20.0])
    got = np.array([[re_w(x, y) for x in xs] for y in ys])
    ref = wofz(xs[None, :] + 1j * ys[:, None]).real
    np.testing.assert_allclose(got, ref, rtol=1e-13, atol=0)


@pytest.mark.parametrize("x, y", [(0.3, 0.0), (1.7, 0.2), (5.5, 3.0), (40.0, 0.01), (1e3, 2.0)])
def test_even_in_x(x, y):
    assert re_w(-x, y) == re_w(x, y)


@pytest.mark.parametrize("x, y", [(1e4, 1.0), (3e3, 4e3), (0.0, 1e5)])
def test_large_argument_asymptote(x, y):
    asymptote = y / (math.sqrt(math.pi) * (x * x + y * y))
    assert re_w(x, y) == pytest.approx(asymptote, rel=1e-6)


@pytest.mark.parametrize(
    "x, y",
    [(math.inf, 1.0), (-math.inf, 1.0), (math.nan, 0.0), (0.0, math.nan), (0.0, math.inf), (math.inf, math.inf)],
)
def test_non_finite_arguments_give_nan(x, y):
    assert math.isnan(re_w(x, y))


def test_negative_y_is_evaluated_without_error():
    value = re_w(0.5, -0.25)
    assert isinstance(value, float) and math.isfinite(value)


def test_arguments_by_keyword_and_number_protocols():
    class Half:
        def __float__(self):
            return 0.5

    ref = wofz(2 + 0.5j).real
    assert q.faddeeva_re(y=Half(), x=2) == pytest.approx(ref, rel=1e-13)
    assert q.faddeeva_re(np.int64(2), np.float32(0.5)) == pytest.approx(ref, rel=1e-13)


@pytest.mark.parametrize("args, name", [(("a", 1.0), "x"), ((1.0, None), "y"), (([1.0], 1.0), "x")])
def test_conversion_failure_names_argument(args, name):
    raises_with_note(TypeError, name, q.faddeeva_re, *args)


def test_signature_and_docstring():
    assert q.faddeeva_re.__text_signature__ == "(x, y)"
    assert q.faddeeva_re.__doc__ == "Re w(x + iy) for y >= 0, w the Faddeeva function."


def test_concurrent_first_use_is_consistent():
    from concurrent.futures import ThreadPoolExecutor

    points = [(0.1 * i, 0.05 * i) for i in range(200)]
    with ThreadPoolExecutor(4) as pool:
        got = list(pool.map(lambda p: re_w(*p), points))
    assert got == [re_w(*p) for p in points]
