"""Quadrature accuracy: exact piecewise-polynomial products, stepped profiles, cosine weights."""

import math

import numpy as np
import pytest
import scipy.integrate
import scipy.special

import quorvel
from quorvel import Space
from helpers import (arr, bspline_functions, dense, gauss_legendre, hat, value_error_message,
                     periodic_bspline_functions)


def piecewise_gram(funcs_a, funcs_b, cuts):
    """Sum over the pieces between sorted cuts of a 12-point Gauss-Legendre rule: exact for the
    products of piecewise polynomials of degree <= 23 whose pieces end at the cuts."""
    x, w = gauss_legendre(cuts, 12)
    fa = np.array([f(x) for f in funcs_a])
    fb = np.array([f(x) for f in funcs_b])
    return (fa * w) @ fb.T


def assert_close_to_rounding(got, ref):
    scale = np.max(np.abs(ref))
    np.testing.assert_allclose(got, ref, rtol=0, atol=1e-14 * scale)


@pytest.mark.parametrize("degree", [0, 1, 2, 3])
def test_clamped_bspline_gram_exact(degree):
    rng = np.random.default_rng(degree)
    bp = np.sort(np.concatenate([[-1.0, 2.0], rng.uniform(-1.0, 2.0, 10)]))
    space = Space.bsplines_clamped(bp, degree)
    knots = np.concatenate([[bp[0]] * degree, bp, [bp[-1]] * degree])
    f = bspline_functions(knots, degree)
    assert_close_to_rounding(dense(quorvel.inner_products(space, space)), piecewise_gram(f, f, bp))


@pytest.mark.parametrize("degree", [1, 2, 3])
def test_periodic_bspline_gram_exact(degree):
    bp = np.array([0.0, 0.4, 1.1, 1.5, 2.6, 3.0, 4.2])
    space = Space.bsplines_periodic(bp, degree)
    f = periodic_bspline_functions(bp, degree)
    assert_close_to_rounding(dense(quorvel.inner_products(space, space)), piecewise_gram(f, f, bp))


def test_bspline_cross_matrix_exact():
    ka = np.array([0.0, 0.0, 0.3, 0.9, 1.0, 1.7, 2.5, 2.5, 3.0, 3.6, 4.0])
    kb = np.concatenate([[0.0] * 2, np.linspace(0.0, 4.0, 8), [4.0] * 2])
    a, b = Space.bsplines(ka, 3), Space.bsplines(kb, 2)
    ref = piecewise_gram(bspline_functions(ka, 3), bspline_functions(kb, 2), np.concatenate([ka, kb]))
    assert_close_to_rounding(dense(quorvel.inner_products(a, b)), ref)


def test_bspline_integrals_closed_form():
    knots = np.array([0.0, 0.5, 0.5, 1.25, 2.0, 3.5, 4.0, 4.0, 5.0])
    for d in range(1, 4):
        got = Space.bsplines(knots, d).integrals()
        ref = (knots[d + 1 :] - knots[: len(knots) - d - 1]) / (d + 1)
        np.testing.assert_allclose(got, ref, rtol=1e-14)


pytestmark = pytest.mark.filterwarnings("ignore::scipy.integrate.IntegrationWarning")


def quad(f, a, b, points=None, weight=None):
    if weight is None:
        return scipy.integrate.quad(f, a, b, points=points, epsabs=0, epsrel=1e-13, limit=500)[0]
    return scipy.integrate.quad(
        f, a, b, weight="cos", wvar=weight, epsabs=0, epsrel=1e-13, limit=500
    )[0]


@pytest.mark.parametrize("omega", [1e-9, 0.7, 5.0, 60.0])
def test_weighted_hat_integrals(omega):
    nodes = arr(-1.0, 0.25, 2.0, 2.5)
    got = Space.hats(nodes).integrals(omega)
    for j, v in enumerate(got):
        a, c, b = nodes[max(j - 1, 0)], nodes[j], nodes[min(j + 1, 3)]

        def value(x):
            return hat(nodes, j, x)[0]

        ref = quad(value, a, c, weight=omega) if a < c else 0.0
        ref += quad(value, c, b, weight=omega) if c < b else 0.0
        assert v == pytest.approx(ref, rel=1e-12, abs=1e-15)


def test_tiny_weight_matches_unweighted_hat():
    nodes = arr(0.0, 1.0, 2.5)
    np.testing.assert_allclose(Space.hats(nodes).integrals(1e-8), [0.5, 1.25, 0.75], rtol=1e-14)


def test_high_frequency_weight_over_wide_box():
    # Steps are capped at 0.25 / omega, so a long box still integrates the oscillation exactly.
    omega, a, b = 80.0, -3.0, 7.0
    got = Space.boxes(arr(a, b)).integrals(omega)[0]
    assert got == pytest.approx(
        (math.sin(omega * b) - math.sin(omega * a)) / omega, rel=1e-11, abs=1e-14
    )


def profile_cases():
    c = arr(0.3, -1.0)
    return {
        "gaussian": (
            Space.gaussians(c, arr(0.4, 1.3), 5.0),
            [lambda t, s=s: np.exp(-0.5 * (t / s) ** 2) for s in (0.4, 1.3)],
        ),
        "lorentzian": (
            Space.lorentzians(c, arr(0.2, 0.9), 40.0),
            [lambda t, h=h: 1 / (1 + (t / h) ** 2) for h in (0.2, 0.9)],
        ),
        "voigt": (
            Space.voigts(c, arr(0.3, 0.1), arr(0.2, 0.5), 25.0),
            [
                lambda t, s=s, g=g: scipy.special.voigt_profile(t, s, g)
                / scipy.special.voigt_profile(0.0, s, g)
                for s, g in ((0.3, 0.2), (0.1, 0.5))
            ],
        ),
        "pseudo_voigt": (
            Space.pseudo_voigts(c, arr(0.5, 0.3), arr(0.3, 0.8), 15.0),
            [
                lambda t, h=h, e=e: e / (1 + (t / h) ** 2)
                + (1 - e) * np.exp(-math.log(2) * (t / h) ** 2)
                for h, e in ((0.5, 0.3), (0.3, 0.8))
            ],
        ),
        "super_gaussian": (
            Space.super_gaussians(c, arr(0.5, 1.0), arr(1.0, 0.25), arr(2.0, 6.0), 3.0),
            [
                lambda t, l=l, r=r, p=p: np.exp(-math.log(2) * (abs(t) / (l if t < 0 else r)) ** p)
                for l, r, p in ((0.5, 1.0, 2.0), (1.0, 0.25, 6.0))
            ],
        ),
        "smoothed_box": (
            Space.smoothed_boxes(c, arr(1.0, 0.1), arr(0.2, 0.5), 6.0),
            [
                lambda t, w=w, s=s: (
                    scipy.special.erf((t + w) / (s * math.sqrt(2)))
                    - scipy.special.erf((t - w) / (s * math.sqrt(2)))
                )
                / (2 * scipy.special.erf(w / (s * math.sqrt(2))))
                for w, s in ((1.0, 0.2), (0.1, 0.5))
            ],
        ),
    }


@pytest.mark.parametrize("name", list(profile_cases()))
@pytest.mark.parametrize("omega", [None, 2.5])
def test_profile_integrals_against_quad(name, omega):
    space, shapes = profile_cases()[name]
    got = space.integrals(omega)
    centers, lower, upper = space.centers(), space.lower(), space.upper()
    for j, f in enumerate(shapes):
        c = centers[j]
        if omega is None:
            ref = quad(lambda x: f(x - c), lower[j], c) + quad(lambda x: f(x - c), c, upper[j])
        else:
            ref = quad(lambda x: f(x - c), lower[j], c, weight=omega) + quad(
                lambda x: f(x - c), c, upper[j], weight=omega
            )
        assert got[j] == pytest.approx(ref, rel=1e-12, abs=1e-15), (name, j)


def test_gaussian_bspline_weighted_inner_products_against_quad():
    g = Space.gaussians(arr(0.5, 2.0), arr(0.3, 0.6), 6.0)
    bp = np.linspace(-2.0, 5.0, 8)
    b = Space.bsplines_clamped(bp, 3)
    knots = np.concatenate([[bp[0]] * 3, bp, [bp[-1]] * 3])
    funcs = bspline_functions(knots, 3)
    for omega in (None, 1.3):
        got = dense(quorvel.inner_products(g, b, omega))
        for i, (c, s) in enumerate(((0.5, 0.3), (2.0, 0.6))):
            for j, f in enumerate(funcs):
                lo, hi = max(c - 6 * s, knots[j]), min(c + 6 * s, knots[j + 4])
                if lo >= hi:
                    assert got[i, j] == 0.0
                    continue
                cuts = np.unique(
                    np.concatenate(
                        [[lo, hi], knots[(knots > lo) & (knots < hi)], [c] if lo < c < hi else []]
                    )
                )

                def h(x):
                    return math.exp(-0.5 * ((x - c) / s) ** 2) * f(np.array([x]))[0]

                ref = sum(quad(h, u, v, weight=omega) for u, v in zip(cuts[:-1], cuts[1:]))
                assert got[i, j] == pytest.approx(ref, rel=1e-11, abs=1e-15)


@pytest.mark.parametrize("start", [0.0, -1.7])
def test_harmonics_orthogonal_with_norm_half_period(start):
    period = 3.0
    h = Space.harmonics(4, period, start)
    g = dense(quorvel.inner_products(h, h))
    np.testing.assert_allclose(g, np.eye(8) * period / 2, rtol=0, atol=1e-11)


def test_harmonic_integrals_vanish():
    np.testing.assert_allclose(Space.harmonics(3, 2.0, 0.5).integrals(), 0.0, atol=1e-12)


def test_reciprocal_box_integrals():
    box = Space.boxes(arr(500.0, 1000.0))
    with_jacobian = box.mapped("reciprocal", 1e7, 0.0, True)
    plain = box.mapped("reciprocal", 1e7, 0.0, False)
    assert with_jacobian.integrals()[0] == pytest.approx(500.0, rel=1e-14)
    assert plain.integrals()[0] == pytest.approx(10000.0, rel=1e-14)
    omega = 1e-3
    exact = (math.sin(omega * 20000.0) - math.sin(omega * 10000.0)) / omega
    assert plain.integrals(omega)[0] == pytest.approx(exact, rel=1e-12)
    ref = quad(lambda x: 1e7 / x**2, 10000.0, 20000.0, weight=omega)
    assert with_jacobian.integrals(omega)[0] == pytest.approx(ref, rel=1e-12)


@pytest.mark.parametrize("b", [2.5, -0.75])
def test_affine_map_scales_gram_exactly(b):
    s = Space.bsplines_clamped(np.linspace(0.0, 3.0, 6), 3)
    g = dense(quorvel.inner_products(s, s))
    mapped = s.mapped("affine", 1.5, b, False)
    np.testing.assert_allclose(
        dense(quorvel.inner_products(mapped, mapped)), abs(b) * g, rtol=1e-14, atol=1e-16
    )
    np.testing.assert_allclose(mapped.integrals(), abs(b) * s.integrals(), rtol=1e-14)
    np.testing.assert_allclose(
        s.mapped("affine", 1.5, b, True).integrals(), s.integrals(), rtol=1e-14
    )


def test_nested_affine_maps_compose():
    s = Space.hats(arr(0.0, 0.5, 2.0, 2.2))
    twice = s.mapped("affine", 1.0, 2.0, False).mapped("affine", -3.0, -0.5, False)
    once = s.mapped("affine", -3.5, -1.0, False)
    np.testing.assert_allclose(
        dense(quorvel.inner_products(twice, twice)),
        dense(quorvel.inner_products(once, once)),
        rtol=1e-14,
        atol=0,
    )
    np.testing.assert_allclose(twice.integrals(0.8), once.integrals(0.8), rtol=1e-13)


def test_reciprocal_hat_gram_against_quad():
    nodes = arr(1.0, 1.5, 2.5, 4.0)
    k = 10.0
    s = Space.hats(nodes).mapped("reciprocal", k, 0.0, True)
    got = dense(quorvel.inner_products(s, s))
    cuts = np.sort(k / nodes)
    for i in range(4):
        for j in range(4):

            def f(x):
                return hat(nodes, i, k / x)[0] * hat(nodes, j, k / x)[0] * (k / x**2) ** 2

            ref = sum(quad(f, lo, hi) for lo, hi in zip(cuts[:-1], cuts[1:]))
            assert got[i, j] == pytest.approx(ref, rel=1e-12, abs=1e-15)


def test_reciprocal_gaussian_with_jacobian_keeps_integral():
    g = Space.gaussians(arr(5.0, 8.0), arr(0.5, 0.2), 4.0)
    mapped = g.mapped("reciprocal", 100.0, 0.0, True)
    np.testing.assert_allclose(mapped.integrals(), g.integrals(), rtol=1e-12)


# ---- far from 0: every integral is formed from differences of nearby doubles --------------------

OFFSETS = [0.0, 1e4, 1e6, 1e8]


@pytest.mark.parametrize("X", OFFSETS)
def test_polynomial_products_exact_far_from_zero(X):
    hats = Space.hats(X + arr(0.0, 0.1, 0.3))
    wide = Space.boxes(arr(X - 1.0, X + 1.0))
    np.testing.assert_allclose(dense(quorvel.inner_products(hats, wide))[:, 0],
                               (hats.upper() - hats.lower()) / 2, rtol=1e-15)
    # Cubic B-splines and bins on knots X + u: the same functions as on the knots' exact offsets
    # from X, where SciPy is exact to rounding.
    knots = X + np.sort(np.random.default_rng(3).uniform(0.0, 1.0, 10))
    local = knots - X
    splines, f = Space.bsplines(knots, 3), bspline_functions(local, 3)
    assert_close_to_rounding(dense(quorvel.inner_products(splines, splines)),
                             piecewise_gram(f, f, local))
    edges = [0, 4, 9]
    bins = [lambda x, a=local[i], b=local[j]: ((x >= a) & (x < b)) * 1.0
            for i, j in zip(edges, edges[1:])]
    widths = np.diff(local[edges])[:, None]
    measured = quorvel.measure(Space.boxes(knots[edges]), splines, "integral")
    assert_close_to_rounding(dense(measured), piecewise_gram(bins, f, local) / widths)


def erf_antiderivative(sigma):
    return lambda t: sigma * math.sqrt(math.pi / 2) * math.erf(t / (sigma * math.sqrt(2)))


def atan_antiderivative(hwhm):
    return lambda t: hwhm * math.atan(t / hwhm)


@pytest.mark.parametrize("X", OFFSETS)
@pytest.mark.parametrize("make, antiderivative", [
    (lambda X: Space.gaussians(arr(X + 0.37), arr(0.013), 7.0), erf_antiderivative(0.013)),
    (lambda X: Space.lorentzians(arr(X + 0.37), arr(0.013), 50.0), atan_antiderivative(0.013)),
])
def test_line_shapes_stepped_far_from_zero(X, make, antiderivative):
    shape = make(X)
    # The closed form over the stored support, measured from the stored center.
    c, lo, hi = shape.centers()[0], shape.lower()[0], shape.upper()[0]
    ref = antiderivative(hi - c) - antiderivative(lo - c)
    got = dense(quorvel.inner_products(shape, Space.boxes(arr(X - 1.0, X + 2.0))))[0, 0]
    assert abs(got - ref) <= 1e-13 * ref


@pytest.mark.parametrize("X", [0.0, -4229.0, 1e6, -4.2e8])
def test_tabulated_shape_with_end_jumps_far_from_zero(X):
    sx, sy = arr(-0.3, 0.0, 0.1, 0.4), arr(0.5, 1.0, 0.2, 0.7)
    shape = Space.shifted(sx, sy, arr(X), arr(1.0), "linear")
    wide = Space.boxes(arr(X - 2.0, X + 2.0))
    l1 = 0.5 * (0.3 * 1.5 + 0.1 * 1.2 + 0.3 * 0.9)
    assert abs(dense(quorvel.inner_products(shape, wide))[0, 0] - l1) <= 1e-15 * l1
    # Against a Gaussian: the integral at the exact offset d of the Gaussian's center from X.
    g = Space.gaussians(arr(X + 0.05), arr(0.2), 10.0)
    d = g.centers()[0] - X
    u, w = gauss_legendre(np.sort(np.append(sx, d)), 24)
    ref = np.sum(w * np.interp(u, sx, sy) * np.exp(-0.5 * ((u - d) / 0.2) ** 2))
    assert abs(dense(quorvel.inner_products(shape, g))[0, 0] - ref) <= 1e-14 * l1


# ---- the stepping walk: steps of at least the double spacing, and a step budget ----------------

@pytest.mark.parametrize("center, width, power", [(0.0, 1e-9, 8.0), (1.0, 1e-9, 8.0),
                                                  (1e6, 1e-6, 50.0)])
def test_super_gaussian_whose_steps_fall_below_the_double_spacing(center, width, power):
    got = Space.super_gaussians(arr(center), arr(width), arr(width), arr(power), 3.0).integrals()
    # 2 w a^(-1/p) gamma(1/p, a 3^p) / p, a = ln 2: the integral over the support of +-3 w.
    a, s = math.log(2.0), 1.0 / power
    ref = 2 * width * a**-s * math.gamma(s) * scipy.special.gammainc(s, a * 3.0**power) / power
    assert abs(got[0] - ref) <= 1e-13 * ref


@pytest.mark.parametrize("call, message", [
    (lambda: Space.gaussians(arr(1.5), arr(0.1), 5.0).integrals(1e17),
     "quadrature of [1, 2] needs more than 100000000 steps: cosine weight scale "
     "100000000000000000 too large for double precision"),
    (lambda: Space.lorentzians(arr(50.0), arr(1.0), 50.0).integrals(-1e7),
     "quadrature of [0, 100] needs more than 100000000 steps: cosine weight scale -10000000 too "
     "large"),
    (lambda: quorvel.inner_products(Space.gaussians(arr(0.5), arr(2.0 ** -30), 2.0 ** 29),
                                    Space.boxes(arr(0.0, 1.0))),
     "quadrature of [0, 1] needs more than 100000000 steps: line-shape width too small"),
    # Rows in parallel: the first failing row in row order is reported.
    (lambda: quorvel.measure(Space.gaussians(arr(0.5, 1.5), arr(0.1, 0.1), 5.0),
                             Space.hats(arr(0.0, 2.0)), "none", weight=1e17),
     "quadrature of [0, 1] needs more than 100000000 steps: cosine weight scale "
     "100000000000000000 too large for double precision"),
])
def test_walks_beyond_the_step_budget_fail(call, message):
    assert value_error_message(call) == message


# ---- closed forms and tails against mpmath ---------------------------------------------------

def _mp():
    import mpmath
    mpmath.mp.dps = 40
    return mpmath


@pytest.mark.parametrize("cutoff", [1e5, 1e7, 1e8])
def test_long_tailed_integrals_and_normalisers_are_closed_forms(cutoff):
    mp = _mp()
    lor = Space.lorentzians(arr(0.0), arr(1.0), cutoff)
    ref = float(2 * mp.atan(cutoff))
    assert lor.integrals()[0] == pytest.approx(ref, rel=4e-16)
    # Against a box wider than the support: the same integral, by quadrature, to 1e-13.
    wide = Space.boxes(arr(-2 * cutoff, 2 * cutoff))
    assert dense(quorvel.inner_products(lor, wide))[0, 0] == pytest.approx(ref, rel=1e-13)
    # The "integral" normalisation divides by the closed form: a row over boxes sums to 1.
    row = dense(quorvel.measure(lor, Space.boxes(arr(-cutoff, -1.0, 0.5, cutoff)), "integral"))
    assert row.sum() == pytest.approx(1.0, rel=1e-13)
    # Gaussian and pseudo-Voigt (Lorentzian plus Gaussian parts) closed forms.
    ln2 = mp.log(2)
    g = float(mp.sqrt(2 * mp.pi) * mp.erf(3 / mp.sqrt(2)))
    pv = float(0.3 * 2 * mp.atan(3) + 0.7 * mp.sqrt(mp.pi / ln2) * mp.erf(3 * mp.sqrt(ln2)))
    got = [Space.gaussians(arr(5.0), arr(1.0), 3.0).integrals()[0],
           Space.pseudo_voigts(arr(5.0), arr(1.0), arr(0.3), 3.0).integrals()[0]]
    np.testing.assert_allclose(got, [g, pv], rtol=4e-16)


@pytest.mark.parametrize("space", [
    Space.gaussians(arr(0.0), arr(1.0), 30.0),
    Space.pseudo_voigts(arr(0.0), arr(np.sqrt(2 * np.log(2))), arr(0.0), 25.0),
    Space.super_gaussians(arr(0.0), arr(np.sqrt(2 * np.log(2))), arr(np.sqrt(2 * np.log(2))),
                          arr(2.0), 25.0),
], ids=["gaussian", "pseudo-voigt eta 0", "super-gaussian power 2"])
def test_gaussian_tails_against_boxes(space):
    # Each is exp(-x^2 / 2): a box [a, b] gets sqrt(pi / 2) (erfc(a / sqrt 2) - erfc(b / sqrt 2)).
    mp = _mp()
    for a, b in [(7, 9), (10, 12), (15, 19), (20, 25), (-19, -15)]:
        box = Space.boxes(arr(a, b))
        ref = float(mp.sqrt(mp.pi / 2) * (mp.erfc(a / mp.sqrt(2)) - mp.erfc(b / mp.sqrt(2))))
        assert dense(quorvel.inner_products(space, box))[0, 0] == pytest.approx(ref, rel=1e-13)


def _cosine_integral(mp, coefficients, a, b, omega):
    """int_a^b p(x) cos(omega x) dx for p = sum c_k x^k, by parts:
    e^(iwx) sum (-1)^k p^(k) / (iw)^(k+1)."""
    def antiderivative(x):
        p = [mp.mpf(c) for c in coefficients]
        total, sign = 0, 1
        for k in range(len(p)):
            total += sign * mp.polyval(p[::-1], x) / (1j * omega) ** (k + 1)
            p = [i * c for i, c in enumerate(p)][1:] or [0]
            sign = -sign
        return mp.re(mp.exp(1j * omega * x) * total)
    return antiderivative(mp.mpf(b)) - antiderivative(mp.mpf(a))


@pytest.mark.parametrize("omega", [2e5, 1e7, -1e8, 1e12])
def test_cosine_weighted_polynomials_in_closed_form(omega):
    mp = _mp()
    box = Space.boxes(arr(0.0, 100.0))
    assert box.integrals(omega)[0] == pytest.approx(
        float(_cosine_integral(mp, [1], 0, 100, omega)), abs=1e-14 * 64)
    # Hat (0, 1, 2): x on [0, 1], 2 - x on [1, 2]; weighted L1 norm about 2 / pi.
    ref = _cosine_integral(mp, [0, 1], 0, 1, omega) + _cosine_integral(mp, [2, -1], 1, 2, omega)
    got = Space.hats(arr(0.0, 1.0, 2.0)).integrals(omega)[1]
    assert got == pytest.approx(float(ref), abs=1e-14 * 0.64)
    # Cubic clamped B-splines on one interval [0, 1000]: Bernstein polynomials of x / 1000; their
    # inner products with the box [0, 100] too.
    s = Space.bsplines_clamped(arr(0.0, 1000.0), 3)
    from math import comb
    refs = []
    for i in range(4):
        c = [mp.mpf(0)] * 4
        for j in range(3 - i + 1):  # C(3,i) s^i (1-s)^(3-i), s = x / 1000
            c[i + j] += comb(3, i) * comb(3 - i, j) * (-1) ** j / mp.mpf(1000) ** (i + j)
        refs.append(float(_cosine_integral(mp, c, 0, 1000, omega)))
    np.testing.assert_allclose(s.integrals(omega), refs, rtol=0, atol=1e-14 * 160)
    cross = dense(quorvel.inner_products(box, s, omega))[0]
    assert np.isfinite(cross).all() and abs(cross.sum() - box.integrals(omega)[0]) <= 1e-14 * 64
