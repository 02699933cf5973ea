"""Block-wise quorvel on Dask: the heavy operations split into blocks that run on workers.

Each function takes the arguments of its quorvel counterpart plus a keyword-only ``chunk``,
and returns lazy ``dask.array`` collections; nothing is computed until you call
``.compute()``, ``dask.compute`` or a reduction, on whatever scheduler is active (a
``distributed.Client`` once you created one, else Dask's local threads). Every number is
bitwise the one the in-process call gives: a block is the in-process operation applied to a
contiguous range of rows (``Space.take``) or of atoms, and no number depends on how the rows
are grouped.

Sparse results (`measure`, `measure_derivative`, `evaluate`, `inner_products`) are Dask arrays
whose blocks are ``scipy.sparse.csr_array`` row blocks of ``chunk`` rows. ``.compute()``
gathers them into one ``csr_array`` in row order (equal to ``quorvel.to_scipy`` of the
in-process result); when the matrix does not fit in one process, keep it as a Dask array and
work block by block, for example ``W.map_blocks(lambda block: block @ v)`` or
``W.blocks[i].compute()``.

Covariances (`covariance_matrix`, `covariance_diagonal`, `covariance_length_derivatives`) are
dense Dask arrays of ``chunk`` x ``chunk`` blocks, each computed on a worker from two chunks of
atoms, so a matrix far larger than one node's memory can be used with Dask's own linear
algebra: ``K @ v``, ``da.trace(K)``, ``da.linalg.cholesky(K + noise * da.eye(n, chunks=chunk))``.
A symmetric matrix computes each block pair once: the blocks below the diagonal are the
transposes of those above it, as in the in-process symmetric call.

`apply_last_axis` maps a `Projection` or a `Fit` over the row blocks of a Dask array. The
operator enters the task graph once, as one piece of data: each worker receives it (and
rebuilds it from its pickled form, see below) once, however many blocks it processes.

Arguments are checked when the collection is built, by running the in-process function on an
empty selection (no rows, no atoms), so option strings, weights and types fail at once with the
in-process messages. Errors that depend on the data (a singular system, a non-finite point) are
raised by ``.compute()``, with their own type and message, from the worker that met them.

Objects travel to workers by pickle: a `Space` as its elements, a `Projection` or `Fit` as the
spaces and options it was built from, rebuilt on arrival (so unpickling costs what building
costs; results are bitwise the same).

Requires the optional extra ``dask`` (dask and distributed): ``pip install '.[dask]'`` from a
checkout of quorvel.
"""

from __future__ import annotations

import re as _re
import uuid
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

import numpy as np

try:
    import dask
    import dask.array as da
    import scipy.sparse  # type: ignore[import-untyped]
except ImportError as _missing:
    raise ImportError(
        "quorvel.dask needs dask and SciPy; install them with pip install '.[dask]' "
        "in a checkout of quorvel"
    ) from _missing

from . import _quorvel
from ._quorvel import Fit, Projection, Space

if TYPE_CHECKING:
    from ._quorvel import _Bounds, _Dimension, _Normalization, _Parameter

__all__ = [
    "ROWS_PER_CHUNK",
    "ATOMS_PER_CHUNK",
    "measure",
    "measure_derivative",
    "evaluate",
    "inner_products",
    "covariance_matrix",
    "covariance_diagonal",
    "covariance_length_derivatives",
    "apply_last_axis",
]



def __dir__() -> list[str]:
    """The public names only, those of `__all__`."""
    return sorted(__all__)


#: Default rows (kernels, points or elements of ``a``) per block of the sparse operators.
ROWS_PER_CHUNK = 10_000
#: Default atoms per side of a covariance block: 2000 x 2000 doubles are 32 MB.
ATOMS_PER_CHUNK = 2_000

# An empty block, which tells Dask the type of the sparse blocks.
_SPARSE_META = scipy.sparse.csr_array((0, 0), dtype=np.float64)

# ---- graph pieces -------------------------------------------------------------------------------


def _data(value: Any, what: str) -> Any:
    """`value` as one named piece of data in the graph: sent once to each worker that needs it."""
    return dask.delayed(value, name=f"quorvel-{what}-{uuid.uuid4().hex}", traverse=False)


def _ranges(n: int, chunk: int) -> list[tuple[int, int]]:
    if isinstance(chunk, bool) or not isinstance(chunk, int) or chunk < 1:
        raise ValueError(f"chunk must be a positive integer, got {chunk!r}")
    return [(start, min(start + chunk, n)) for start in range(0, n, chunk)] or [(0, 0)]


def _sparse_rows(blocks: list[Any], ranges: list[tuple[int, int]], n_cols: int) -> Any:
    parts = [
        da.from_delayed(block, shape=(stop - start, n_cols), dtype=np.float64,
                        meta=_SPARSE_META)
        for block, (start, stop) in zip(blocks, ranges)
    ]
    return da.concatenate(parts, axis=0)


def _dense(block: Any, shape: tuple[int, ...]) -> Any:
    meta = np.empty((0,) * len(shape), dtype=np.float64)
    return da.from_delayed(block, shape=shape, dtype=np.float64, meta=meta)


def _empty(space: Any) -> Any:
    """No elements of `space`, for checking arguments; anything else is passed on unchanged."""
    return space.take([]) if isinstance(space, Space) else space


def _csr(result: tuple[Any, Any, Any, tuple[int, int]]) -> Any:
    indptr, indices, data, shape = result
    return scipy.sparse.csr_array((data, indices, indptr), shape=shape)


# ---- block tasks (module functions, so that workers find them by name) --------------------------


def _measure_block(kernels: Space, basis: Space, normalization: _Normalization, weight: Any) -> Any:
    return _csr(_quorvel.measure(kernels, basis, normalization, weight))


def _measure_derivative_block(
    kernels: Space, basis: Space, normalization: _Normalization, parameter: _Parameter, weight: Any
) -> tuple[Any, Any]:
    w, dw = _quorvel.measure_derivative(kernels, basis, normalization, parameter, weight)
    return _csr(w), _csr(dw)


def _evaluate_block(basis: Space, x: Any, start: int) -> Any:
    try:
        return _csr(_quorvel.evaluate(basis, np.require(x, requirements=["ALIGNED"])))
    except ValueError as error:
        # A note such as "x[2] is NaN" counts within the block; count within the whole x.
        notes = getattr(error, "__notes__", None)
        if notes:
            error.__notes__ = [
                _re.sub(r"^x\[(\d+)\]", lambda m: f"x[{int(m.group(1)) + start}]", note)
                for note in notes
            ]
        raise


def _inner_products_block(a: Space, b: Space, weight: Any) -> Any:
    return _csr(_quorvel.inner_products(a, b, weight))


def _covariance_block(
    variance: float, dims: Sequence[_Dimension], a: Any, wa: Any, b: Any, wb: Any, symmetric: bool
) -> Any:
    return _quorvel.covariance_matrix(variance, dims, a, wa, b, wb, symmetric)


def _diagonal_block(variance: float, dims: Sequence[_Dimension], a: Any, wa: Any) -> Any:
    return _quorvel.covariance_diagonal(variance, dims, a, wa)


def _derivatives_block(variance: float, dims: Sequence[_Dimension], a: Any, b: Any, wa: Any) -> Any:
    """The derivative arrays between atom chunks a (rows) and b (columns), b after a.

    The atoms a + b are taken as one side and only its block of rows a and columns b is
    computed. Each entry is computed as in the one-sided call on all atoms, where atom i of a
    precedes atom j of b too.
    """
    if b is None:
        return _quorvel.covariance_length_derivatives(variance, dims, a, wa)
    both = [Space.concatenate([x, y]) for x, y in zip(a, b)]
    n = len(a[0]) if a else 0
    # A private entry of the extension, outside its typed surface.
    block = getattr(_quorvel, "_covariance_length_derivative_block")
    return block(variance, dims, both, wa, n)


def _apply_block(block: Any, operator: Any, bounds: _Bounds) -> Any:
    # A block received from another worker may be unaligned; the operator reads it in place.
    block = np.require(block, requirements=["C_CONTIGUOUS", "ALIGNED"])
    if bounds is None:
        return operator.apply_last_axis(block)
    return operator.apply_last_axis(block, bounds)


# ---- sparse operators ---------------------------------------------------------------------------


def _row_chunks(space: Space, chunk: int) -> tuple[list[tuple[int, int]], list[Space]]:
    ranges = _ranges(len(space), chunk)
    return ranges, [space.take(range(start, stop)) for start, stop in ranges]


def measure(
    kernels: Space,
    basis: Space,
    normalization: _Normalization,
    weight: float | None = None,
    *,
    chunk: int = ROWS_PER_CHUNK,
) -> Any:
    """`quorvel.measure` in row blocks of ``chunk`` kernels.

    Returns
    -------
    dask.array.Array
        Shape ``(len(kernels), len(basis))``; each block a ``scipy.sparse.csr_array`` of
        ``chunk`` rows (the last may be shorter). ``.compute()`` gives one ``csr_array``.
    """
    _quorvel.measure(_empty(kernels), basis, normalization, weight)
    ranges, chunks = _row_chunks(kernels, chunk)
    basis_key = _data(basis, "basis")
    task = dask.delayed(_measure_block, pure=False)
    blocks = [task(c, basis_key, normalization, weight) for c in chunks]
    return _sparse_rows(blocks, ranges, len(basis))


def measure_derivative(
    kernels: Space,
    basis: Space,
    normalization: _Normalization,
    parameter: _Parameter,
    weight: float | None = None,
    *,
    chunk: int = ROWS_PER_CHUNK,
) -> tuple[Any, Any]:
    """`quorvel.measure_derivative` in row blocks of ``chunk`` kernels.

    Returns
    -------
    tuple of dask.array.Array
        ``(W, dW)``, each as the result of `measure`; both blocks of a row range come from one
        task.
    """
    _quorvel.measure_derivative(_empty(kernels), basis, normalization, parameter, weight)
    ranges, chunks = _row_chunks(kernels, chunk)
    basis_key = _data(basis, "basis")
    task = dask.delayed(_measure_derivative_block, pure=False, nout=2)
    pairs = [task(c, basis_key, normalization, parameter, weight) for c in chunks]
    n = len(basis)
    return (
        _sparse_rows([p[0] for p in pairs], ranges, n),
        _sparse_rows([p[1] for p in pairs], ranges, n),
    )


def evaluate(basis: Space, x: Any, *, chunk: int = ROWS_PER_CHUNK) -> Any:
    """`quorvel.evaluate` in row blocks of ``chunk`` points.

    Parameters
    ----------
    basis : Space
    x : ndarray of float64 or dask.array.Array, shape (n,)
        A Dask array keeps its own chunks (``chunk`` is then ignored).

    Returns
    -------
    dask.array.Array
        Shape ``(n, len(basis))`` in ``csr_array`` row blocks, as in `measure`.
    """
    if isinstance(x, da.Array):
        _quorvel.evaluate(basis, np.empty(0, dtype=x.dtype))
        points = x
    else:
        _quorvel.evaluate(basis, x[:0])
        _ranges(1, chunk)
        points = da.from_array(x, chunks=(chunk,))
    basis_key = _data(basis, "basis")
    task = dask.delayed(_evaluate_block, pure=False)
    starts = np.cumsum((0,) + points.chunks[0])
    blocks = [task(basis_key, part, int(start))
              for part, start in zip(points.to_delayed().ravel(), starts)]
    ranges = [(int(a), int(b)) for a, b in zip(starts[:-1], starts[1:])]
    return _sparse_rows(blocks, ranges, len(basis))


def inner_products(
    a: Space, b: Space, weight: float | None = None, *, chunk: int = ROWS_PER_CHUNK
) -> Any:
    """`quorvel.inner_products` in row blocks of ``chunk`` elements of ``a``.

    Returns
    -------
    dask.array.Array
        Shape ``(len(a), len(b))`` in ``csr_array`` row blocks, as in `measure`.
    """
    _quorvel.inner_products(_empty(a), b, weight)
    ranges, chunks = _row_chunks(a, chunk)
    b_key = _data(b, "space")
    task = dask.delayed(_inner_products_block, pure=False)
    return _sparse_rows([task(c, b_key, weight) for c in chunks], ranges, len(b))


# ---- covariances --------------------------------------------------------------------------------


def _atom_chunks(
    spaces: Sequence[Space], chunk: int, what: str
) -> tuple[list[tuple[int, int]], list[Any]]:
    """Contiguous chunks of atoms, each one piece of graph data: one Space per dimension."""
    ranges = _ranges(_count(spaces), chunk)
    parts = [
        _data([s.take(range(start, stop)) for s in spaces], f"atoms-{what}")
        for start, stop in ranges
    ]
    return ranges, parts


def _count(side: Sequence[Space]) -> int:
    return len(side[0]) if len(side) else 0


def _check_lengths(call: Any, *sides: Sequence[Space]) -> None:
    """Runs `call` in process when the spaces of a side differ in length, so that it raises
    its own error (atoms are validated before anything is computed)."""
    if any(len({len(s) for s in side}) > 1 for side in sides):
        call()


def covariance_matrix(
    variance: float,
    dims: Sequence[_Dimension],
    a: Sequence[Space],
    wa: Sequence[float | None],
    b: Sequence[Space],
    wb: Sequence[float | None],
    symmetric: bool = False,
    *,
    chunk: int = ATOMS_PER_CHUNK,
) -> Any:
    """`quorvel.covariance_matrix` in blocks of ``chunk`` x ``chunk`` atoms.

    Block ``(I, J)`` is the covariance of atom chunks ``I`` of ``a`` and ``J`` of ``b``. With
    ``symmetric=True`` only the blocks on and above the diagonal are computed (those on it as
    symmetric calls) and the blocks below are their transposes, which is what the in-process
    symmetric call does entry by entry.

    Returns
    -------
    dask.array.Array
        Dense float64, shape ``(n_a, n_b)``, chunks of ``chunk`` x ``chunk``.
    """
    _quorvel.covariance_matrix(
        variance, dims, [_empty(s) for s in a], wa, [_empty(s) for s in b], wb, symmetric
    )
    def in_process() -> Any:
        return _quorvel.covariance_matrix(variance, dims, a, wa, b, wb, symmetric)

    _check_lengths(in_process, a, b)
    if symmetric and _count(a) != _count(b):
        in_process()
    dims_key = _data(dims, "dims")
    rows, a_parts = _atom_chunks(a, chunk, "a")
    cols, b_parts = _atom_chunks(b, chunk, "b")
    task = dask.delayed(_covariance_block, pure=False)
    grid: list[list[Any]] = []
    for i, (r0, r1) in enumerate(rows):
        line = []
        for j, (c0, c1) in enumerate(cols):
            if symmetric and j < i:
                line.append(grid[j][i].T)
                continue
            block = task(variance, dims_key, a_parts[i], wa, b_parts[j], wb, symmetric and i == j)
            line.append(_dense(block, (r1 - r0, c1 - c0)))
        grid.append(line)
    return da.block(grid)


def covariance_diagonal(
    variance: float,
    dims: Sequence[_Dimension],
    a: Sequence[Space],
    wa: Sequence[float | None],
    *,
    chunk: int = ATOMS_PER_CHUNK,
) -> Any:
    """`quorvel.covariance_diagonal` in chunks of ``chunk`` atoms.

    Returns
    -------
    dask.array.Array
        Float64, shape ``(n,)``.
    """
    _quorvel.covariance_diagonal(variance, dims, [_empty(s) for s in a], wa)
    _check_lengths(lambda: _quorvel.covariance_diagonal(variance, dims, a, wa), a)
    dims_key = _data(dims, "dims")
    ranges, parts = _atom_chunks(a, chunk, "a")
    task = dask.delayed(_diagonal_block, pure=False)
    return da.concatenate(
        [_dense(task(variance, dims_key, p, wa), (stop - start,))
         for p, (start, stop) in zip(parts, ranges)]
    )


def covariance_length_derivatives(
    variance: float,
    dims: Sequence[_Dimension],
    a: Sequence[Space],
    wa: Sequence[float | None],
    *,
    chunk: int = ATOMS_PER_CHUNK,
) -> tuple[Any, list[Any], list[list[Any]]]:
    """`quorvel.covariance_length_derivatives` in blocks of ``chunk`` x ``chunk`` atoms.

    All arrays of one block come from one task. The arrays are symmetric: blocks on the
    diagonal are one-sided calls on one chunk, blocks above it are computed alone from the atoms
    of both chunks taken as one side (the work of a covariance block), and blocks below it are
    transposes.

    Returns
    -------
    tuple
        ``(K, L, T)`` as in `quorvel.covariance_length_derivatives`, each array a dense
        ``dask.array.Array`` of shape ``(n, n)``.
    """
    _, l0, t0 = _quorvel.covariance_length_derivatives(variance, dims, [_empty(s) for s in a], wa)
    _check_lengths(lambda: _quorvel.covariance_length_derivatives(variance, dims, a, wa), a)
    n_l, n_t = len(l0), [len(d) for d in t0]
    dims_key = _data(dims, "dims")
    ranges, parts = _atom_chunks(a, chunk, "a")
    task = dask.delayed(_derivatives_block, pure=False, nout=3)
    k_grid: list[list[Any]] = []
    l_grid: list[list[list[Any]]] = [[] for _ in range(n_l)]
    t_grid: list[list[list[list[Any]]]] = [[[] for _ in range(m)] for m in n_t]
    for i, (r0, r1) in enumerate(ranges):
        k_line: list[Any] = []
        l_lines: list[list[Any]] = [[] for _ in range(n_l)]
        t_lines: list[list[list[Any]]] = [[[] for _ in range(m)] for m in n_t]
        for j, (c0, c1) in enumerate(ranges):
            if j < i:
                k_line.append(k_grid[j][i].T)
                for d in range(n_l):
                    l_lines[d].append(l_grid[d][j][i].T)
                for d, m in enumerate(n_t):
                    for c in range(m):
                        t_lines[d][c].append(t_grid[d][c][j][i].T)
                continue
            k, l, t = task(variance, dims_key, parts[i], parts[j] if j > i else None, wa)
            shape = (r1 - r0, c1 - c0)
            k_line.append(_dense(k, shape))
            for d in range(n_l):
                l_lines[d].append(_dense(l[d], shape))
            for d, m in enumerate(n_t):
                for c in range(m):
                    t_lines[d][c].append(_dense(t[d][c], shape))
        k_grid.append(k_line)
        for d in range(n_l):
            l_grid[d].append(l_lines[d])
        for d, m in enumerate(n_t):
            for c in range(m):
                t_grid[d][c].append(t_lines[d][c])
    return (
        da.block(k_grid),
        [da.block(g) for g in l_grid],
        [[da.block(g) for g in d] for d in t_grid],
    )


# ---- operators over rows ------------------------------------------------------------------------


def apply_last_axis(
    operator: Projection | Fit, data: Any, bounds: _Bounds = None, *, chunk: int = ROWS_PER_CHUNK
) -> Any:
    """``operator.apply_last_axis`` over the row blocks of ``data``.

    Parameters
    ----------
    operator : Projection or Fit
        Sent to the workers once, as one piece of graph data.
    data : dask.array.Array or ndarray of float64, shape (k, n_in)
        A Dask array keeps its row chunks (its columns are joined into one chunk); a NumPy
        array is cut into blocks of ``chunk`` rows.
    bounds : None, "local" or (lo, hi)
        As in `Projection.apply_last_axis`; only for a `Projection`.

    Returns
    -------
    dask.array.Array
        Float64, shape ``(k, n_out)``, with the row chunks of ``data``.
    """
    n_out = operator.n_dst if isinstance(operator, Projection) else operator.n_model
    if isinstance(data, da.Array):
        _apply_block(np.empty((0,) + data.shape[1:], dtype=data.dtype), operator, bounds)
    else:
        _apply_block(data[:0], operator, bounds)
        _ranges(1, chunk)
        data = da.from_array(data, chunks=(chunk, -1))
    data = data.rechunk({1: -1})
    return data.map_blocks(
        _apply_block,
        _data(operator, "operator"),
        bounds,
        dtype=np.float64,
        chunks=(data.chunks[0], (n_out,)),
        meta=np.empty((0, 0), dtype=np.float64),
    )
