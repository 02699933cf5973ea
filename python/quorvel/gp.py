"""Gaussian-process regression of observations that are points, bin averages, or any other
weighted averages over elements, with scikit-learn's estimator conventions."""

import math
import numbers
import warnings
from typing import Any

import numpy as np

from ._quorvel import (
    SingularError,
    Space,
    covariance_diagonal,
    covariance_length_derivatives,
    covariance_matrix,
)

FAMILIES = ("squared_exponential", "gaussian", "exponential", "matern12", "matern32", "matern52")
_DEFAULT_BOUNDS = (1e-5, 1e5)


def _scipy() -> Any:
    try:
        import scipy.linalg  # type: ignore[import-untyped]
        import scipy.optimize  # type: ignore[import-untyped]
    except ImportError as error:
        raise ImportError(
            "quorvel.GaussianProcess needs SciPy; install it with: pip install 'quorvel[scipy]'"
        ) from error
    return scipy


def _as_atoms(atoms, name):
    """A Space, or a list of Spaces (one per dimension) of one length, as a list."""
    spaces = [atoms] if isinstance(atoms, Space) else atoms
    if (isinstance(spaces, (str, bytes)) or not isinstance(spaces, (list, tuple)) or not spaces
            or not all(isinstance(s, Space) for s in spaces)):
        raise TypeError(f"{name} must be a Space or a non-empty list of Spaces (one per "
                        f"dimension), got {type(atoms).__name__}")
    spaces = list(spaces)
    lengths = [len(s) for s in spaces]
    if len(set(lengths)) != 1:
        raise ValueError(f"{name}: the Spaces of the dimensions must have one element per "
                         f"observation each, got lengths {lengths}")
    return spaces


def _per_dimension(value, dims, name, is_item):
    """A value given once for all dimensions, or once per dimension, as a list of `dims`."""
    if is_item(value):
        return [value] * dims
    if (isinstance(value, (list, tuple, np.ndarray)) and len(value) == dims
            and all(is_item(v) for v in value)):
        return list(value)
    raise ValueError(f"{name} must be given once or once per dimension ({dims}), got {value!r}")


def _is_number(value):
    return isinstance(value, numbers.Real) and not isinstance(value, bool)


def _is_positive(value):
    return _is_number(value) and math.isfinite(value) and value > 0


def _is_pair(value):
    return (isinstance(value, (tuple, list, np.ndarray)) and len(value) == 2
            and all(_is_number(v) for v in value))


def _check_bounds(bounds, name):
    if isinstance(bounds, str) and bounds == "fixed":
        return
    if not (_is_pair(bounds) and all(_is_positive(v) for v in bounds) and bounds[0] <= bounds[1]):
        raise ValueError(f"{name} must be \"fixed\" or (low, high) with 0 < low <= high, "
                         f"got {bounds!r}")


def _log_bounds(bounds, value, name):
    """The log bounds of a free hyperparameter, or None when it is fixed."""
    if isinstance(bounds, str):
        return None
    if not bounds[0] <= value <= bounds[1]:
        raise ValueError(f"{name} {float(value)!r} is outside its bounds "
                         f"({float(bounds[0])!r}, {float(bounds[1])!r})")
    return (math.log(bounds[0]), math.log(bounds[1]))


class _Hyperparameters:
    """The resolved hyperparameters of one problem: the families and periods per dimension,
    the full log vector [log variance, log lengths..., log noise], which entries are free and
    their log bounds, and the per-observation noise the noise level multiplies."""

    def __init__(self, gp, dims, noise_base=None):
        self.families = _per_dimension(gp.kernel, dims, "kernel", lambda k: isinstance(k, str))
        for family in self.families:
            if family not in FAMILIES:
                raise ValueError(f"unknown kernel {family!r}; the families are "
                                 f"{', '.join(repr(f) for f in FAMILIES)}")
        self.lengths = _per_dimension(gp.length, dims, "length", _is_number)
        for length in self.lengths:
            if not _is_positive(length):
                raise ValueError(f"length must be finite and > 0, got {float(length)!r}")
        self.periods = _per_dimension(gp.period, dims, "period",
                                      lambda p: p is None or _is_number(p))
        for period in self.periods:
            if period is not None and not _is_positive(period):
                raise ValueError(f"period must be None, or finite and > 0, got {float(period)!r}")
        if not _is_positive(gp.variance):
            raise ValueError(f"variance must be finite and > 0, got {gp.variance!r}")
        level = 1.0 if noise_base is not None else gp.noise
        noise_bounds = gp.noise_bounds
        if noise_bounds is None:
            noise_bounds = "fixed" if noise_base is not None else _DEFAULT_BOUNDS
        _check_bounds(noise_bounds, "noise_bounds")
        _check_bounds(gp.variance_bounds, "variance_bounds")
        length_bounds = _per_dimension(gp.length_bounds, dims, "length_bounds",
                                       lambda b: isinstance(b, str) or _is_pair(b))
        for bounds in length_bounds:
            _check_bounds(bounds, "length_bounds")
        self.names = ["variance"] + (["length"] if dims == 1 else
                                     [f"length[{d}]" for d in range(dims)]) + ["noise"]
        bounds = [_log_bounds(gp.variance_bounds, gp.variance, "variance")]
        bounds += [_log_bounds(b, v, n) for b, v, n in
                   zip(length_bounds, self.lengths, self.names[1:-1])]
        if isinstance(noise_bounds, str) or level > 0:
            bounds.append(_log_bounds(noise_bounds, level, "noise"))
        else:
            raise ValueError("noise must be > 0 to be optimised; give noise_bounds=\"fixed\" "
                             "for noise-free observations")
        self.free = np.array([b is not None for b in bounds])
        self.bounds = np.array([b for b in bounds if b is not None]).reshape(-1, 2)
        self.noise_base = noise_base
        with np.errstate(divide="ignore"):
            self.full = np.log([gp.variance, *self.lengths, level])

    def names_free(self):
        return [n for n, f in zip(self.names, self.free) if f]

    def with_theta(self, theta):
        full = self.full.copy()
        full[self.free] = theta
        return full

    def dims(self, full):
        return [(f, float(l), p, None)
                for f, l, p in zip(self.families, np.exp(full[1:-1]), self.periods)]

    def noise(self, full, n):
        level = math.exp(full[-1])
        return level * (self.noise_base if self.noise_base is not None else np.ones(n))


class GaussianProcess:
    """Gaussian-process regression of observations that are weighted averages of the process:
    point values, bin averages, or averages through instrument kernels or line shapes.

    The prior of ``f`` has mean 0 and the covariance
    ``variance · Π_d k_d(x_d - y_d)``, a product over the dimensions of one correlation
    function each (see `quorvel.covariance`). An observation is an atom: the average of ``f``
    over one element per dimension (a delta is a point value, a box a bin average), plus
    independent Gaussian noise of variance ``noise``. The covariances between atoms are the
    exact ones of `covariance_matrix`, so bin averages are modelled as averages, not as
    values at the bin centres.

    The conventions are those of scikit-learn's ``GaussianProcessRegressor``: the
    hyperparameters are given here, `fit` returns the estimator, fitted values end in ``_``,
    and ``theta`` is the vector of the logarithms of the free hyperparameters in the order
    ``variance``, ``length`` (one per dimension), ``noise``: for a point process it is the
    ``theta`` of scikit-learn's ``ConstantKernel(variance) * RBF(length) +
    WhiteKernel(noise)`` (or ``Matern``). A hyperparameter is free unless its bounds are
    ``"fixed"``.

    Parameters
    ----------
    kernel : str or sequence of str
        The correlation family, one for all dimensions or one per dimension:
        ``"squared_exponential"`` (alias ``"gaussian"``, scikit-learn's ``RBF``),
        ``"exponential"`` (alias ``"matern12"``, ``Matern(nu=0.5)``), ``"matern32"``
        (``Matern(nu=1.5)``), ``"matern52"`` (``Matern(nu=2.5)``). In several dimensions the
        kernel is a product over the dimensions; for the squared exponential that equals
        scikit-learn's anisotropic ``RBF``, for the Matérn families it differs from
        scikit-learn's ``Matern`` of the scaled Euclidean distance.
    length : float or sequence of float
        The correlation length, one for all dimensions or one per dimension; the initial value
        when it is optimised.
    variance : float
        The prior variance ``σ²`` of ``f`` (scikit-learn's ``ConstantKernel``).
    noise : float or array_like
        The variance of the noise of each observation, added to the diagonal of the covariance
        (scikit-learn's ``WhiteKernel(noise_level)``): one value for all observations, or one
        per observation, passed to `fit` in the same order as ``y``. For a per-observation noise
        the optimised parameter is one common factor of the given values, starting at 1.
    period : float, sequence of (float or None), or None
        Makes the kernel of a dimension periodic with this period (fixed, not optimised).
    optimize : bool
        Whether `fit` maximises the log marginal likelihood over the free hyperparameters
        (``False`` is scikit-learn's ``optimizer=None``).
    n_restarts : int
        Additional optimisations from starts drawn log-uniformly within the bounds
        (scikit-learn's ``n_restarts_optimizer``); the best result is kept.
    random_state : int, numpy.random.Generator or None
        Seeds the restarts.
    length_bounds, variance_bounds : (float, float) or "fixed"
        Bounds of the optimisation, or ``"fixed"`` to keep the value as given; length bounds
        may be given once or per dimension. Default ``(1e-5, 1e5)`` as in scikit-learn.
    noise_bounds : (float, float), "fixed" or None
        As above; ``None`` means ``(1e-5, 1e5)`` for a single noise value and ``"fixed"`` for
        per-observation values (known measurement variances, scikit-learn's ``alpha``).
    normalize_y : bool
        Subtract the mean of ``y`` and divide by its standard deviation before the fit, and
        undo that in the predictions, as scikit-learn does.

    Attributes
    ----------
    length_ : float or numpy.ndarray
        The fitted correlation length (an array of one per dimension in several dimensions).
    variance_ : float
        The fitted prior variance.
    noise_ : float or numpy.ndarray
        The fitted noise variance (per observation if it was given so).
    theta_ : numpy.ndarray
        The logarithms of the fitted free hyperparameters, in the order of `theta_names_`.
    theta_names_ : list of str
        The names of the entries of ``theta``, e.g. ``["variance", "length", "noise"]``.
    bounds_ : numpy.ndarray
        The log bounds of the entries of ``theta``, shape ``(len(theta_), 2)``.
    log_marginal_likelihood_value_ : float
        The log marginal likelihood at ``theta_``.
    atoms_ : list of Space
        The observation atoms, one Space per dimension.
    y_train_ : numpy.ndarray
        The observations (normalised when ``normalize_y``).
    alpha_ : numpy.ndarray
        ``C⁻¹ y``, with ``C`` the covariance of the observations including the noise.
    L_ : numpy.ndarray
        The lower Cholesky factor of ``C``.
    optimize_result_ : scipy.optimize.OptimizeResult or None
        The best run of L-BFGS-B, or None without optimisation.

    Notes
    -----
    `fit` maximises the log marginal likelihood with L-BFGS-B on its exact gradient: the
    derivatives by the log lengths come from `covariance_length_derivatives`, those by the
    log variance and log noise are the covariance and the noise themselves. The linear
    algebra is SciPy's Cholesky factorisation; a covariance that is not positive definite
    raises `SingularError`, which suggests a noise floor.

    The standard deviation and covariance that `predict` returns are those of the noise-free
    averages of ``f`` over the new atoms; scikit-learn's include the ``WhiteKernel`` noise.

    Examples
    --------
    Averages of ``sin`` over 12 bins, and the posterior of the averages over 40 narrower bins:

    >>> import numpy as np, quorvel
    >>> edges = np.linspace(0.0, 6.0, 13)
    >>> y = (np.cos(edges[:-1]) - np.cos(edges[1:])) / np.diff(edges)
    >>> gp = quorvel.GaussianProcess("squared_exponential", noise=1e-6,
    ...                              noise_bounds="fixed").fit(quorvel.Space.boxes(edges), y)
    >>> fine = np.linspace(0.0, 6.0, 41)
    >>> mean, std = gp.predict(quorvel.Space.boxes(fine), return_std=True)
    >>> truth = (np.cos(fine[:-1]) - np.cos(fine[1:])) / np.diff(fine)
    >>> bool(np.abs(mean - truth).max() < 0.01), bool(np.all(std < 0.01))
    (True, True)
    """

    def __init__(self, kernel="matern32", length=1.0, variance=1.0, noise=1e-2, period=None,
                 optimize=True, n_restarts=0, random_state=None, *,
                 length_bounds=_DEFAULT_BOUNDS, variance_bounds=_DEFAULT_BOUNDS,
                 noise_bounds=None, normalize_y=False):
        self.kernel = kernel
        self.length = length
        self.variance = variance
        self.noise = noise
        self.period = period
        self.optimize = optimize
        self.n_restarts = n_restarts
        self.random_state = random_state
        self.length_bounds = length_bounds
        self.variance_bounds = variance_bounds
        self.noise_bounds = noise_bounds
        self.normalize_y = normalize_y

    # ---- scikit-learn's parameter protocol -------------------------------------------------

    _PARAMETERS = ("kernel", "length", "variance", "noise", "period", "optimize", "n_restarts",
                   "random_state", "length_bounds", "variance_bounds", "noise_bounds",
                   "normalize_y")

    def get_params(self, deep=True):
        """The constructor's parameters as a dict."""
        return {name: getattr(self, name) for name in self._PARAMETERS}

    def set_params(self, **params):
        """Set constructor parameters; returns the estimator."""
        for name, value in params.items():
            if name not in self._PARAMETERS:
                raise ValueError(f"invalid parameter {name!r} for GaussianProcess; valid "
                                 f"parameters are {', '.join(self._PARAMETERS)}")
            setattr(self, name, value)
        return self

    def __repr__(self):
        defaults = GaussianProcess()
        shown = [f"{name}={getattr(self, name)!r}" for name in self._PARAMETERS
                 if name in ("kernel", "length", "variance", "noise")
                 or not _same(getattr(self, name), getattr(defaults, name))]
        text = f"GaussianProcess({', '.join(shown)})"
        if hasattr(self, "theta_"):
            noise = (f"{self.noise_:.4g}" if np.ndim(self.noise_) == 0
                     else f"<{len(self.noise_)} values>")
            length = np.array2string(np.asarray(self.length_), precision=4, separator=", ")
            text += (f"\n  fitted to {len(self.y_train_)} observations: length_={length}, "
                     f"variance_={self.variance_:.4g}, noise_={noise}, "
                     f"log_marginal_likelihood_value_={self.log_marginal_likelihood_value_:.6g}")
        return text

    # ---- fitting ---------------------------------------------------------------------------

    def fit(self, atoms, y):
        """Fit the process to observations of atoms.

        Parameters
        ----------
        atoms : Space or list of Space
            The observed atoms: one Space for a process of one variable, or one Space per
            dimension, all of the same length (observation ``i`` averages over element ``i``
            of each).
        y : array_like
            The observations, one per atom.

        Returns
        -------
        GaussianProcess
            The estimator itself, with the fitted attributes set.
        """
        sp = _scipy()
        self.__dict__.pop("theta_", None)  # a fit that fails leaves the estimator unfitted
        spaces = _as_atoms(atoms, "atoms")
        n = len(spaces[0])
        y = np.asarray(y, dtype=np.float64)
        if y.shape != (n,):
            raise ValueError(f"y must have one value per atom, shape ({n},), got shape {y.shape}")
        if not np.all(np.isfinite(y)):
            raise ValueError(f"y must be finite, got {float(y[~np.isfinite(y)][0])!r} at index "
                             f"{int(np.flatnonzero(~np.isfinite(y))[0])}")
        hyper = self._hyperparameters(len(spaces), n)
        if not isinstance(self.n_restarts, numbers.Integral) or self.n_restarts < 0:
            raise ValueError(f"n_restarts must be an integer >= 0, got {self.n_restarts!r}")

        self._y_mean, self._y_std = 0.0, 1.0
        if self.normalize_y:
            self._y_mean, self._y_std = float(np.mean(y)), float(np.std(y))
            if self._y_std == 0.0:
                self._y_std = 1.0
            y = (y - self._y_mean) / self._y_std
        self.atoms_, self.y_train_, self._hyper = spaces, y, hyper

        theta = hyper.full[hyper.free]
        self.optimize_result_ = None
        if self.optimize and len(theta):
            def objective(t):
                value, gradient = self._log_marginal_likelihood(t, True)
                return -value, -gradient

            rng = np.random.default_rng(self.random_state)
            starts = [theta] + [rng.uniform(hyper.bounds[:, 0], hyper.bounds[:, 1])
                                for _ in range(self.n_restarts)]
            runs = [sp.optimize.minimize(objective, start, method="L-BFGS-B", jac=True,
                                         bounds=hyper.bounds) for start in starts]
            best = min(runs, key=lambda run: run.fun)
            if not best.success:
                warnings.warn(f"L-BFGS-B did not converge: {best.message}", RuntimeWarning,
                              stacklevel=2)
            self.optimize_result_, theta = best, best.x

        full = hyper.with_theta(theta)
        factor, value = self._factorise(full, raise_error=True)
        self.theta_, self.theta_names_, self.bounds_ = theta, hyper.names_free(), hyper.bounds
        self.variance_ = math.exp(full[0])
        lengths = np.exp(full[1:-1])
        self.length_ = float(lengths[0]) if len(lengths) == 1 else lengths
        noise = hyper.noise(full, n)
        self.noise_ = float(noise[0]) if hyper.noise_base is None else noise
        self.log_marginal_likelihood_value_, self._factor = value, factor
        self.L_ = np.tril(factor[0])
        self.alpha_ = sp.linalg.cho_solve(factor, y, check_finite=False)
        return self

    def _hyperparameters(self, dims, n=None):
        noise = self.noise
        if np.ndim(noise) == 0:
            if not (isinstance(noise, numbers.Real) and math.isfinite(noise) and noise >= 0):
                raise ValueError(f"noise must be finite and >= 0, got {noise!r}")
            return _Hyperparameters(self, dims)
        noise = np.asarray(noise, dtype=np.float64)
        if n is not None and noise.shape != (n,):
            raise ValueError(f"noise must be one value or one per observation, shape ({n},), "
                             f"got shape {noise.shape}")
        bad = np.flatnonzero(~(np.isfinite(noise) & (noise >= 0)))
        if len(bad):
            raise ValueError(f"noise must be finite and >= 0, got {float(noise[bad[0]])!r} "
                             f"at index {int(bad[0])}")
        return _Hyperparameters(self, dims, noise)

    def _factorise(self, full, raise_error):
        """The Cholesky factor of the covariance of the observations at the log
        hyperparameters `full`, and the log marginal likelihood; (None, -inf) if the matrix is
        not positive definite and not `raise_error`."""
        sp = _scipy()
        hyper, y = self._hyper, self.y_train_
        variance = math.exp(full[0])
        c = covariance_matrix(variance, hyper.dims(full), self.atoms_, [None] * len(self.atoms_),
                              self.atoms_, [None] * len(self.atoms_), symmetric=True)
        c[np.diag_indices_from(c)] += hyper.noise(full, len(y))
        try:
            factor = sp.linalg.cho_factor(c, lower=True, overwrite_a=True, check_finite=False)
        except np.linalg.LinAlgError as error:
            if not raise_error:
                return None, -np.inf
            raise _not_positive_definite(hyper, full, error) from error
        return factor, _log_likelihood(factor, y, sp.linalg.cho_solve(factor, y,
                                                                      check_finite=False))

    def log_marginal_likelihood(self, theta=None, eval_gradient=False):
        """The log marginal likelihood of the fitted observations at the log hyperparameters
        ``theta``, and optionally its gradient.

        Parameters
        ----------
        theta : array_like or None
            The logarithms of the free hyperparameters, in the order of `theta_names_`
            (variance, lengths, noise; fixed ones left out). None returns
            `log_marginal_likelihood_value_`.
        eval_gradient : bool
            Also return the gradient with respect to ``theta``.

        Returns
        -------
        float, or (float, numpy.ndarray)
            The log marginal likelihood (``-inf`` where the covariance is not positive
            definite, with a zero gradient, as scikit-learn), and its gradient.
        """
        if not hasattr(self, "theta_"):
            raise AttributeError("this GaussianProcess is not fitted yet; call fit first")
        if theta is None:
            if eval_gradient:
                raise ValueError("the gradient can only be evaluated for a given theta")
            return self.log_marginal_likelihood_value_
        theta = np.asarray(theta, dtype=np.float64)
        if theta.shape != self.theta_.shape:
            raise ValueError(f"theta must have one entry per free hyperparameter "
                             f"{self.theta_names_}, shape {self.theta_.shape}, got shape "
                             f"{theta.shape}")
        value, gradient = self._log_marginal_likelihood(theta, eval_gradient)
        return (value, gradient) if eval_gradient else value

    def _log_marginal_likelihood(self, theta, eval_gradient):
        hyper = self._hyper
        full = hyper.with_theta(theta)
        if not eval_gradient:
            return self._factorise(full, raise_error=False)[1], None
        sp = _scipy()
        y, n, free = self.y_train_, len(self.y_train_), hyper.free
        variance = math.exp(full[0])
        weights = [None] * len(self.atoms_)
        if free[1:-1].any():
            k, length_derivatives, _ = covariance_length_derivatives(
                variance, hyper.dims(full), self.atoms_, weights)
        else:
            k = covariance_matrix(variance, hyper.dims(full), self.atoms_, weights,
                                  self.atoms_, weights, symmetric=True)
            length_derivatives = []
        noise = hyper.noise(full, n)
        c = k.copy()
        c[np.diag_indices_from(c)] += noise
        try:
            factor = sp.linalg.cho_factor(c, lower=True, overwrite_a=True, check_finite=False)
        except np.linalg.LinAlgError:
            return -np.inf, np.zeros(len(theta))
        alpha = sp.linalg.cho_solve(factor, y, check_finite=False)
        value = _log_likelihood(factor, y, alpha)
        # d log p / dθ = 0.5 (αᵀ ∂C α − tr(C⁻¹ ∂C)) for each symmetric ∂C = ∂C/∂θ.
        inverse = _inverse(sp, factor)

        def half_trace(derivative):
            return 0.5 * (alpha @ derivative @ alpha - np.vdot(inverse, derivative))

        gradient = [half_trace(k)] + [half_trace(d) for d in length_derivatives]
        gradient.append(0.5 * np.dot(alpha * alpha - np.diag(inverse), noise))
        return value, np.asarray(gradient)[free]

    # ---- prediction ------------------------------------------------------------------------

    def predict(self, atoms, return_std=False, return_cov=False):
        """The posterior mean of the averages of ``f`` over new atoms, and optionally their
        standard deviation or covariance.

        Before `fit` the prior is returned (mean 0, the given hyperparameters).

        Parameters
        ----------
        atoms : Space or list of Space
            The new atoms, with as many dimensions as in `fit`: points (deltas), bins (boxes),
            instrument kernels or line shapes; the cross-covariances with the observations
            are the exact ones of `covariance_matrix`.
        return_std : bool
            Also return the posterior standard deviation of each average.
        return_cov : bool
            Also return the posterior covariance of the averages (at most one of the two).

        Returns
        -------
        mean : numpy.ndarray
            Shape ``(n,)``.
        std or cov : numpy.ndarray
            Shape ``(n,)`` or ``(n, n)``: of the noise-free averages; add `noise_` for the
            spread of new observations (scikit-learn's include its ``WhiteKernel``).
        """
        if return_std and return_cov:
            raise ValueError("at most one of return_std and return_cov can be requested")
        spaces = _as_atoms(atoms, "atoms")
        weights = [None] * len(spaces)
        if hasattr(self, "theta_"):
            if len(spaces) != len(self.atoms_):
                raise ValueError(f"atoms must have as many dimensions as in fit "
                                 f"({len(self.atoms_)}), got {len(spaces)}")
            hyper, full = self._hyper, self._hyper.with_theta(self.theta_)
        else:
            hyper = self._hyperparameters(len(spaces))
            full = hyper.full
        variance, dims = math.exp(full[0]), hyper.dims(full)
        if not hasattr(self, "theta_"):
            mean = np.zeros(len(spaces[0]))
            if return_cov:
                return mean, covariance_matrix(variance, dims, spaces, weights, spaces, weights,
                                               symmetric=True)
            if return_std:
                return mean, np.sqrt(covariance_diagonal(variance, dims, spaces, weights))
            return mean

        sp = _scipy()
        cross = covariance_matrix(variance, dims, spaces, weights, self.atoms_, weights)
        mean = cross @ self.alpha_ * self._y_std + self._y_mean
        if not (return_std or return_cov):
            return mean
        v = sp.linalg.solve_triangular(self._factor[0], cross.T, lower=True, check_finite=False)
        scale = self._y_std**2
        if return_std:
            prior = covariance_diagonal(variance, dims, spaces, weights)
            return mean, np.sqrt(np.maximum(prior - np.einsum("ij,ij->j", v, v), 0.0) * scale)
        prior = covariance_matrix(variance, dims, spaces, weights, spaces, weights,
                                  symmetric=True)
        return mean, (prior - v.T @ v) * scale

    def sample_y(self, atoms, n_samples=1, random_state=0):
        """Draws from the posterior (or, before `fit`, the prior) of the averages over atoms.

        Parameters
        ----------
        atoms : Space or list of Space
            As in `predict`.
        n_samples : int
            The number of draws.
        random_state : int, numpy.random.Generator or None
            Seeds the draws.

        Returns
        -------
        numpy.ndarray
            Shape ``(len(atoms), n_samples)``: one draw per column.
        """
        mean, cov = self.predict(atoms, return_cov=True)
        rng = np.random.default_rng(random_state)
        return rng.multivariate_normal(mean, cov, n_samples, method="eigh").T


def _same(a, b):
    try:
        return bool(np.all(a == b)) and type(a) is type(b)
    except (TypeError, ValueError):
        return False


def _log_likelihood(factor, y, alpha):
    return float(-0.5 * y @ alpha - np.log(np.diag(factor[0])).sum()
                 - 0.5 * len(y) * math.log(2.0 * math.pi))


def _inverse(sp, factor):
    """C⁻¹ from its Cholesky factor, by solving for the identity. LAPACK's potri needs a third
    of the arithmetic, but its threaded form ran up to several times slower on a busy machine."""
    return sp.linalg.cho_solve(factor, np.eye(len(factor[0])), check_finite=False)


def _not_positive_definite(hyper, full, error):
    names = ", ".join(f"{name}={value:.6g}" for name, value in zip(hyper.names, np.exp(full)))
    variance = math.exp(full[0])
    return SingularError(
        f"the covariance of the observations is not positive definite ({error}) at {names}: "
        f"atoms that (nearly) coincide make it singular without noise; give a noise floor, "
        f"for example noise >= {1e-10 * variance:.3g} (1e-10 of the variance), or a lower "
        f"bound on the noise with noise_bounds")
