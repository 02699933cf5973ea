"""FTS line shapes: window choice and its messages, kernels against numerical cosine transforms
of the windows, unit peaks, supports and continuity of the piecewise kernel formulas."""

import math

import numpy as np
import pytest
from scipy.integrate import quad
from scipy.special import spherical_jn, wofz

from quorvel import Space, measure, measure_derivative, measure_derivatives
from helpers import (arr, central_difference, dense, element_values as values,
                     parameter_derivative, slopes, value_error_message)

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


# Voigt lines seen through FTS samples: measurement rows that meet many samples share one walk.
# References: scipy's wofz for the lines, the windows' cosine transforms in closed form, and a
# 20-point Gauss-Legendre rule on pieces of 0.002 over each pair's window.
LINE_CENTERS, LINE_SIGMA, LINE_GAMMA = arr(1999.3, 2000.2, 2003.1), arr(0.005, 0.007, 0.004), arr(
    0.02, 0.013, 0.03)
COSINE_SUMS = {"boxcar": [1.0], "blackman_harris": [0.35875, 0.48829, 0.14128, 0.01168]}


def voigt_unit(t, sigma, gamma):
    s = sigma * math.sqrt(2.0)
    return wofz((t + 1j * gamma) / s).real / wofz(1j * gamma / s).real


def window_kernel(theta, name):
    if name == "triangle":
        return np.sinc(theta / (2 * np.pi)) ** 2
    if name == "norton_beer_strong":
        # The transform of (1 - u^2)^n is 2^(n+1) n! j_n(theta) / theta^n.
        c = {0: 0.045335, 2: 0.554883, 4: 0.399782}
        th = np.where(np.abs(theta) < 1e-8, 1e-8, theta)
        k = sum(w * 2.0 ** (n + 1) * math.factorial(n) * spherical_jn(n, th) / th ** n
                for n, w in c.items())
        k0 = sum(w * 2.0 ** (n + 1) * math.factorial(n) / math.prod(range(1, 2 * n + 2, 2))
                 for n, w in c.items())
        return k / k0
    ws = COSINE_SUMS[name]
    k = 2 * ws[0] * np.sinc(theta / np.pi)
    for i, w in enumerate(ws[1:], 1):
        k = k + w * (np.sinc(theta / np.pi - i) + np.sinc(theta / np.pi + i))
    return k / (2 * ws[0] + 0.0)


def reference_measure(lines, ils, max_opd, name):
    z, w = np.polynomial.legendre.leggauss(20)
    out = np.zeros((len(lines), len(ils)))
    for i in range(len(lines)):
        for j in range(len(ils)):
            a = max(lines.lower()[i], ils.lower()[j])
            b = min(lines.upper()[i], ils.upper()[j])
            if a >= b:
                continue
            e = np.linspace(a, b, int(np.ceil((b - a) / 0.002)) + 1)
            h = np.diff(e)[:, None] / 2
            x = ((e[:-1, None] + e[1:, None]) / 2 + h * z).ravel()
            nu = (ils.lower()[j] + ils.upper()[j]) / 2
            f = voigt_unit(x - LINE_CENTERS[i], LINE_SIGMA[i], LINE_GAMMA[i]) * window_kernel(
                2 * np.pi * max_opd[j] * (x - nu), name)
            out[i, j] = np.sum((h * w).ravel() * f)
    return out


@pytest.mark.parametrize("name", ["boxcar", "blackman_harris", "triangle", "norton_beer_strong"])
@pytest.mark.parametrize("mixed", [False, True])
def test_voigt_lines_through_fts_samples(name, mixed):
    # Sample spacing unrelated to the quadrature step; `mixed` gives every other sample another
    # max_opd, so that the rows integrate pair by pair.
    nu = 1999.0 + 0.0137 * np.arange(150)
    max_opd = np.where(np.arange(150) % 2 == 1, 24.0, 30.0) if mixed else np.full(150, 30.0)
    lines = Space.voigts(LINE_CENTERS, LINE_SIGMA, LINE_GAMMA, 100.0)
    ils = Space.fts(nu, max_opd, 60.0, apodization=name)
    got = dense(measure(lines, ils, "none"))
    ref = reference_measure(lines, ils, max_opd, name)
    assert np.count_nonzero(ref) > 200
    np.testing.assert_allclose(got, ref, rtol=0, atol=1e-12 * np.abs(ref).max())


@pytest.mark.parametrize("parameter", ["center", "sigma", "gamma", "scale"])
def test_derivatives_of_lines_through_fts_samples(parameter):
    nu = 1999.0 + 0.0137 * np.arange(150)
    ils = Space.fts(nu, np.full(150, 30.0), 60.0, apodization="hann")
    params = dict(c=LINE_CENTERS, s=LINE_SIGMA, g=LINE_GAMMA)

    def w_of(step):
        p = dict(params)
        if parameter == "scale":
            p["s"], p["g"] = p["s"] * (1 + step), p["g"] * (1 + step)
        else:
            key = {"center": "c", "sigma": "s", "gamma": "g"}[parameter]
            p[key] = p[key] + step
        return dense(measure(Space.voigts(p["c"], p["s"], p["g"], 100.0), ils, "integral"))

    lines = Space.voigts(LINE_CENTERS, LINE_SIGMA, LINE_GAMMA, 100.0)
    w, dw = (dense(m) for m in measure_derivative(lines, ils, "integral", parameter))
    np.testing.assert_allclose(w, w_of(0.0), rtol=0, atol=1e-15 * np.abs(w).max())
    h = 1e-5 if parameter == "scale" else 1e-7
    fd = (w_of(h) - w_of(-h)) / (2 * h)
    np.testing.assert_allclose(dw, fd, rtol=0, atol=2e-6 * np.abs(fd).max())
    # Several parameters at once give each derivative as one parameter alone does.
    other = "gamma" if parameter == "center" else "center"
    both = measure_derivatives(lines, ils, "integral", [parameter, other])
    np.testing.assert_allclose(dense(both[1]), dw, rtol=0, atol=1e-15 * np.abs(dw).max())
