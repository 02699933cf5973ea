"""measure: kernel-weighted integrals of a basis, normalised per row."""

import numpy as np
import pytest
from scipy import integrate

import quorvel as q
from helpers import (arr, assert_same_sparse, bspline_functions, cubic_basis, dense,
                     raises_with_note, type_error_message, value_error_message)

S = q.Space


KNOTS = np.linspace(-2.0, 12.0, 29)  # the knots of cubic_basis()


def kernel_spaces():
    c = arr(2.13, 4.71, 7.36)
    return {
        "gaussians": S.gaussians(c, arr(0.3, 0.55, 0.8), 3.5),
        "lorentzians": S.lorentzians(c, arr(0.2, 0.35, 0.5), 6.0),
        "boxes": S.boxes(arr(1.3, 2.2, 4.05, 6.6)),
        "hats": S.hats(arr(1.3, 2.2, 4.05, 6.6)),
        "bsplines": S.bsplines(arr(1.2, 1.2, 1.2, 1.2, 2.0, 2.9, 3.5, 4.6, 5.1), 3),
        "deltas": S.deltas(arr(0.4, 3.3, 8.25, 30.0)),
    }


@pytest.mark.parametrize("kind", sorted(kernel_spaces()))
@pytest.mark.parametrize("weight", [None, 0.7, -1.3])
def test_none_equals_inner_products(kind, weight):
    kernels, basis = kernel_spaces()[kind], cubic_basis()
    got = q.measure(kernels, basis, "none", weight)
    assert_same_sparse(got, q.inner_products(kernels, basis, weight))
    assert got[3] == (len(kernels), len(basis))


def quad_row(kernel, basis_elements, support, weight):
    """Reference row by adaptive quadrature: integrals of kernel * b * w over the kernel support."""
    lo, hi = support
    wf = (lambda x: 1.0) if weight is None else (lambda x: np.cos(weight * x))
    pts = [t for t in KNOTS if lo < t < hi]
    norm = integrate.quad(lambda x: kernel(x) * wf(x), lo, hi, points=pts, limit=200,
                          epsabs=0, epsrel=1e-13)[0]
    row = [integrate.quad(lambda x: kernel(x) * b(x) * wf(x), lo, hi, points=pts, limit=200,
                          epsabs=1e-15, epsrel=1e-13)[0] for b in basis_elements]
    return np.array(row), norm


@pytest.mark.parametrize("weight", [None, 0.9])
def test_gaussian_rows_against_adaptive_quadrature(weight):
    centers, sigma, cutoff = arr(2.13, 6.4), arr(0.3, 0.75), 3.0
    kernels = S.gaussians(centers, sigma, cutoff)
    basis_elements = bspline_functions(KNOTS, 3)
    w_int = dense(q.measure(kernels, cubic_basis(), "integral", weight))
    w_sum = dense(q.measure(kernels, cubic_basis(), "rowsum", weight))
    w_none = dense(q.measure(kernels, cubic_basis(), "none", weight))
    for i, (c, s) in enumerate(zip(centers, sigma)):
        g = lambda x, c=c, s=s: np.exp(-0.5 * ((x - c) / s) ** 2)
        v, n = quad_row(g, basis_elements, (c - cutoff * s, c + cutoff * s), weight)
        np.testing.assert_allclose(w_none[i], v, rtol=0, atol=1e-11 * np.abs(v).max())
        np.testing.assert_allclose(w_int[i], v / n, rtol=0, atol=1e-11 * np.abs(v / n).max())
        np.testing.assert_allclose(w_sum[i], v / v.sum(), rtol=0,
                                   atol=1e-11 * np.abs(v / v.sum()).max())


@pytest.mark.parametrize("kind", ["gaussians", "lorentzians", "boxes", "hats", "bsplines"])
@pytest.mark.parametrize("weight", [None, 0.7])
def test_rowsum_rows_sum_to_one(kind, weight):
    w = dense(q.measure(kernel_spaces()[kind], cubic_basis(), "rowsum", weight))
    np.testing.assert_allclose(w.sum(axis=1), 1.0, rtol=0, atol=1e-13)


@pytest.mark.parametrize("weight", [None, 0.7])
def test_delta_rows_are_basis_values(weight):
    # Under "integral" a delta row is b(x0) w(x0) / w(x0); a delta outside the basis is empty.
    nodes = arr(0.0, 1.0, 2.5, 4.0, 5.0)
    x = arr(0.3, 1.7, 3.2, 4.6, 9.0)
    got = dense(q.measure(S.deltas(x), S.hats(nodes), "integral", weight))
    want = np.array([np.interp(x, nodes, np.eye(len(nodes))[j], left=0, right=0)
                     for j in range(len(nodes))]).T
    np.testing.assert_allclose(got, want, rtol=1e-14, atol=1e-15)


def test_integral_normalization_divides_by_kernel_integrals():
    # Hats kernels have integrals (b - a) / 2 in closed form.
    nodes = arr(1.3, 2.2, 4.05, 6.6)
    kernels, basis = S.hats(nodes), cubic_basis()
    half_widths = (np.r_[nodes[1:], nodes[-1]] - np.r_[nodes[0], nodes[:-1]]) / 2
    got = dense(q.measure(kernels, basis, "integral"))
    want = dense(q.inner_products(kernels, basis)) / half_widths[:, None]
    np.testing.assert_allclose(got, want, rtol=1e-14, atol=0)


@pytest.mark.parametrize("parameter", [None, "center", "sigma"])
def test_subnormal_rowsum_normalizer(parameter):
    # The Gaussian's tail over the box is about 6e-311, a subnormal whose reciprocal overflows:
    # the one stored entry of the row is its own row sum, so W is 1 and dW is 0.
    kernel = S.gaussians(arr(0.0), arr(1.0), 40.0)
    box = S.boxes(arr(37.7, 38.7))
    raw = q.inner_products(kernel, box)[2]
    assert 0.0 < raw[0] < 1.0 / np.finfo(float).max
    if parameter is None:
        np.testing.assert_array_equal(q.measure(kernel, box, "rowsum")[2], [1.0])
    else:
        w, dw = q.measure_derivative(kernel, box, "rowsum", parameter)
        np.testing.assert_array_equal(w[2], [1.0])
        np.testing.assert_array_equal(dw[2], [0.0])


def test_zero_normalizer_row_keeps_its_pattern():
    # The derivative of the hat (3, 4, 5) is +1 then -1: its integral is exactly 0.
    kernels = S.hats(arr(3.0, 4.0, 5.0)).derivative(1)
    basis = cubic_basis()
    got = q.measure(kernels, basis, "integral")
    ref = q.inner_products(kernels, basis)
    np.testing.assert_array_equal(got[0], ref[0])
    np.testing.assert_array_equal(got[1], ref[1])
    row = slice(got[0][1], got[0][2])
    assert got[0][2] > got[0][1]
    assert np.all(got[2][row] == 0.0)
    # The other rows are divided by their integrals -1 and +1.
    np.testing.assert_array_equal(got[2][: got[0][1]], -ref[2][: got[0][1]])
    np.testing.assert_array_equal(got[2][got[0][2]:], ref[2][got[0][2]:])


@pytest.mark.parametrize("normalization", ["integral", "rowsum", "none"])
def test_empty_kernels(normalization):
    indptr, indices, data, shape = q.measure(S.deltas(arr()), cubic_basis(), normalization)
    assert shape == (0, len(cubic_basis()))
    assert indptr.tolist() == [0] and indices.size == 0 and data.size == 0
    assert indptr.dtype == np.int64 and indices.dtype == np.int64 and data.dtype == np.float64


def test_kernels_meeting_no_basis_element_give_empty_rows():
    indptr, indices, _, shape = q.measure(S.gaussians(arr(40.0, 50.0), arr(1.0, 1.0), 3.0),
                                          cubic_basis(), "integral")
    assert shape == (2, len(cubic_basis())) and indptr.tolist() == [0, 0, 0]


@pytest.mark.parametrize("text, shown", [
    ("Integral", '"Integral"'),
    ("ROWSUM", '"ROWSUM"'),
    ("integrals", '"integrals"'),
    ("", '""'),
    (" none", '" none"'),
    ('a"b\\c', '"a\\"b\\\\c"'),
])
def test_bad_normalization(text, shown):
    assert value_error_message(q.measure, kernel_spaces()["gaussians"], cubic_basis(), text) == (
        "normalization must be 'integral', 'rowsum' or 'none', got " + shown
    )


@pytest.mark.parametrize("weight, shown", [(0.0, "0"), (-0.0, "-0"), (float("inf"), "inf"),
                                           (float("-inf"), "-inf"), (float("nan"), "NaN")])
def test_bad_weight(weight, shown):
    with pytest.raises(ValueError, match="^bad cosine weight scale " + shown + "$"):
        q.measure(kernel_spaces()["gaussians"], cubic_basis(), "rowsum", weight)


def test_normalization_is_checked_before_weight():
    with pytest.raises(ValueError, match="^normalization must be"):
        q.measure(kernel_spaces()["gaussians"], cubic_basis(), "sum", 0.0)


def test_keywords_and_explicit_none():
    k, b = kernel_spaces()["lorentzians"], cubic_basis()
    a = q.measure(k, b, "integral")
    for other in (q.measure(k, b, "integral", None),
                  q.measure(basis=b, normalization="integral", kernels=k, weight=None)):
        assert_same_sparse(other, a)


def test_argument_errors():
    b = cubic_basis()
    raises_with_note(TypeError, "kernels", q.measure, arr(1.0), b, "none")
    raises_with_note(TypeError, "normalization", q.measure, b, b, 1)
    raises_with_note(TypeError, "weight", q.measure, b, b, "none", "0.5")
    assert type_error_message(q.measure, b, b) == (
        "measure() missing 1 required positional argument: 'normalization'"
    )
    assert type_error_message(q.measure, b, b, "none", None, None) == (
        "measure() takes from 3 to 4 positional arguments but 5 were given"
    )


def test_signature():
    assert q.measure.__text_signature__ == "(kernels, basis, normalization, weight=None)"


@pytest.mark.parametrize(
    "sigma, sliver, side",
    [(0.17237803311822986, 1.0794165049342948e-4, -1.0), (0.14554425309821817, 8.8238e-4, -1.0),
     (0.17237803311822986, 1.0794165049342948e-4, 1.0)],
)
def test_gaussian_row_meeting_a_bspline_end_by_a_sliver(sigma, sliver, side):
    # A Gaussian row among many cubic B-splines whose support overlaps one B-spline's end (where
    # the B-spline is a tiny cubic) only by a sliver: that entry keeps its relative accuracy.
    import mpmath as mp
    from scipy.interpolate import BSpline

    t = np.linspace(0.0, 1000.0, 10004)
    j = 5000
    c = (t[j + 4] if side > 0 else t[j]) + side * (4.0 * sigma - sliver)
    kernels = S.gaussians(arr(c), arr(sigma), 4.0)
    indptr, indices, data, _ = q.measure(kernels, S.bsplines(t, 3), "none")
    assert len(indices) > 8
    got = data[list(indices).index(j)]
    coef = np.zeros(len(t) - 4)
    coef[j] = 1.0
    spline = BSpline(t, coef, 3)
    lo, hi = max(c - 4 * sigma, t[j]), min(c + 4 * sigma, t[j + 4])
    mid = (lo + hi) / 2
    d = [float(spline(mid, nu=n)) for n in range(4)]
    mp.mp.dps = 40
    def f(z):
        u = z - mid
        return (d[0] + d[1] * u + d[2] * u ** 2 / 2 + d[3] * u ** 3 / 6) * mp.exp(
            -(z - c) ** 2 / (2 * sigma ** 2))

    ref = mp.quad(f, [mp.mpf(lo), mp.mpf(hi)])
    assert abs(got - float(ref)) <= 1e-13 * abs(float(ref))
