"""Functions of one real variable in finite bases, and the sparse linear operators between them.

A `Space` is an ordered family of basis elements (deltas, boxes, hats, B-splines, tabulated
shapes, spectral line shapes, harmonics, and any of these under a change of variable). The
functions of this package move data between spaces:

- `evaluate`: point values of the elements;
- `inner_products` and `Space.integrals`: integrals of products of elements, optionally
  weighted by ``cos(ω x)``;
- `measure` and `measure_derivative`: measurement matrices of a basis seen through instrument
  kernels, and their exact derivative with respect to a kernel parameter;
- `measure_derivatives`: the same with the derivatives for several parameters in one pass;
- `LineModel` and `fit_lines`: spectral lines seen through an instrument, fitted with exact
  Jacobians and uncertainties (see `quorvel.lines`);
- `Projection`: L2 projection from one space onto another, optionally within bounds;
- `Fit`: regularised least-squares fits of a model space to data measured by kernels;
- `covariance_matrix`, `covariance_diagonal`, `covariance_length_derivatives`: Gaussian-process
  covariances of averages over elements (see `quorvel.covariance`);
- `GaussianProcess`: Gaussian-process regression of points, bin averages or any other atoms;
- `faddeeva_re`: the real part of the Faddeeva function;
- `selected_inverse`: a banded Cholesky factor and the band of the matrix inverse;
- `smoothing_spline`: smoothing splines with the smoothing chosen by GCV or REML;
- `to_scipy` and `from_scipy`: sparse results as SciPy sparse arrays and back.

Conventions
-----------
Arrays passed in are one-dimensional (or, where stated, two-dimensional) NumPy arrays of dtype
float64; lists, integer and float32 arrays raise `TypeError` (use
``np.asarray(x, dtype=np.float64)``). Option strings are matched exactly, case-sensitively.

Sparse results are tuples ``(indptr, indices, data, shape)`` in compressed-row form: row ``i``
holds the columns ``indices[indptr[i]:indptr[i+1]]`` (strictly ascending) with the values
``data[indptr[i]:indptr[i+1]]``; ``indptr`` and ``indices`` are int64 arrays, ``data`` a float64
array, ``shape`` a tuple ``(rows, columns)``. `to_scipy` turns them into
``scipy.sparse.csr_array``.

Line shapes are unit-peak and truncated to a closed support set by their ``cutoff``; nothing is
renormalised. Supports are closed, but the pieces of piecewise polynomials are half-open, so a
point at the right end of the last piece gets 0 (see `Space`).

Invalid arguments raise `TypeError` (with a note naming the parameter and one saying how to
convert what was given), `OverflowError` for a negative count or degree, and `ValueError` with
a precise message (an unknown option string gets a note listing the accepted names); a singular linear system
raises `SingularError`, a subclass of `ValueError`.

The heavy calls release the GIL and compute rows in parallel on one worker pool (its size
follows ``OMP_NUM_THREADS``), and Ctrl-C stops them; the results do not depend on the number of
threads, and all objects are immutable, so any number of Python threads may call the package at
once.
"""

import typing as _typing
from collections.abc import Callable as _Callable
from types import ModuleType as _ModuleType
from typing import Any as _Any
from typing import TypeVar as _TypeVar

from . import _quorvel
from ._quorvel import (
    FWHM_PER_SIGMA,
    Fit,
    Projection,
    SingularError,
    Space,
    __version__,
    faddeeva_re,
)
from . import _pickling  # noqa: F401  (SingularError instances pickle as themselves)
from ._scipy import from_scipy, to_scipy
from ._stubdoc import docstrings as _docstrings

_F = _TypeVar("_F", bound=_Callable[..., _Any])


_DOCSTRINGS = _docstrings()


def _forward(target: _F) -> _F:
    """A package-level function that calls `target` with its arguments untouched.

    It adds only the reference docstring: results, exceptions (with their notes), the
    signature and the text signature are those of `target`.
    """

    def forward(*args, **kwargs):
        return target(*args, **kwargs)

    forward.__name__ = forward.__qualname__ = target.__name__
    forward.__module__ = __name__
    forward.__doc__ = _DOCSTRINGS[target.__name__]
    forward.__wrapped__ = target  # type: ignore[attr-defined]
    forward.__text_signature__ = target.__text_signature__  # type: ignore[attr-defined]
    return forward  # type: ignore[return-value]


inner_products = _forward(_quorvel.inner_products)
measure = _forward(_quorvel.measure)
measure_derivative = _forward(_quorvel.measure_derivative)
measure_derivatives = _forward(_quorvel.measure_derivatives)
evaluate = _forward(_quorvel.evaluate)
covariance_matrix = _forward(_quorvel.covariance_matrix)
covariance_diagonal = _forward(_quorvel.covariance_diagonal)
covariance_length_derivatives = _forward(_quorvel.covariance_length_derivatives)
selected_inverse = _forward(_quorvel.selected_inverse)

from . import covariance  # noqa: E402  (documents the names defined above)

# The job modules import NumPy and SciPy: they load on first use of one of their names, so that
# importing the package does not.
_LAZY = {
    "LineModel": "lines",
    "LineFit": "lines",
    "fit_lines": "lines",
    "smoothing_spline": "smoothing",
    "GaussianProcess": "gp",
}

if _typing.TYPE_CHECKING:
    from .gp import GaussianProcess
    from .lines import LineFit, LineModel, fit_lines
    from .smoothing import smoothing_spline


def __getattr__(name: str) -> _Any:
    module = _LAZY.get(name)
    if module is None:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    from importlib import import_module

    return getattr(import_module(f".{module}", __name__), name)


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
    "to_scipy",
    "from_scipy",
    "LineModel",
    "LineFit",
    "fit_lines",
    "smoothing_spline",
    "GaussianProcess",
]


def __dir__() -> list[str]:
    """The public names only: those of `__all__` and the public submodules already imported."""
    modules = {n for n, v in globals().items() if isinstance(v, _ModuleType) and n[0] != "_"}
    return sorted(set(__all__) | modules)
