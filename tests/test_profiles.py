"""Line-shape profiles: values against closed forms and SciPy, supports, unit peaks, slopes and
parameter derivatives against finite differences, and the construction messages."""

import math

import numpy as np
import pytest
from scipy.special import erf, erfcx, voigt_profile

import quorvel
from quorvel import Space
from helpers import (arr, central_difference, element_values as values,
                     parameter_derivative as derivative, positional, value_error_message)

LN2 = math.log(2.0)


# One constructor call per family, used by the family-independent checks below.
FAMILIES = {
    "gaussian": lambda c: Space.gaussians(c, np.full(len(c), 0.7), 4.0),
    "lorentzian": lambda c: Space.lorentzians(c, np.full(len(c), 1.3), 6.0),
    "voigt": lambda c: Space.voigts(c, np.full(len(c), 0.5), np.full(len(c), 0.3), 8.0),
    "pseudo_voigt": lambda c: Space.pseudo_voigts(
        c, np.full(len(c), 0.8), np.full(len(c), 0.3), 6.0
    ),
    "super_gaussian": lambda c: Space.super_gaussians(
        c, np.full(len(c), 0.6), np.full(len(c), 1.1), np.full(len(c), 2.5), 4.0
    ),
    "smoothed_box": lambda c: Space.smoothed_boxes(
        c, np.full(len(c), 1.5), np.full(len(c), 0.4), 5.0
    ),
}


@pytest.mark.parametrize("family", FAMILIES)
def test_unit_peak(family):
    centers = arr(-3.5, 0.0, 0.25, 1e3)
    s = FAMILIES[family](centers)
    np.testing.assert_array_equal(s.centers(), centers)
    peaks = np.diag(values(s, centers))
    np.testing.assert_allclose(peaks, 1.0, rtol=2.3e-16, atol=0)


@pytest.mark.parametrize("family", FAMILIES)
def test_closed_support(family):
    s = FAMILIES[family](arr(0.3))
    lo, hi = s.lower()[0], s.upper()[0]
    inside = values(s, [lo, hi]).ravel()
    assert np.all(inside > 0)
    outside = values(s, [np.nextafter(lo, -np.inf), np.nextafter(hi, np.inf)]).ravel()
    np.testing.assert_array_equal(outside, [0.0, 0.0])


@pytest.mark.parametrize(
    "space, lower, upper",
    [
        (Space.gaussians(arr(0.0), arr(1.0), 3.0), -3.0, 3.0),
        (Space.lorentzians(arr(0.0), arr(1.0), 3.0), -3.0, 3.0),
        (Space.smoothed_boxes(arr(0.0), arr(2.0), arr(0.5), 4.0), -4.0, 4.0),
        (Space.super_gaussians(arr(0.0), arr(1.0), arr(2.0), arr(2.0), 1.0), -1.0, 2.0),
        (Space.pseudo_voigts(arr(1.0), arr(0.5), arr(0.2), 4.0), -1.0, 3.0),
        (Space.voigts(arr(0.0), arr(2.0), arr(0.0), 3.0), -6.0, 6.0),  # a Gaussian
        (Space.voigts(arr(0.0), arr(0.0), arr(2.0), 3.0), -6.0, 6.0),  # a Lorentzian
        (Space.voigts(arr(0.0), arr(-0.0), arr(1.0), 3.0), -3.0, 3.0),
    ],
)
def test_supports(space, lower, upper):
    np.testing.assert_array_equal(space.lower(), [lower])
    np.testing.assert_array_equal(space.upper(), [upper])


def test_voigt_support_uses_the_olivero_longbothum_width():
    sigma, gamma, cutoff = 0.5, 0.3, 7.0
    fl, fg = 2 * gamma, sigma * 2 * math.sqrt(2 * LN2)
    half = 0.5 * (0.5346 * fl + math.sqrt(fg**2 + 0.2166 * fl**2))
    s = Space.voigts(arr(1.0), arr(sigma), arr(gamma), cutoff)
    np.testing.assert_allclose(s.lower(), [1.0 - cutoff * half], rtol=1e-15)
    np.testing.assert_allclose(s.upper(), [1.0 + cutoff * half], rtol=1e-15)


def test_super_gaussian_halves_at_its_half_widths():
    s = Space.super_gaussians(arr(0.0), arr(1.0), arr(2.0), arr(2.0), 1.0)
    np.testing.assert_allclose(values(s, [-1.0, 2.0]).ravel(), [0.5, 0.5], rtol=1e-15)


def test_closed_forms():
    t = np.linspace(-2.9, 2.9, 117)
    g = values(Space.gaussians(arr(0.0), arr(0.7), 5.0), t).ravel()
    np.testing.assert_allclose(g, np.exp(-0.5 * (t / 0.7) ** 2), rtol=1e-15)
    lz = values(Space.lorentzians(arr(0.0), arr(1.3), 5.0), t).ravel()
    np.testing.assert_allclose(lz, 1 / (1 + (t / 1.3) ** 2), rtol=1e-15)
    pv = values(Space.pseudo_voigts(arr(0.0), arr(0.8), arr(0.3), 5.0), t).ravel()
    u = t / 0.8
    np.testing.assert_allclose(pv, 0.3 / (1 + u**2) + 0.7 * np.exp(-LN2 * u**2), rtol=1e-15)
    sg = values(Space.super_gaussians(arr(0.0), arr(0.6), arr(1.1), arr(2.5), 5.0), t).ravel()
    w = np.where(t < 0, 0.6, 1.1)
    np.testing.assert_allclose(sg, np.exp(-LN2 * (np.abs(t) / w) ** 2.5), rtol=1e-14)


@pytest.mark.parametrize("eta", [0.0, 1.0])
def test_pseudo_voigt_limits(eta):
    t = np.linspace(-2, 2, 41)
    pv = values(Space.pseudo_voigts(arr(0.0), arr(0.8), arr(eta), 5.0), t).ravel()
    if eta == 0.0:
        sigma = 0.8 / math.sqrt(2 * LN2)
        ref = values(Space.gaussians(arr(0.0), arr(sigma), 10.0), t).ravel()
    else:
        ref = values(Space.lorentzians(arr(0.0), arr(0.8), 10.0), t).ravel()
    np.testing.assert_allclose(pv, ref, rtol=4e-15)


@pytest.mark.parametrize("ratio", [1e-3, 0.01, 0.1, 0.3, 1.0, 3.0, 10.0, 100.0, 1e4])
def test_voigt_matches_scipy(ratio):
    sigma, gamma = 0.8, 0.8 * ratio
    s = Space.voigts(arr(0.5), arr(sigma), arr(gamma), 30.0)
    t = np.linspace(s.lower()[0], s.upper()[0], 1001)
    got = values(s, t).ravel()
    ref = voigt_profile(t - 0.5, sigma, gamma) / voigt_profile(0.0, sigma, gamma)
    np.testing.assert_allclose(got, ref, rtol=0, atol=1e-14)
    if ratio >= 0.1:
        np.testing.assert_allclose(got, ref, rtol=1e-12, atol=0)


def test_voigt_with_one_zero_width_is_the_pure_shape():
    t = np.linspace(-3, 3, 61)
    np.testing.assert_array_equal(
        values(Space.voigts(arr(0.0), arr(0.9), arr(0.0), 4.0), t),
        values(Space.gaussians(arr(0.0), arr(0.9), 4.0), t),
    )
    np.testing.assert_array_equal(
        values(Space.voigts(arr(0.0), arr(0.0), arr(0.9), 4.0), t),
        values(Space.lorentzians(arr(0.0), arr(0.9), 4.0), t),
    )


def erf_difference_reference(a, b):
    """erf(b) - erf(a) through the scaled complementary function, accurate in both tails."""
    a, b = np.broadcast_arrays(np.atleast_1d(a).astype(float), np.atleast_1d(b).astype(float))
    out = erf(b) - erf(a)
    right = a >= 0
    left = b <= 0
    for mask, lo, hi in ((right, a, b), (left, -b, -a)):
        p, q = lo[mask], hi[mask]
        out[mask] = np.exp(-(p * p)) * (erfcx(p) - np.exp((p - q) * (p + q)) * erfcx(q))
    return out


@pytest.mark.parametrize("half_width, sigma", [(2.0, 0.5), (1.0, 1.0), (0.3, 0.8), (5.0, 0.05)])
def test_smoothed_box_with_full_relative_accuracy_in_the_tails(half_width, sigma):
    s = Space.smoothed_boxes(arr(0.0), arr(half_width), arr(sigma), 25.0)
    t = np.linspace(s.lower()[0], s.upper()[0], 2001)
    got = values(s, t).ravel()
    r = sigma * math.sqrt(2.0)
    peak = erf_difference_reference(-half_width / r, half_width / r)
    ref = erf_difference_reference((t - half_width) / r, (t + half_width) / r) / peak
    keep = ref > 1e-300
    assert ref.min() < 1e-100  # the tails are really reached
    np.testing.assert_allclose(got[keep], ref[keep], rtol=1e-13, atol=0)


@pytest.mark.parametrize(
    "t", [1.0, -1.0, math.sqrt(1.5 - math.sqrt(1.5)) * math.sqrt(2.0), 0.8]
)
def test_narrow_smoothed_box_where_a_series_term_vanishes(t):
    # Half width 0.4 against sigma 1: off the plateau the value is summed as a Hermite series
    # in m = t / (sigma sqrt 2). At t = sigma, m is a root of H_2 (the third t one of H_4) and
    # that term is 0, which must not end the sum.
    half_width, sigma = 0.4, 1.0
    s = Space.smoothed_boxes(arr(0.0), arr(half_width), arr(sigma), 6.0)
    r = sigma * math.sqrt(2.0)
    peak = erf_difference_reference(-half_width / r, half_width / r)
    ref = erf_difference_reference((t - half_width) / r, (t + half_width) / r) / peak
    np.testing.assert_allclose(values(s, [t]).ravel(), ref, rtol=1e-14, atol=0)


@pytest.mark.parametrize("ratio", [1e-12, 1e-6, 1e-2, 1.0, 1e2, 1e6, 1e12])
def test_smoothed_box_peak_is_one_for_every_ratio(ratio):
    s = Space.smoothed_boxes(arr(0.0), arr(ratio), arr(1.0), 3.0)
    np.testing.assert_allclose(values(s, [0.0]).ravel(), [1.0], rtol=2.3e-16, atol=0)


@pytest.mark.parametrize("half_width", [1e-300, 1e-100, 1e-20])
def test_smoothed_box_with_a_vanishing_half_width_is_a_gaussian(half_width):
    # The two ends of the window round to the same number; the shape must still be the
    # Gaussian limit, value and slope, down to the cutoff.
    sigma = 0.7
    s = Space.smoothed_boxes(arr(0.0), arr(half_width), arr(sigma), 10.0)
    t = np.linspace(s.lower()[0], s.upper()[0], 201)
    gauss = np.exp(-0.5 * (t / sigma) ** 2)
    np.testing.assert_allclose(values(s, t).ravel(), gauss, rtol=5e-14, atol=0)
    slope = -derivative(s, t, "center").ravel()
    np.testing.assert_allclose(slope, -t / sigma**2 * gauss, rtol=5e-14, atol=1e-300)


@pytest.mark.parametrize("half_width", [1e-12, 1e-6, 1e-3])
def test_narrow_smoothed_box_against_high_precision(half_width):
    mp = pytest.importorskip("mpmath")
    mp.mp.dps = 400
    sigma = 0.5
    s = Space.smoothed_boxes(arr(0.0), arr(half_width), arr(sigma), 12.0)
    t = np.linspace(s.lower()[0], s.upper()[0], 41)
    r = mp.sqrt(2) * sigma
    w = mp.mpf(half_width)
    peak = 2 * mp.erf(w / r)
    ref = [float((mp.erf((mp.mpf(x) + w) / r) - mp.erf((mp.mpf(x) - w) / r)) / peak) for x in t]
    ref_slope = [
        float(
            2
            / mp.sqrt(mp.pi)
            / r
            * (mp.exp(-(((mp.mpf(x) + w) / r) ** 2)) - mp.exp(-(((mp.mpf(x) - w) / r) ** 2)))
            / peak
        )
        for x in t
    ]
    np.testing.assert_allclose(values(s, t).ravel(), ref, rtol=5e-14, atol=0)
    np.testing.assert_allclose(-derivative(s, t, "center").ravel(), ref_slope, rtol=5e-14, atol=0)


@pytest.mark.parametrize("half_width", [1e-200, 1e-20])
def test_narrow_smoothed_box_parameter_derivatives_in_the_gaussian_limit(half_width):
    sigma = 0.7
    s = Space.smoothed_boxes(arr(0.0), arr(half_width), arr(sigma), 10.0)
    t = np.linspace(s.lower()[0], s.upper()[0], 41)
    gauss = np.exp(-0.5 * (t / sigma) ** 2)
    np.testing.assert_allclose(
        derivative(s, t, "sigma").ravel(), t**2 / sigma**3 * gauss, rtol=1e-13, atol=0
    )
    # V = exp(-m^2) (1 + 2 m^2 h^2 / 3 + ...) with m = t / s, h = w / s, s = sigma sqrt(2)
    r = sigma * math.sqrt(2.0)
    expected = gauss * (4.0 / 3.0) * (t / r) ** 2 * (half_width / r) / r
    np.testing.assert_allclose(derivative(s, t, "half_width").ravel(), expected, rtol=1e-12, atol=0)


@pytest.mark.parametrize("half_width", [1e-9, 1e-3, 0.05])
def test_narrow_smoothed_box_parameter_derivatives_against_high_precision(half_width):
    mp = pytest.importorskip("mpmath")
    mp.mp.dps = 60
    sigma = 0.5

    def normalised(x, w, sg):
        r = mp.sqrt(2) * sg
        return (mp.erf((x + w) / r) - mp.erf((x - w) / r)) / (2 * mp.erf(w / r))

    s = Space.smoothed_boxes(arr(0.0), arr(half_width), arr(sigma), 10.0)
    t = np.linspace(s.lower()[0], s.upper()[0], 21)
    w, sg = mp.mpf(half_width), mp.mpf(sigma)
    ref_w = np.array([float(mp.diff(lambda v: normalised(mp.mpf(x), v, sg), w)) for x in t])
    ref_s = np.array([float(mp.diff(lambda v: normalised(mp.mpf(x), w, v), sg)) for x in t])
    got_w = derivative(s, t, "half_width").ravel()
    got_s = derivative(s, t, "sigma").ravel()
    np.testing.assert_allclose(got_w, ref_w, rtol=0, atol=1e-14 * np.abs(ref_w).max())
    np.testing.assert_allclose(got_s, ref_s, rtol=0, atol=1e-14 * np.abs(ref_s).max())


# Slopes and parameter derivatives against central differences of the values.

POINTS = arr(-1.7, -0.6, -0.2, 0.05, 0.3, 0.9, 2.2)


@pytest.mark.parametrize("family", FAMILIES)
def test_slope_matches_finite_differences(family):
    s = FAMILIES[family](arr(0.1))
    fd = central_difference(lambda x: values(s, x), POINTS, 1e-6)
    # The center derivative is minus the slope.
    np.testing.assert_allclose(-derivative(s, POINTS, "center"), fd, rtol=0, atol=2e-8)


@pytest.mark.parametrize("family", FAMILIES)
def test_scale_derivative(family):
    s = FAMILIES[family](arr(0.1))
    slope = central_difference(lambda x: values(s, x), POINTS, 1e-6)
    np.testing.assert_allclose(
        derivative(s, POINTS, "scale"), -(POINTS - 0.1) * slope, rtol=0, atol=2e-8
    )
    np.testing.assert_array_equal(derivative(s, [0.1], "scale"), [[0.0]])


PARAMETER_CASES = [
    ("sigma", lambda v: Space.gaussians(arr(0.1), arr(v), 6.0), 0.7),
    ("gamma", lambda v: Space.lorentzians(arr(0.1), arr(v), 20.0), 0.7),
    ("eta", lambda v: Space.pseudo_voigts(arr(0.1), arr(0.9), arr(v), 6.0), 0.4),
    ("power", lambda v: Space.super_gaussians(arr(0.1), arr(0.6), arr(1.1), arr(v), 4.0), 2.5),
    (
        "asymmetry",
        lambda a: Space.super_gaussians(
            arr(0.1), arr(0.8 * (1 - a)), arr(0.8 * (1 + a)), arr(2.5), 5.0
        ),
        0.2,
    ),
    ("half_width", lambda v: Space.smoothed_boxes(arr(0.1), arr(v), arr(0.4), 6.0), 1.1),
    ("sigma", lambda v: Space.smoothed_boxes(arr(0.1), arr(1.1), arr(v), 6.0), 0.4),
    ("sigma", lambda v: Space.voigts(arr(0.1), arr(v), arr(0.3), 12.0), 0.5),
    ("gamma", lambda v: Space.voigts(arr(0.1), arr(0.5), arr(v), 12.0), 0.3),
]


@pytest.mark.parametrize("parameter, build, v", PARAMETER_CASES)
def test_parameter_derivative_matches_finite_differences(parameter, build, v):
    fd = central_difference(lambda p: values(build(p), POINTS), v, 1e-6)
    got = derivative(build(v), POINTS, parameter)
    np.testing.assert_allclose(got, fd, rtol=0, atol=5e-8)
    assert np.abs(got).max() > 0.05


# Slopes and derivatives whose true value is finite where a factor of the textbook formula
# (1 / sigma^2, u^2 / sigma^3, b^(power-1) / w, 2 pi max_opd) overflows or meets inf * 0.
G = math.exp(-0.5)
EDGE_CASES = [
    (Space.gaussians(arr(0.0), arr(1e-110), 5.0), "sigma", [1e-110, 2e-110],
     [G / 1e-110, 4 * math.exp(-2) / 1e-110]),
    (Space.gaussians(arr(0.0), arr(1e-300), 5.0), "sigma", [1e-300], [G / 1e-300]),
    (Space.gaussians(arr(0.0), arr(1e-200), 5.0), "center", [1e-200, -2e-200],
     [G / 1e-200, -2 * math.exp(-2) / 1e-200]),
    # hwhm 1e-300 at 1e200 half widths: u^2 overflows, the derivative is 2 hwhm / t^2
    (Space.lorentzians(arr(0.0), arr(1e-300), 1e201), "gamma", [1e-100], [2e-100]),
    (Space.lorentzians(arr(0.0), arr(1e-300), 1e201), "center", [1e-100], [2e-300]),
    (Space.pseudo_voigts(arr(0.0), arr(1e-300), arr(1.0), 1e201), "center", [-1e-100], [-2e-300]),
    (Space.super_gaussians(arr(0.0), arr(1e-308), arr(1e-308), arr(2.0), 30.0), "center",
     [2e-307], [2 * LN2 * 20 * math.exp(-LN2 * 400) / 1e-308]),
    # a subnormal sigma: the edges are steps, every derivative vanishes away from them
    (Space.smoothed_boxes(arr(0.0), arr(1.0), arr(1e-310), 3.0), "sigma", [0.0, 0.5], [0.0, 0.0]),
    (Space.smoothed_boxes(arr(0.0), arr(1.0), arr(1e-310), 3.0), "half_width", [0.0, 0.5],
     [0.0, 0.0]),
    (Space.smoothed_boxes(arr(0.0), arr(1.0), arr(1e-310), 3.0), "center", [0.0, 0.5], [0.0, 0.0]),
]


@pytest.mark.parametrize("space, parameter, x, want", EDGE_CASES)
def test_derivatives_at_the_edges_of_the_double_range(space, parameter, x, want):
    got = derivative(space, x, parameter).ravel()
    np.testing.assert_allclose(got, want, rtol=1e-14, atol=0)


def test_integral_normalised_derivative_of_a_narrow_gaussian_is_finite():
    # The kernel lies inside the box, so its normalised row is 1 whatever sigma is.
    for sigma in (1e-110, 1e-200, 1e-300):
        kernel = Space.gaussians(arr(0.0), arr(sigma), 5.0)
        d = quorvel.measure_derivative(kernel, Space.boxes(arr(-1.0, 1.0)), "integral", "sigma")[1]
        assert abs(d[2][0]) <= 1e-14 / sigma


def test_fts_with_an_overflowing_kernel_scale():
    s = Space.fts(arr(0.0), arr(1e308), 3.0, "hann")
    np.testing.assert_array_equal(values(s, [0.0]), [[1.0]])
    np.testing.assert_array_equal(derivative(s, [0.0], "center"), [[0.0]])


def test_parameter_derivative_is_zero_outside_the_support():
    s = Space.gaussians(arr(0.0), arr(1.0), 2.0)
    np.testing.assert_array_equal(derivative(s, [-2.5, 2.5], "sigma"), [[0.0, 0.0]])


def test_high_power_super_gaussian_derivatives_vanish_where_the_power_overflows():
    # With power 500, (|t| / w)^power overflows beyond |t| / w = 4.2 while the value is long 0:
    # every derivative there is 0, not 0 * inf.
    power = 500.0
    s = Space.super_gaussians(arr(0.0), arr(1.0), arr(1.0), arr(power), 5.0)
    x = arr(-4.8, -1.005, 0.5, 1.005, 4.5, 5.0)
    b = np.abs(x)
    with np.errstate(over="ignore", invalid="ignore"):
        g = b**power
        f = np.exp(-np.log(2) * g)
        ref = {
            "center": -np.sign(x) * f * (-power * np.log(2) * b ** (power - 1)),
            "power": f * (g * -np.log(2) * np.log(b)),
            "asymmetry": 2.0 * np.where(x < 0, -0.5, 0.5) * (power * np.log(2) * g * f),
        }
    far = b > 4.2
    for parameter, expected in ref.items():
        expected[far] = 0.0
        got = derivative(s, x, parameter)[0]
        assert np.all(np.isfinite(got)), parameter
        np.testing.assert_allclose(got, expected, rtol=1e-12, atol=0)
    # Integrated against boxes, the derivatives stay finite too.
    _, d = quorvel.measure_derivative(s, Space.boxes(np.linspace(-6, 6, 13)), "integral", "power")
    assert np.all(np.isfinite(d[2]))


@pytest.mark.parametrize(
    "space, parameter, message",
    [
        (
            Space.lorentzians(arr(0.0), arr(1.0), 3.0),
            "sigma",
            "Lorentzian { hwhm: 1.0 } has no parameter Sigma",
        ),
        (
            Space.gaussians(arr(0.0), arr(0.5), 3.0),
            "gamma",
            "Gaussian { sigma: 0.5 } has no parameter Gamma",
        ),
        (
            Space.super_gaussians(arr(0.0), arr(1.0), arr(2.0), arr(1e-5 + 1), 3.0),
            "eta",
            "SuperGaussian { hwhm_left: 1.0, hwhm_right: 2.0, power: 1.00001 } has no parameter Eta",
        ),
        (
            Space.pseudo_voigts(arr(0.0), arr(1e16), arr(1e-5), 3.0),
            "half_width",
            "PseudoVoigt { hwhm: 1e16, eta: 1e-5 } has no parameter HalfWidth",
        ),
        (
            Space.bsplines(arr(0.0, 1.0, 2.0), 1),
            "sigma",
            "Sigma applies only to line-shape profiles",
        ),
        (Space.boxes(arr(0.0, 1.0)), "asymmetry", "Asymmetry applies only to line-shape profiles"),
    ],
)
def test_parameter_messages(space, parameter, message):
    assert value_error_message(derivative, space, [0.5], parameter) == message


# Construction messages and their order.


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Space.gaussians(arr(0.0), arr(0.0), 3.0), "sigma must be finite and > 0, got 0"),
        (lambda: Space.gaussians(arr(0.0), arr(-0.0), 3.0), "sigma must be finite and > 0, got -0"),
        (
            lambda: Space.gaussians(arr(0.0), arr(np.inf), 3.0),
            "sigma must be finite and > 0, got inf",
        ),
        (
            lambda: Space.gaussians(arr(0.0), arr(np.nan), 3.0),
            "sigma must be finite and > 0, got NaN",
        ),
        (lambda: Space.gaussians(arr(0.0), arr(1.0), 0.0), "cutoff must be finite and > 0, got 0"),
        (
            lambda: Space.gaussians(arr(0.0), arr(1.0), -np.inf),
            "cutoff must be finite and > 0, got -inf",
        ),
        (lambda: Space.gaussians(arr(np.nan), arr(1.0), 3.0), "profile center must be finite"),
        (lambda: Space.gaussians(arr(np.nan), arr(1.0), 0.0), "profile center must be finite"),
        (
            lambda: Space.gaussians(arr(0.0, np.inf), arr(1.0, 1.0), 0.0),
            "cutoff must be finite and > 0, got 0",
        ),
        # all parameters are checked before any center
        (
            lambda: Space.gaussians(arr(np.nan, 0.0), arr(1.0, -2.5), 3.0),
            "sigma must be finite and > 0, got -2.5",
        ),
        (lambda: Space.lorentzians(arr(0.0), arr(0.0), 3.0), "hwhm must be finite and > 0, got 0"),
        # a width whose quadrature step at the center underflows to 0
        (
            lambda: Space.lorentzians(arr(0.0), arr(5e-324), 3.0),
            "line-shape width too small for double precision: Lorentzian { hwhm: 5e-324 }",
        ),
        (
            lambda: Space.super_gaussians(arr(0.0), arr(1e-318), arr(1.0), arr(2.0), 3.0),
            "line-shape width too small for double precision: SuperGaussian { hwhm_left: "
            "1e-318, hwhm_right: 1.0, power: 2.0 }",
        ),
        (
            lambda: Space.voigts(arr(0.0), arr(-1.0), arr(1.0), 3.0),
            "voigt needs finite sigma >= 0 and gamma >= 0",
        ),
        (
            lambda: Space.voigts(arr(0.0), arr(1.0), arr(np.nan), 3.0),
            "voigt needs finite sigma >= 0 and gamma >= 0",
        ),
        (
            lambda: Space.voigts(arr(0.0), arr(np.inf), arr(0.0), 3.0),
            "voigt needs finite sigma >= 0 and gamma >= 0",
        ),
        (
            lambda: Space.voigts(arr(0.0), arr(0.0), arr(-0.0), 3.0),
            "voigt needs sigma > 0 or gamma > 0",
        ),
        (
            lambda: Space.pseudo_voigts(arr(0.0), arr(np.nan), arr(2.0), 3.0),
            "hwhm must be finite and > 0, got NaN",
        ),
        (
            lambda: Space.pseudo_voigts(arr(0.0), arr(1.0), arr(1.5), 3.0),
            "pseudo-Voigt eta must be in [0, 1], got 1.5",
        ),
        (
            lambda: Space.pseudo_voigts(arr(0.0), arr(1.0), arr(np.nan), 3.0),
            "pseudo-Voigt eta must be in [0, 1], got NaN",
        ),
        (
            lambda: Space.pseudo_voigts(arr(0.0), arr(1.0), arr(-1e-300), 3.0),
            "pseudo-Voigt eta must be in [0, 1], got -" + "0." + "0" * 299 + "1",
        ),
        (
            lambda: Space.super_gaussians(arr(0.0), arr(-1.0), arr(-2.0), arr(0.5), 3.0),
            "hwhm_left must be finite and > 0, got -1",
        ),
        (
            lambda: Space.super_gaussians(arr(0.0), arr(1.0), arr(-2.0), arr(0.5), 3.0),
            "hwhm_right must be finite and > 0, got -2",
        ),
        (
            lambda: Space.super_gaussians(arr(0.0), arr(1.0), arr(2.0), arr(0.5), 3.0),
            "super-Gaussian power must be >= 1, got 0.5",
        ),
        (
            lambda: Space.super_gaussians(arr(0.0), arr(1.0), arr(2.0), arr(np.inf), 3.0),
            "super-Gaussian power must be >= 1, got inf",
        ),
        (
            lambda: Space.smoothed_boxes(arr(0.0), arr(0.0), arr(0.0), 3.0),
            "half_width must be finite and > 0, got 0",
        ),
        (
            lambda: Space.smoothed_boxes(arr(0.0), arr(1.0), arr(0.0), 3.0),
            "sigma must be finite and > 0, got 0",
        ),
        (
            lambda: Space.gaussians(arr(0.0), arr(1e300), 1e10),
            "profile support must be finite, got [-inf, inf]",
        ),
    ],
)
def test_construction_messages(call, message):
    assert value_error_message(call) == message


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: Space.voigts(arr(0.0), arr(1e-310), arr(1.0), 3.0),
            f"voigt peak is not representable for sigma {positional(1e-310)} and gamma 1",
        ),
        (
            lambda: Space.smoothed_boxes(arr(0.0), arr(1e-323), arr(2.0), 3.0),
            f"smoothed box peak is not representable for half_width {positional(1e-323)} "
            "and sigma 2",
        ),
    ],
)
def test_peaks_that_cannot_be_normalised(call, message):
    assert value_error_message(call) == message


def test_extreme_but_representable_peaks():
    s = Space.voigts(arr(0.0), arr(1e-100), arr(1.0), 3.0)
    np.testing.assert_allclose(values(s, [0.0, 0.5]).ravel(), [1.0, 0.8], rtol=1e-13)
    s = Space.smoothed_boxes(arr(0.0), arr(1e-300), arr(1.0), 3.0)
    np.testing.assert_allclose(values(s, [0.0, 1.0]).ravel(), [1.0, math.exp(-0.5)], rtol=1e-13)


def test_element_parameters_are_checked_in_index_order():
    message = value_error_message(Space.voigts, arr(0.0, 1.0), arr(1.0, -1.0), arr(-1.0, 0.0), 3.0)
    assert message == "voigt needs finite sigma >= 0 and gamma >= 0"
    message = value_error_message(Space.smoothed_boxes, arr(0.0, 1.0), arr(1.0, -3.0),
                                  arr(-2.0, 1.0), 3.0)
    assert message == "sigma must be finite and > 0, got -2"


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: Space.gaussians(arr(0.0, 1.0, 2.0), arr(1.0), 3.0),
            "sigma has length 1, expected 3",
        ),
        (
            lambda: Space.voigts(arr(0.0, 1.0), arr(1.0), arr(1.0), 3.0),
            "sigma has length 1, expected 2",
        ),
        (
            lambda: Space.voigts(arr(0.0, 1.0), arr(1.0, 1.0), arr(), 3.0),
            "gamma has length 0, expected 2",
        ),
        # lengths are checked before any parameter value
        (
            lambda: Space.pseudo_voigts(arr(0.0, 1.0), arr(-1.0, 1.0), arr(0.5), 3.0),
            "eta has length 1, expected 2",
        ),
        (
            lambda: Space.super_gaussians(
                arr(0.0, 1.0), arr(1.0, 1.0), arr(1.0, 1.0), arr(2.0), 3.0
            ),
            "power has length 1, expected 2",
        ),
        (
            lambda: Space.smoothed_boxes(arr(0.0, 1.0), arr(1.0), arr(1.0), -1.0),
            "half_width has length 1, expected 2",
        ),
        (
            lambda: Space.lorentzians(arr(np.nan, 1.0), arr(1.0), 3.0),
            "hwhm has length 1, expected 2",
        ),
    ],
)
def test_short_parameter_arrays(call, message):
    assert value_error_message(call) == message


def test_longer_parameter_arrays_are_fine():
    s = Space.gaussians(arr(0.0, 1.0), arr(0.5, 0.25, -1.0, np.nan), 2.0)
    np.testing.assert_array_equal(s.lower(), [-1.0, 0.5])


@pytest.mark.parametrize(
    "call",
    [
        lambda: Space.gaussians(arr(), arr(), -1.0),
        lambda: Space.voigts(arr(), arr(), arr(-1.0), np.nan),
        lambda: Space.super_gaussians(arr(), arr(), arr(), arr(0.1), 0.0),
        lambda: Space.smoothed_boxes(arr(), arr(-1.0), arr(), 0.0),
    ],
)
def test_empty_centers_give_an_empty_space(call):
    assert len(call()) == 0
