"""Line fitting: measure_derivatives, LineModel and fit_lines."""

import numpy as np
import pytest
from scipy.special import erf, voigt_profile

import quorvel
from helpers import dense, run_python

S = quorvel.Space


# ---- measure_derivatives ------------------------------------------------------------------------

KERNELS = {
    "voigt": (lambda: S.voigts(np.array([0.1, 1.3, 2.2]), np.array([0.2, 0.3, 0.1]),
                               np.array([0.1, 0.05, 0.3]), 12.0),
              ["center", "sigma", "gamma", "scale"]),
    # gamma >= 7 sigma sqrt 2: the asymptotic expansion serves the whole line.
    "voigt_wide": (lambda: S.voigts(np.array([0.5]), np.array([0.01]), np.array([0.2]), 10.0),
                   ["gamma", "center", "sigma"]),
    "gaussian": (lambda: S.gaussians(np.array([0.4, 1.7]), np.array([0.3, 0.2]), 5.0),
                 ["sigma", "scale", "center"]),
    "pseudo_voigt": (lambda: S.pseudo_voigts(np.array([0.5, 1.5]), np.array([0.2, 0.4]),
                                             np.array([0.3, 0.8]), 10.0), ["eta", "scale"]),
    "boxes": (lambda: S.boxes(np.array([0.0, 0.7, 1.6, 2.0])), ["scale", "center"]),
}
BASES = {
    "fts": lambda: S.fts(np.linspace(-1.0, 3.0, 41), np.full(41, 5.0), 8.0,
                         apodization="norton_beer_medium"),
    "boxes": lambda: S.boxes(np.linspace(-1.0, 3.0, 21)),
    "deltas": lambda: S.deltas(np.linspace(-1.0, 3.0, 17)),
}


@pytest.mark.parametrize("kernels", KERNELS)
@pytest.mark.parametrize("basis", BASES)
@pytest.mark.parametrize("normalization", ["integral", "rowsum", "none"])
@pytest.mark.parametrize("weight", [None, 0.9])
def test_derivatives_are_bitwise_those_of_single_calls(kernels, basis, normalization, weight):
    k, parameters = KERNELS[kernels][0](), KERNELS[kernels][1]
    b = BASES[basis]()
    result = quorvel.measure_derivatives(k, b, normalization, parameters, weight)
    assert len(result) == 1 + len(parameters)
    for m in result[1:]:
        np.testing.assert_array_equal(m[0], result[0][0])
        np.testing.assert_array_equal(m[1], result[0][1])
    for p, got in zip(parameters, result[1:]):
        w, dw = quorvel.measure_derivative(k, b, normalization, p, weight)
        # Exact equality of every entry (a stored zero equals an absent entry).
        assert np.array_equal(dense(result[0]), dense(w))
        assert np.array_equal(dense(got), dense(dw))


THREAD_SCRIPT = """
import hashlib, numpy as np, quorvel
S = quorvel.Space
k = S.voigts(np.linspace(0.0, 3.0, 16), np.full(16, 0.05), np.full(16, 0.03), 20.0)
b = S.fts(np.linspace(-1.0, 4.0, 120), np.full(120, 20.0), 8.0, apodization="hann")
out = quorvel.measure_derivatives(k, b, "integral", ["center", "sigma", "gamma"])
print(hashlib.sha256(b"".join(a.tobytes() for m in out for a in m[:3])).hexdigest())
"""


def test_derivatives_do_not_depend_on_the_thread_count():
    one = run_python(THREAD_SCRIPT, OMP_NUM_THREADS=1)
    assert run_python(THREAD_SCRIPT, OMP_NUM_THREADS=3) == one


def test_no_parameters_give_measure():
    k, b = KERNELS["voigt"][0](), BASES["fts"]()
    (w,) = quorvel.measure_derivatives(k, b, "integral", [])
    assert np.array_equal(dense(w), dense(quorvel.measure(k, b, "integral")))


@pytest.mark.parametrize("parameters, message", [
    (["center", "sigma", "center"], "parameter Center is given twice"),
    (["center", "Sigma"], 'unknown parameter "Sigma"'),
    (["center", "eta"], "Voigt { sigma: 0.2, gamma: 0.1, inv_peak: "),
])
def test_derivatives_errors(parameters, message):
    k = S.voigts(np.array([0.0]), np.array([0.2]), np.array([0.1]), 10.0)
    with pytest.raises(ValueError) as e:
        quorvel.measure_derivatives(k, S.boxes(np.linspace(-1, 1, 5)), "none", parameters)
    assert str(e.value).startswith(message)


# ---- LineModel against independent references ---------------------------------------------------


def test_gaussian_lines_through_pixels_are_pixel_averages():
    edges = np.linspace(-1.0, 2.0, 31)
    model = quorvel.LineModel("gaussian", S.boxes(edges), cutoff=30.0)
    a, c, s = np.array([1.0, 0.4]), np.array([0.3, 1.1]), np.array([0.1, 0.25])
    y = model({"amplitude": a, "center": c, "sigma": s})
    # Average of a * exp(-(x - c)^2 / 2 s^2) over each pixel, by erf.
    z = (edges[:, None] - c) / (s * np.sqrt(2.0))
    area = a * s * np.sqrt(np.pi / 2.0) * np.diff(erf(z), axis=0)
    np.testing.assert_allclose(y, area.sum(axis=1) / np.diff(edges), rtol=1e-12, atol=1e-15)
    counts = quorvel.LineModel("gaussian", S.boxes(edges), 30.0, sample="integral")
    np.testing.assert_allclose(counts({"amplitude": a, "center": c, "sigma": s}),
                               area.sum(axis=1), rtol=1e-12, atol=1e-15)


def test_gaussian_line_through_gaussian_instrument_is_a_convolution():
    x, tau = np.linspace(-1.0, 1.0, 41), 0.08
    model = quorvel.LineModel("gaussian", S.gaussians(x, np.full(41, tau), 12.0), 12.0)
    y = model({"amplitude": [2.0], "center": [0.05], "sigma": [0.1]})
    v = 0.1**2 + tau**2
    np.testing.assert_allclose(y, 2.0 * 0.1 / np.sqrt(v) * np.exp(-(x - 0.05) ** 2 / (2 * v)),
                               rtol=1e-9, atol=1e-14)


def fts(n=400, start=1999.0, step=0.01, cutoff=40.0):
    centres = start + step * np.arange(n)
    return S.fts(centres, np.full(n, 0.5 / step), cutoff, apodization="norton_beer_medium")


INSTRUMENTS = {
    "fts": fts,
    "boxes": lambda: S.boxes(1999.0 + 0.01 * np.arange(401)),
    "gaussians": lambda: S.gaussians(1999.0 + 0.01 * np.arange(400), np.full(400, 0.006), 8.0),
}
LINES = {
    "voigt": {"amplitude": [1.0, 0.6], "center": [2000.0, 2000.03], "sigma": [0.006, 0.008],
              "gamma": [0.004, 0.002]},
    "gaussian": {"amplitude": [1.0, 0.6], "center": [2000.0, 2000.03], "sigma": [0.006, 0.01]},
    "lorentzian": {"amplitude": [1.0, 0.6], "center": [2000.0, 2000.03], "gamma": [0.005, 0.01]},
    "pseudo_voigt": {"amplitude": [1.0, 0.6], "center": [2000.0, 2000.03], "hwhm": [0.007, 0.01],
                     "eta": [0.3, 0.6]},
}
CASES = [(i, "voigt") for i in INSTRUMENTS] + [("fts", k) for k in LINES if k != "voigt"]


@pytest.mark.parametrize("instrument, kind", CASES)
def test_jacobian_matches_central_differences(instrument, kind):
    model = quorvel.LineModel(kind, INSTRUMENTS[instrument](), cutoff=60.0)
    p = {n: np.array(v) for n, v in LINES[kind].items()}
    jac = model.jacobian(p)
    assert jac.shape == (model.n_samples, 2 * len(model.parameter_names))
    columns = []
    for i in range(2):
        for name in model.parameter_names:
            # Steps exact in binary at the value: the center sits near 2000.
            h = {"amplitude": 2.0**-20, "eta": 2.0**-20, "center": 2.0**-20}.get(name, 2.0**-30)
            up = {n: v.copy() for n, v in p.items()}
            down = {n: v.copy() for n, v in p.items()}
            up[name][i] += h
            down[name][i] -= h
            columns.append((model(up) - model(down)) / (2 * h))
    numeric = np.stack(columns, axis=1)
    scale = np.abs(numeric).max(axis=0)
    assert np.all(np.abs(jac - numeric).max(axis=0) <= 1e-6 * scale)


def test_fixed_parameters_and_baseline_columns():
    base = S.bsplines_clamped(np.linspace(1999.0, 2003.0, 3), 1)
    model = quorvel.LineModel("voigt", fts(), cutoff=60.0, baseline=base)
    p = {n: np.array(v) for n, v in LINES["voigt"].items()}
    full = model.jacobian(p)
    part = model.jacobian(p, fixed={"gamma": True, "sigma": [True, False]})
    keep = [j for j in range(8) if j not in (2, 3, 7)] + list(range(8, 8 + len(base)))
    np.testing.assert_array_equal(part, full[:, keep])
    # Baseline columns: the instrument's averages of the baseline elements.
    c = np.array([0.2, -0.1, 0.3])
    np.testing.assert_allclose(model(p, c) - model(p), full[:, 8:] @ c, atol=1e-14)


# ---- fitting -----------------------------------------------------------------------------------


def test_fit_agrees_with_lmfit_through_point_samples():
    lmfit = pytest.importorskip("lmfit")
    x = np.linspace(-2.0, 2.0, 201)
    truth = {"amplitude": [1.0, 0.5], "center": [-0.2, 0.3], "sigma": [0.15, 0.1],
             "gamma": [0.1, 0.12]}
    model = quorvel.LineModel("voigt", S.deltas(x), cutoff=2000.0)
    data = model(truth) + np.random.default_rng(3).normal(0.0, 0.01, x.size)
    p0 = {"amplitude": [0.8, 0.6], "center": [-0.25, 0.35], "sigma": [0.1, 0.1],
          "gamma": [0.1, 0.1]}
    res = quorvel.fit_lines(model, data, p0)
    peer = lmfit.models.VoigtModel(prefix="a_") + lmfit.models.VoigtModel(prefix="b_")
    params = peer.make_params()
    for i, pre in enumerate(("a_", "b_")):
        params[pre + "amplitude"].set(value=0.1)
        params[pre + "center"].set(value=p0["center"][i])
        params[pre + "sigma"].set(value=0.1, min=0)
        params[pre + "gamma"].set(value=0.1, min=0, vary=True, expr="")
    out = peer.fit(data, params, x=x)
    for i, pre in enumerate(("a_", "b_")):
        s, g = out.params[pre + "sigma"].value, out.params[pre + "gamma"].value
        height = out.params[pre + "amplitude"].value * voigt_profile(0.0, s, g)
        got = {"amplitude": height, "center": out.params[pre + "center"].value, "sigma": s,
               "gamma": g}
        for name, value in got.items():
            assert abs(res.params[name][i] - value) < 0.02 * res.stderr[name][i]
        for name in ("center", "sigma", "gamma"):
            np.testing.assert_allclose(res.stderr[name][i], out.params[pre + name].stderr,
                                       rtol=0.05)


def test_coverage_of_standard_errors_on_fts():
    # 50 noise realisations of two overlapping Voigt lines through an FTS instrument. The spread
    # of 50 draws has a sampling error near 10 % per parameter, so the spread is compared with
    # the standard errors pooled over all parameters: z = (fitted - true) / stderr has unit RMS.
    model = quorvel.LineModel("voigt", fts(n=80, start=1999.8, cutoff=10.0), cutoff=20.0)
    truth = {n: np.array(v) for n, v in LINES["voigt"].items()}
    p0 = {"amplitude": [0.9, 0.7], "center": [2000.002, 2000.028], "sigma": [0.007, 0.007],
          "gamma": [0.003, 0.003]}
    clean = model(truth)
    z = []
    for seed in range(50):
        data = clean + np.random.default_rng(seed).normal(0.0, 0.01, clean.size)
        res = quorvel.fit_lines(model, data, p0, sigma=0.01)
        assert res.success
        z.append((model._flat(res.params) - model._flat(truth)) / model._flat(res.stderr))
    z = np.array(z)
    assert np.all(np.abs(z) < 4.0)
    assert abs(np.sqrt(np.mean(z**2)) - 1.0) < 0.2


def test_fit_with_baseline_and_report():
    base = S.bsplines_clamped(np.linspace(1999.0, 2003.0, 3), 1)
    model = quorvel.LineModel("gaussian", fts(), cutoff=60.0, baseline=base)
    truth = {n: np.array(v) for n, v in LINES["gaussian"].items()}
    coefficients = np.array([0.05, 0.1, -0.02])
    data = model(truth, coefficients) + np.random.default_rng(0).normal(0.0, 0.005, 400)
    p0 = {"amplitude": [0.8, 0.8], "center": [1999.995, 2000.035], "sigma": [0.008, 0.008]}
    res = quorvel.fit_lines(model, data, p0, fixed=["center"])
    assert np.array_equal(res.params["center"], p0["center"])
    assert np.all(res.stderr["center"] == 0)
    assert np.all(np.abs(res.baseline - coefficients) < 5 * res.baseline_stderr)
    assert res.covariance.shape == (4 + 3, 4 + 3)
    np.testing.assert_allclose(np.diag(res.correlation), 1.0)
    text = res.report()
    assert "sigma[1]:" in text and "center[0]:" in text and "(fixed)" in text
    assert "baseline[2]:" in text and "[[Correlations]]" in text


# ---- errors -------------------------------------------------------------------------------------


def test_model_errors():
    pixels = S.boxes(np.linspace(0.0, 1.0, 11))
    with pytest.raises(ValueError, match="unknown line kind 'voight'"):
        quorvel.LineModel("voight", pixels)
    model = quorvel.LineModel("gaussian", pixels, cutoff=5.0)
    good = {"amplitude": [1.0], "center": [0.5], "sigma": [0.1]}
    with pytest.raises(ValueError, match="unknown parameter 'gamma' in params"):
        model({**good, "gamma": [0.1]})
    with pytest.raises(ValueError, match="params has no 'sigma'"):
        model({"amplitude": [1.0], "center": [0.5]})
    with pytest.raises(ValueError, match=r"params\['sigma'\] has 2 values"):
        model({**good, "sigma": [0.1, 0.2]})
    with pytest.raises(ValueError, match=r"params\['sigma'\] must be > 0 \(a width\)"):
        model({**good, "sigma": [0.0]})
    with pytest.raises(ValueError, match="line 0 .* meets no instrument element"):
        model({**good, "center": [3.0]})
    with pytest.raises(ValueError, match=r"p0\['sigma'\]\[0\] = 0.1 is outside its bounds"):
        quorvel.fit_lines(model, np.zeros(10), good, bounds={"sigma": (0.2, 1.0)})
    with pytest.raises(ValueError, match="unknown parameter 'width' in fixed"):
        quorvel.fit_lines(model, np.zeros(10), good, fixed="width")
    with pytest.raises(ValueError, match=r"data must have shape \(10,\)"):
        quorvel.fit_lines(model, np.zeros(9), good)
    structured = np.array([(1.0, 0.5, 0.1)],
                          dtype=[("amplitude", float), ("center", float), ("sigma", float)])
    np.testing.assert_array_equal(model(structured), model(good))
