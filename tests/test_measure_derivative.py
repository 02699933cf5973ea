"""measure_derivative: W with its exact derivative with respect to one kernel parameter."""

import numpy as np
import pytest

import quorvel as q
from helpers import (arr, central_difference, cubic_basis, dense, hat, raises_with_note,
                     type_error_message, value_error_message)

S = q.Space
C = arr(2.13, 4.71, 7.36)


def stretch(values, about, eps):
    return about + (values - about) * (1.0 + eps)


EDGES = arr(1.3, 2.2, 4.05, 6.6)  # boxes and hats; the end hats are half hats and jump
KNOTS = arr(1.2, 1.2, 1.2, 1.2, 2.0, 2.9, 3.5, 4.6, 5.1)  # the first B-spline jumps at 1.2
KNOTS0 = arr(2.1, 3.3, 4.0)
# Periodic B-splines are shapes placed at 0; the ones that wrap have a gap and jump at both ends.
PERIODIC = arr(1.1, 1.9, 3.0, 3.7, 4.6, 5.2, 6.3)
SIGMA, OPD = arr(0.3, 0.55, 0.8), arr(2.0, 1.5, 3.0)
HL, HR, POWER = arr(0.3, 0.5, 0.4), arr(0.5, 0.35, 0.4), arr(2.0, 3.5, 1.5)


def asymmetric(eps):
    """Super-Gaussians with half widths m (1 - a) and m (1 + a) at fixed mean m, a moved by eps."""
    m, a = (HL + HR) / 2, (HR - HL) / (HR + HL) + eps
    return S.super_gaussians(C, m * (1 - a), m * (1 + a), POWER, 2.5)


# Kernel families and the parameters they define. Each builder returns the kernels with the
# parameter moved by eps (for "scale", stretched by the factor 1 + eps about each kernel's center)
# and takes the row index, because some families can only stretch one row at a time. Harmonics
# on [3.1, 6.1] (center 4.6) are moved and stretched through an affine change of variable.
CASES = {
    ("gaussians", "center"): lambda e, i: S.gaussians(C + e, SIGMA, 3.5),
    ("gaussians", "scale"): lambda e, i: S.gaussians(C, SIGMA * (1 + e), 3.5),
    ("gaussians", "sigma"): lambda e, i: S.gaussians(C, SIGMA + e, 3.5),
    ("lorentzians", "gamma"): lambda e, i: S.lorentzians(C, arr(0.2, 0.35, 0.5) + e, 6.0),
    ("voigts", "sigma"): lambda e, i: S.voigts(C, arr(0.25, 0.4, 0.3) + e, arr(0.15, 0.3, 0.45),
                                               5.0),
    ("voigts", "gamma"): lambda e, i: S.voigts(C, arr(0.25, 0.4, 0.3), arr(0.15, 0.3, 0.45) + e,
                                               5.0),
    ("pseudo_voigts", "eta"): lambda e, i: S.pseudo_voigts(C, arr(0.3, 0.45, 0.25),
                                                           arr(0.2, 0.5, 0.8) + e, 5.0),
    ("super_gaussians", "power"): lambda e, i: S.super_gaussians(C, HL, HR, POWER + e, 2.5),
    ("super_gaussians", "asymmetry"): lambda e, i: asymmetric(e),
    ("smoothed_boxes", "sigma"): lambda e, i: S.smoothed_boxes(C, arr(0.5, 0.8, 0.3),
                                                               arr(0.1, 0.2, 0.15) + e, 4.0),
    ("smoothed_boxes", "half_width"): lambda e, i: S.smoothed_boxes(C, arr(0.5, 0.8, 0.3) + e,
                                                                    arr(0.1, 0.2, 0.15), 4.0),
    ("fts", "center"): lambda e, i: S.fts(C + e, OPD, 3.0, apodization="hann"),
    ("fts", "scale"): lambda e, i: S.fts(C, OPD / (1 + e), 3.0, apodization="hann"),
    ("harmonics", "center"): lambda e, i: S.harmonics(2, 3.0, 3.1).mapped("affine", e, 1.0, False),
    ("harmonics", "scale"): lambda e, i: S.harmonics(2, 3.0, 3.1).mapped("affine", -4.6 * e,
                                                                         1.0 + e, False),
    ("boxes", "center"): lambda e, i: S.boxes(EDGES + e),
    ("boxes", "scale"): lambda e, i: S.boxes(stretch(EDGES, (EDGES[i] + EDGES[i + 1]) / 2, e)),
    ("hats", "center"): lambda e, i: S.hats(EDGES + e),
    ("hats", "scale"): lambda e, i: S.hats(stretch(EDGES, EDGES[i], e)),
    ("bsplines", "center"): lambda e, i: S.bsplines(KNOTS + e, 3),
    ("bsplines", "scale"): lambda e, i: S.bsplines(
        stretch(KNOTS, (KNOTS[i] + KNOTS[i + 4]) / 2, e), 3),
    ("bsplines0", "center"): lambda e, i: S.bsplines(KNOTS0 + e, 0),
    ("bsplines0", "scale"): lambda e, i: S.bsplines(
        stretch(KNOTS0, (KNOTS0[i] + KNOTS0[i + 1]) / 2, e), 0),
    # Slopes of hats: shapes +1/(c - a) then -1/(b - c), jumping at every node.
    ("hat_slopes", "center"): lambda e, i: S.hats(EDGES + e).derivative(1),
    ("periodic_bsplines", "center"): lambda e, i: S.bsplines_periodic(PERIODIC + e, 3),
    ("periodic_bsplines", "scale"): lambda e, i: S.bsplines_periodic(PERIODIC * (1 + e), 3),
}

BASE = {
    "harmonics": lambda: S.harmonics(2, 3.0, 3.1),
    "boxes": lambda: S.boxes(EDGES),
    "hats": lambda: S.hats(EDGES),
    "bsplines": lambda: S.bsplines(KNOTS, 3),
    "bsplines0": lambda: S.bsplines(KNOTS0, 0),
}

H = 1e-5


# Builders whose kernels can only be stretched one row at a time.
PER_ROW = {("boxes", "scale"), ("hats", "scale"), ("bsplines", "scale"), ("bsplines0", "scale")}


def finite_difference(build, basis, normalization, weight, n_rows, per_row):
    def difference(i):
        return central_difference(
            lambda e: dense(q.measure(build(e, i), basis, normalization, weight)), 0.0, H)

    if not per_row:
        return difference(0)
    return np.array([difference(i)[i] for i in range(n_rows)])


def assert_rows_close(got, want, rtol):
    for g, w in zip(got, want):
        scale = max(np.abs(w).max(), np.abs(g).max(), 1e-300)
        np.testing.assert_allclose(g, w, rtol=0, atol=rtol * scale)


# Slopes of hats and whole periods of harmonics integrate to about 0: only their unnormalised
# rows are well conditioned.
FD_CASES = [(kind, parameter, normalization) for kind, parameter in sorted(CASES)
            for normalization in ("integral", "rowsum", "none")
            if kind not in ("hat_slopes", "harmonics") or normalization == "none"]


@pytest.mark.parametrize("kind, parameter, normalization", FD_CASES)
@pytest.mark.parametrize("weight", [None, 0.7])
def test_derivative_matches_finite_difference(kind, parameter, normalization, weight):
    build = CASES[kind, parameter]
    kernels = BASE[kind]() if kind in BASE else build(0.0, 0)
    basis = cubic_basis()
    w, dw = q.measure_derivative(kernels, basis, normalization, parameter, weight)
    fd = finite_difference(build, basis, normalization, weight, len(kernels),
                           (kind, parameter) in PER_ROW)
    assert np.abs(fd).max() > 0
    assert_rows_close(dense(dw), fd, 1e-6)
    np.testing.assert_array_equal(dense(w), dense(q.measure(kernels, basis, normalization, weight)))


@pytest.mark.parametrize("map_args", [("reciprocal", 20.0, 0.0, False),
                                      ("reciprocal", 20.0, 0.0, True),
                                      ("affine", 10.0, -1.2, False),
                                      ("affine", 1.0, 0.8, True)])
@pytest.mark.parametrize("parameter, build", [
    ("sigma", lambda eps: S.gaussians(arr(3.0, 5.5, 7.0), arr(0.3, 0.4, 0.5) + eps, 3.0)),
    ("center", lambda eps: S.gaussians(arr(3.0, 5.5, 7.0) + eps, arr(0.3, 0.4, 0.5), 3.0)),
    ("scale", lambda eps: S.gaussians(arr(3.0, 5.5, 7.0), arr(0.3, 0.4, 0.5) * (1 + eps), 3.0)),
    ("center", lambda eps: S.boxes(arr(3.0, 5.5, 7.0) + eps)),
])
@pytest.mark.parametrize("normalization", ["integral", "none"])
def test_mapped_kernels_match_finite_difference(map_args, parameter, build, normalization):
    basis = cubic_basis()
    kernels = build(0.0).mapped(*map_args)
    _, dw = q.measure_derivative(kernels, basis, normalization, parameter)
    fd = central_difference(
        lambda e: dense(q.measure(build(e).mapped(*map_args), basis, normalization)), 0.0, H)
    assert_rows_close(dense(dw), fd, 1e-6)


@pytest.mark.parametrize("normalization", ["integral", "rowsum", "none"])
@pytest.mark.parametrize("weight", [None, 0.7])
def test_scale_is_sigma_times_sigma_derivative(normalization, weight):
    sigma = arr(0.3, 0.55, 0.8)
    kernels, basis = S.gaussians(C, sigma, 3.5), cubic_basis()
    _, d_scale = q.measure_derivative(kernels, basis, normalization, "scale", weight)
    _, d_sigma = q.measure_derivative(kernels, basis, normalization, "sigma", weight)
    assert_rows_close(dense(d_scale), sigma[:, None] * dense(d_sigma), 1e-11)


@pytest.mark.parametrize("kind", ["gaussians", "hats", "bsplines"])
@pytest.mark.parametrize("parameter", ["center", "scale"])
@pytest.mark.parametrize("weight", [None, 0.7])
def test_rowsum_derivative_rows_sum_to_zero(kind, parameter, weight):
    kernels = BASE[kind]() if kind in BASE else S.gaussians(C, arr(0.3, 0.55, 0.8), 3.5)
    w, dw = q.measure_derivative(kernels, cubic_basis(), "rowsum", parameter, weight)
    np.testing.assert_allclose(dense(w).sum(axis=1), 1.0, rtol=0, atol=1e-13)
    scale = np.abs(dense(dw)).max(axis=1)
    assert np.all(np.abs(dense(dw).sum(axis=1)) <= 1e-12 * scale)


def test_both_matrices_share_one_pattern():
    kernels, basis = S.lorentzians(C, arr(0.2, 0.35, 0.5), 6.0), cubic_basis()
    w, dw = q.measure_derivative(kernels, basis, "integral", "gamma", 0.3)
    np.testing.assert_array_equal(w[0], dw[0])
    np.testing.assert_array_equal(w[1], dw[1])
    assert w[3] == dw[3] == (3, len(basis))
    assert w[0].dtype == w[1].dtype == np.int64 and dw[2].dtype == np.float64


def hat_table(nodes, x):
    """Values and slopes of the hats of `nodes` at the points x (closed forms)."""
    table = np.array([[hat(nodes, j, xi) for j in range(len(nodes))] for xi in x])
    return table[..., 0], table[..., 1]


@pytest.mark.parametrize("weight", [None, 0.7])
def test_delta_center_gives_slopes(weight):
    nodes, x = arr(0.0, 1.0, 2.5, 4.0, 5.0), arr(0.3, 1.7, 3.2, 4.6)
    values, slopes = hat_table(nodes, x)
    if weight is None:
        want = slopes
    else:
        want = (slopes * np.cos(weight * x)[:, None]
                - values * (weight * np.sin(weight * x))[:, None])
    _, dw = q.measure_derivative(S.deltas(x), S.hats(nodes), "none", "center", weight)
    np.testing.assert_allclose(dense(dw), want, rtol=1e-14, atol=1e-15)


def test_delta_at_hat_feet_stores_zero_values():
    # At x = 1 hat 0 ends (value 0, slope -1) and hat 2 starts (value 0, slope 1 / 1.5).
    w, dw = q.measure_derivative(S.deltas(arr(1.0)), S.hats(arr(0.0, 1.0, 2.5, 4.0)), "none",
                                 "center")
    assert w[0].tolist() == [0, 3] and w[1].tolist() == [0, 1, 2]
    assert w[2].tolist() == [0.0, 1.0, 0.0]
    np.testing.assert_allclose(dw[2], [-1.0, 0.0, 1 / 1.5], rtol=1e-15)


@pytest.mark.parametrize("normalization", ["integral", "rowsum", "none"])
@pytest.mark.parametrize("weight", [None, 0.7])
def test_delta_scale_is_zero(normalization, weight):
    kernels, basis = S.deltas(arr(0.4, 3.3, 8.25)), cubic_basis()
    w, dw = q.measure_derivative(kernels, basis, normalization, "scale", weight)
    assert w[2].size > 0 and np.all(dw[2] == 0.0)
    np.testing.assert_array_equal(w[1], q.measure(kernels, basis, normalization, weight)[1])


def test_delta_center_integral_normalization_with_weight():
    # W = b(x) w(x) / w(x) = b(x): its derivative is the plain slope of the hats.
    nodes, x = arr(0.0, 1.0, 2.5, 4.0, 5.0), arr(0.3, 1.7, 3.2, 4.6)
    _, slopes = hat_table(nodes, x)
    _, dw = q.measure_derivative(S.deltas(x), S.hats(nodes), "integral", "center", 0.7)
    np.testing.assert_allclose(dense(dw), slopes, rtol=1e-13, atol=1e-14)


def test_zero_normalizer_row():
    # The derivative of the hat (3, 4, 5) has integral exactly 0: its row is stored zeros.
    kernels, basis = S.hats(arr(3.0, 4.0, 5.0)).derivative(1), cubic_basis()
    w, dw = q.measure_derivative(kernels, basis, "integral", "center")
    start, end = w[0][1], w[0][2]
    assert end > start
    assert np.all(w[2][start:end] == 0.0) and np.all(dw[2][start:end] == 0.0)
    assert np.any(dw[2][:start] != 0.0)


@pytest.mark.parametrize("normalization", ["integral", "rowsum", "none"])
def test_empty_kernels(normalization):
    w, dw = q.measure_derivative(S.deltas(arr()), cubic_basis(), normalization, "sigma")
    for m in (w, dw):
        assert m[3] == (0, len(cubic_basis())) and m[0].tolist() == [0] and m[1].size == 0


@pytest.mark.parametrize("text", ["Center", "SIGMA", "width", "", "half-width", "center "])
def test_unknown_parameter(text):
    kernels = S.gaussians(C, arr(1, 1, 1), 3.0)
    assert value_error_message(q.measure_derivative, kernels, cubic_basis(), "none", text) == (
        "unknown parameter " + '"' + text + '"'
    )


def test_order_of_boundary_checks():
    k, b = S.lorentzians(C, arr(1, 1, 1), 3.0), cubic_basis()
    with pytest.raises(ValueError, match="^normalization must be"):
        q.measure_derivative(k, b, "None", "Sigma", 0.0)
    with pytest.raises(ValueError, match="^bad cosine weight scale 0$"):
        q.measure_derivative(k, b, "none", "Sigma", 0.0)
    with pytest.raises(ValueError) as info:
        q.measure_derivative(k, b, "none", "Sigma", 1.0)
    assert info.value.args == ('unknown parameter "Sigma"',)
    assert info.value.__notes__ == [
        "accepted values of parameter: 'center', 'scale', 'sigma', 'gamma', 'eta', 'power', "
        "'asymmetry', 'half_width'; did you mean 'sigma'? names are matched exactly"]
    # The kernel checks come last.
    with pytest.raises(ValueError, match="^bad cosine weight scale NaN$"):
        q.measure_derivative(k, b, "none", "sigma", float("nan"))


@pytest.mark.parametrize("normalization", ["integral", "rowsum", "none"])
def test_sigma_on_lorentzians(normalization):
    k, b = S.lorentzians(C, arr(1.0, 0.5, 2.0), 3.0), cubic_basis()
    assert value_error_message(q.measure_derivative, k, b, normalization, "sigma") == (
        "Lorentzian { hwhm: 1.0 } has no parameter Sigma"
    )
    q.measure_derivative(k, b, normalization, "gamma")


@pytest.mark.parametrize("kind, parameter, message", [
    ("gaussians", "gamma", "Gaussian { sigma: 0.3 } has no parameter Gamma"),
    ("gaussians", "half_width", "Gaussian { sigma: 0.3 } has no parameter HalfWidth"),
    ("pseudo_voigts", "sigma", "PseudoVoigt { hwhm: 0.3, eta: 0.2 } has no parameter Sigma"),
    ("super_gaussians", "eta",
     "SuperGaussian { hwhm_left: 0.3, hwhm_right: 0.5, power: 2.0 } has no parameter Eta"),
    ("fts", "sigma", "Fts { max_opd: 2.0, apodization: CosineSum([0.5, 0.5, 0.0, 0.0]), "
                     "inv_peak: 1.0 } has no parameter Sigma"),
    ("harmonics", "power", None),
])
def test_parameter_not_defined_for_kind(kind, parameter, message):
    kernels = {
        "gaussians": lambda: S.gaussians(C, arr(0.3, 0.55, 0.8), 3.5),
        "pseudo_voigts": lambda: CASES["pseudo_voigts", "eta"](0.0, 0),
        "super_gaussians": lambda: CASES["super_gaussians", "power"](0.0, 0),
        "fts": lambda: CASES["fts", "center"](0.0, 0),
        "harmonics": lambda: S.harmonics(1, 2.0, 0.0),
    }[kind]()
    got = value_error_message(q.measure_derivative, kernels, cubic_basis(), "none", parameter)
    if message is None:
        assert got.startswith("Harmonic { wavenumber: 1.0, period: 2.0, phase: ")
        assert got.endswith(" has no parameter Power")
    else:
        assert got == message


@pytest.mark.parametrize("parameter, name", [("sigma", "Sigma"), ("gamma", "Gamma"),
                                             ("eta", "Eta"), ("power", "Power"),
                                             ("asymmetry", "Asymmetry"),
                                             ("half_width", "HalfWidth")])
@pytest.mark.parametrize("kernels", [
    lambda: S.bsplines(arr(1.0, 2.0, 3.0, 4.0, 5.0), 3),
    lambda: S.bsplines(arr(101.0, 102.0, 103.0, 104.0, 105.0), 3),  # meets no basis element
    lambda: S.boxes(arr(1.0, 2.0)),
    lambda: S.hats(arr(1.0, 2.0)),
])
def test_profile_parameters_on_piecewise_kernels(parameter, name, kernels):
    message = value_error_message(q.measure_derivative, kernels(), cubic_basis(), "integral",
                                  parameter)
    assert message == name + " applies only to line-shape profiles"


def test_profile_parameter_inside_mapped_kernel():
    kernels = S.boxes(arr(1.0, 2.0)).mapped("affine", 1.0, 2.0, False)
    with pytest.raises(ValueError, match="^Sigma applies only to line-shape profiles$"):
        q.measure_derivative(kernels, cubic_basis(), "none", "sigma")


@pytest.mark.parametrize("x", [arr(5.0), arr(-2.0), arr(12.0), arr(30.0, 5.0)])
def test_sigma_on_deltas_meeting_the_basis(x):
    # The basis covers [-2, 12], closed.
    with pytest.raises(ValueError, match="^a delta has no parameter Sigma$"):
        q.measure_derivative(S.deltas(x), cubic_basis(), "integral", "sigma")


@pytest.mark.parametrize("normalization", ["integral", "rowsum", "none"])
def test_sigma_on_deltas_meeting_nothing(normalization):
    w, dw = q.measure_derivative(S.deltas(arr(-30.0, 12.5)), cubic_basis(), normalization,
                                 "sigma", 0.5)
    assert w[0].tolist() == [0, 0, 0] and dw[0].tolist() == [0, 0, 0]


def test_voigts_with_zero_gamma_are_gaussians():
    c, sigma = arr(2.0, 5.0), arr(0.5, 0.25)
    voigts_, basis = S.voigts(c, sigma, arr(0.0, 0.0), 4.0), cubic_basis()
    assert value_error_message(q.measure_derivative, voigts_, basis, "integral", "gamma") == (
        "Gaussian { sigma: 0.5 } has no parameter Gamma"
    )
    got = q.measure_derivative(voigts_, basis, "integral", "sigma")
    want = q.measure_derivative(S.gaussians(c, sigma, 4.0), basis, "integral", "sigma")
    for g, w in zip(got, want):
        np.testing.assert_array_equal(dense(g), dense(w))


def test_first_failing_row_in_row_order_decides():
    # Rows with gamma 0 are Gaussians and have no Gamma; each has its own sigma.
    n = 600
    c = np.linspace(0.0, 10.0, n)
    sigma = np.full(n, 0.2)
    gamma = np.full(n, 0.1)
    for i, s in [(250, 0.123), (400, 0.456), (590, 0.789)]:
        gamma[i], sigma[i] = 0.0, s
    kernels = S.voigts(c, sigma, gamma, 3.0)
    for _ in range(3):
        message = value_error_message(q.measure_derivative, kernels, cubic_basis(), "rowsum",
                                      "gamma")
        assert message == "Gaussian { sigma: 0.123 } has no parameter Gamma"


def test_argument_errors_and_signature():
    b = cubic_basis()
    raises_with_note(TypeError, "parameter", q.measure_derivative, b, b, "none", 3)
    assert type_error_message(q.measure_derivative, b, b, "none") == (
        "measure_derivative() missing 1 required positional argument: 'parameter'"
    )
    assert q.measure_derivative.__text_signature__ == (
        "(kernels, basis, normalization, parameter, weight=None)")
    assert q._quorvel.measure_derivative.__doc__ == (
        "(W, \u2202W/\u2202p) for the kernels' parameter p; see `quorvel.measure_derivative`.")


@pytest.mark.parametrize("weight", [None, 0.7])
def test_gaussian_kernels_on_delta_basis(weight):
    # A delta element evaluates the kernel's pointwise derivative: t^2 / sigma^3 exp(-t^2 / 2 s^2).
    c, sigma, x = arr(2.0, 5.0), arr(0.5, 0.8), arr(1.1, 1.7, 2.0, 2.6, 4.4, 5.9, 7.0)
    _, dw = q.measure_derivative(S.gaussians(c, sigma, 3.0), S.deltas(x), "none", "sigma", weight)
    t = x[None, :] - c[:, None]
    s = sigma[:, None]
    want = np.where(np.abs(t) <= 3.0 * s, t * t / s**3 * np.exp(-0.5 * (t / s) ** 2), 0.0)
    if weight is not None:
        want = want * np.cos(weight * x)[None, :]
    np.testing.assert_allclose(dense(dw), want, rtol=1e-13, atol=1e-16)
