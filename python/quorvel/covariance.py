"""Gaussian-process covariances of averages over elements: the ``dims`` descriptor and atoms.

The functions `covariance_matrix`, `covariance_diagonal` and `covariance_length_derivatives`
(defined in `quorvel`, re-exported here) compute covariances of observations of a Gaussian
process ``f`` of ``D`` variables whose prior covariance is a product over the dimensions::

    cov(f(x), f(y)) = variance · Π_d s_d(x_d) · k_d(x_d - y_d) · s_d(y_d)

with ``k_d`` a stationary correlation function of one variable (``k_d(0) = 1``) and ``s_d`` an
optional amplitude profile, the variance factor.

Dimensions
----------
The ``dims`` descriptor is a sequence (not a string) with one tuple per dimension, in the order of the
dimensions of the atoms::

    (family, length, period, variance_factor)

family : str
    The correlation function of ``r = |x - y|`` with correlation length ``ℓ``; the kernel is
    set to exactly 0 beyond a window of ``m·ℓ`` where it falls below 1e-17:

    =========================================  ======================================  ========
    name                                       k(r)                                    window
    =========================================  ======================================  ========
    ``"squared_exponential"``, ``"gaussian"``  ``exp(-r² / (2ℓ²))``                    9 ℓ
    ``"exponential"``, ``"matern12"``          ``exp(-z)``, ``z = r/ℓ``                39.5 ℓ
    ``"matern32"``                             ``(1 + z) exp(-z)``, ``z = √3 r/ℓ``     25 ℓ
    ``"matern52"``                             ``(1 + z + z²/3) exp(-z)``,             20.5 ℓ
                                               ``z = √5 r/ℓ``
    =========================================  ======================================  ========

length : float
    The correlation length ``ℓ``, finite and > 0.
period : float or None
    With a period ``P`` (finite, > 0) the kernel is periodic: ``Σ_i k(r - i P)`` over the
    images within the window.
variance_factor : (Space, sequence of float) or None
    ``(space, coefficients)`` defines ``s(x) = Σ_j c_j b_j(x)`` from the elements ``b_j`` of
    ``space`` and one finite coefficient each. The elements must be piecewise polynomials
    (boxes, hats, B-splines, trapezoids, tabulated shapes, or affine maps of these); ``None``
    means ``s = 1``.

Atoms
-----
An observation is an atom: the product over the dimensions of one element per dimension,
observed as a weighted average of ``f``. A side of atoms is a pair ``(spaces, weights)``:
``spaces`` holds one `Space` per dimension, all of the same length ``n`` (atom ``i`` takes
element ``i`` of each), and ``weights`` one entry per dimension, ``None`` or a frequency
``ω_d`` of the weight ``cos(ω_d x_d)`` shared by all atoms of the side. Atom ``i`` observes::

    ∫ f(x) Π_d φ_{d,i}(x_d) w_d(x_d) dx  /  Π_d ∫ φ_{d,i}(x_d) w_d(x_d) dx_d

so every factor is divided by its own integral: boxes give bin averages, not bin integrals,
and a line shape gives its weighted average. A delta factor is a point value ``f(x0)`` and
ignores the weight. A factor whose weighted integral is exactly 0 (the derivative of a hat,
say) has no average; it is multiplied by 0 instead, as `measure` does with a row whose
normaliser is 0, so all covariances of that atom and their derivatives are 0. To get integrals instead of averages, multiply the covariance by the
integrals of the elements (`Space.integrals`) on both sides.

Results
-------
`covariance_matrix` returns ``K`` of shape ``(n_a, n_b)``, `covariance_diagonal` the variances
``(n_a,)``, and `covariance_length_derivatives` the tuple ``(K, L, T)`` for one side: ``L[d]``
is ``ℓ_d ∂K/∂ℓ_d`` (the derivative with respect to ``log ℓ_d``), and ``T[d][k]`` is
``c_k ∂K/∂c_k`` for the coefficients of the variance factor of dimension ``d``. The
derivative of ``K`` with respect to ``log variance`` is ``K``. These are the ingredients of
the gradient of a Gaussian-process marginal likelihood with respect to the log
hyperparameters: ``0.5 · tr((α αᵀ - C⁻¹) ∂C/∂θ)`` with ``C = K + noise`` and
``α = C⁻¹ y``.

Errors
------
All are `ValueError`, reported for the first failing check: ``variance must be finite and >
0, got 0``; for the first failing ``dims`` entry ``unknown covariance family "rbf"``,
``correlation length must be finite and > 0, got 0``, ``period must be finite and > 0, got
0``, ``a linear combination needs one coefficient per element``, ``a linear combination
needs piecewise-polynomial elements``, ``coefficients must be finite``; then ``bad cosine
weight scale 0``, ``atoms need one space and one weight per dimension (2), got 1 and 1``,
``every dimension's space must have one element per atom`` and ``a symmetric covariance
needs the same atoms on both sides``. A ``dims`` entry that is not a tuple of the types
above raises `TypeError` with the note ``while processing 'dims'``.

Two limits hold while the covariances are computed (the first failing row is reported). A
periodic kernel sums at most 100000000 images: a period far below the window (``1e-16`` for a
length of 1, a subnormal period) or a length so long that the window is infinite (``1e308``)
raises ``periodic kernel needs more than 100000000 images: period 0.0000000000000001 too small
for correlation length 1`` rather than returning a NaN or running for hours. And every
integral takes at most 100000000 quadrature steps, which a correlation length far below the
width of an atom under a variance factor exceeds: ``quadrature of [1, 2] needs more than
100000000 steps: correlation length 0.00000000000000001 too small for double precision`` (a
point atom against a box has no outer integral, and two piecewise-polynomial atoms without a
variance factor are integrated in closed form away from their ends, with or without weights:
both stay exact for such a length).

Examples
--------
Two-dimensional atoms: averages over time bins (boxes) at three points in space (deltas).

>>> import numpy as np, quorvel
>>> dims = [("matern32", 2.0, None, None), ("squared_exponential", 0.5, None, None)]
>>> time_bins = quorvel.Space.boxes(np.array([0.0, 1.0, 2.0, 3.0]))
>>> places = quorvel.Space.deltas(np.array([0.0, 0.1, 1.0]))
>>> K = quorvel.covariance_matrix(1.5, dims, [time_bins, places], [None, None],
...                               [time_bins, places], [None, None], symmetric=True)
>>> K.shape
(3, 3)
>>> bool(np.allclose(K, K.T)), bool(np.all(np.linalg.eigvalsh(K) > 0))
(True, True)
"""

from . import covariance_diagonal, covariance_length_derivatives, covariance_matrix

__all__ = ["covariance_matrix", "covariance_diagonal", "covariance_length_derivatives"]
