"""Covariances of product atoms: per-dimension kernels, references by dense quadrature."""

import math

import numpy as np
import pytest

import quorvel as q
from helpers import arr, central_difference, gauss_legendre, value_error_message

S = q.Space
SQ3, SQ5 = math.sqrt(3.0), math.sqrt(5.0)
# Family name, kernel k(r) for length l, cutoff multiple m.
FAMILIES = {
    "squared_exponential": (lambda r, l: np.exp(-0.5 * (r / l) ** 2), 9.0),
    "exponential": (lambda r, l: np.exp(-np.abs(r) / l), 39.5),
    "matern32": (lambda r, l: (1 + SQ3 * np.abs(r) / l) * np.exp(-SQ3 * np.abs(r) / l), 25.0),
    "matern52": (lambda r, l: (1 + SQ5 * np.abs(r) / l + 5 * (r / l) ** 2 / 3)
                 * np.exp(-SQ5 * np.abs(r) / l), 20.5),
}


def cov(dims, a, wa, b=None, wb=None, variance=1.0, **kw):
    return q.covariance_matrix(variance, dims, a, wa, a if b is None else b,
                               wa if wb is None else wb, **kw)


def hat(a, c, b):
    return lambda x: np.clip(np.minimum((x - a) / (c - a), (b - x) / (b - c)), 0.0, None)


def gl(lo, hi, pts, f):
    """Composite Gauss-Legendre of f over [lo, hi], split at the points inside."""
    x, w = gauss_legendre(np.clip(np.concatenate([[lo, hi], pts]), lo, hi), 24)
    return np.sum(w * f(x))


def pair_ref(k, offsets, f, fs, g, gs):
    """Double integral of f(x) k(x - y) g(y); fs and gs list the support ends and kinks of f and
    g, offsets the kinks of the kernel (0 and the window ends of every image)."""
    offsets = np.asarray(offsets)
    outer = np.concatenate([np.ravel(np.add.outer(gs, offsets)), fs])
    return gl(fs[0], fs[-1], outer, lambda xs: f(xs) * np.array(
        [gl(gs[0], gs[-1], np.concatenate([x - offsets, gs]), lambda y: k(x - y) * g(y))
         for x in xs]))


def truncated(family, l, period=None):
    k, m = FAMILIES[family]
    window = m * l
    images = [0] if period is None else range(-int(window / period) - 3, int(window / period) + 4)
    shifts = np.array([i * (period or 0.0) for i in images])

    def kp(r):
        r = np.subtract.outer(r, shifts)
        return np.sum(np.where(np.abs(r) <= window, k(r, l), 0.0), axis=-1)

    offsets = np.concatenate([shifts, shifts - window, shifts + window])
    return kp, offsets


@pytest.mark.parametrize("family", list(FAMILIES))
@pytest.mark.parametrize("l", [0.3, 1.0, 7.5])
def test_deltas_give_kernel_inside_cutoff_window(family, l):
    k, m = FAMILIES[family]
    assert k(np.array((m - 0.5) * l), l) > 1e-17 >= k(np.array(m * l), l)
    d = arr(0.0, 0.4 * l, l, m * l, m * l * (1 + 1e-12), 50.0 * l)
    a = [S.deltas(np.zeros(6))]
    got = cov([(family, l, None, None)], a, [3.0], [S.deltas(d)], [None], variance=2.5)[0]
    want = np.where(d <= m * l, 2.5 * k(d, l), 0.0)
    np.testing.assert_allclose(got, want, rtol=1e-13, atol=0)
    assert got[3] > 0 and got[4] == 0


@pytest.mark.parametrize("family", list(FAMILIES))
def test_delta_length_derivative_is_minus_d_times_slope(family):
    k, _ = FAMILIES[family]
    l, x = 0.8, arr(0.0, 0.3, 1.1, 2.9)
    K, (L,), T = q.covariance_length_derivatives(1.0, [(family, l, None, None)],
                                                 [S.deltas(x)], [None])
    r = np.abs(np.subtract.outer(x, x))
    slope = central_difference(lambda t: k(t, l), r, 1e-6)
    np.testing.assert_allclose(K, k(r, l), rtol=1e-13)
    np.testing.assert_allclose(L, -r * slope, rtol=1e-7, atol=1e-12)
    assert T == [[]]
    assert q.covariance_matrix(1.0, [(family, l, None, None)], [S.deltas(arr(0.0))], [None],
                               [S.deltas(arr(l))], [None])[0, 0] == pytest.approx(k(l, l), 1e-14)


@pytest.mark.parametrize("family, rate, minus_d_slope", [
    ("matern32", SQ3, lambda m: m * m * math.exp(-m)),
    ("matern52", SQ5, lambda m: m * m * (1 + m) / 3 * math.exp(-m)),
    ("exponential", 1.0, lambda m: m * math.exp(-m)),
])
def test_length_derivative_with_a_length_near_the_double_limit(family, rate, minus_d_slope):
    # (rate / l)^2 overflows for l = 1e-307; -d k'(d) is of order 1e-5.
    l, d = 1e-307, 1e-306
    K, (L,), T = q.covariance_length_derivatives(1.0, [(family, l, None, None)],
                                                 [S.deltas(arr(0.0, d))], [None])
    assert L[0, 1] == pytest.approx(minus_d_slope(rate * d / l), rel=1e-13)


def test_squared_exponential_at_one_length():
    assert cov([("gaussian", 2.0, None, None)], [S.deltas(arr(1.0))], [None],
               [S.deltas(arr(3.0))], [None])[0, 0] == pytest.approx(math.exp(-0.5), rel=1e-15)


@pytest.mark.parametrize("period", [0.37, 1.3, 20.0])
def test_periodic_deltas_sum_images(period):
    l = 1.0
    kp, _ = truncated("squared_exponential", l, period)
    x = arr(0.0, 0.2, 1.0)
    got = cov([("squared_exponential", l, period, None)], [S.deltas(x)], [None])
    np.testing.assert_allclose(got, kp(np.subtract.outer(x, x)), rtol=1e-13)
    if period < 1:
        assert got[0, 0] > 5


@pytest.mark.parametrize("pair", [("gaussian", "squared_exponential"),
                                  ("exponential", "matern12")])
def test_identical_family_names(pair):
    a = [S.hats(arr(0.0, 0.5, 1.0, 1.7))]
    k1, k2 = (cov([(name, 0.6, 2.0, None)], a, [1.5]) for name in pair)
    np.testing.assert_array_equal(k1, k2)


@pytest.mark.parametrize("family", ["squared_exponential", "exponential", "matern52"])
@pytest.mark.parametrize("period", [None, 2.5])
@pytest.mark.parametrize("weight", [None, 2.0])
def test_hats_and_boxes_against_dense_quadrature(family, period, weight):
    l = 0.7
    kp, offsets = truncated(family, l, period)
    nodes = arr(0.0, 0.4, 1.3)
    w = (lambda x: np.ones_like(x)) if weight is None else (lambda x: np.cos(weight * x))
    f, g = hat(*nodes), lambda x: ((x >= 1.0) & (x < 2.2)).astype(float)
    ref = pair_ref(kp, offsets, lambda x: f(x) * w(x), nodes,
                   lambda y: g(y) * w(y), (1.0, 2.2))
    norm = gl(0.0, 1.3, [0.4], lambda x: f(x) * w(x)) * gl(1.0, 2.2, [], w)
    got = cov([(family, l, period, None)], [S.hats(nodes).take([1])], [weight],
              [S.boxes(arr(1.0, 2.2))], [weight], variance=3.0)[0, 0]
    assert got == pytest.approx(3.0 * ref / norm, rel=1e-9)


def test_two_dimensions_multiply_and_delta_factor_ignores_weight():
    a = [S.deltas(arr(0.0, 0.3)), S.hats(arr(0.0, 0.5, 1.0, 1.5)).take([1, 2])]
    b = [S.deltas(arr(0.1)), S.boxes(arr(0.2, 0.9))]
    dims = [("matern32", 0.5, None, None), ("gaussian", 0.4, None, None)]
    both = cov(dims, a, [math.pi, None], b, [math.pi / 0.2, None])
    d1 = cov(dims[:1], a[:1], [None], b[:1], [None])
    d2 = cov(dims[1:], a[1:], [None], b[1:], [None])
    np.testing.assert_allclose(both, d1 * d2, rtol=1e-14)


@pytest.mark.parametrize("family", ["squared_exponential", "matern32"])
def test_narrow_boxes_approach_deltas(family):
    x = arr(0.0, 0.45)
    dims = [(family, 0.3, None, None)]
    point = cov(dims, [S.deltas(x[:1])], [None], [S.deltas(x[1:])], [None])[0, 0]
    errors = []
    for delta in (1e-1, 1e-2, 1e-3):
        a = [S.boxes(arr(-delta / 2, delta / 2))]
        b = [S.boxes(arr(0.45 - delta / 2, 0.45 + delta / 2))]
        errors.append(abs(cov(dims, a, [None], b, [None])[0, 0] - point))
        mixed = cov(dims, a, [None], [S.deltas(x[1:])], [None])[0, 0]
        assert mixed == pytest.approx(point, abs=4 * delta**2 / 0.09)
    assert errors[2] < 1e-5 * point and errors[2] < errors[1] < errors[0]


def hats_factor(nodes, c):
    return (S.hats(nodes), list(c))


def test_partition_of_unity_factor_changes_nothing():
    factor = hats_factor(arr(-1.0, 0.0, 1.0, 2.0, 3.0), [1.0] * 5)
    a = [S.hats(arr(0.0, 0.5, 1.0, 1.8))]
    b = [S.deltas(arr(-1.0, 0.3, 1.9, 3.0))]
    for b_side in (a, b):
        plain = cov([("matern52", 0.6, None, None)], a, [None], b_side, [None])
        scaled = cov([("matern52", 0.6, None, factor)], a, [None], b_side, [None])
        np.testing.assert_allclose(scaled, plain, rtol=1e-11)


def test_variance_factor_against_dense_quadrature():
    nodes, c = arr(0.0, 1.0, 2.0), [0.5, 2.0, -1.0]
    # The end hats are halves: s = 0.5 (1 - x) + 2 x on [0, 1], 2 (2 - x) - (x - 1) on [1, 2].
    s_in = lambda x: np.where(x <= 1.0, 0.5 + 1.5 * x, 5.0 - 3.0 * x)
    kp, offsets = truncated("squared_exponential", 0.5)
    f = hat(0.2, 0.8, 1.5)
    ref = pair_ref(kp, offsets, lambda x: f(x) * s_in(x), (0.2, 0.8, 1.0, 1.5),
                   lambda y: s_in(y) * ((y >= 0.5) & (y < 1.1)), (0.5, 1.0, 1.1))
    norm = 0.65 * 0.6
    got = cov([("gaussian", 0.5, None, (S.hats(nodes), c))], [S.hats(arr(0.2, 0.8, 1.5)).take([1])],
              [None], [S.boxes(arr(0.5, 1.1))], [None])[0, 0]
    assert got == pytest.approx(ref / norm, rel=1e-10)
    point = cov([("gaussian", 0.5, None, (S.hats(nodes), c))], [S.deltas(arr(0.4))], [None],
                [S.deltas(arr(1.2))], [None])[0, 0]
    assert point == pytest.approx(s_in(0.4) * s_in(1.2) * math.exp(-0.5 * 0.8**2 / 0.25), 1e-13)
    zero = cov([("gaussian", 0.5, None, (S.hats(nodes), c))], [S.deltas(arr(5.0))], [None])
    assert zero[0, 0] == 0.0


DIMS2 = [("matern32", 0.6, None, hats_factor(arr(-0.5, 0.5, 1.5, 2.5), [1.2, 0.7, 1.5, 0.9])),
         ("squared_exponential", 0.4, 1.7, None)]
# The delta sits on the closed right end of the variance factor's last hat.
ATOMS2 = [S.concatenate([S.hats(arr(0.0, 0.6, 1.1, 1.9)), S.deltas(arr(2.5))]),
          S.concatenate([S.boxes(arr(0.1, 0.5, 1.2)), S.hats(arr(0.0, 0.3, 0.9))])]


def test_derivatives_match_finite_differences():
    w = [None, 1.3]
    K, L, T = q.covariance_length_derivatives(2.0, DIMS2, ATOMS2, w)
    assert len(L) == 2 and len(T[0]) == 4 and T[1] == []
    space, c = DIMS2[0][3]

    # Both derivatives are relative: by e at 0 of K with the length or coefficient times (1 + e).
    def stretched_length(d, e):
        dims = list(DIMS2)
        dims[d] = (DIMS2[d][0], DIMS2[d][1] * (1 + e)) + DIMS2[d][2:]
        return cov(dims, ATOMS2, w, variance=2.0)

    def stretched_coefficient(k, e):
        moved = list(c)
        moved[k] *= 1 + e
        return cov([DIMS2[0][:3] + ((space, moved),), DIMS2[1]], ATOMS2, w, variance=2.0)

    eps = 1e-5
    for d in range(2):
        fd = central_difference(lambda e: stretched_length(d, e), 0.0, eps)
        np.testing.assert_allclose(L[d], fd, rtol=1e-6, atol=1e-9)
    for k in range(4):
        fd = central_difference(lambda e: stretched_coefficient(k, e), 0.0, eps)
        np.testing.assert_allclose(T[0][k], fd, rtol=1e-6, atol=1e-9)
        np.testing.assert_array_equal(T[0][k], T[0][k].T)
    np.testing.assert_allclose(K, cov(DIMS2, ATOMS2, w, variance=2.0), rtol=1e-14)


def test_diagonal_symmetric_flag_and_negative_weights():
    w = [None, 1.3]
    full = cov(DIMS2, ATOMS2, w)
    np.testing.assert_array_equal(q.covariance_diagonal(1.0, DIMS2, ATOMS2, w), np.diag(full))
    np.testing.assert_allclose(cov(DIMS2, ATOMS2, w, symmetric=True), full, rtol=1e-14)
    np.testing.assert_allclose(cov(DIMS2, ATOMS2, [None, -1.3]), full, rtol=1e-13)
    other = [S.deltas(arr(0.0, 0.5, 1.0, 1.5, 2.0)), S.deltas(arr(0.3, 0.2, 0.1, 0.0, 0.6))]
    lower_from_upper = cov(DIMS2, ATOMS2, w, other, [None, None], symmetric=True)
    plain = cov(DIMS2, ATOMS2, w, other, [None, None])
    iu = np.triu_indices(5)
    np.testing.assert_allclose(lower_from_upper[iu], plain[iu], rtol=1e-14)
    np.testing.assert_array_equal(lower_from_upper, lower_from_upper.T)
    assert full.flags.c_contiguous and full.dtype == np.float64


def test_empty_dims():
    assert q.covariance_matrix(1.0, [], [], [], [], []).shape == (0, 0)
    assert q.covariance_diagonal(1.0, (), (), ()).shape == (0,)
    K, L, T = q.covariance_length_derivatives(1.0, [], [], [])
    assert K.shape == (0, 0) and L == [] and T == []
    message = value_error_message(q.covariance_matrix, 1.0, [], [S.deltas(arr(0.0))], [None], [],
                                  [])
    assert message == "atoms need one space and one weight per dimension (0), got 1 and 1"


def test_an_atom_whose_normaliser_is_zero_is_multiplied_by_zero():
    # The slope of a hat integrates to 0: it has no average, and like a measurement row whose
    # normaliser is 0 its covariances are 0, not inf or NaN.
    slope = S.hats(arr(0.0, 1.0, 2.0)).derivative(1).take([1])
    assert slope.integrals()[0] == 0.0
    box = S.boxes(arr(0.0, 1.5))
    atoms = [S.concatenate([slope, box])]
    factor = (S.hats(arr(-1.0, 1.0, 3.0)), [0.5, 1.0, 2.0])
    for dims in ([("matern32", 0.7, None, None)], [("gaussian", 0.7, 3.0, factor)]):
        points = [S.deltas(arr(0.5, 1.7))]
        K = cov(dims, atoms, [None], points, [None])
        np.testing.assert_array_equal(K[0], [0.0, 0.0])
        np.testing.assert_array_equal(K[1], cov(dims, [box], [None], points, [None])[0])
        diagonal = q.covariance_diagonal(1.0, dims, atoms, [None])
        np.testing.assert_array_equal(
            diagonal, [0.0, q.covariance_diagonal(1.0, dims, [box], [None])[0]])
        K, (L,), (T,) = q.covariance_length_derivatives(1.0, dims, atoms, [None])
        for m in [K, L, *T]:
            assert np.isfinite(m).all()
            np.testing.assert_array_equal([m[0], m[:, 0]], np.zeros((2, 2)))
        assert K[1, 1] > 0


# ---- far from 0, tiny lengths, uncountable images ----------------------------------------------

def se_box_pair(l, a, b, c, e):
    """Squared-exponential covariance of the averages over [a, b] and [c, e] (mpmath)."""
    import mpmath as mp
    mp.mp.dps = 30

    def g(d):  # the kernel integrated twice in d
        d = mp.mpf(d)
        return (l * l * mp.exp(-d * d / (2 * l * l))
                + d * l * mp.sqrt(mp.pi / 2) * mp.erf(d / (l * mp.sqrt(2))))

    a, b, c, e = (mp.mpf(float(v)) for v in (a, b, c, e))
    return float((g(b - c) + g(a - e) - g(b - e) - g(a - c)) / ((b - a) * (e - c)))


@pytest.mark.parametrize("X", [0.0, 1e4, 1e6, 1e8])
def test_bin_averages_far_from_zero(X):
    edges = X + arr(0.0, 0.5, 1.25)
    local = edges - X  # exact
    bins = [S.boxes(edges)]
    K = cov([("squared_exponential", 0.3, None, None)], bins, [None])
    ref = [[se_box_pair(0.3, local[i], local[i + 1], local[j], local[j + 1]) for j in range(2)]
           for i in range(2)]
    np.testing.assert_allclose(K, ref, rtol=1e-13)
    # With a variance factor of hats: the same covariances as at the exact offsets from X.
    nodes = X + arr(0.0, 0.6, 1.25)

    def with_factor(nodes, edges):
        factor = (S.hats(nodes), [1.0, 2.0, 0.5])
        return cov([("matern32", 0.3, None, factor)], [S.boxes(edges)], [None])
    np.testing.assert_allclose(with_factor(nodes, edges), with_factor(nodes - X, local), rtol=1e-13)


def test_length_far_below_the_double_spacing():
    box, point = [S.boxes(arr(1.0, 2.0))], [S.deltas(arr(1.5))]
    # Against a point the kernel is integrated in the point's frame: sqrt(2 pi) l erf(9 / sqrt 2).
    l = 1e-17
    got = cov([("squared_exponential", l, None, None)], point, [None], box, [None])[0, 0]
    assert got == pytest.approx(math.sqrt(2 * math.pi) * l * math.erf(9 / math.sqrt(2)), rel=1e-13)
    # Between two boxes the kernel's window lies inside the box at every outer node but the ends:
    # the box's own average of the kernel integral, 1 - O(l) of it.
    got = cov([("squared_exponential", l, None, None)], box, [None])[0, 0]
    assert got == pytest.approx(math.sqrt(2 * math.pi) * l * math.erf(9 / math.sqrt(2)), rel=1e-13)
    # With a cosine weight the same holds for the weighted averages: the kernel integral times
    # int_1^2 cos^2 over (int_1^2 cos)^2, with no step shorter than the weight asks for.
    got = cov([("squared_exponential", l, None, None)], box, [1.0])[0, 0]
    cos2 = 0.5 * (1.0 + (math.sin(4.0) - math.sin(2.0)) / 2.0)
    want = (math.sqrt(2 * math.pi) * l * math.erf(9 / math.sqrt(2)) * cos2
            / (math.sin(2.0) - math.sin(1.0)) ** 2)
    assert got == pytest.approx(want, rel=1e-13)
    # Under an amplitude the outer walk still steps by the length: 2e17 steps are refused.
    factor = (S.hats(arr(0.0, 3.0)), [1.0, 1.0])
    assert value_error_message(cov, [("squared_exponential", l, None, factor)], box, [1.0]) == (
        "quadrature of [1, 2] needs more than 100000000 steps: correlation length "
        "0.00000000000000001 too small for double precision")


@pytest.mark.parametrize("length, period", [(1.0, 1e-300), (1.0, 5e-324), (1.0, 1e-16),
                                            (1e308, 1.0)])
@pytest.mark.parametrize("atoms", [S.deltas(arr(0.5)), S.boxes(arr(0.0, 1.0))])
def test_uncountable_image_ranges_fail(length, period, atoms):
    message = value_error_message(cov, [("gaussian", length, period, None)], [atoms], [None])
    fixed = lambda v: np.format_float_positional(v, trim="-")  # noqa: E731
    assert message == (f"periodic kernel needs more than 100000000 images: period {fixed(period)} "
                       f"too small for correlation length {fixed(length)}")


# ---- point atoms ---------------------------------------------------------------------------------

def close_points(rng, n, x0, h=1e-3):
    return x0 + np.cumsum(h * rng.uniform(0.0, 2.0, n))


@pytest.mark.parametrize("family", list(FAMILIES))
@pytest.mark.parametrize("x0", [0.0, 1e4, 1e6])
@pytest.mark.parametrize("weights", [[None], [2.0], [None, 3.0]])
@pytest.mark.parametrize("sides", ["other", "same", "symmetric"])
def test_point_atoms_equal_the_general_path(family, x0, weights, sides):
    # Point atoms on both sides pair as the kernel at their distance. A box beside them takes every
    # entry through the element-pair integrals instead; the point entries agree to rounding (one
    # exponential of the summed exponents against a product of exponentials), and where the same
    # atoms are on both sides the entries below the diagonal mirror those above bit for bit.
    rng = np.random.default_rng(int(x0) % 89 + len(weights))
    n = 60
    dims = [(family, 0.004, None, None), ("matern52", 0.01, None, None)][:len(weights)]
    a = [S.deltas(close_points(rng, n, x0)) for _ in weights]
    b = [S.deltas(close_points(rng, n + 7, x0)) for _ in weights] if sides == "other" else a
    box = S.boxes(arr(x0 - 1.0, x0 - 0.5))
    a_box = [S.concatenate([s, box]) for s in a]
    symmetric = sides == "symmetric"
    fast = cov(dims, a, weights, b, weights, variance=1.7, symmetric=symmetric)
    general = cov(dims, a_box, weights, a_box if symmetric else b, weights, variance=1.7,
                  symmetric=symmetric)
    rtol = 1e-15 if len(weights) == 1 else 2e-14
    np.testing.assert_allclose(fast, general[:n, :fast.shape[1]], rtol=rtol, atol=0)
    assert ((fast == 0) == (general[:n, :fast.shape[1]] == 0)).all()
    if sides != "other":
        assert (fast == fast.T).all()
    assert (fast != 0).sum() > fast.size // 4


def test_point_kernel_exponential_within_two_ulp():
    # With variance 1 an entry is exp(u * (u * -0.5)), u = (x_i - x_j) / l, formed as numpy
    # forms it: compare it with the correctly rounded exponential of that double.
    import mpmath as mp
    l = 0.37
    x = np.concatenate([[0.0], np.random.default_rng(5).uniform(-9.0 * l, 9.0 * l, 3000)])
    got = cov([("squared_exponential", l, None, None)], [S.deltas(x[:1])], [None],
              [S.deltas(x)], [None])[0]
    u = (x[0] - x) / l
    arg = u * (u * -0.5)
    mp.mp.prec = 120
    exact = np.array([float(mp.exp(mp.mpf(a))) for a in arg])
    ulps = np.abs(got - exact) / np.spacing(exact)
    assert ulps.max() <= 2.0


def test_point_atoms_in_many_dimensions_reach_subnormal_products():
    # Eighteen dimensions at 8.9 lengths each: the product exp(-18 * 39.605) is subnormal.
    dims = [("squared_exponential", 1.0, None, None)] * 18
    a = [S.deltas(arr(0.0, 8.9))] * 18
    got = q.covariance_matrix(1.0, dims, a, [None] * 18, a, [None] * 18)
    want = math.exp(-0.5 * 8.9 ** 2 * 9) ** 2
    assert 0 < want < 2.3e-308
    assert got[0, 1] == pytest.approx(want, rel=1e-12) and got[0, 0] == 1.0


@pytest.mark.parametrize("families", [("squared_exponential", "matern32"),
                                      ("matern52", "exponential")])
def test_point_atom_length_derivatives_in_two_dimensions(families):
    # -d k'(d) / k(d) in closed form: u^2 (squared exponential), m (exponential), m^2 / (1 + m)
    # (Matern 3/2) and m^2 (1 + m) / (3 (1 + m + m^2 / 3)) (Matern 5/2), m the scaled distance.
    rate = {"squared_exponential": 1.0, "exponential": 1.0, "matern32": SQ3, "matern52": SQ5}
    factor = {"squared_exponential": lambda m: m * m, "exponential": lambda m: m,
              "matern32": lambda m: m * m / (1 + m),
              "matern52": lambda m: m * m * (1 + m) / (3 * (1 + m + m * m / 3))}
    rng = np.random.default_rng(11)
    lengths = (0.6, 1.3)
    x = [rng.uniform(0.0, 10.0, 150) for _ in lengths]
    dims = [(f, l, None, None) for f, l in zip(families, lengths)]
    K, L, T = q.covariance_length_derivatives(2.0, dims, [S.deltas(v) for v in x], [None] * 2)
    ks = [np.where(np.abs(d) <= FAMILIES[f][1] * l, FAMILIES[f][0](d, l), 0.0)
          for f, l, d in ((f, l, np.subtract.outer(v, v)) for f, l, v in zip(families, lengths, x))]
    np.testing.assert_allclose(K, 2.0 * ks[0] * ks[1], rtol=1e-13, atol=1e-300)
    for d, (f, l, v) in enumerate(zip(families, lengths, x)):
        m = rate[f] * np.abs(np.subtract.outer(v, v)) / l
        np.testing.assert_allclose(L[d], K * factor[f](m), rtol=1e-13, atol=1e-300)
    assert T == [[], []] and (K == K.T).all() and (L[0] == L[0].T).all()


@pytest.mark.parametrize("family, nu", [("matern32", 1.5), ("squared_exponential", math.inf),
                                        ("matern52", 2.5), ("exponential", 0.5)])
@pytest.mark.parametrize("symmetric", [False, True])
def test_point_atoms_match_scikit_learn(family, nu, symmetric):
    from sklearn.gaussian_process.kernels import RBF, Matern

    x = np.sort(np.random.default_rng(3).uniform(-2.0, 2.0, 300))
    length = 0.7
    kernel = RBF(length) if math.isinf(nu) else Matern(length, nu=nu)
    got = cov([(family, length, None, None)], [S.deltas(x)], [None], variance=2.0,
              symmetric=symmetric)
    np.testing.assert_allclose(got, 2.0 * kernel(x[:, None]), rtol=1e-13, atol=1e-300)


# ---- long bins, short lengths --------------------------------------------------------------

def _mp_kernel(mp, family, l):
    r3, r5 = mp.sqrt(3), mp.sqrt(5)
    return {"squared_exponential": lambda r: mp.exp(-r * r / (2 * l * l)),
            "exponential": lambda r: mp.exp(-r / l),
            "matern32": lambda r: (1 + r3 * r / l) * mp.exp(-r3 * r / l),
            "matern52": lambda r: ((1 + r5 * r / l + 5 * r * r / (3 * l * l))
                                   * mp.exp(-r5 * r / l))}[family]


@pytest.mark.parametrize("family", list(FAMILIES))
@pytest.mark.parametrize("length", [1e-4, 1e-6])
def test_long_bins_with_short_lengths_against_closed_forms(family, length):
    import mpmath as mp
    mp.mp.dps = 30
    k, l, w = _mp_kernel(mp, family, mp.mpf(length)), mp.mpf(length), mp.mpf(10)
    cuts = [0, l, 4 * l, 16 * l, 60 * l]
    # The self-covariance of the average over [0, w]: 2 int_0^w (w - r) k(r) dr / w^2.
    pair = 2 * (w * mp.quad(k, cuts) - mp.quad(lambda r: r * k(r), cuts)) / w ** 2
    # A point at 3 against the bin: int_0^w k(|3 - y|) dy / w.
    point = 2 * mp.quad(k, cuts) / w
    box, dot = [S.boxes(arr(0.0, 10.0))], [S.deltas(arr(3.0))]
    dims = [(family, length, None, None)]
    assert cov(dims, box, [None])[0, 0] == pytest.approx(float(pair), rel=1e-13)
    assert cov(dims, dot, [None], box, [None])[0, 0] == pytest.approx(float(point), rel=1e-13)


def test_one_budget_counts_the_outer_and_inner_steps_of_a_pair():
    # Weighted bins under an amplitude keep the outer walk: 2e7 outer steps, each with inner walks
    # of 17 steps or more, fail before any is taken, although each walk alone would be within the
    # budget.
    box = [S.boxes(arr(0.0, 10.0))]
    factor = (S.hats(arr(-1.0, 11.0)), [1.0, 1.0])
    assert value_error_message(cov, [("squared_exponential", 1e-6, None, factor)], box,
                               [1.0]) == (
        "quadrature of [0, 10] needs more than 100000000 steps: correlation length 0.000001 too "
        "small")


@pytest.mark.parametrize("family", ["squared_exponential", "matern32"])
@pytest.mark.parametrize("length, omega", [(1e-4, 1.0), (1e-6, 1.0), (1e-4, 40.0)])
def test_weighted_long_bins_with_short_lengths_against_closed_forms(family, length, omega):
    # The self-covariance of the cos(w x)-weighted average over [0, W]: with t = x - y,
    # int_0^L k(t) [(W - t) cos(w t) + (sin(w (2W - t)) - sin(w t)) / (2w)] dt over
    # (sin(w W) / w)^2. The time of the call does not grow as the length shrinks.
    import mpmath as mp
    mp.mp.dps = 30
    l, w, W = mp.mpf(length), mp.mpf(omega), mp.mpf(10)
    k = _mp_kernel(mp, family, l)
    m = FAMILIES[family][1]
    inner = mp.quad(lambda t: k(t) * ((W - t) * mp.cos(w * t)
                                      + (mp.sin(w * (2 * W - t)) - mp.sin(w * t)) / (2 * w)),
                    [0, l, 4 * l, 16 * l, m * l])
    want = float(inner / (mp.sin(w * W) / w) ** 2)
    box = [S.boxes(arr(0.0, 10.0))]
    assert cov([(family, length, None, None)], box, [omega])[0, 0] == pytest.approx(want,
                                                                                 rel=1e-13)


def _cuts(lo, hi, kinks, omega):
    """The kinks inside [lo, hi], its ends, and pieces of at most 1 / omega."""
    kinks = np.asarray(kinks)
    return np.concatenate([kinks[(kinks > lo) & (kinks < hi)], [lo, hi],
                           np.linspace(lo, hi, int((hi - lo) * omega) + 2)])


def _weighted_pair_reference(k, window, f, f_cuts, g, g_cuts, omega):
    """(Cov, L1) of f(x) k(x - y) g(y) by t = x - y: int k(t) H(t) dt, H(t) = int f(x) g(x - t) dx,
    each by composite 24-point Gauss-Legendre on pieces of at most 1 / omega between the kinks."""
    f_cuts, g_cuts = np.asarray(f_cuts), np.asarray(g_cuts)
    t_kinks = np.concatenate([[0.0], np.ravel(np.subtract.outer(f_cuts, g_cuts))])
    t, wt = gauss_legendre(_cuts(-window, window, t_kinks, omega), 24)
    h, habs = np.zeros_like(t), np.zeros_like(t)
    for i, ti in enumerate(t):
        lo, hi = max(f_cuts[0], g_cuts[0] + ti), min(f_cuts[-1], g_cuts[-1] + ti)
        if lo < hi:
            x, wx = gauss_legendre(_cuts(lo, hi, np.concatenate([f_cuts, g_cuts + ti]), omega), 24)
            v = f(x) * g(x - ti)
            h[i], habs[i] = np.sum(wx * v), np.sum(wx * np.abs(v))
    return np.sum(wt * k(t) * h), np.sum(wt * np.abs(k(t)) * habs)


@pytest.mark.parametrize("family, length, phi, psi, w_phi, w_psi", [
    ("squared_exponential", 0.01, "hat", "hat", 100.0, 100.0),
    ("matern32", 0.02, "box", "hat", 40.0, -65.0),
    ("matern52", 0.005, "bspline", "box", None, 120.0),
    ("exponential", 0.004, "hat", "bspline", 90.0, None),
])
def test_weighted_polynomial_pairs_against_dense_quadrature(family, length, phi, psi, w_phi,
                                                            w_psi):
    # Bins long against the correlation length, with weights of tens of periods over them.
    from scipy.interpolate import BSpline
    knots = np.array([0.0, 0.5, 1.0, 1.5, 2.0])
    spline = BSpline.basis_element(knots, extrapolate=False)
    elements = {  # space, element index, function, kinks
        "hat": (S.hats(arr(0.0, 1.0, 2.0)), 1, hat(0.0, 1.0, 2.0), [0.0, 1.0, 2.0]),
        "box": (S.boxes(arr(0.3, 1.7)), 0, lambda x: ((x >= 0.3) & (x < 1.7)) * 1.0, [0.3, 1.7]),
        "bspline": (S.bsplines(knots, 3), 0, lambda x: np.nan_to_num(spline(x)), knots),
    }
    (sa, ia, fa, ca), (sb, ib, fb, cb) = elements[phi], elements[psi]
    omega = max(abs(w_phi or 1.0), abs(w_psi or 1.0))

    def weighted(fn, w):
        return lambda x: fn(x) * (np.cos(w * x) if w else 1.0)

    f, g = weighted(fa, w_phi), weighted(fb, w_psi)
    kern, m = FAMILIES[family]
    window = m * length
    k = lambda t: np.where(np.abs(t) <= window, kern(t, length), 0.0)  # noqa: E731
    c, l1 = _weighted_pair_reference(k, window, f, ca, g, cb, omega)
    # The entry times its normalisers (weighted integrals that may cancel to 1e-10 of the
    # element's L1 norm) is the double integral, within 1e-13 of its L1 norm.
    got = cov([(family, length, None, None)], [sa], [w_phi], [sb], [w_psi])[ia, ib]
    got *= sa.integrals(w_phi)[ia] * sb.integrals(w_psi)[ib]
    assert abs(got - c) <= 1e-13 * l1
