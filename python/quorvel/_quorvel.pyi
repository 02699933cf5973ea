"""Type stubs and reference documentation of the extension module ``quorvel._quorvel``.

The docstrings in this file are the reference documentation of quorvel: the package's own
functions show them in ``help()``, and the API reference of the documentation is rendered from
them. Types are written in numpydoc style in the docstrings as well, so the text reads without
the annotations.
"""

from collections.abc import Sequence
from typing import Any, Final, Literal, SupportsIndex, TypeAlias, final

import numpy as np
import numpy.typing as npt

_Float1D: TypeAlias = npt.NDArray[np.float64]
_Float2D: TypeAlias = npt.NDArray[np.float64]
_Index1D: TypeAlias = npt.NDArray[np.int64]
_Sparse: TypeAlias = tuple[_Index1D, _Index1D, _Float1D, tuple[int, int]]
_Normalization: TypeAlias = Literal["integral", "rowsum", "none"]
_Parameter: TypeAlias = Literal[
    "center", "scale", "sigma", "gamma", "eta", "power", "asymmetry", "half_width"
]
_Penalty: TypeAlias = Literal["derivative", "difference"]
_Interp: TypeAlias = Literal["linear", "pchip"]
_MapKind: TypeAlias = Literal["reciprocal", "affine"]
_Apodization: TypeAlias = Literal[
    "none",
    "boxcar",
    "hann",
    "hanning",
    "hamming",
    "happ_genzel",
    "blackman",
    "blackman_harris",
    "triangle",
    "norton_beer_weak",
    "norton_beer_medium",
    "norton_beer_strong",
]
_Family: TypeAlias = Literal[
    "squared_exponential", "gaussian", "exponential", "matern12", "matern32", "matern52"
]
_Dimension: TypeAlias = tuple[_Family, float, float | None, tuple[Space, Sequence[float]] | None]
_Bounds: TypeAlias = Literal["local"] | tuple[float, float] | None

__all__ = [
    "__version__",
    "SingularError",
    "FWHM_PER_SIGMA",
    "Space",
    "Projection",
    "Fit",
    "inner_products",
    "measure",
    "measure_derivative",
    "evaluate",
    "faddeeva_re",
    "covariance_matrix",
    "covariance_diagonal",
    "covariance_length_derivatives",
    "measure_derivatives",
    "selected_inverse",
]

__version__: Final[str]
FWHM_PER_SIGMA: Final[float]

class SingularError(ValueError):
    """A linear system that had to be solved is singular.

    Raised by `Projection` when the target elements are linearly dependent or one of them has
    zero norm, and by `Fit` when the data do not determine every model coefficient. The message
    names the failing pivot, for example ``pivot 3 is 0e0 (diagonal 2e0): the target elements
    are linearly dependent, or one of them has zero norm``. A subclass of `ValueError`, so
    ``except ValueError`` catches it too.
    """

@final
class Space:
    """An ordered, immutable family of basis elements of one real variable.

    Every element is a function with a closed, bounded support ``[lower, upper]``. The position
    of an element in the space (its construction order, never changed) is its index
    everywhere: the column of an evaluation or measurement matrix, the row of a Gram matrix,
    the entry of `lower`, `upper`, `centers` and `integrals`. ``len(space)`` is the number of
    elements.

    A `Space` cannot be instantiated directly (``Space()`` raises `TypeError`); it is built by
    the static constructors below, which may be called on the class or on an instance, and by
    the methods that derive a space from a space (`take`, `concatenate`, `derivative`,
    `mapped`).

    Spaces can be pickled (a compact binary form of the elements, read back with every
    element checked, so results are bitwise those of the original) and copied; `copy.copy`
    and `copy.deepcopy` return the space itself, since it is immutable. See `quorvel.dask`
    for running the heavy operations on a cluster.

    Notes
    -----
    Families of elements:

    ============================  ======================================================
    point functionals             `deltas`
    piecewise polynomials         `boxes`, `hats`, `bsplines`, `bsplines_clamped`,
                                  `bsplines_periodic`, `rectangles`, `triangles`,
                                  `trapezoids`, `tabulated`, `shifted`
    line shapes (profiles)        `gaussians`, `lorentzians`, `voigts`, `pseudo_voigts`,
                                  `super_gaussians`, `smoothed_boxes`, `fts`
    Fourier basis                 `harmonics`
    change of variable            `mapped`
    ============================  ======================================================

    Supports are closed, but the pieces of piecewise polynomials are half-open ``[a, b)``: a
    box is 1 at its left edge and 0 at its right edge, and every B-spline, trapezoid and
    tabulated shape is 0 at the right end of its last piece. A point exactly at the right end
    of a clamped B-spline basis therefore gets no value at all. To include it, either evaluate
    at ``np.nextafter(end, -np.inf)`` instead (continuous elements differ there from their
    left limit by rounding only), or build the basis with its last breakpoint at
    ``np.nextafter(end, np.inf)`` so that the point lies inside the last piece (the way to keep
    a datum at the end in a `Fit`). Hats and line shapes have no such gap: a hat is 1 at its
    peak even where the peak is a foot, and a line shape is evaluated on its whole closed
    support.

    Line shapes are unit-peak (value 1 at the center, not unit area) and truncated: outside
    ``center ± extent`` they are exactly 0, and nothing is renormalised, so the truncated
    element keeps only part of the area of the untruncated shape. The extent is ``cutoff``
    times a width that depends on the family; see each constructor.

    Parameter arrays of the line-shape constructors hold one entry per center (entry ``i``
    belongs to ``centers[i]``, extra entries are ignored, a shorter array is a `ValueError`);
    the width arrays of `rectangles`, `triangles`, `trapezoids` and `shifted` hold one shared
    entry or one per center.

    Array arguments must be one-dimensional NumPy arrays of dtype float64 (any strides): a
    list, an integer array or a float32 array raises `TypeError`. Use
    ``np.asarray(x, dtype=np.float64)``; the error's notes name the parameter and say what was
    given and how to convert it (``expected a 1-D float64 array, got int64 with shape (3,);
    use np.asarray(x, dtype=np.float64)``).

    ``repr(space)`` gives the number of elements, their kinds and the hull of their supports,
    for example ``Space(5 elements: 3 Gaussian, 2 Hat; support [-1.0, 4.0])``.
    """

    def __len__(self) -> int: ...
    def __copy__(self) -> Space: ...
    def __deepcopy__(self, memo: object, /) -> Space: ...
    @staticmethod
    def deltas(x: _Float1D) -> Space:
        """Point functionals (deltas) at the positions ``x``.

        A delta at ``x0`` pairs with any element ``g`` by evaluation: its inner product with
        ``g`` is ``g(x0)`` (times the weight ``cos(ω·x0)`` when a weight is given), its
        integral is 1, and as a column of `evaluate` it gives 1 exactly at ``x0``. Its own
        point value, as a function, is 0. Deltas are the kernels of point data in `measure`
        and `Fit`, and the point atoms of the covariance functions.

        Parameters
        ----------
        x : ndarray of float64, shape (n,)
            Positions, in any order; repeated positions give repeated elements.

        Returns
        -------
        Space
            ``n`` deltas in the order of ``x``; an empty ``x`` gives an empty space.

        Raises
        ------
        ValueError
            ``delta position must be finite``.

        Examples
        --------
        >>> import numpy as np, quorvel
        >>> points = quorvel.Space.deltas(np.array([0.25, 0.5]))
        >>> hats = quorvel.Space.hats(np.array([0.0, 1.0]))
        >>> quorvel.inner_products(points, hats)[2].tolist()
        [0.75, 0.25, 0.5, 0.5]
        """

    @staticmethod
    def boxes(edges: _Float1D) -> Space:
        """Indicator functions of the intervals between consecutive edges.

        Box ``i`` is 1 on ``[edges[i], edges[i+1])`` and 0 elsewhere, in particular 0 at its
        right edge, so adjacent boxes do not overlap at a shared edge. Its support is the
        closed interval ``[edges[i], edges[i+1]]`` and its integral the width.

        Parameters
        ----------
        edges : ndarray of float64, shape (n,)
            At least 2 finite, strictly increasing values.

        Returns
        -------
        Space
            ``n - 1`` boxes.

        Raises
        ------
        ValueError
            ``edges needs at least 2 values``, ``edges must be finite``, ``edges must be
            strictly increasing``.

        Examples
        --------
        >>> import numpy as np, quorvel
        >>> boxes = quorvel.Space.boxes(np.array([0.0, 1.0, 3.0]))
        >>> boxes.integrals().tolist()
        [1.0, 2.0]
        >>> quorvel.evaluate(boxes, np.array([1.0]))[1].tolist()  # only the second box
        [1]
        """

    @staticmethod
    def hats(nodes: _Float1D) -> Space:
        """Piecewise-linear hat functions on the nodes (linear interpolation basis).

        Hat ``i`` rises linearly from 0 at ``nodes[i-1]`` to 1 at ``nodes[i]`` and falls to 0 at
        ``nodes[i+1]``. The first and the last hats are half hats: they are 1 at their end node
        (``nodes[0]``, ``nodes[-1]``) and their support ends there. The hats sum to 1 on the
        whole closed interval ``[nodes[0], nodes[-1]]``, right end included, so coefficients
        are the function's values at the nodes.

        Parameters
        ----------
        nodes : ndarray of float64, shape (n,)
            At least 2 finite, strictly increasing values.

        Returns
        -------
        Space
            ``n`` hats.

        Raises
        ------
        ValueError
            ``nodes needs at least 2 values``, ``nodes must be finite``, ``nodes must be
            strictly increasing``.

        Examples
        --------
        >>> import numpy as np, quorvel
        >>> hats = quorvel.Space.hats(np.array([0.0, 1.0, 2.0]))
        >>> hats.integrals().tolist()
        [0.5, 1.0, 0.5]
        """

    @staticmethod
    def bsplines(knots: _Float1D, degree: SupportsIndex) -> Space:
        """The B-splines of a knot vector.

        The ``m - degree - 1`` B-splines of degree ``degree`` on the knots ``t[0..m-1]`` (Cox–de
        Boor), each stored as a piecewise polynomial with one half-open piece per non-empty
        knot interval. B-spline ``i`` is supported on ``[t[i], t[i+degree+1]]`` and is 0 at the
        right end of its last piece. Use `bsplines_clamped` for a basis that covers an interval
        exactly, `bsplines_periodic` for periodic functions.

        Parameters
        ----------
        knots : ndarray of float64, shape (m,)
            Finite, nondecreasing; a knot may repeat up to ``degree + 1`` times; at least
            ``degree + 2`` knots.
        degree : int
            0, 1, 2 or 3.

        Returns
        -------
        Space
            ``m - degree - 1`` B-splines.

        Raises
        ------
        ValueError
            ``B-spline degree must be 0..=3, got 4``, ``degree 3 B-splines need at least 5
            knots``, ``knots must be finite and nondecreasing``, ``B-spline 0 has empty support
            (knot multiplicity > degree + 1)``.
        OverflowError
            A negative ``degree``.

        Examples
        --------
        >>> import numpy as np, quorvel
        >>> splines = quorvel.Space.bsplines(np.arange(8.0), 3)
        >>> len(splines), splines.lower().tolist(), splines.upper().tolist()
        (4, [0.0, 1.0, 2.0, 3.0], [4.0, 5.0, 6.0, 7.0])
        """

    @staticmethod
    def harmonics(n: SupportsIndex, period: float, start: float) -> Space:
        """A Fourier basis on one period, without the constant term.

        The ``2 n`` elements ``cos(2π k x / period)`` and ``sin(2π k x / period)`` for
        ``k = 1 .. n``, in the order cos 1, sin 1, cos 2, sin 2, ..., each restricted to the
        closed interval ``[start, start + period]`` (values at both ends, 0 outside). The
        phase is absolute: the elements do not depend on ``start`` inside the interval. They
        are mutually orthogonal with squared norm ``period / 2``. Add a box over the period
        for a constant term.

        Parameters
        ----------
        n : int
            Number of wavenumbers, at least 1.
        period : float
            Finite and > 0.
        start : float
            Finite start of the interval.

        Returns
        -------
        Space
            ``2 n`` elements.

        Raises
        ------
        ValueError
            ``harmonics need n >= 1``, ``harmonics need a finite period > 0 and a finite
            start``, ``harmonic phase and center must be finite``.
        OverflowError
            A negative ``n``.
        """

    @staticmethod
    def bsplines_periodic(breakpoints: _Float1D, degree: SupportsIndex) -> Space:
        """Periodic B-splines on ``[breakpoints[0], breakpoints[-1]]``.

        With ``n`` breakpoints the period is ``breakpoints[-1] - breakpoints[0]`` and there are
        ``n - 1`` splines; the pieces of a spline that would cross an end are wrapped around
        into the interval, so every element lives inside it and its support (`lower`, `upper`)
        may span the whole period. They sum to 1 on ``[breakpoints[0], breakpoints[-1])``.

        Parameters
        ----------
        breakpoints : ndarray of float64, shape (n,)
            At least 2 finite, strictly increasing values.
        degree : int
            0 to 3, and smaller than the number of intervals ``n - 1``.

        Returns
        -------
        Space
            ``n - 1`` periodic B-splines.

        Raises
        ------
        ValueError
            ``breakpoints needs at least 2 values`` (also ``must be finite`` and ``must be
            strictly increasing``), ``periodic degree-3 B-splines need degree <= 3 and at
            least 4 intervals``.
        OverflowError
            A negative ``degree``.
        """

    @staticmethod
    def bsplines_clamped(breakpoints: _Float1D, degree: SupportsIndex) -> Space:
        """Clamped B-splines covering ``[breakpoints[0], breakpoints[-1]]``.

        The B-splines of the knot vector that repeats the first and the last breakpoint
        ``degree`` extra times: ``n + degree - 1`` elements that sum to 1 on
        ``[breakpoints[0], breakpoints[-1])``. Like every piecewise polynomial they are 0 at
        the right end of their last piece, so at ``x = breakpoints[-1]`` every element is 0:
        evaluate at ``np.nextafter(breakpoints[-1], -np.inf)`` to get the left limit, or end the
        basis at ``np.nextafter(end, np.inf)`` to keep a point at ``end`` inside it.

        Parameters
        ----------
        breakpoints : ndarray of float64, shape (n,)
            At least 2 finite, strictly increasing values.
        degree : int
            0, 1, 2 or 3.

        Returns
        -------
        Space
            ``n + degree - 1`` B-splines.

        Raises
        ------
        ValueError
            ``breakpoints needs at least 2 values`` (also ``must be finite`` and ``must be
            strictly increasing``), ``B-spline degree must be 0..=3, got 4``.
        OverflowError
            A negative ``degree``.

        Examples
        --------
        >>> import numpy as np, quorvel
        >>> basis = quorvel.Space.bsplines_clamped(np.array([0.0, 1.0, 2.0]), 3)
        >>> len(basis)
        5
        >>> quorvel.evaluate(basis, np.array([2.0]))[2].size  # nothing at the right end
        0
        >>> inside = np.nextafter(np.array([2.0]), -np.inf)
        >>> round(float(quorvel.evaluate(basis, inside)[2].sum()), 12)
        1.0
        """

    @staticmethod
    def gaussians(centers: _Float1D, sigma: _Float1D, cutoff: float) -> Space:
        """Gaussian line shapes, unit peak, truncated at ``cutoff`` standard deviations.

        Element ``i`` is ``exp(-(x - c)² / (2 σ²))`` with ``c = centers[i]`` and
        ``σ = sigma[i]`` on the closed support ``[c - cutoff·σ, c + cutoff·σ]`` and 0 outside.
        Its integral is ``σ·sqrt(2π)·erf(cutoff / sqrt(2))``: a cutoff of 3 keeps 99.73 % of
        the area of the untruncated Gaussian, 5 keeps 99.99994 %. The half width at half
        maximum is ``σ·FWHM_PER_SIGMA / 2``.

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        sigma : ndarray of float64, shape (>= n,)
            Standard deviations, finite and > 0.
        cutoff : float
            Half width of the support in standard deviations, finite and > 0.

        Returns
        -------
        Space
            ``n`` elements; empty ``centers`` give an empty space without any check.

        Raises
        ------
        ValueError
            ``sigma must be finite and > 0, got 0``, ``cutoff must be finite and > 0, got
            0``, ``profile center must be finite``, ``sigma has length 1, expected 2``.

        Examples
        --------
        >>> import numpy as np, quorvel
        >>> g = quorvel.Space.gaussians(np.array([0.0]), np.array([1.0]), 3.0)
        >>> g.lower().tolist(), g.upper().tolist()
        ([-3.0], [3.0])
        >>> round(float(g.integrals()[0] / np.sqrt(2 * np.pi)), 6)
        0.9973
        """

    @staticmethod
    def lorentzians(centers: _Float1D, hwhm: _Float1D, cutoff: float) -> Space:
        """Lorentzian line shapes, unit peak, truncated at ``cutoff`` half widths.

        Element ``i`` is ``1 / (1 + ((x - c) / h)²)`` with ``h = hwhm[i]`` on
        ``[c - cutoff·h, c + cutoff·h]``. Its integral is ``2 h·arctan(cutoff)``, the fraction
        ``(2/π)·arctan(cutoff)`` of the untruncated area ``π h``: the tails are long, so a
        cutoff of 10 keeps 93.7 %, 100 keeps 99.36 % and 1000 keeps 99.94 %.

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        hwhm : ndarray of float64, shape (>= n,)
            Half widths at half maximum, finite and > 0.
        cutoff : float
            Half width of the support in units of ``hwhm``, finite and > 0.

        Returns
        -------
        Space
            ``n`` elements.

        Raises
        ------
        ValueError
            ``hwhm must be finite and > 0, got -1``, ``cutoff must be finite and > 0, got
            0``, ``profile center must be finite``.

        Examples
        --------
        >>> import numpy as np, quorvel
        >>> lor = quorvel.Space.lorentzians(np.array([0.0]), np.array([1.0]), 100.0)
        >>> round(float(lor.integrals()[0] / np.pi), 4)
        0.9936
        """

    @staticmethod
    def voigts(centers: _Float1D, sigma: _Float1D, gamma: _Float1D, cutoff: float) -> Space:
        """Voigt line shapes (Gaussian ⊗ Lorentzian), unit peak, truncated.

        Element ``i`` is ``Re w(z) / Re w(i v)`` with ``z = (x - c + iγ) / (σ sqrt(2))``,
        ``v = γ / (σ sqrt(2))`` and ``w`` the Faddeeva function (see `faddeeva_re`): the
        convolution of a Gaussian of standard deviation ``σ = sigma[i]`` and a Lorentzian of
        half width ``γ = gamma[i]``, scaled to 1 at the center. The support is ``c ± cutoff·f``
        with ``f`` the Voigt half width at half maximum (Olivero–Longbothum):
        ``f = (0.5346·2γ + sqrt((FWHM_PER_SIGMA·σ)² + 0.2166·(2γ)²)) / 2``. The area of the
        untruncated element is ``σ·sqrt(2π) / Re w(i v)``; the truncated element keeps more than
        a Lorentzian cut at the same number of half widths, ``(2/π)·arctan(cutoff)``, and less
        than such a Gaussian (for σ = γ and a cutoff of 10, 96.5 %); `integrals` gives its
        exact area.

        ``gamma[i] == 0`` gives a Gaussian element and ``sigma[i] == 0`` a Lorentzian element
        (exactly those of `gaussians` and `lorentzians`). Note that the support of such a
        Gaussian element counts ``cutoff`` in standard deviations, not in half widths, and
        that `measure_derivative` with ``"gamma"`` then fails for it.

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        sigma, gamma : ndarray of float64, shape (>= n,)
            Finite and >= 0, not both 0.
        cutoff : float
            Half width of the support in units of the Voigt half width, finite and > 0.

        Returns
        -------
        Space
            ``n`` elements.

        Raises
        ------
        ValueError
            ``voigt needs finite sigma >= 0 and gamma >= 0``, ``voigt needs sigma > 0 or
            gamma > 0``, ``cutoff must be finite and > 0, got 0``, ``profile center must be
            finite``.
        """

    @staticmethod
    def pseudo_voigts(centers: _Float1D, hwhm: _Float1D, eta: _Float1D, cutoff: float) -> Space:
        """Pseudo-Voigt line shapes: a mix of a Lorentzian and a Gaussian of equal half width.

        Element ``i`` is ``η / (1 + u²) + (1 - η)·exp(-ln 2·u²)`` with ``u = (x - c) / h``,
        ``h = hwhm[i]``, ``η = eta[i]``, on ``[c - cutoff·h, c + cutoff·h]``. ``η = 1`` is the
        Lorentzian, ``η = 0`` the Gaussian of half width ``h``.

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        hwhm : ndarray of float64, shape (>= n,)
            Common half width at half maximum, finite and > 0.
        eta : ndarray of float64, shape (>= n,)
            Lorentzian fraction in ``[0, 1]``.
        cutoff : float
            Half width of the support in units of ``hwhm``, finite and > 0.

        Returns
        -------
        Space
            ``n`` elements.

        Raises
        ------
        ValueError
            ``hwhm must be finite and > 0, got 0``, ``pseudo-Voigt eta must be in [0, 1], got
            1.5``, ``cutoff must be finite and > 0, got 0``.
        """

    @staticmethod
    def super_gaussians(
        centers: _Float1D,
        hwhm_left: _Float1D,
        hwhm_right: _Float1D,
        power: _Float1D,
        cutoff: float,
    ) -> Space:
        """Asymmetric super-Gaussian line shapes (flat-topped for large powers).

        Element ``i`` is ``exp(-ln 2·(|x - c| / w)^p)`` with ``w = hwhm_left[i]`` left of the
        center and ``hwhm_right[i]`` right of it, ``p = power[i]``: the value is 1/2 at
        ``c - hwhm_left`` and at ``c + hwhm_right``. ``p = 2`` is a Gaussian shape. The support
        is ``[c - cutoff·hwhm_left, c + cutoff·hwhm_right]``.

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        hwhm_left, hwhm_right : ndarray of float64, shape (>= n,)
            Half widths of the two sides, finite and > 0.
        power : ndarray of float64, shape (>= n,)
            Finite and >= 1.
        cutoff : float
            Extent of each side in units of that side's half width, finite and > 0.

        Returns
        -------
        Space
            ``n`` elements.

        Raises
        ------
        ValueError
            ``hwhm_left must be finite and > 0, got 0`` (also for ``hwhm_right``),
            ``super-Gaussian power must be >= 1, got 0.5``, ``cutoff must be finite and > 0,
            got 0``.
        """

    @staticmethod
    def smoothed_boxes(
        centers: _Float1D, half_width: _Float1D, sigma: _Float1D, cutoff: float
    ) -> Space:
        """Boxes smoothed by a Gaussian, unit peak.

        Element ``i`` is the box ``[c - a, c + a]`` (``a = half_width[i]``) convolved with a
        Gaussian of standard deviation ``σ = sigma[i]``, divided by its value at the center:
        ``(erf((x - c + a) / s) - erf((x - c - a) / s)) / (2·erf(a / s))`` with
        ``s = σ·sqrt(2)``. The support is ``c ± (half_width + cutoff·σ)``: ``cutoff`` counts
        standard deviations beyond the box edges.

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        half_width, sigma : ndarray of float64, shape (>= n,)
            Finite and > 0.
        cutoff : float
            Extent beyond the box edges in standard deviations, finite and > 0.

        Returns
        -------
        Space
            ``n`` elements.

        Raises
        ------
        ValueError
            ``half_width must be finite and > 0, got 0`` (also for ``sigma``), ``cutoff must
            be finite and > 0, got 0``.
        """

    @staticmethod
    def fts(
        centers: _Float1D,
        max_opd: _Float1D,
        cutoff: float,
        apodization: _Apodization | None = None,
        cosine_sum: Sequence[float] | None = None,
        polynomial: Sequence[float] | None = None,
    ) -> Space:
        """Instrument line shapes of a Fourier-transform spectrometer, unit peak.

        A spectrometer with maximum optical path difference ``L = max_opd[i]`` and window
        ``A(u)``, ``u`` in ``[-1, 1]``, sees a line at ``c`` as ``K(2π L (x - c)) / K(0)`` with
        ``K(θ) = ∫ A(u) cos(θ u) du`` over ``[-1, 1]``. The boxcar window gives
        ``sinc(2π L (x - c))``, whose first zero is at ``0.5 / L``. The support is
        ``c ± cutoff·0.5 / L``: ``cutoff`` counts the zeros of the boxcar line shape.

        Give exactly one window: ``apodization`` (a name), or ``cosine_sum`` (1 to 4
        coefficients ``w0..w3`` of ``A(u) = Σ w_k cos(k π u)``), or ``polynomial`` (1 to 5
        coefficients ``c0..c4`` of ``A(u) = Σ c_k (1 - u²)^k``). Names (case-sensitive):

        ========================================  ============================================
        ``"none"``, ``"boxcar"``                  cosine sum 1
        ``"hann"``, ``"hanning"``                 cosine sum 0.5, 0.5
        ``"hamming"``, ``"happ_genzel"``          cosine sum 0.54, 0.46
        ``"blackman"``                            cosine sum 0.42, 0.5, 0.08
        ``"blackman_harris"``                     cosine sum 0.35875, 0.48829, 0.14128,
                                                  0.01168
        ``"triangle"``                            ``1 - |u|``, line shape ``sinc²(π L t)``
        ``"norton_beer_weak"``                    polynomial 0.384093, -0.087577, 0.703484
        ``"norton_beer_medium"``                  polynomial 0.152442, -0.136176, 0.983734
        ``"norton_beer_strong"``                  polynomial 0.045335, 0, 0.554883, 0,
                                                  0.399782
        ========================================  ============================================

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        max_opd : ndarray of float64, shape (>= n,)
            Maximum optical path differences, finite and > 0.
        cutoff : float
            Half width of the support in units of ``0.5 / max_opd``, finite and > 0.
        apodization : str, optional
            A window name from the table.
        cosine_sum : sequence of float, optional
            1 to 4 cosine-sum coefficients.
        polynomial : sequence of float, optional
            1 to 5 polynomial coefficients.

        Returns
        -------
        Space
            ``n`` elements.

        Raises
        ------
        ValueError
            ``give one of apodization (a name), cosine_sum (1-4 coefficients) or polynomial
            (1-5 coefficients)``, ``unknown apodization "Hann"``, ``apodization must have a
            positive integral``, ``max_opd must be finite and > 0, got 0``.

        Examples
        --------
        >>> import numpy as np, quorvel
        >>> ils = quorvel.Space.fts(np.array([0.0]), np.array([2.0]), 3.0, apodization="boxcar")
        >>> ils.upper().tolist()  # three zeros of sinc(4π x), at 0.25, 0.5, 0.75
        [0.75]
        """

    @staticmethod
    def rectangles(centers: _Float1D, widths: _Float1D) -> Space:
        """Boxes ``[c - w/2, c + w/2)`` placed at the centers.

        The same boxes as `boxes` (1 on the half-open interval), given by center and width.

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        widths : ndarray of float64, shape (1,) or (n,)
            One width shared by all elements, or one per element; > 0.

        Returns
        -------
        Space
            ``n`` boxes.

        Raises
        ------
        ValueError
            ``widths has length 3, expected 1 or 2``, ``box needs finite a < b, got [0, 0]``.
        """

    @staticmethod
    def triangles(centers: _Float1D, hwhm: _Float1D) -> Space:
        """Triangles of unit peak at the centers, 1/2 at ``c ± hwhm``.

        Hats with corners ``(c - 2h, c, c + 2h)``, ``h = hwhm[i]``.

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        hwhm : ndarray of float64, shape (1,) or (n,)
            Half widths at half maximum, shared or one per element; > 0.

        Returns
        -------
        Space
            ``n`` hats.

        Raises
        ------
        ValueError
            ``hwhm has length 3, expected 1 or 2``, ``hat needs finite a <= c <= b with a <
            b, got (2, 0, -2)``.
        """

    @staticmethod
    def trapezoids(centers: _Float1D, top: _Float1D, bottom: _Float1D) -> Space:
        """Trapezoids: 1 on ``[c - top, c + top]``, linear down to 0 at ``c ± bottom``.

        ``top`` and ``bottom`` are the half widths of the plateau and of the base.
        ``top == 0`` gives a triangle of half base ``bottom``; ``top == bottom`` a box
        ``[c - bottom, c + bottom)`` (0 at its right end).

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        top, bottom : ndarray of float64, shape (1,) or (n,)
            Shared or one per element; ``0 <= top <= bottom`` and ``bottom > 0``.

        Returns
        -------
        Space
            ``n`` elements.

        Raises
        ------
        ValueError
            ``top has length 3, expected 1 or 2`` (also for ``bottom``), ``trapezoid needs 0
            <= top <= bottom, bottom > 0; got 3, 2``, ``piecewise element needs finite center
            and stretch > 0``.
        """

    @staticmethod
    def shifted(
        shape_x: _Float1D,
        shape_y: _Float1D,
        centers: _Float1D,
        stretch: _Float1D,
        interp: _Interp,
    ) -> Space:
        """Copies of one tabulated shape, shifted to the centers and stretched.

        The shape is interpolated through the points ``(shape_x, shape_y)`` (``"linear"``, or
        ``"pchip"``: monotone piecewise cubic, Fritsch–Carlson) and is 0 outside
        ``[shape_x[0], shape_x[-1])``, the right end included. Element ``i`` is
        ``shape((x - centers[i]) / stretch[i])``: the abscissae are offsets from the center,
        the stretch scales the width only, and the values are used unchanged (no
        normalisation). All elements share one table.

        Parameters
        ----------
        shape_x : ndarray of float64, shape (m,)
            At least 2 finite, strictly increasing abscissae (offsets from the center).
        shape_y : ndarray of float64, shape (m,)
            Finite values.
        centers : ndarray of float64, shape (n,)
            Finite centers.
        stretch : ndarray of float64, shape (1,) or (n,)
            Shared or one per element, finite and > 0.
        interp : {"linear", "pchip"}
            Interpolation between the points.

        Returns
        -------
        Space
            ``n`` elements.

        Raises
        ------
        ValueError
            ``interpolation must be 'linear' or 'pchip', got "cubic"``, ``a tabulated shape
            needs x and y of equal length >= 2``, ``a tabulated shape must be finite``, ``a
            tabulated shape needs strictly increasing x``, ``stretch has length 3, expected 1
            or 2``, ``piecewise element needs finite center and stretch > 0``.
        """

    @staticmethod
    def tabulated(centers: _Float1D, x: _Float2D, y: _Float2D, interp: _Interp) -> Space:
        """One tabulated shape per element, placed at the centers.

        Element ``i`` interpolates the table (row of ``x``, ``y[i]``) as in `shifted` and is
        ``table(x - centers[i])``: the table abscissae are offsets from the center. Values are
        used unchanged, and the element is 0 at and beyond its last abscissa.

        Parameters
        ----------
        centers : ndarray of float64, shape (n,)
            Finite centers.
        x : ndarray of float64, shape (1, m) or (n, m)
            Abscissae (offsets), one row shared or one row per element; strictly increasing.
        y : ndarray of float64, shape (n, m)
            Values, one row per element.
        interp : {"linear", "pchip"}
            Interpolation between the points.

        Returns
        -------
        Space
            ``n`` elements.

        Raises
        ------
        ValueError
            ``y has 2 shapes, expected 3``, ``x has 2 shapes, expected 1 or 3``, and the table
            messages of `shifted`.

        Examples
        --------
        >>> import numpy as np, quorvel
        >>> tent = quorvel.Space.tabulated(
        ...     np.array([10.0]), np.array([[-1.0, 0.0, 1.0]]), np.array([[0.0, 1.0, 0.0]]),
        ...     "linear",
        ... )
        >>> tent.lower().tolist(), tent.upper().tolist()
        ([9.0], [11.0])
        """

    def mapped(self, kind: _MapKind, a: float, b: float, jacobian: bool) -> Space:
        """The elements re-expressed as functions of ``x = forward(u)``.

        ``kind="reciprocal"``: ``x = a / u`` (``b`` is ignored), for example wavenumber to
        wavelength. ``kind="affine"``: ``x = a + b·u``. Element ``f`` becomes
        ``g(x) = f(u(x))``, multiplied by ``|du/dx|`` when ``jacobian`` is true so that
        integrals over ``x`` equal the integrals of ``f`` over ``u``. Deltas are moved to
        ``forward(position)``. Mapped elements can be mapped again; the element order is kept.

        Parameters
        ----------
        kind : {"reciprocal", "affine"}
            The map.
        a, b : float
            Map parameters: reciprocal needs a finite non-zero ``a``; affine a finite ``a`` and
            a finite non-zero ``b``.
        jacobian : bool
            Multiply by ``|du/dx|``.

        Returns
        -------
        Space
            The mapped elements; mapping an empty space never fails.

        Raises
        ------
        ValueError
            ``map kind must be 'reciprocal' or 'affine', got "Affine"``, ``reciprocal map
            needs a finite nonzero k``, ``affine map needs finite offset and nonzero finite
            scale``, ``a reciprocal map needs supports on one side of 0, got [0, 1]``, ``delta
            position must be finite``.

        Examples
        --------
        >>> import numpy as np, quorvel
        >>> box = quorvel.Space.boxes(np.array([500.0, 1000.0]))
        >>> wl = box.mapped("reciprocal", 1e7, 0.0, True)
        >>> wl.lower().tolist(), wl.upper().tolist()
        ([10000.0], [20000.0])
        """

    @staticmethod
    def concatenate(spaces: Sequence[Space]) -> Space:
        """The elements of several spaces, one space after the other.

        Parameters
        ----------
        spaces : sequence of Space

        Returns
        -------
        Space
            ``sum(len(s) for s in spaces)`` elements; an empty sequence gives an empty space.
        """

    def take(self, indices: Sequence[SupportsIndex] | npt.NDArray[np.integer[Any]]) -> Space:
        """The elements at the given indices, in that order (repeats allowed).

        Parameters
        ----------
        indices : sequence of int
            Non-negative indices (a list or an integer array).

        Returns
        -------
        Space

        Raises
        ------
        ValueError
            ``index 5 out of range for 3 elements``.
        OverflowError
            A negative index.
        """

    def derivative(self, order: SupportsIndex) -> Space:
        """The ``order``-th derivatives of the elements, as piecewise polynomials.

        Only piecewise polynomials (boxes, hats, B-splines, trapezoids, tabulated and shifted
        shapes) have derivatives of order >= 1. The derivative is taken piece by piece on the
        same support; jumps at piece ends are not represented (the derivative of a box is 0 on
        its support). ``order=0`` copies the space, whatever its elements.

        Parameters
        ----------
        order : int
            Non-negative.

        Returns
        -------
        Space
            ``len(self)`` elements in the same order.

        Raises
        ------
        ValueError
            ``only piecewise-polynomial elements have derivatives``.
        OverflowError
            A negative ``order``.
        """

    def lower(self) -> _Float1D:
        """The lower ends of the element supports, in element order."""

    def upper(self) -> _Float1D:
        """The upper ends of the element supports, in element order."""

    def centers(self) -> _Float1D:
        """The centers of the elements, in element order.

        The center of a delta is its position, of a box its midpoint, of a hat its peak, of a
        B-spline the midpoint of its knot span (0 for periodic B-splines, whose pieces are
        stored wrapped into the period), of a placed shape or line shape its center, and of a
        mapped element the forward map of the inner element's center.
        """

    def integrals(self, weight: float | None = None) -> _Float1D:
        """The integral of each element, optionally with the weight ``cos(weight·x)``.

        Piecewise polynomials are integrated exactly without a weight; line shapes and weighted
        integrals by Gauss–Legendre quadrature in steps that follow the local scale of the
        integrand. A delta has integral 1 (``cos(weight·x0)`` with a weight). Line shapes are
        truncated, so their integral is less than that of the untruncated shape (see the
        constructors).

        Parameters
        ----------
        weight : float, optional
            Frequency ``ω`` of the weight ``cos(ω x)``; finite and non-zero (either sign).

        Returns
        -------
        ndarray of float64, shape (len(self),)

        Raises
        ------
        ValueError
            ``bad cosine weight scale 0``; ``quadrature of [0, 100] needs more than 100000000
            steps: cosine weight scale 10000000 too large`` for an integral whose steps would
            exceed the step budget (see the guide, *Quadrature far from 0, and its step
            budget*).

        Notes
        -----
        Releases the GIL while it computes.
        """

@final
class Projection:
    """The L2 projection from one space onto another; ``weight`` is a cosine frequency.

    ``Projection(src, dst, weight=None)`` maps coefficients ``f`` on ``src`` to the
    coefficients ``g`` on ``dst`` of the best approximation in the (optionally
    ``cos(weight·x)``-weighted) L2 sense: ``G g = K f`` with the Gram matrix
    ``G[i, k] = ⟨dst_i, dst_k⟩`` and the cross matrix ``K[i, j] = ⟨dst_i, src_j⟩``.
    ``G`` is factorised once (banded Cholesky) at construction; the object then projects any
    number of coefficient rows. It is immutable and may be used from several threads at once.
    It can be pickled: the pickle holds ``src``, ``dst`` and ``weight``, and unpickling builds
    the projection again (at the cost of building it), with bitwise the same results.

    Parameters
    ----------
    src : Space
        The space of the given coefficients.
    dst : Space
        The target space; its elements must be linearly independent. Order the elements
        along the axis (as every constructor does) so that ``G`` is banded.
    weight : float, optional
        Frequency of the weight ``cos(weight·x)``; finite and non-zero. A cosine frequency, not
        weights of the points.

    Raises
    ------
    SingularError
        ``pivot {j} is {w} (diagonal {d}): the target elements are linearly dependent, or one
        of them has zero norm`` (for example two deltas at the same position in ``dst``).
    ValueError
        ``bad cosine weight scale 0``.

    Notes
    -----
    Construction, `to_dense` and `apply_last_axis` release the GIL and run row-parallel.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> nodes = np.linspace(0.0, 1.0, 101)
    >>> fine, coarse = quorvel.Space.hats(nodes), quorvel.Space.bsplines_clamped(nodes[::10], 3)
    >>> p = quorvel.Projection(fine, coarse)
    >>> p.n_src, p.n_dst
    (101, 13)
    >>> g = p.apply_last_axis(np.sin(nodes)[None, :])
    >>> g.shape
    (1, 13)
    """

    def __new__(cls, src: Space, dst: Space, weight: float | None = None) -> Projection: ...
    def __copy__(self) -> Projection: ...
    def __deepcopy__(self, memo: object, /) -> Projection: ...
    @property
    def n_src(self) -> int:
        """The number of source elements, ``len(src)``."""

    @property
    def n_dst(self) -> int:
        """The number of target elements, ``len(dst)``."""

    def apply_last_axis(self, f: _Float2D, bounds: _Bounds = None) -> _Float2D:
        """Projects each row of ``f``, shape (k, n_src), returning (k, n_dst).

        Without bounds each row is ``G⁻¹ K f[r]``. With bounds the result of each row stays
        within them while its integral ``Σ_i g_i ∫ dst_i`` is kept equal to that of the
        unbounded projection (an active-set iteration of at most 100 steps; if it does not
        converge, the row falls back to clipping and spreading the removed integral over the
        room left).

        Parameters
        ----------
        f : ndarray of float64, shape (k, n_src)
            Coefficient rows; C- or Fortran-contiguous.
        bounds : None, "local" or (lo, hi), optional
            ``(lo, hi)`` bounds every coefficient; ``"local"`` bounds ``g_i`` by the smallest
            and largest of the source coefficients whose elements overlap ``dst_i``.

        Returns
        -------
        ndarray of float64, shape (k, n_dst)

        Raises
        ------
        ValueError
            ``f has 3 values along the transformed axis, expected 4``, ``bounds must be
            'local' or (lo, hi), got "global"``, ``bounds need lo <= hi``, ``expected tuple of
            length 2, but got tuple of length 3``.
        TypeError
            ``f`` is not a 2-D float64 array, or not contiguous.
        """

    def to_dense(self) -> _Float2D:
        """The dense projection matrix ``P = G⁻¹ K``, shape (n_dst, n_src); ``g = P @ f``."""

    def cross(self) -> _Sparse:
        """The cross matrix ``K[i, j] = ⟨dst_i, src_j⟩`` as a sparse tuple, (n_dst, n_src)."""

@final
class Fit:
    """A regularised least-squares fit of a model to kernel data; ``weight`` is a cosine frequency.

    ``Fit(kernels, model, normalization, smoothing, penalty, order, weight=None)`` models data
    ``d`` (one value per kernel) as ``W u``, with ``W = measure(kernels, model, normalization,
    weight)`` and ``u`` the model coefficients, and solves

    ``(WᵀW + μ P) u = Wᵀ d``

    where ``P`` is a roughness penalty of the model and ``μ`` the dimensionless ``smoothing``
    rescaled by the traces of the two matrices:

    ``μ = smoothing · tr(WᵀW) / tr(P)``

    so the same ``smoothing`` means the same balance whatever the units and the number of
    data. The matrix is factorised once (banded Cholesky); the object then fits any number of
    data rows. It is immutable and may be used from several threads at once. It can be
    pickled: the pickle holds the arguments, and unpickling builds the fit again (at the cost
    of building it), with bitwise the same results.

    Parameters
    ----------
    kernels : Space
        One element per datum: deltas for point data, boxes for bin averages, line shapes for
        instrument readings.
    model : Space
        The basis of the fitted function (for example B-splines).
    normalization : {"integral", "rowsum", "none"}
        Row normalisation of ``W``; see `measure`.
    smoothing : float
        Finite and >= 0; 0 gives the plain least-squares fit.
    penalty : {"derivative", "difference"}
        ``"derivative"``: ``P[i, j] = ∫ m_i^(order)(x) m_j^(order)(x) dx``, the integrated
        squared ``order``-th derivative (the model must be piecewise polynomial).
        ``"difference"``: ``P = DᵀD`` with ``D`` the ``order``-th differences of consecutive
        coefficients (no penalty when ``order >= len(model)``).
    order : int
        Derivative or difference order, >= 0.
    weight : float, optional
        Frequency of the weight ``cos(weight·x)`` used for ``W``: a cosine frequency, not
        weights of the data values.

    Raises
    ------
    ValueError
        ``normalization must be 'integral', 'rowsum' or 'none', got "Integral"``, ``bad cosine
        weight scale 0``, ``penalty must be 'derivative' or 'difference', got "Derivative"``,
        ``smoothing must be finite and >= 0``, ``only piecewise-polynomial elements have
        derivatives``, ``the Derivative(4) penalty is zero for this model (degree too
        low?)``.
    SingularError
        The pivot message followed by ``; the data do not determine every model coefficient,
        so add smoothing``.

    Notes
    -----
    The influence (hat) matrix is ``W @ F`` with ``F = to_dense()``; its trace gives the
    effective number of parameters, for example for generalised cross-validation. To compare
    with a smoothing spline written ``Σ (d_i - f(x_i))² + λ ∫ f''²``, use deltas as kernels
    with ``"none"``, ``penalty="derivative"``, ``order=2`` and
    ``smoothing = λ · tr(P) / tr(WᵀW)``.

    Construction, `to_dense` and `apply_last_axis` release the GIL and run row-parallel.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> x = np.linspace(0.0, 1.0, 50, endpoint=False)  # the model is 0 at x = 1
    >>> model = quorvel.Space.bsplines_clamped(np.linspace(0.0, 1.0, 11), 3)
    >>> fit = quorvel.Fit(quorvel.Space.deltas(x), model, "none", 1e-6, "derivative", 2)
    >>> fit.n_data, fit.n_model
    (50, 13)
    >>> line = 1.0 + 2.0 * x  # no curvature: the penalty leaves it untouched
    >>> u = fit.apply_last_axis(line[None, :])
    >>> bool(np.allclose(quorvel.to_scipy(fit.design()) @ u[0], line, atol=1e-12))
    True
    """

    def __new__(
        cls,
        kernels: Space,
        model: Space,
        normalization: _Normalization,
        smoothing: float,
        penalty: _Penalty,
        order: SupportsIndex,
        weight: float | None = None,
    ) -> Fit: ...
    def __copy__(self) -> Fit: ...
    def __deepcopy__(self, memo: object, /) -> Fit: ...
    @property
    def n_data(self) -> int:
        """The number of data values per row, ``len(kernels)``."""

    @property
    def n_model(self) -> int:
        """The number of model coefficients, ``len(model)``."""

    def apply_last_axis(self, data: _Float2D) -> _Float2D:
        """Fits each row of data, shape (k, n_data), returning coefficients (k, n_model).

        Parameters
        ----------
        data : ndarray of float64, shape (k, n_data)
            Data rows; C- or Fortran-contiguous.

        Returns
        -------
        ndarray of float64, shape (k, n_model)

        Raises
        ------
        ValueError
            ``data has 3 values along the transformed axis, expected 4``.
        TypeError
            ``data`` is not a 2-D float64 array, or not contiguous.
        """

    def to_dense(self) -> _Float2D:
        """The dense fit operator ``F = (WᵀW + μ P)⁻¹ Wᵀ``, shape (n_model, n_data).

        The coefficients of a data vector ``d`` are ``F @ d``.
        """

    def design(self) -> _Sparse:
        """The design matrix ``W`` (as `measure` returns it), a sparse tuple (n_data, n_model)."""

def inner_products(a: Space, b: Space, weight: float | None = None) -> _Sparse:
    """Inner products of the elements of two spaces.

    Entry ``(i, j)`` is ``∫ a_i(x) b_j(x) w(x) dx`` with ``w = 1``, or ``w = cos(weight·x)``
    when a weight is given. Only pairs whose closed supports meet are integrated, and exact
    zeros are not stored (supports that only touch give no entry). A delta pairs by
    evaluation: a delta row at ``x0`` against ``b_j`` gives ``b_j(x0)``. Piecewise
    polynomials are integrated exactly without a weight; line shapes and weighted integrands
    by Gauss–Legendre quadrature in steps that follow their local scale.

    Parameters
    ----------
    a : Space
        Row elements.
    b : Space
        Column elements.
    weight : float, optional
        Frequency ``ω`` of the weight ``cos(ω x)``; finite and non-zero, either sign.

    Returns
    -------
    tuple
        The sparse matrix ``(indptr, indices, data, shape)``, shape ``(len(a), len(b))``; see
        `quorvel.to_scipy`.

    Raises
    ------
    ValueError
        ``bad cosine weight scale 0``; ``quadrature of [0, 100] needs more than 100000000
        steps: cosine weight scale 10000000 too large`` (the step budget, as in
        `Space.integrals`), for the first such row.

    Notes
    -----
    Releases the GIL; rows are computed in parallel.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> boxes = quorvel.Space.boxes(np.array([0.0, 1.0, 3.0]))
    >>> quorvel.to_scipy(quorvel.inner_products(boxes, boxes)).toarray().round(12).tolist()
    [[1.0, 0.0], [0.0, 2.0]]
    """

def measure(
    kernels: Space, basis: Space, normalization: _Normalization, weight: float | None = None
) -> _Sparse:
    """The measurement matrix of a basis seen through kernels; ``weight`` is a cosine frequency.

    Entry ``(i, j)`` is ``W_ij = V_ij / N_i`` with ``V_ij = ∫ k_i(x) b_j(x) w(x) dx`` (as in
    `inner_products`, rows from the kernels) and the row normaliser ``N_i``:

    ``"integral"``
        ``N_i = ∫ k_i(x) w(x) dx``: each row is a weighted average. Use it for instruments
        whose kernels are responses of unknown scale, and for bin averages (boxes as kernels).
    ``"rowsum"``
        ``N_i = Σ_j V_ij``: every non-empty row sums to 1.
    ``"none"``
        ``N_i = 1``: the plain inner products; with deltas as kernels this is point
        evaluation.

    A row whose normaliser is exactly 0 is multiplied by 0. Kernels are truncated line shapes
    or other elements as they are (unit peak, nothing renormalised); with ``"integral"`` the
    normaliser uses the same truncated kernel, so a row is an exact average over the support.

    Parameters
    ----------
    kernels : Space
        One element per measurement (row).
    basis : Space
        The basis (columns).
    normalization : {"integral", "rowsum", "none"}
        Case-sensitive.
    weight : float, optional
        Frequency ``ω`` of the weight ``cos(ω x)`` (a cosine frequency, not weights of the data).

    Returns
    -------
    tuple
        The sparse matrix ``(indptr, indices, data, shape)``, shape
        ``(len(kernels), len(basis))``.

    Raises
    ------
    ValueError
        ``normalization must be 'integral', 'rowsum' or 'none', got "Integral"``, ``bad cosine
        weight scale 0``; the step budget of `Space.integrals`, for the first such row.

    Notes
    -----
    Releases the GIL; rows are computed in parallel.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> pixels = quorvel.Space.boxes(np.array([0.0, 1.0, 2.0]))
    >>> hats = quorvel.Space.hats(np.array([0.0, 1.0, 2.0]))
    >>> quorvel.to_scipy(quorvel.measure(pixels, hats, "integral")).toarray().round(12).tolist()
    [[0.5, 0.5, 0.0], [0.0, 0.5, 0.5]]
    """

def measure_derivative(
    kernels: Space,
    basis: Space,
    normalization: _Normalization,
    parameter: _Parameter,
    weight: float | None = None,
) -> tuple[_Sparse, _Sparse]:
    """(W, ∂W/∂p) for the kernels' parameter p; see `quorvel.measure_derivative`.

    The measurement matrix ``W`` of `measure` and its exact derivative with respect to one
    parameter ``p`` of the kernels, each row with respect to the parameter of its own kernel.
    The kernel is differentiated as the truncated function it is: inside its support by the
    pointwise derivative, plus point terms where it jumps (support ends, box edges, jumps of
    piecewise polynomials), because moving or widening a kernel moves its jumps. The quotient
    rule covers the normaliser: ``∂W_ij/∂p = (∂V_ij/∂p - ∂N_i/∂p · W_ij) / N_i``.

    Accepted names for ``parameter`` (case-sensitive):

    ``"center"``, ``"scale"`` (every kernel)
        The kernel's center (a shift), and a relative stretch about the center at stretch 1.
    ``"sigma"``
        ``σ`` of Gaussian, Voigt and smoothed-box kernels.
    ``"gamma"``
        ``hwhm`` of Lorentzian kernels, ``γ`` of Voigt kernels.
    ``"eta"``
        The Lorentzian fraction of pseudo-Voigt kernels.
    ``"power"``, ``"asymmetry"``
        The power of super-Gaussian kernels, and their asymmetry ``a`` in
        ``hwhm_left = m (1 - a)``, ``hwhm_right = m (1 + a)`` at fixed mean ``m``.
    ``"half_width"``
        The half width of smoothed-box kernels.

    The support of a line-shape kernel moves with its width parameters (the cutoff is kept),
    and these derivatives include that motion. ``"scale"`` equals ``σ ∂W/∂σ`` for Gaussian
    kernels.

    Because row ``i`` depends only on kernel ``i``, the rows of ``∂W/∂p`` are the partial
    derivatives with respect to each kernel's own parameter: with line shapes as the kernels
    (the rows) and the pixels or basis as columns, they give exact Jacobians for fitting line
    positions and widths.

    Parameters
    ----------
    kernels : Space
        One element per row.
    basis : Space
        The basis (columns).
    normalization : {"integral", "rowsum", "none"}
        As in `measure`.
    parameter : str
        One of the names above.
    weight : float, optional
        Frequency ``ω`` of the weight ``cos(ω x)``.

    Returns
    -------
    (W, dW) : tuple of two sparse tuples
        Both of shape ``(len(kernels), len(basis))``, sharing one sparsity pattern (the same
        ``indptr`` and ``indices`` values); an entry is stored when either value is non-zero.
        ``quorvel.to_scipy`` turns the pair into two ``csr_array``.

    Raises
    ------
    ValueError
        ``normalization must be 'integral', 'rowsum' or 'none', got "x"``, ``bad cosine weight
        scale 0``, ``unknown parameter "Sigma"``, ``Sigma applies only to line-shape
        profiles`` (a non-line-shape kernel), ``Lorentzian { hwhm: 1.0 } has no parameter
        Sigma`` (a parameter the kernel's family does not have), ``a delta has no parameter
        Sigma``; the step budget of `Space.integrals`.

    Notes
    -----
    Releases the GIL; rows are computed in parallel.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> line = quorvel.Space.gaussians(np.array([0.3]), np.array([0.5]), 6.0)
    >>> pixels = quorvel.Space.boxes(np.linspace(-3.0, 3.0, 61))
    >>> W, dW = quorvel.to_scipy(quorvel.measure_derivative(line, pixels, "none", "sigma"))
    >>> h = 1e-6
    >>> wider = quorvel.Space.gaussians(np.array([0.3]), np.array([0.5 + h]), 6.0)
    >>> fd = (quorvel.to_scipy(quorvel.measure(wider, pixels, "none")) - W) / h
    >>> bool(abs(fd - dW).max() < 1e-6)
    True
    """

def measure_derivatives(
    kernels: Space,
    basis: Space,
    normalization: _Normalization,
    parameters: Sequence[_Parameter],
    weight: float | None = None,
) -> tuple[_Sparse, ...]:
    """(W, ∂W/∂p₁, ...) for several parameters of the kernels; see `quorvel.measure_derivatives`.

    The measurement matrix ``W`` of `measure` and its exact derivative with respect to each of
    the given kernel parameters, as `measure_derivative` computes them one parameter at a time,
    from a single quadrature walk per kernel-element pair: the value and every derivative are
    integrated over the same panels. Each ``∂W/∂p`` is entry for entry (bitwise) the one of
    ``measure_derivative(kernels, basis, normalization, p, weight)``, and ``W`` that of any of
    those calls; an entry is stored when any of the matrices has a non-zero value there, so the
    common sparsity pattern may hold entries that a single call leaves out (as stored zeros).

    Parameters
    ----------
    kernels : Space
        One element per row.
    basis : Space
        The basis (columns).
    normalization : {"integral", "rowsum", "none"}
        As in `measure`.
    parameters : sequence of str
        Distinct names accepted by `measure_derivative` (``"center"``, ``"scale"``,
        ``"sigma"``, ``"gamma"``, ``"eta"``, ``"power"``, ``"asymmetry"``,
        ``"half_width"``). An empty sequence gives ``(W,)`` of `measure`.
    weight : float, optional
        Frequency ``ω`` of the weight ``cos(ω x)``.

    Returns
    -------
    (W, dW_1, ..., dW_m) : tuple of sparse tuples
        All of shape ``(len(kernels), len(basis))`` with the same ``indptr`` and ``indices``
        values; ``dW_k`` belongs to ``parameters[k]``. ``quorvel.to_scipy`` turns the tuple
        into ``csr_array`` objects.

    Raises
    ------
    ValueError
        The messages of `measure_derivative`, for the first failing row (within a row, the
        first failing parameter in the given order), and ``parameter Center is given twice``.

    Notes
    -----
    Releases the GIL; rows are computed in parallel.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> lines = quorvel.Space.voigts(np.array([0.3]), np.array([0.5]), np.array([0.2]), 40.0)
    >>> pixels = quorvel.Space.boxes(np.linspace(-3.0, 3.0, 61))
    >>> W, dc, ds, dg = quorvel.measure_derivatives(lines, pixels, "none",
    ...                                              ["center", "sigma", "gamma"])
    >>> _, one = quorvel.measure_derivative(lines, pixels, "none", "sigma")
    >>> bool((quorvel.to_scipy(ds) != quorvel.to_scipy(one)).nnz == 0)
    True
    """

def evaluate(basis: Space, x: _Float1D) -> _Sparse:
    """Point values of the elements of a space.

    Entry ``(i, j)`` is the value of element ``j`` at ``x[i]``; only elements whose closed
    support contains the point are looked at, and zeros are not stored. Pieces are half-open:
    a box ``[a, b)`` gives 1 at ``a`` and nothing at ``b``, and a B-spline basis gives nothing
    at the right end of its last piece (see `Space`). A delta column gives 1 exactly at its
    position.

    Parameters
    ----------
    basis : Space
        The elements (columns).
    x : ndarray of float64, shape (n,)
        Finite points (rows), in any order.

    Returns
    -------
    tuple
        The sparse matrix ``(indptr, indices, data, shape)``, shape ``(n, len(basis))``.

    Raises
    ------
    ValueError
        ``delta position must be finite``.

    Notes
    -----
    Releases the GIL; rows are computed in parallel.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> hats = quorvel.Space.hats(np.array([0.0, 1.0, 2.0]))
    >>> indptr, indices, data, shape = quorvel.evaluate(hats, np.array([0.5, 2.0]))
    >>> indptr.tolist(), indices.tolist(), data.tolist(), shape
    ([0, 2, 3], [0, 1, 2], [0.5, 0.5, 1.0], (2, 3))
    """

def faddeeva_re(x: float, y: float) -> float:
    """Re w(x + iy) for y >= 0, w the Faddeeva function.

    ``w(z) = exp(-z²) erfc(-iz)``; its real part is the Voigt profile up to scaling. Computed
    with a 40-term rational series (accurate to about 1e-13 relative in the upper half plane).
    A negative ``y`` is evaluated by the same formula (no error), and a non-finite argument
    gives NaN.

    Parameters
    ----------
    x, y : float

    Returns
    -------
    float

    Examples
    --------
    >>> import quorvel
    >>> round(quorvel.faddeeva_re(1.0, 0.5), 12)
    0.354900332868
    """

def covariance_matrix(
    variance: float,
    dims: Sequence[_Dimension],
    a: Sequence[Space],
    wa: Sequence[float | None],
    b: Sequence[Space],
    wb: Sequence[float | None],
    symmetric: bool = False,
) -> _Float2D:
    """The covariance matrix between product atoms a (rows) and b (columns); see
    `quorvel.covariance`.

    ``K[i, j] = variance · Π_d Cov_d(i, j) / (I_d(i) I_d(j))``: for each dimension ``d`` the
    double integral of the two atoms' elements against the correlation function, divided by
    the integrals ``I`` of the two elements, so an atom made of boxes is the covariance of bin
    averages (not integrals) and a delta is a point value. An element whose (weighted) integral
    is exactly 0 has no average: the factor is multiplied by 0 instead of divided by 0, as
    `measure` does with a row whose normaliser is 0, so every entry of that atom is 0 (in
    `covariance_diagonal` and `covariance_length_derivatives` too). See `quorvel.covariance`
    for the ``dims`` descriptor and the atoms.

    Parameters
    ----------
    variance : float
        The prior variance ``σ²``, finite and > 0.
    dims : sequence of tuple
        One ``(family, length, period, variance_factor)`` per dimension.
    a : sequence of Space
        One space per dimension, all of the same length ``n_a``: atom ``i`` is the product of
        element ``i`` of every space.
    wa : sequence of float or None
        One cosine-weight frequency (or None) per dimension for the atoms ``a``.
    b, wb :
        The column atoms, likewise (``n_b`` atoms).
    symmetric : bool, optional
        The caller states that ``(b, wb)`` are the same atoms as ``(a, wa)``: only the upper
        triangle is computed and mirrored.

    Returns
    -------
    ndarray of float64, shape (n_a, n_b)

    Raises
    ------
    ValueError
        ``variance must be finite and > 0, got 0``, the ``dims`` messages of
        `quorvel.covariance`, ``bad cosine weight scale 0``, ``atoms need one space and one
        weight per dimension (1), got 2 and 1``, ``every dimension's space must have one
        element per atom``, ``a symmetric covariance needs the same atoms on both sides``; the
        image count and step budget errors of `quorvel.covariance` for the first such row.

    Notes
    -----
    Releases the GIL; rows are computed in parallel.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> dims = [("squared_exponential", 1.0, None, None)]
    >>> points = [quorvel.Space.deltas(np.array([0.0, 1.0]))]
    >>> K = quorvel.covariance_matrix(2.0, dims, points, [None], points, [None])
    >>> bool(np.allclose(K, 2.0 * np.exp(-0.5 * np.array([[0, 1], [1, 0]]))))
    True
    """

def covariance_diagonal(
    variance: float, dims: Sequence[_Dimension], a: Sequence[Space], wa: Sequence[float | None]
) -> _Float1D:
    """The variances of product atoms a.

    The diagonal of ``covariance_matrix(variance, dims, a, wa, a, wa)``, computed without the
    off-diagonal entries. See `quorvel.covariance`.

    Parameters
    ----------
    variance, dims, a, wa :
        As in `covariance_matrix`.

    Returns
    -------
    ndarray of float64, shape (n_a,)

    Raises
    ------
    ValueError
        As in `covariance_matrix`.

    Notes
    -----
    Releases the GIL; entries are computed in parallel.
    """

def covariance_length_derivatives(
    variance: float, dims: Sequence[_Dimension], a: Sequence[Space], wa: Sequence[float | None]
) -> tuple[_Float2D, list[_Float2D], list[list[_Float2D]]]:
    """The symmetric covariance K of atoms a and ℓ_d ∂K/∂ℓ_d for each dimension d.

    Returns ``(K, L, T)``: ``K = covariance_matrix(variance, dims, a, wa, a, wa)``; ``L[d]``
    is ``ℓ_d ∂K/∂ℓ_d``, the derivative with respect to ``log ℓ_d`` of the correlation length
    of dimension ``d`` (the kernel's cutoff window scales with ``ℓ_d`` and is included);
    ``T[d][k]`` is ``c_k ∂K/∂c_k`` for the ``k``-th coefficient of the variance factor of
    dimension ``d`` (an empty list for a dimension without one). The derivative with respect
    to ``log variance`` is ``K`` itself. See `quorvel.covariance`.

    Parameters
    ----------
    variance, dims, a, wa :
        As in `covariance_matrix`.

    Returns
    -------
    K : ndarray of float64, shape (n, n)
    L : list of ndarray of float64, shape (n, n)
        One per dimension.
    T : list of list of ndarray of float64, shape (n, n)
        One list per dimension, one array per variance-factor coefficient.

    Raises
    ------
    ValueError
        As in `covariance_matrix`.

    Notes
    -----
    Releases the GIL; rows are computed in parallel.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> bins = [quorvel.Space.boxes(np.linspace(0.0, 3.0, 7))]
    >>> dims = [("matern52", 1.0, None, None)]
    >>> K, (L,), T = quorvel.covariance_length_derivatives(1.0, dims, bins, [None])
    >>> h = 1e-6
    >>> longer = [("matern52", 1.0 + h, None, None)]
    >>> Kh = quorvel.covariance_matrix(1.0, longer, bins, [None], bins, [None])
    >>> bool(np.allclose((Kh - K) / h, L, atol=1e-5)), T
    (True, [[]])
    """

def selected_inverse(
    band: _Float2D, direction: _Float2D | None = None
) -> tuple[_Float2D, ...]:
    """The Cholesky factor of a symmetric positive definite banded matrix, and the same band of
    its inverse; optionally the derivative of that band along a direction.

    The matrix ``A`` of size ``n`` with bandwidth ``e`` is given by its lower band in LAPACK's
    form (that of ``scipy.linalg.cholesky_banded(..., lower=True)``): ``band[d, j] = A[j + d,
    j]`` for ``d = 0 .. e``; entries past the end (``j + d >= n``) are ignored. The factor ``L``
    of ``A = L Lᵀ`` is computed by the banded Cholesky factorisation of `Fit`, and the entries of
    ``A⁻¹`` within the band by Takahashi's recurrence from the last row up, in ``O(n e²)``
    operations without forming the dense inverse: enough for ``tr(A⁻¹ M)`` with any ``M`` of the
    same band, and for the variances ``bᵀ A⁻¹ b`` of vectors ``b`` supported within ``e + 1``
    consecutive entries. The results do not depend on the number of threads.

    Parameters
    ----------
    band : ndarray of float64, shape (e + 1, n)
        The lower band of ``A``, finite; C or Fortran contiguous (it is read in place).
    direction : ndarray of float64, shape (e + 1, n), optional
        The lower band of a symmetric ``dA`` in the same form, finite. Then a third band is
        returned: ``d(A⁻¹)`` along ``dA``, i.e. the band of ``-A⁻¹ dA A⁻¹``, by the
        differentiated Cholesky and Takahashi recurrences (again ``O(n e²)``); with the band of
        ``M``, ``tr(d(A⁻¹) M)`` is the derivative of ``tr(A⁻¹ M)``.

    Returns
    -------
    factor : ndarray of float64, shape (e + 1, n)
        The lower band of ``L`` in the same form (usable with ``scipy.linalg.cho_solve_banded``
        as ``(factor, True)``).
    inverse : ndarray of float64, shape (e + 1, n)
        The lower band of ``A⁻¹`` in the same form.
    derivative : ndarray of float64, shape (e + 1, n)
        Only with ``direction``: the lower band of ``-A⁻¹ dA A⁻¹``.

    Raises
    ------
    TypeError
        A band that is not a contiguous 2-D float64 array.
    ValueError
        ``band needs at least one row (the diagonal)``; ``band must be finite, got nan at row 1,
        column 4``.
    SingularError
        ``pivot 2 is 0e0 (diagonal 1e0): the target elements are linearly dependent, or one of
        them has zero norm`` for a matrix that is not numerically positive definite.

    Notes
    -----
    Releases the GIL.

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> band = np.array([[4.0, 4.0, 4.0, 4.0], [1.0, 1.0, 1.0, 0.0]])  # tridiagonal, n = 4
    >>> factor, inverse = quorvel.selected_inverse(band)
    >>> A = np.diag(band[0]) + np.diag(band[1, :3], -1) + np.diag(band[1, :3], 1)
    >>> bool(np.allclose(inverse[0], np.diag(np.linalg.inv(A))))
    True
    >>> bool(np.allclose(inverse[1, :3], np.diag(np.linalg.inv(A), -1)))
    True
    """
