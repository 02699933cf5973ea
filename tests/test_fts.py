"""FTS line shapes: window choice and its messages, kernels against numerical cosine transforms
of the windows, unit peaks, supports and continuity of the piecewise kernel formulas."""

import math

import numpy as np
import pytest
from scipy.integrate import quad

from quorvel import Space
from helpers import (arr, central_difference, element_values as values, parameter_derivative,
                     slopes, value_error_message)

GIVE_ONE = "give one of apodization (a name), cosine_sum (1-4 coefficients) or polynomial (1-5 coefficients)"

# Windows A(u) on [-1, 1], written from their definitions.
WINDOWS = {
    "boxcar": lambda u: 1.0,
    "hann": lambda u: 0.5 + 0.5 * math.cos(math.pi * u),
    "hamming": lambda u: 0.54 + 0.46 * math.cos(math.pi * u),
    "blackman": lambda u: 0.42 + 0.5 * math.cos(math.pi * u) + 0.08 * math.cos(2 * math.pi * u),
    "blackman_harris": lambda u: 0.35875
    + 0.48829 * math.cos(math.pi * u)
    + 0.14128 * math.cos(2 * math.pi * u)
    + 0.01168 * math.cos(3 * math.pi * u),
    "triangle": lambda u: 1.0 - abs(u),
    "norton_beer_weak": lambda u: 0.384093 - 0.087577 * (1 - u * u) + 0.703484 * (1 - u * u) ** 2,
    "norton_beer_medium": lambda u: 0.152442 - 0.136176 * (1 - u * u) + 0.983734 * (1 - u * u) ** 2,
    "norton_beer_strong": lambda u: 0.045335
    + 0.554883 * (1 - u * u) ** 2
    + 0.399782 * (1 - u * u) ** 4,
}
ALIASES = {"none": "boxcar", "hanning": "hann", "happ_genzel": "hamming"}


def cosine_transform(window, theta):
    if theta == 0.0:
        return quad(window, -1, 1, epsabs=1e-14, epsrel=1e-13)[0]
    return quad(window, -1, 1, weight="cos", wvar=theta, epsabs=1e-14, epsrel=1e-13)[0]


@pytest.mark.parametrize("name", list(WINDOWS) + list(ALIASES))
def test_kernel_is_the_cosine_transform_of_the_window(name):
    window = WINDOWS[ALIASES.get(name, name)]
    max_opd = 1.3
    s = Space.fts(arr(0.0), arr(max_opd), 40.0, apodization=name)
    thetas = np.array([0.0, 0.3, 1.0, 2.5, 3.999, 4.0, 4.7, 7.0, 12.0, 30.0, 101.0])
    t = thetas / (2 * math.pi * max_opd)
    got = values(s, t).ravel()
    k0 = cosine_transform(window, 0.0)
    expected = np.array([cosine_transform(window, th) for th in thetas]) / k0
    np.testing.assert_allclose(got, expected, rtol=0, atol=2e-13)


@pytest.mark.parametrize("name", list(WINDOWS) + list(ALIASES))
def test_unit_peak_and_support(name):
    s = Space.fts(arr(-2.0, 0.5), arr(0.7, 3.0), 3.0, apodization=name)
    np.testing.assert_allclose(np.diag(values(s, [-2.0, 0.5])), 1.0, rtol=2.3e-16, atol=0)
    np.testing.assert_allclose(s.lower(), [-2.0 - 1.5 / 0.7, 0.5 - 0.5], rtol=1e-15)
    np.testing.assert_allclose(s.upper(), [-2.0 + 1.5 / 0.7, 0.5 + 0.5], rtol=1e-15)


def test_boxcar_is_a_sinc_with_its_first_zero_at_half_over_max_opd():
    max_opd = 2.0
    s = Space.fts(arr(0.0), arr(max_opd), 3.0, cosine_sum=[1.0])
    np.testing.assert_array_equal(s.lower(), [-0.75])
    np.testing.assert_array_equal(s.upper(), [0.75])
    t = np.linspace(-0.75, 0.75, 151)
    np.testing.assert_allclose(values(s, t).ravel(), np.sinc(2 * t * max_opd), rtol=0, atol=1e-15)
    assert abs(values(s, [0.5 / max_opd])[0, 0]) < 1e-15


def test_triangle_is_a_squared_sinc():
    s = Space.fts(arr(0.0), arr(1.5), 5.0, apodization="triangle")
    t = np.linspace(-1.6, 1.6, 161)
    np.testing.assert_allclose(values(s, t).ravel(), np.sinc(t * 1.5) ** 2, rtol=0, atol=1e-15)


@pytest.mark.parametrize(
    "a, b",
    [
        (dict(apodization="hann"), dict(apodization="hanning")),
        (dict(apodization="hann"), dict(cosine_sum=[0.5, 0.5])),
        (dict(apodization="hamming"), dict(apodization="happ_genzel")),
        (dict(apodization="boxcar"), dict(apodization="none")),
        (dict(cosine_sum=[1.0]), dict(polynomial=[1.0, 0.0, 0.0, 0.0, 0.0])),
        (dict(apodization="norton_beer_weak"), dict(polynomial=[0.384093, -0.087577, 0.703484])),
    ],
)
def test_equivalent_windows(a, b):
    t = np.linspace(-2.5, 2.5, 101)
    va = values(Space.fts(arr(0.0), arr(1.0), 6.0, **a), t)
    vb = values(Space.fts(arr(0.0), arr(1.0), 6.0, **b), t)
    np.testing.assert_allclose(va, vb, rtol=0, atol=1e-15)


def test_cosine_sum_without_constant_term_is_accepted():
    s = Space.fts(arr(0.0), arr(1.0), 3.0, cosine_sum=[0.0, 1.0])
    assert len(s) == 1


@pytest.mark.parametrize(
    "window", [dict(polynomial=[1.0, 0.3, -0.2, 0.5, 0.25]), dict(apodization="norton_beer_strong")]
)
def test_polynomial_kernel_is_continuous_where_the_formula_changes(window):
    # With max_opd = 1 / (2 pi) the kernel argument equals the offset exactly.
    s = Space.fts(arr(0.0), arr(1 / (2 * math.pi)), 10.0, **window)
    for edge in (4.0, -4.0):
        x = [np.nextafter(edge, 0.0), edge]
        v = values(s, x).ravel()
        np.testing.assert_allclose(v[0], v[1], rtol=1e-14, atol=0)
        d = slopes(s, x).ravel()
        np.testing.assert_allclose(d[0], d[1], rtol=1e-14, atol=0)


def dsinc_series(a):
    return sum(
        (-1) ** k * 2 * k * a ** (2 * k - 1) / math.factorial(2 * k + 1) for k in range(1, 12)
    )


@pytest.mark.parametrize(
    "theta", [0.0, 5e-5, 9.99e-5, 1e-4, 1.01e-4, 5e-4, 9.99e-4, 1e-3, 1.01e-3, 0.05]
)
def test_boxcar_kernel_near_the_center(theta):
    s = Space.fts(arr(0.0), arr(1 / (2 * math.pi)), 10.0, apodization="boxcar")
    v = values(s, [theta])[0, 0]
    expected = math.sin(theta) / theta if theta else 1.0
    assert abs(v - expected) <= 2.3e-16
    # Above 1e-3 the derivative comes from (cos - sin / a) / a, whose cancellation costs a few
    # units of 1e-14 right at the switch-over; below it from the series.
    d = slopes(s, [theta])[0, 0]
    assert abs(d - dsinc_series(theta)) <= (5e-14 if theta >= 1e-3 else 1e-17)


@pytest.mark.parametrize("name", ["hann", "blackman_harris", "triangle", "norton_beer_medium"])
def test_slope_matches_finite_differences(name):
    s = Space.fts(arr(0.2), arr(0.9), 6.0, apodization=name)
    x = np.array([-2.1, -0.7, 0.1, 0.25, 0.9, 1.6, 3.0])
    fd = central_difference(lambda t: values(s, t), x, 1e-6)
    np.testing.assert_allclose(slopes(s, x), fd, rtol=0, atol=1e-8)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(), GIVE_ONE),
        (dict(apodization=None, cosine_sum=None, polynomial=None), GIVE_ONE),
        (dict(apodization="boxcar", cosine_sum=[]), GIVE_ONE),
        (dict(apodization="boxcar", polynomial=[1.0]), GIVE_ONE),
        (dict(apodization="nonsense", polynomial=[1.0]), GIVE_ONE),
        (dict(cosine_sum=[1.0], polynomial=[1.0]), GIVE_ONE),
        (dict(cosine_sum=[]), GIVE_ONE),
        (dict(cosine_sum=[1, 2, 3, 4, 5]), GIVE_ONE),
        (dict(polynomial=[]), GIVE_ONE),
        (dict(polynomial=[1, 2, 3, 4, 5, 6]), GIVE_ONE),
        (dict(apodization="Hann"), 'unknown apodization "Hann"'),
        (dict(apodization="hann "), 'unknown apodization "hann "'),
        (dict(apodization='a"b\\'), 'unknown apodization "a\\"b\\\\"'),
        (dict(apodization=""), 'unknown apodization ""'),
        (dict(cosine_sum=[-1.0]), "apodization must have a positive integral"),
        (dict(cosine_sum=[np.nan]), "apodization must have a positive integral"),
        (dict(polynomial=[0.0, 0.0, 0.0, 0.0, 0.0]), "apodization must have a positive integral"),
        (dict(polynomial=[1.0, -1.5]), "apodization must have a positive integral"),
    ],
)
def test_window_messages(kwargs, message):
    assert value_error_message(Space.fts, arr(0.0), arr(1.0), 3.0, **kwargs) == message


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: Space.fts(arr(), arr(), 3.0),
            GIVE_ONE,
        ),  # the window is chosen even with no centers
        (lambda: Space.fts(arr(), arr(), -1.0, apodization="x"), 'unknown apodization "x"'),
        (
            lambda: Space.fts(arr(0.0), arr(0.0), 3.0, apodization="hann"),
            "max_opd must be finite and > 0, got 0",
        ),
        (
            lambda: Space.fts(arr(0.0), arr(np.inf), 3.0, apodization="hann"),
            "max_opd must be finite and > 0, got inf",
        ),
        (
            lambda: Space.fts(arr(0.0, 1.0), arr(1.0), 3.0, apodization="hann"),
            "max_opd has length 1, expected 2",
        ),
        (
            lambda: Space.fts(arr(np.nan), arr(1.0), 3.0, apodization="hann"),
            "profile center must be finite",
        ),
        (
            lambda: Space.fts(arr(0.0), arr(1.0), 0.0, apodization="hann"),
            "cutoff must be finite and > 0, got 0",
        ),
        (
            lambda: Space.fts(arr(np.nan, 0.0), arr(1.0, -1.0), 3.0, cosine_sum=[1.0]),
            "max_opd must be finite and > 0, got -1",
        ),
        (
            lambda: Space.fts(arr(0.0, 0.0), arr(1.0, -1.0), 3.0, cosine_sum=[-1.0]),
            "apodization must have a positive integral",
        ),
    ],
)
def test_construction_messages(call, message):
    assert value_error_message(call) == message


def test_empty_centers_with_a_valid_window():
    assert len(Space.fts(arr(), arr(), -1.0, apodization="hann")) == 0


def test_fts_renders_in_messages():
    s = Space.fts(arr(0.0), arr(1.0), 3.0, apodization="hann")
    assert value_error_message(parameter_derivative, s, [0.1], "sigma") == (
        "Fts { max_opd: 1.0, apodization: CosineSum([0.5, 0.5, 0.0, 0.0]), inv_peak: 1.0 } "
        "has no parameter Sigma"
    )
    s = Space.fts(arr(0.0), arr(2e-5), 3.0, apodization="triangle")
    assert value_error_message(parameter_derivative, s, [0.1], "eta") == (
        "Fts { max_opd: 2e-5, apodization: Triangle, inv_peak: 1.0 } has no parameter Eta"
    )
