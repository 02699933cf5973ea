"""Smoothing splines and the banded selected inverse: dense NumPy solves of the same normal
equations, dense influence matrices, and SciPy's make_smoothing_spline where it works."""

import numpy as np
import pytest
from scipy.interpolate import BSpline, make_smoothing_spline

import quorvel as q
from quorvel import SingularError
from helpers import gauss_legendre, raises_with_note, run_python, value_error_message


def truth(x):
    return np.sin(2.0 * np.pi * x)


def noisy(n, rng, grid=False, noise=0.1):
    x = np.linspace(0.0, 1.0, n) if grid else rng.uniform(0.0, 1.0, n)
    return x, truth(x) + rng.normal(0.0, noise, n)


# ---- selected inverse ---------------------------------------------------------------------------


def random_band(n, e, rng):
    """A random symmetric positive definite matrix of bandwidth e: dense and lower band."""
    a = np.zeros((n, n))
    for d in range(1, min(e, n - 1) + 1):
        v = rng.uniform(-1.0, 1.0, n - d)
        a += np.diag(v, -d) + np.diag(v, d)
    a += np.diag(np.abs(a).sum(axis=1) + rng.uniform(0.1, 1.0, n))
    return a, lower_band(a, e)


def lower_band(a, e):
    n = a.shape[0]
    band = np.zeros((e + 1, n))
    for d in range(min(e, n - 1) + 1):
        band[d, : n - d] = np.diag(a, -d)
    return band


@pytest.mark.parametrize("n, e", [(1, 0), (6, 0), (1, 3), (3, 3), (30, 1), (40, 3), (25, 6)])
def test_selected_inverse_is_the_band_of_the_dense_inverse(n, e):
    a, band = random_band(n, e, np.random.default_rng(n + 10 * e))
    factor, inverse = q.selected_inverse(band)
    assert factor.shape == inverse.shape == (e + 1, n)
    np.testing.assert_allclose(factor, lower_band(np.linalg.cholesky(a), e), rtol=1e-12,
                               atol=1e-14)
    np.testing.assert_allclose(inverse, lower_band(np.linalg.inv(a), e), rtol=1e-10, atol=1e-14)


@pytest.mark.parametrize("n, e", [(1, 0), (6, 0), (3, 3), (30, 1), (40, 3), (25, 6)])
def test_selected_inverse_derivative_is_the_band_of_the_dense_derivative(n, e):
    a, band = random_band(n, e, np.random.default_rng(n + 10 * e))
    rng = np.random.default_rng(7 * n + e)
    d, _ = random_band(n, e, rng)
    d -= np.diag(np.diag(d) - rng.uniform(-1.0, 1.0, n))  # an indefinite direction
    factor, inverse, derivative = q.selected_inverse(band, lower_band(d, e))
    np.testing.assert_allclose(inverse, lower_band(np.linalg.inv(a), e), rtol=1e-10, atol=1e-14)
    ai = np.linalg.inv(a)
    np.testing.assert_allclose(derivative, lower_band(-ai @ d @ ai, e), rtol=1e-9, atol=1e-13)


def test_selected_inverse_failures():
    assert value_error_message(q.selected_inverse, np.zeros((0, 3))) == (
        "band needs at least one row (the diagonal)")
    band = np.array([[4.0] * 5, [1.0] * 5])
    band[1, 3] = np.nan
    assert value_error_message(q.selected_inverse, band) == (
        "band must be finite, got NaN at row 1, column 3")
    band[1, 4] = np.nan  # past the end of the sub-diagonal: not read
    band[1, 3] = 0.0
    factor, _ = q.selected_inverse(band)
    assert np.isfinite(factor[:, :4]).all()
    raises_with_note(TypeError, "band", q.selected_inverse, np.ones((2, 10))[:, ::2],
                     hint="use np.ascontiguousarray(band)")
    assert value_error_message(q.selected_inverse, np.ones((2, 5)), np.ones((3, 5))) == (
        "direction must have the shape of band, (2, 5), got (3, 5)")
    direction = np.zeros((2, 5))
    direction[0, 2] = np.inf
    assert value_error_message(q.selected_inverse, np.ones((2, 5)), direction) == (
        "direction must be finite, got inf at row 0, column 2")
    with pytest.raises(SingularError, match=r"^pivot 1 is 0e0 \(diagonal 1e0\)"):
        q.selected_inverse(np.array([[1.0, 1.0], [1.0, 0.0]]))


# ---- dense reference ----------------------------------------------------------------------------


def dense_problem(x, y, w, breakpoints, degree):
    """B, P and the solution of (BᵀWB + lam P) c = BᵀWy built densely in x: B from SciPy's
    design matrix (left limit at the right end) and P from Gauss–Legendre on every interval."""
    t = np.r_[[breakpoints[0]] * degree, breakpoints, [breakpoints[-1]] * degree]
    p = len(t) - degree - 1
    b = BSpline.design_matrix(x, t, degree).toarray()
    m = (degree + 1) // 2
    nodes, weights = gauss_legendre(breakpoints, 6)
    dm = np.stack([BSpline(t, np.eye(p)[j], degree)(nodes, m) for j in range(p)])
    penalty = (dm * weights) @ dm.T
    return b, penalty


def dense_fit(b, penalty, y, w, lam):
    a = b.T @ (w[:, None] * b) + lam * penalty
    c = np.linalg.solve(a, b.T @ (w * y))
    hat = b @ np.linalg.solve(a, b.T * w)
    return c, hat, np.linalg.inv(a)


@pytest.mark.parametrize("degree", [3, 1])
@pytest.mark.parametrize("knots", [None, 7, "array"])
@pytest.mark.parametrize("weighted", [False, True])
def test_fixed_lam_solves_the_dense_normal_equations(degree, knots, weighted):
    rng = np.random.default_rng(degree + 2 * weighted)
    x, y = noisy(40, rng)
    x[5] = x[17]  # a tie
    w = rng.uniform(0.5, 2.0, x.size) if weighted else np.ones(x.size)
    if knots == "array":
        knots = np.r_[x.min() - 0.1, np.sort(rng.uniform(0.2, 0.8, 5)), x.max() + 0.05]
    lam = 1e-4 if degree == 3 else 1e-2
    s = q.smoothing_spline(x, y, w=w if weighted else None, lam=lam, knots=knots, degree=degree)

    if knots is None:
        breakpoints = np.unique(x)
    elif isinstance(knots, int):
        breakpoints = np.linspace(x.min(), x.max(), knots + 1)
    else:
        breakpoints = knots
    np.testing.assert_allclose(s.knots, breakpoints, rtol=0, atol=1e-15)
    b, penalty = dense_problem(x, y, w, breakpoints, degree)
    c, hat, inverse = dense_fit(b, penalty, y, w, lam)
    np.testing.assert_allclose(s.coefficients, c, rtol=1e-8, atol=1e-9)
    np.testing.assert_allclose(s(x), b @ c, rtol=1e-8, atol=1e-9)
    assert s.edf == pytest.approx(np.trace(hat), rel=1e-9)
    rss = w @ (y - b @ c) ** 2
    assert s.residual_std == pytest.approx(np.sqrt(rss / (x.size - np.trace(hat))), rel=1e-8)
    assert s.criterion_value == pytest.approx(x.size * rss / (x.size - np.trace(hat)) ** 2,
                                              rel=1e-8)
    grid = np.linspace(breakpoints[0], breakpoints[-1], 17)
    bg = BSpline.design_matrix(grid, s.to_scipy().t, degree).toarray()
    np.testing.assert_allclose(s.to_scipy().t[degree:-degree], breakpoints, rtol=0, atol=0)
    expected_std = s.residual_std * np.sqrt(np.einsum("ij,jk,ik->i", bg, inverse, bg))
    np.testing.assert_allclose(s.std(grid), expected_std, rtol=1e-8)


def test_gcv_and_reml_choices_minimise_the_dense_criteria():
    rng = np.random.default_rng(3)
    x, y = noisy(200, rng)
    w = np.ones(x.size)
    b, penalty = dense_problem(x, y, w, np.unique(x), 3)
    _, n_coef = b.shape

    def gcv(lam):
        c, hat, _ = dense_fit(b, penalty, y, w, lam)
        return x.size * np.sum((y - b @ c) ** 2) / (x.size - np.trace(hat)) ** 2

    def reml(lam):
        # -2 log of the restricted likelihood with σ² profiled out; log|P|+ is constant in lam.
        c, _, _ = dense_fit(b, penalty, y, w, lam)
        d = np.sum((y - b @ c) ** 2) + lam * c @ penalty @ c
        a = b.T @ b + lam * penalty
        return ((x.size - 2) * np.log(d) + np.linalg.slogdet(a)[1]
                - (n_coef - 2) * np.log(lam))

    for name, dense_criterion in [("gcv", gcv), ("reml", reml)]:
        s = q.smoothing_spline(x, y, criterion=name)
        assert s.criterion == name
        trial = s.lam * np.exp(np.linspace(-1.0, 1.0, 21))
        best = min(dense_criterion(lam) for lam in trial)
        assert dense_criterion(s.lam) <= best + 1e-9 * abs(best)
        if name == "gcv":
            assert s.criterion_value == pytest.approx(gcv(s.lam), rel=1e-8)
        # The fit follows the curve more closely than the noise.
        assert np.sqrt(np.mean((s(x) - truth(x)) ** 2)) < 0.05


# ---- SciPy --------------------------------------------------------------------------------------


def penalised_objective(spline, x, y, w, lam):
    """Σ w (y - f)² + lam ∫ f''² of a cubic SciPy spline, the integral by Gauss–Legendre."""
    nodes, weights = gauss_legendre(spline.t, 2)  # f''² is quadratic on every piece
    r = y - spline(x)
    return np.sum(w * r * r, dtype=np.longdouble) + lam * np.sum(
        weights * spline(nodes, 2) ** 2, dtype=np.longdouble)


@pytest.mark.parametrize("n", [1000, 5000])
@pytest.mark.parametrize("weighted", [False, True])
def test_fixed_lam_agrees_with_make_smoothing_spline(n, weighted):
    rng = np.random.default_rng(n)
    x, y = noisy(n, rng)
    order = np.argsort(x)
    x, y = x[order], y[order]
    w = rng.uniform(0.5, 2.0, n) if weighted else np.ones(n)
    lam = 1e-6
    ours = q.smoothing_spline(x, y, w=w if weighted else None, lam=lam)
    theirs = make_smoothing_spline(x, y, w=w if weighted else None, lam=lam)
    grid = np.linspace(x[0], x[-1], 3001)
    scale = np.abs(theirs(grid)).max()
    np.testing.assert_allclose(ours.to_scipy()(grid), ours(grid), rtol=0, atol=1e-12 * scale)
    # The same minimiser, up to the conditioning of the two solves; where they differ by more
    # than 1e-8, ours is the closer one (its objective is the lower).
    if np.abs(ours(grid) - theirs(grid)).max() > 1e-8 * scale:
        assert penalised_objective(ours.to_scipy(), x, y, w, lam) < penalised_objective(
            theirs, x, y, w, lam)
    assert np.abs(ours(grid) - theirs(grid)).max() < 1e-6 * scale


def test_gcv_agrees_with_make_smoothing_spline_on_an_even_grid():
    rng = np.random.default_rng(11)
    x, y = noisy(1000, rng, grid=True)
    ours = q.smoothing_spline(x, y)
    theirs = make_smoothing_spline(x, y)
    grid = np.linspace(0.0, 1.0, 2001)
    # Both choose nearly the same lam; the curves differ by far less than the noise (0.1).
    assert np.abs(ours(grid) - theirs(grid)).max() < 0.01


@pytest.mark.parametrize("criterion", ["gcv", "reml"])
def test_random_x_fits_below_the_noise(criterion):
    rng = np.random.default_rng(5)
    x, y = noisy(3000, rng)
    s = q.smoothing_spline(x, y, criterion=criterion)
    assert np.sqrt(np.mean((s(x) - truth(x)) ** 2)) < 0.03
    assert s.residual_std == pytest.approx(0.1, rel=0.05)


# ---- scale, evaluation, errors ------------------------------------------------------------------


@pytest.mark.parametrize("offset, spacing", [(1e4, 1e-3), (1e8, 1e-3), (1e4, 1e-4)])
def test_an_offset_axis_gives_the_fit_at_zero(offset, spacing):
    rng = np.random.default_rng(2)
    n = 2000
    x0 = np.arange(n) * spacing
    y = truth(x0 / x0[-1]) + rng.normal(0.0, 0.1, n)
    at_zero = q.smoothing_spline(x0, y)
    shifted = q.smoothing_spline(x0 + offset, y)
    # GCV is flat near its minimum: the search stops within 0.3 % of lam.
    assert shifted.lam == pytest.approx(at_zero.lam, rel=1e-2)
    assert np.abs(shifted(x0 + offset) - at_zero(x0)).max() < 1e-4
    # At the same lam the fits differ by the rounding of x near the offset (up to 1e-5 of the
    # spacing at 1e8), far below the noise of 0.1.
    same = q.smoothing_spline(x0 + offset, y, lam=at_zero.lam)
    assert np.abs(same(x0 + offset) - at_zero(x0)).max() < 1e-6


def test_evaluation_integral_derivative_basis_and_repr():
    rng = np.random.default_rng(8)
    x, y = noisy(300, rng)
    s = q.smoothing_spline(x, y, knots=20)
    ref = s.to_scipy()
    grid = np.linspace(-0.1, 1.1, 50)  # past the ends too
    for nu in range(4):
        np.testing.assert_allclose(s(grid, nu), ref(grid, nu), rtol=1e-9, atol=1e-9)
        np.testing.assert_allclose(s.derivative(nu)(grid), ref(grid, nu), rtol=1e-9, atol=1e-9)
    assert s.integrate(0.1, 0.7) == pytest.approx(ref.integrate(0.1, 0.7), rel=1e-12)
    inside = np.linspace(s.knots[0], s.knots[-1], 40)[:-1]
    values = q.to_scipy(q.evaluate(s.basis, inside)) @ s.coefficients
    np.testing.assert_allclose(values, s(inside), rtol=1e-12, atol=1e-12)
    assert repr(s).startswith("SmoothingSpline(n=300, degree=3, intervals=20, lam=")


def test_lam_zero_on_every_x_is_singular():
    x = np.linspace(0.0, 1.0, 10)
    with pytest.raises(SingularError, match="so use lam > 0 or fewer knots$"):
        q.smoothing_spline(x, x, lam=0.0)
    # with fewer coefficients than data, lam = 0 is a least-squares spline
    s = q.smoothing_spline(x, x**3, lam=0.0, knots=2)
    np.testing.assert_allclose(s(x), x**3, atol=1e-12)


def test_positive_lam_beyond_double_precision_names_lam_and_spacing():
    # Knots 1.2e-11 apart: a large lam's penalty swamps the data's terms in double precision.
    x = np.sort(np.random.default_rng(0).uniform(0.0, 1.0, 10_000))
    spacing = f"{np.diff(x).min():.3g}"
    with pytest.raises(SingularError, match=rf"at lam = 1000.0 the penalty of knots this close "
                                            rf"\(smallest spacing {spacing}\).*fewer knots"):
        q.smoothing_spline(x, np.sin(6.0 * x), lam=1e3)


X = np.linspace(0.0, 1.0, 8)


@pytest.mark.parametrize("kwargs, message", [
    (dict(x=np.r_[X[:3], np.nan, X[4:]]), "x must be finite, got nan at index 3"),
    (dict(y=np.r_[X[:6], np.inf, X[7]]), "y must be finite, got inf at index 6"),
    (dict(y=X[:5]), "y has 5 values, x has 8"),
    (dict(w=np.r_[np.ones(2), 0.0, np.ones(5)]), "w must be > 0, got 0.0 at index 2"),
    (dict(w=np.r_[np.ones(4), -1.0, np.ones(3)]), "w must be > 0, got -1.0 at index 4"),
    (dict(w=np.ones(3)), "w has 3 values, x has 8"),
    (dict(lam=-1.0), "lam must be finite and >= 0, got -1.0"),
    (dict(lam=np.nan), "lam must be finite and >= 0, got nan"),
    (dict(criterion="GCV"), "criterion must be 'gcv' or 'reml', got 'GCV'"),
    (dict(degree=2), "degree must be 1 or 3 (odd, at most 3), got 2"),
    (dict(x=np.r_[0.0, 1.0, 2.0, 0.0, 1.0, 2.0, 1.0, 0.0]),
     "x needs at least 4 distinct values for degree 3, got 3"),
    (dict(knots=0), "knots must be at least 1 interval, got 0"),
    (dict(knots=np.array([0.0, 0.5, 0.5, 1.0])),
     "knots must be strictly increasing, got knots[2] = 0.5 after 0.5"),
    (dict(knots=np.array([0.0, 0.5, 0.9])), "x[7] = 1.0 lies outside the knots [0.0, 0.9]"),
    (dict(x=np.ones((2, 4))), "x must be one-dimensional, got shape (2, 4)"),
])
def test_errors_name_the_argument_and_the_bad_value(kwargs, message):
    args = dict(x=X, y=X**2) | kwargs
    x, y = args.pop("x"), args.pop("y")
    assert value_error_message(q.smoothing_spline, x, y, **args) == message


def test_results_do_not_depend_on_the_thread_count():
    code = (
        "import hashlib, numpy as np, quorvel\n"
        "rng = np.random.default_rng(4)\n"
        "x = rng.uniform(0.0, 1.0, 50_000); y = np.sin(6 * x) + rng.normal(0.0, 0.1, x.size)\n"
        "for knots in (None, 400):\n"
        "    s = quorvel.smoothing_spline(x, y, knots=knots)\n"
        "    data = s.coefficients.tobytes() + s.std(x[:1000]).tobytes()\n"
        "    print(s.lam.hex(), s.edf.hex(), hashlib.sha256(data).hexdigest())\n"
    )
    one = run_python(code, OMP_NUM_THREADS=1, OPENBLAS_NUM_THREADS=1)
    assert one == run_python(code, OMP_NUM_THREADS=2, OPENBLAS_NUM_THREADS=2)
    assert len(one.splitlines()) == 2


def reinsch_fit(x, y, w, lam):
    """The cubic smoothing spline's values at sorted distinct x by Reinsch's algorithm in long
    double: second derivatives γ at the interior knots solve the pentadiagonal system
    (R + lam Qᵀ W⁻¹ Q) γ = Qᵀ y (an LDLᵀ loop), and the values are y - lam W⁻¹ Q γ."""
    ld = np.longdouble
    x, y, wi, lam = x.astype(ld), y.astype(ld), 1 / w.astype(ld), ld(lam)
    h = np.diff(x)
    q0, q2 = 1 / h[:-1], 1 / h[1:]
    q1 = -q0 - q2
    a0 = (h[:-1] + h[1:]) / 3 + lam * (q0 * q0 * wi[:-2] + q1 * q1 * wi[1:-1] + q2 * q2 * wi[2:])
    a1 = h[1:-1] / 6 + lam * (q1[:-1] * q0[1:] * wi[1:-2] + q2[:-1] * q1[1:] * wi[2:-1])
    a2 = lam * q2[:-2] * q0[2:] * wi[2:-2]
    z = list(q0 * y[:-2] + q1 * y[1:-1] + q2 * y[2:])
    m = len(z)
    d, l1, l2 = [ld(0)] * m, [ld(0)] * (m + 1), [ld(0)] * (m + 2)
    for i in range(m):  # A = L D Lᵀ, L unit lower with sub-diagonals l1, l2; forward solve
        d[i] = a0[i] - l1[i - 1] ** 2 * d[i - 1] - l2[i - 2] ** 2 * d[i - 2]
        if i + 1 < m:
            l1[i] = (a1[i] - l2[i - 1] * l1[i - 1] * d[i - 1]) / d[i]
        if i + 2 < m:
            l2[i] = a2[i] / d[i]
        z[i] -= l1[i - 1] * z[i - 1] + l2[i - 2] * z[i - 2]
    g = [ld(0)] * (m + 2)
    for i in reversed(range(m)):
        g[i] = z[i] / d[i] - l1[i] * g[i + 1] - l2[i] * g[i + 2]
    g = np.array(g[:m], dtype=ld)
    qg = np.zeros(x.size, dtype=ld)
    qg[:-2] += q0 * g
    qg[1:-1] += q1 * g
    qg[2:] += q2 * g
    return (y - lam * wi * qg).astype(np.float64)


@pytest.mark.parametrize("lam", [1e-6, 1e-4])
def test_many_knots_match_the_reinsch_values(lam):
    # With a knot at each of 10,000 points the entries of lam P exceed those of BᵀWB by up to
    # 1e11, and a single banded solve keeps few digits; the values must still match the
    # value-space formulation solved in long double.
    rng = np.random.default_rng(21)
    x = np.sort(rng.uniform(0.0, 1.0, 10_000))
    y = truth(x) + rng.normal(0.0, 0.1, x.size)
    w = rng.uniform(0.5, 2.0, x.size)
    s = q.smoothing_spline(x, y, w=w, lam=lam)
    np.testing.assert_allclose(s(x), reinsch_fit(x, y, w, lam), rtol=0, atol=1e-7)
