"""Spectral lines seen through an instrument: a model with exact Jacobians, and its fit.

A `LineModel` predicts the samples of an instrument (one `Space` element per sample: FTS line
shapes, boxes for detector pixels, Gaussians for a grating) for a spectrum made of line shapes
(Gaussian, Lorentzian, Voigt, pseudo-Voigt) plus an optional linear baseline. Sample ``s`` is the
average of the spectrum ``S`` weighted by instrument element ``e_s``::

    y_s = ∫ e_s(x) S(x) dx / ∫ e_s(x) dx

(or the plain integral ``∫ e_s S dx`` with ``sample="integral"``). The lines are the kernels of
one `measure_derivatives` call and the instrument elements its basis, so the model and its
Jacobian with respect to every line parameter come from one pass over the line-sample pairs.
`fit_lines` runs `scipy.optimize.least_squares` on it and returns named values with standard
errors, covariance and a report.
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from . import _quorvel

__all__ = ["LineModel", "LineFit", "fit_lines"]

# For each kind: the width parameters after amplitude and center, the Space constructor, and the
# measure_derivatives parameter behind each width ("scale" is a stretch about the center, so
# d/d(hwhm) = d/d(scale) / hwhm).
_KINDS: dict[str, tuple[tuple[str, ...], str, tuple[str, ...]]] = {
    "gaussian": (("sigma",), "gaussians", ("sigma",)),
    "lorentzian": (("gamma",), "lorentzians", ("gamma",)),
    "voigt": (("sigma", "gamma"), "voigts", ("sigma", "gamma")),
    "pseudo_voigt": (("hwhm", "eta"), "pseudo_voigts", ("scale", "eta")),
}
_SAMPLES = ("average", "integral")
_WIDTHS = ("sigma", "gamma", "hwhm")
_DEFAULT_BOUNDS = {"sigma": (0.0, np.inf), "gamma": (0.0, np.inf), "hwhm": (0.0, np.inf),
                   "eta": (0.0, 1.0)}


def _quoted(names: Iterable[str]) -> str:
    return ", ".join(repr(n) for n in names)


class LineModel:
    """Samples of an instrument for a spectrum of lines, with the exact Jacobian.

    Parameters
    ----------
    kind : {"gaussian", "lorentzian", "voigt", "pseudo_voigt"}
        The line shape. Lines are unit-peak, so ``amplitude`` is the peak value of a line.
        Parameters per line (`parameter_names`): ``amplitude``, ``center`` and
        ``sigma`` (Gaussian), ``gamma`` (Lorentzian half width), ``sigma`` and ``gamma``
        (Voigt), ``hwhm`` and ``eta`` (pseudo-Voigt, ``eta`` the Lorentzian fraction).
    instrument : Space
        One element per sample: the instrument line shape, pixel or slit function of that
        sample (for example `Space.fts`, `Space.boxes`, `Space.gaussians`).
    cutoff : float
        Support of each line, in the units of its constructor (standard deviations for
        Gaussians, half widths otherwise); the line is 0 beyond it.
    baseline : Space, optional
        A linear baseline ``sum_k c_k b_k(x)`` seen through the same instrument (for example a
        few `Space.bsplines_clamped` or `Space.harmonics`); its coefficients are fitted with the
        lines.
    sample : {"average", "integral"}
        ``"average"`` (default): a sample is the instrument element's weighted average of the
        spectrum, ``∫ e_s S dx / ∫ e_s dx``, so a flat spectrum of 1 gives samples of 1 whatever
        the element's scale. ``"integral"``: the plain ``∫ e_s S dx`` (counts of a pixel whose
        box has height 1, for example).

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> pixels = quorvel.Space.boxes(np.linspace(-2.0, 2.0, 81))
    >>> model = quorvel.LineModel("gaussian", pixels, cutoff=8.0)
    >>> p = {"amplitude": [1.0], "center": [0.1], "sigma": [0.3]}
    >>> y = model(p)
    >>> J = model.jacobian(p)
    >>> y.shape, J.shape
    ((80,), (80, 3))
    """

    def __init__(self, kind: str, instrument: _quorvel.Space, cutoff: float = 100.0,
                 baseline: _quorvel.Space | None = None, sample: str = "average") -> None:
        if kind not in _KINDS:
            raise ValueError(f"unknown line kind {kind!r}; expected one of {_quoted(_KINDS)}")
        if not isinstance(instrument, _quorvel.Space):
            raise TypeError(f"instrument must be a Space, got {type(instrument).__name__}")
        if baseline is not None and not isinstance(baseline, _quorvel.Space):
            raise TypeError(f"baseline must be a Space or None, got {type(baseline).__name__}")
        if sample not in _SAMPLES:
            raise ValueError(f"unknown sample {sample!r}; expected one of {_quoted(_SAMPLES)}")
        cutoff = float(cutoff)
        if not (0.0 < cutoff < np.inf):
            raise ValueError(f"cutoff must be finite and > 0, got {cutoff}")
        if len(instrument) == 0:
            raise ValueError("instrument has no elements")
        self.kind = kind
        self.instrument = instrument
        self.cutoff = cutoff
        self.sample = sample
        widths, self._constructor, self._derivatives = _KINDS[kind]
        self.parameter_names: tuple[str, ...] = ("amplitude", "center", *widths)
        if sample == "average":
            norm = np.asarray(instrument.integrals())
            bad = np.flatnonzero(~(np.isfinite(norm) & (norm != 0.0)))
            if bad.size:
                raise ValueError(f"instrument element {bad[0]} has integral {norm[bad[0]]}: "
                                 "its average is undefined (use sample='integral')")
        else:
            norm = np.ones(len(instrument))
        self._scale = 1.0 / norm
        self.baseline = baseline
        self._baseline_matrix = None
        if baseline is not None:
            from ._scipy import to_scipy

            b = to_scipy(_quorvel.measure(instrument, baseline, "none")).toarray()
            self._baseline_matrix = b * self._scale[:, None]

    @property
    def n_samples(self) -> int:
        return len(self.instrument)

    @property
    def n_baseline(self) -> int:
        return 0 if self.baseline is None else len(self.baseline)

    def __repr__(self) -> str:
        base = "" if self.baseline is None else f", baseline of {self.n_baseline}"
        return (f"LineModel({self.kind!r}, {self.n_samples} samples, cutoff={self.cutoff}"
                f"{base}, sample={self.sample!r})")

    # ---- parameters ---------------------------------------------------------------------------

    def _values(self, params: Any, what: str = "params") -> dict[str, np.ndarray]:
        """The parameters as a dict of equal-length 1-D float64 arrays, checked by name."""
        if isinstance(params, np.ndarray) and params.dtype.names is not None:
            params = {n: params[n] for n in params.dtype.names}
        if not isinstance(params, Mapping):
            raise TypeError(f"{what} must be a mapping from parameter name to values, or a "
                            f"structured array, got {type(params).__name__}")
        for name in params:
            if name not in self.parameter_names:
                raise ValueError(f"unknown parameter {name!r} in {what} for {self.kind} lines; "
                                 f"expected {_quoted(self.parameter_names)}")
        values: dict[str, np.ndarray] = {}
        for name in self.parameter_names:
            if name not in params:
                raise ValueError(f"{what} has no {name!r}; {self.kind} lines need "
                                 f"{_quoted(self.parameter_names)}")
            v = np.asarray(params[name], dtype=np.float64)
            if v.ndim != 1:
                raise ValueError(f"{what}[{name!r}] must be one-dimensional (one value per "
                                 f"line), got shape {v.shape}")
            first = self.parameter_names[0]
            if values and v.shape != values[first].shape:
                raise ValueError(f"{what}[{name!r}] has {v.size} values, {what}[{first!r}] "
                                 f"has {values[first].size}: give one value per line for each")
            if not np.all(np.isfinite(v)):
                raise ValueError(f"{what}[{name!r}] must be finite, got {v.tolist()}")
            if name in _WIDTHS and not np.all(v > 0.0):
                raise ValueError(f"{what}[{name!r}] must be > 0 (a width), got {v.tolist()}")
            values[name] = v
        return values

    def _coefficients(self, baseline: Any) -> np.ndarray:
        if self.baseline is None:
            if baseline is not None:
                raise ValueError("baseline coefficients given, but the model has no baseline")
            return np.zeros(0)
        c = np.zeros(self.n_baseline) if baseline is None else np.asarray(baseline, np.float64)
        if c.shape != (self.n_baseline,):
            raise ValueError(f"baseline must have shape ({self.n_baseline},), got {c.shape}")
        return c

    def lines(self, params: Any) -> _quorvel.Space:
        """The lines of ``params`` as a `Space` of unit-peak line shapes."""
        return self._lines(self._values(params))

    def _lines(self, p: dict[str, np.ndarray]) -> _quorvel.Space:
        build = getattr(_quorvel.Space, self._constructor)
        return build(p["center"], *(p[n] for n in self.parameter_names[2:]), self.cutoff)

    # ---- evaluation ---------------------------------------------------------------------------

    def _measure(self, p: dict[str, np.ndarray], derivatives: bool) -> tuple:
        names: Any = ("center", *self._derivatives) if derivatives else ()
        return _quorvel.measure_derivatives(self._lines(p), self.instrument, "none", names)

    def _check_reach(self, p: dict[str, np.ndarray], indptr: np.ndarray) -> None:
        empty = np.flatnonzero(np.diff(indptr) == 0)
        if empty.size:
            i = empty[0]
            raise ValueError(f"line {i} (center {p['center'][i]}) meets no instrument element: "
                             "its support misses every sample")

    def _predict(self, p: dict[str, np.ndarray], c: np.ndarray, matrices: tuple) -> np.ndarray:
        indptr, indices, data, _ = matrices[0]
        rows = np.repeat(np.arange(len(indptr) - 1), np.diff(indptr))
        y = self._scale * np.bincount(indices, weights=p["amplitude"][rows] * data,
                                      minlength=self.n_samples)
        if self._baseline_matrix is not None:
            y += self._baseline_matrix @ c
        return y

    def _jacobian(self, p: dict[str, np.ndarray], free: np.ndarray,
                  matrices: tuple) -> np.ndarray:
        """Columns of the free line parameters (line by line, in parameter_names order), then
        the baseline's."""
        n_lines, n_par = p["amplitude"].size, len(self.parameter_names)
        column = np.full(n_lines * n_par, -1)
        column[free] = np.arange(np.count_nonzero(free))
        n_free = int(np.count_nonzero(free))
        jac = np.zeros((self.n_samples, n_free + self.n_baseline))
        indptr, indices, w, _ = matrices[0]
        rows = np.repeat(np.arange(n_lines), np.diff(indptr))
        scale = self._scale[indices]
        amplitude = p["amplitude"][rows]
        for k, name in enumerate(self.parameter_names):
            col = column[rows * n_par + k]
            keep = col >= 0
            if not keep.any():
                continue
            if k == 0:
                values = w * scale
            else:
                values = amplitude * matrices[k][2] * scale
                if k >= 2 and self._derivatives[k - 2] == "scale":
                    values = values / p[name][rows]
            jac[indices[keep], col[keep]] = values[keep]
        if self._baseline_matrix is not None:
            jac[:, n_free:] = self._baseline_matrix
        return jac

    def __call__(self, params: Any, baseline: Any = None) -> np.ndarray:
        """The predicted samples, shape ``(n_samples,)``.

        ``baseline`` holds the baseline coefficients (zeros when None).
        """
        p = self._values(params)
        c = self._coefficients(baseline)
        matrices = self._measure(p, derivatives=False)
        self._check_reach(p, matrices[0][0])
        return self._predict(p, c, matrices)

    def jacobian(self, params: Any, fixed: Any = None) -> np.ndarray:
        """The exact Jacobian of the samples, shape ``(n_samples, n_free)``.

        Columns are ordered line by line, the parameters of a line in `parameter_names` order,
        without the fixed ones (``fixed`` as in `fit_lines`); the baseline coefficients, if
        any, come last.
        """
        p = self._values(params)
        free = ~self._fixed_mask(fixed, p["amplitude"].size)
        matrices = self._measure(p, derivatives=True)
        self._check_reach(p, matrices[0][0])
        return self._jacobian(p, free, matrices)

    def spectrum(self, params: Any, x: Any, baseline: Any = None) -> np.ndarray:
        """The spectrum itself (lines and baseline, not seen through the instrument) at ``x``."""
        p = self._values(params)
        c = self._coefficients(baseline)
        x = np.ascontiguousarray(x, dtype=np.float64)
        indptr, indices, data, _ = _quorvel.evaluate(self._lines(p), x)
        rows = np.repeat(np.arange(x.size), np.diff(indptr))
        s = np.bincount(rows, weights=data * p["amplitude"][indices], minlength=x.size)
        if self.baseline is not None:
            indptr, indices, data, _ = _quorvel.evaluate(self.baseline, x)
            rows = np.repeat(np.arange(x.size), np.diff(indptr))
            s += np.bincount(rows, weights=data * c[indices], minlength=x.size)
        return s

    # ---- flat vectors -------------------------------------------------------------------------

    def _fixed_mask(self, fixed: Any, n_lines: int) -> np.ndarray:
        """Fixed flags of the line parameters, flattened line by line."""
        mask = np.zeros((n_lines, len(self.parameter_names)), dtype=bool)
        if fixed is None:
            return mask.ravel()
        if isinstance(fixed, str):
            fixed = [fixed]
        items = fixed.items() if isinstance(fixed, Mapping) else ((n, True) for n in fixed)
        for name, flag in items:
            if name not in self.parameter_names:
                raise ValueError(f"unknown parameter {name!r} in fixed for {self.kind} lines; "
                                 f"expected {_quoted(self.parameter_names)}")
            flags = np.asarray(flag, dtype=bool)
            if flags.ndim > 1 or (flags.ndim == 1 and flags.size != n_lines):
                raise ValueError(f"fixed[{name!r}] must be a bool or one bool per line "
                                 f"({n_lines}), got shape {flags.shape}")
            mask[:, self.parameter_names.index(name)] = flags
        return mask.ravel()

    def _flat(self, p: dict[str, np.ndarray]) -> np.ndarray:
        return np.stack([p[n] for n in self.parameter_names], axis=1).ravel()

    def _unflat(self, x: np.ndarray) -> dict[str, np.ndarray]:
        table = x.reshape(-1, len(self.parameter_names))
        return {n: table[:, k].copy() for k, n in enumerate(self.parameter_names)}


@dataclass
class LineFit:
    """The result of `fit_lines`.

    Attributes
    ----------
    params, stderr : dict of str to ndarray
        Fitted values and standard errors by parameter name, one entry per line (standard
        error 0 for a fixed parameter).
    baseline, baseline_stderr : ndarray or None
        Baseline coefficients and their standard errors.
    covariance, correlation : ndarray, shape (n_free, n_free)
        Of the free parameters, in the column order of `LineModel.jacobian`.
    chisqr, redchi : float
        Sum of squared (weighted) residuals, and that over ``ndata - nfree``.
    residual : ndarray
        ``(model - data) / sigma`` at the solution.
    best_fit : ndarray
        The model's samples at the solution.
    nfev, njev : int
        Model and Jacobian evaluations.
    success, message, status
        As `scipy.optimize.least_squares` reports them.
    """

    model: LineModel
    params: dict[str, np.ndarray]
    stderr: dict[str, np.ndarray]
    baseline: np.ndarray | None
    baseline_stderr: np.ndarray | None
    init: dict[str, np.ndarray]
    covariance: np.ndarray
    correlation: np.ndarray
    chisqr: float
    redchi: float
    residual: np.ndarray
    best_fit: np.ndarray
    ndata: int
    nfree: int
    nfev: int
    njev: int
    success: bool
    message: str
    status: int
    scaled: bool
    free_names: list[str] = field(repr=False)

    def report(self, min_correl: float = 0.1) -> str:
        """A text report: fit statistics, values with standard errors, correlations."""
        m = self.model
        out = ["[[Model]]", f"    {m!r}",
               "[[Fit Statistics]]",
               "    # fitting method   = least_squares (trf), exact Jacobian",
               f"    # function evals   = {self.nfev}",
               f"    # Jacobian evals   = {self.njev}",
               f"    # data points      = {self.ndata}",
               f"    # variables        = {self.nfree}",
               f"    chi-square         = {self.chisqr:.6g}",
               f"    reduced chi-square = {self.redchi:.6g}",
               f"    success            = {self.success} ({self.message})",
               "[[Variables]]"]
        rows = []
        n_lines = self.params["amplitude"].size
        for i in range(n_lines):
            for name in m.parameter_names:
                rows.append((f"{name}[{i}]", self.params[name][i], self.stderr[name][i],
                             self.init[name][i], f"{name}[{i}]" in self.free_names))
        if self.baseline is not None and self.baseline_stderr is not None:
            for k, (v, e) in enumerate(zip(self.baseline, self.baseline_stderr)):
                rows.append((f"baseline[{k}]", v, e, None, True))
        width = max(len(r[0]) for r in rows) + 1
        for label, value, err, init, free in rows:
            text = f"    {label + ':':<{width}} {value: .8g}"
            if not free:
                text += " (fixed)"
            elif np.isfinite(err):
                rel = f" ({abs(err / value):.2%})" if value != 0 else ""
                text += f" +/- {err:.4g}{rel}"
            if init is not None and free:
                text += f" (init = {init:.6g})"
            out.append(text)
        pairs = []
        n = len(self.free_names)
        for a in range(n):
            for b in range(a + 1, n):
                c = self.correlation[a, b]
                if abs(c) >= min_correl:
                    pairs.append((abs(c), self.free_names[a], self.free_names[b], c))
        if pairs:
            out.append(f"[[Correlations]] (unreported correlations are < {min_correl:.3f})")
            for _, first, second, value in sorted(pairs, key=lambda t: -t[0]):
                out.append(f"    C({first}, {second}) = {value:+.4f}")
        if not self.scaled:
            out.append("    (standard errors from the given sigma, not rescaled by chi-square)")
        return "\n".join(out)


def _bounds(model: LineModel, bounds: Any, n_lines: int) -> tuple[np.ndarray, np.ndarray]:
    """Lower and upper bounds of the line parameters, flattened line by line."""
    n_par = len(model.parameter_names)
    lower = np.full((n_lines, n_par), -np.inf)
    upper = np.full((n_lines, n_par), np.inf)
    given = dict(bounds or {})
    for name in given:
        if name not in model.parameter_names:
            raise ValueError(f"unknown parameter {name!r} in bounds for {model.kind} lines; "
                             f"expected {_quoted(model.parameter_names)}")
    for k, name in enumerate(model.parameter_names):
        lo, hi = given.get(name, _DEFAULT_BOUNDS.get(name, (-np.inf, np.inf)))
        lower[:, k] = np.broadcast_to(np.asarray(lo, dtype=np.float64), (n_lines,))
        upper[:, k] = np.broadcast_to(np.asarray(hi, dtype=np.float64), (n_lines,))
    return lower.ravel(), upper.ravel()


def fit_lines(model: LineModel, data: Any, p0: Any, sigma: Any = None, bounds: Any = None,
              fixed: Any = None, baseline0: Any = None, **options: Any) -> LineFit:
    """Fit the lines (and baseline) of ``model`` to the samples ``data``.

    Runs `scipy.optimize.least_squares` (trust-region reflective, ``x_scale="jac"``) with the
    exact Jacobian of `LineModel.jacobian`; one `measure_derivatives` call per accepted point
    gives both the residuals and the Jacobian.

    Parameters
    ----------
    model : LineModel
    data : array_like, shape (n_samples,)
        Measured samples, one per instrument element.
    p0 : mapping or structured array
        Starting values by parameter name, one value per line (the number of lines is theirs).
    sigma : float or array_like, optional
        Standard deviation of the data. When given, residuals are weighted by ``1 / sigma``
        and the covariance is ``(Jᵀ J)⁻¹`` of the weighted Jacobian; when not, the covariance
        is scaled by the residual variance ``chisqr / (ndata - nfree)``.
    bounds : mapping, optional
        ``{name: (lower, upper)}``, each a number or one per line. Widths default to
        ``(0, inf)``, ``eta`` to ``(0, 1)``, everything else is unbounded.
    fixed : str, sequence of str or mapping, optional
        Names of parameters held at their ``p0`` values for every line, or
        ``{name: flags}`` with a bool or one bool per line.
    baseline0 : array_like, optional
        Starting baseline coefficients (zeros by default).
    **options
        Passed on to `scipy.optimize.least_squares` (``ftol``, ``xtol``, ``max_nfev``, ...).

    Returns
    -------
    LineFit

    Raises
    ------
    ValueError
        An unknown or missing parameter name, values of the wrong shape, ``p0`` outside
        ``bounds``, a line whose support misses every sample, or data of the wrong shape.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> pixels = quorvel.Space.boxes(np.linspace(-2.0, 2.0, 81))
    >>> model = quorvel.LineModel("gaussian", pixels, cutoff=8.0)
    >>> truth = {"amplitude": [1.0], "center": [0.1], "sigma": [0.3]}
    >>> data = model(truth) + np.random.default_rng(0).normal(0.0, 0.01, 80)
    >>> res = quorvel.fit_lines(model, data, {"amplitude": [0.8], "center": [0.0],
    ...                                       "sigma": [0.4]}, sigma=0.01)
    >>> bool(abs(res.params["sigma"][0] - 0.3) < 4 * res.stderr["sigma"][0])
    True
    """
    from scipy.optimize import least_squares  # type: ignore[import-untyped]

    if not isinstance(model, LineModel):
        raise TypeError(f"model must be a LineModel, got {type(model).__name__}")
    p = model._values(p0, "p0")
    n_lines = p["amplitude"].size
    data = np.asarray(data, dtype=np.float64)
    if data.shape != (model.n_samples,):
        raise ValueError(f"data must have shape ({model.n_samples},) (one value per instrument "
                         f"element), got {data.shape}")
    if sigma is None:
        weight = np.ones(model.n_samples)
    else:
        s = np.broadcast_to(np.asarray(sigma, dtype=np.float64), data.shape)
        if not np.all((s > 0) & np.isfinite(s)):
            raise ValueError("sigma must be finite and > 0")
        weight = 1.0 / s
    c0 = model._coefficients(baseline0)

    free = ~model._fixed_mask(fixed, n_lines)
    lower, upper = _bounds(model, bounds, n_lines)
    x_all = model._flat(p)
    outside = np.flatnonzero(free & ((x_all < lower) | (x_all > upper)))
    if outside.size:
        i, k = divmod(int(outside[0]), len(model.parameter_names))
        name = model.parameter_names[k]
        raise ValueError(f"p0[{name!r}][{i}] = {x_all[outside[0]]} is outside its bounds "
                         f"[{lower[outside[0]]}, {upper[outside[0]]}]")

    n_base = model.n_baseline
    lo = np.concatenate([lower[free], np.full(n_base, -np.inf)])
    hi = np.concatenate([upper[free], np.full(n_base, np.inf)])

    def split(x: np.ndarray) -> tuple[dict[str, np.ndarray], np.ndarray]:
        full = x_all.copy()
        full[free] = x[:x.size - n_base]
        return model._unflat(full), x[x.size - n_base:]

    # The residuals and the Jacobian of a point come from one core call: the Jacobian asked for
    # at the point just evaluated reuses it.
    cache: dict[bytes, tuple] = {}

    def evaluate(x: np.ndarray) -> tuple:
        key = x.tobytes()
        if key not in cache:
            q, c = split(x)
            matrices = model._measure(q, derivatives=True)
            cache.clear()
            cache[key] = (q, c, matrices)
        return cache[key]

    def residuals(x: np.ndarray) -> np.ndarray:
        q, c, matrices = evaluate(x)
        return (model._predict(q, c, matrices) - data) * weight

    def jacobian(x: np.ndarray) -> np.ndarray:
        q, _, matrices = evaluate(x)
        return model._jacobian(q, free, matrices) * weight[:, None]

    x0 = np.concatenate([x_all[free], c0])
    # The start's evaluation is checked here and reused by the solver's first step.
    model._check_reach(p, evaluate(x0)[2][0][0])
    settings = {"method": "trf", "x_scale": "jac"}
    settings.update(options)
    ls = least_squares(residuals, x0, jac=jacobian, bounds=(lo, hi), **settings)

    q, c = split(ls.x)
    nfree = int(ls.x.size)
    ndata = model.n_samples
    chisqr = float(ls.fun @ ls.fun)
    dof = max(ndata - nfree, 1)
    redchi = chisqr / dof
    # Covariance from the exact Jacobian at the solution, through its SVD (zero singular values
    # dropped, as curve_fit does).
    jac = jacobian(ls.x)
    _, sv, vt = np.linalg.svd(jac, full_matrices=False)
    keep = sv > np.finfo(float).eps * max(jac.shape) * (sv[0] if sv.size else 0.0)
    vt = vt[keep]
    cov = (vt.T / sv[keep] ** 2) @ vt
    if sigma is None:
        cov = cov * redchi
    err = np.sqrt(np.clip(np.diag(cov), 0.0, None))
    with np.errstate(invalid="ignore", divide="ignore"):
        corr = cov / np.outer(err, err)

    n_par = len(model.parameter_names)
    err_all = np.zeros(n_lines * n_par)
    err_all[free] = err[:nfree - n_base]
    stderr = {n: err_all.reshape(-1, n_par)[:, k].copy()
              for k, n in enumerate(model.parameter_names)}
    labels = [f"{model.parameter_names[j % n_par]}[{j // n_par}]"
              for j in np.flatnonzero(free)] + [f"baseline[{k}]" for k in range(n_base)]
    best = model._predict(q, c, evaluate(ls.x)[2])
    return LineFit(
        model=model, params=q, stderr=stderr,
        baseline=c if n_base else None,
        baseline_stderr=err[nfree - n_base:] if n_base else None,
        init=p, covariance=cov, correlation=corr, chisqr=chisqr, redchi=redchi,
        residual=ls.fun.copy(), best_fit=best, ndata=ndata, nfree=nfree, nfev=int(ls.nfev),
        njev=int(ls.njev or 0), success=bool(ls.success), message=str(ls.message),
        status=int(ls.status), scaled=sigma is None, free_names=labels)
