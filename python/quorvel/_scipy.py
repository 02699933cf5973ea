"""Sparse results as SciPy sparse arrays and back. SciPy is imported only when these are called."""

from typing import Any


def _scipy_sparse() -> Any:
    try:
        import scipy.sparse  # type: ignore[import-untyped]
    except ImportError as error:
        raise ImportError(
            "quorvel.to_scipy and quorvel.from_scipy need SciPy; "
            "install it with: pip install 'quorvel[scipy]'"
        ) from error
    return scipy.sparse


def _is_sparse_result(value: object) -> bool:
    return isinstance(value, tuple) and len(value) == 4 and isinstance(value[3], tuple)


def _shape(shape: Any, what: str) -> tuple[int, int]:
    """The (rows, columns) of `shape`: two non-negative integers."""
    import numpy as np

    if not isinstance(shape, tuple) or len(shape) != 2:
        raise ValueError(f"{what}: shape must be a tuple (rows, columns), got {shape!r}")
    for n in shape:
        if not isinstance(n, (int, np.integer)) or isinstance(n, bool) or n < 0:
            raise ValueError(
                f"{what}: shape must hold two non-negative integers, got {shape!r}"
            )
    return int(shape[0]), int(shape[1])


def _integers(values: Any, name: str, what: str) -> Any:
    """`values` as a 1-D int64 array; a ValueError naming `name` for anything else."""
    import numpy as np

    a = np.asarray(values)
    if a.ndim != 1 or not (a.dtype.kind in "iu" or a.size == 0):
        raise ValueError(
            f"{what}: {name} must be a 1-D integer array, got {a.dtype} with shape {a.shape}"
        )
    if a.dtype.kind == "u" and a.size and a.max() > np.iinfo(np.int64).max:
        raise ValueError(f"{what}: {name} holds values beyond int64")
    return a.astype(np.int64, copy=False)


def _check_compressed(
    indptr: Any, indices: Any, n_data: int, n_major: int, n_minor: int, what: str,
    minor: str = "columns",
) -> None:
    """Checks a compressed layout before anything reads through it: n_major + 1 index pointers
    from 0, never decreasing, up to the number of stored entries, and indices in [0, n_minor)."""
    import numpy as np

    if len(indptr) != n_major + 1:
        raise ValueError(
            f"{what}: indptr has {len(indptr)} entries, expected {n_major + 1} for the shape"
        )
    if indptr[0] != 0:
        raise ValueError(f"{what}: indptr must start at 0, got {indptr[0]}")
    steps = np.diff(indptr)
    if (steps < 0).any():
        k = int(np.argmax(steps < 0)) + 1
        raise ValueError(
            f"{what}: indptr must not decrease, got indptr[{k}] = {indptr[k]} after "
            f"indptr[{k - 1}] = {indptr[k - 1]}"
        )
    nnz = int(indptr[-1])
    if nnz != len(indices) or nnz != n_data:
        raise ValueError(
            f"{what}: indptr ends at {nnz}, but there are {len(indices)} indices and "
            f"{n_data} values"
        )
    bad = (indices < 0) | (indices >= n_minor)
    if bad.any():
        k = int(np.argmax(bad))
        raise ValueError(
            f"{what}: index {indices[k]} at position {k} is out of range for {n_minor} {minor}"
        )


def _real_values(data: Any, what: str) -> Any:
    import numpy as np

    d = np.asarray(data)
    if d.dtype.kind == "c":
        raise TypeError("quorvel sparse tuples hold real values, got a complex matrix")
    if d.ndim != 1 or d.dtype.kind not in "biuf":
        raise ValueError(
            f"{what}: data must be a 1-D array of real numbers, got {d.dtype} with shape {d.shape}"
        )
    return d


def _checked_result(result: tuple[Any, Any, Any, Any]) -> tuple[Any, Any, Any, tuple[int, int]]:
    """A sparse tuple whose layout has been checked: its arrays can be read safely."""
    indptr, indices, data, shape = result
    rows, cols = _shape(shape, "to_scipy")
    indptr = _integers(indptr, "indptr", "to_scipy")
    indices = _integers(indices, "indices", "to_scipy")
    data = _real_values(data, "to_scipy")
    _check_compressed(indptr, indices, len(data), rows, cols, "to_scipy")
    return indptr, indices, data, (rows, cols)


def to_scipy(result: Any) -> Any:
    """A sparse result of quorvel as a ``scipy.sparse.csr_array``.

    Parameters
    ----------
    result : tuple
        A sparse result ``(indptr, indices, data, shape)`` (from `evaluate`,
        `inner_products`, `measure`, `Projection.cross`, `Fit.design`), or a tuple of such
        results, such as the pair ``(W, dW)`` of `measure_derivative`.

    Returns
    -------
    scipy.sparse.csr_array or tuple of scipy.sparse.csr_array
        One array for one result, a tuple of arrays for a tuple of results, so
        ``W, dW = quorvel.to_scipy(quorvel.measure_derivative(...))``. The arrays may share
        memory with the result's arrays.

    Raises
    ------
    TypeError
        ``result`` is neither a sparse result nor a tuple of them.
    ValueError
        The tuple is not a consistent compressed-row layout (index pointers that decrease or
        do not match the arrays, column indices out of range, a bad shape).
    ImportError
        SciPy is not installed (it is the optional extra ``quorvel[scipy]``).

    Examples
    --------
    >>> import numpy as np, quorvel
    >>> hats = quorvel.Space.hats(np.array([0.0, 1.0, 2.0]))
    >>> quorvel.to_scipy(quorvel.evaluate(hats, np.array([0.5]))).toarray().tolist()
    [[0.5, 0.5, 0.0]]
    """
    sparse = _scipy_sparse()
    if _is_sparse_result(result):
        indptr, indices, data, shape = _checked_result(result)
        return sparse.csr_array((data, indices, indptr), shape=shape)
    if isinstance(result, tuple) and result and all(map(_is_sparse_result, result)):
        checked = [_checked_result(r) for r in result]
        return tuple(sparse.csr_array((d, j, p), shape=s) for p, j, d, s in checked)
    raise TypeError(
        "expected a sparse result (indptr, indices, data, shape) or a tuple of them, "
        f"got {type(result).__name__}"
    )


def from_scipy(matrix: Any) -> tuple[Any, Any, Any, tuple[int, int]]:
    """A SciPy sparse matrix or array as a quorvel sparse tuple.

    The reverse of `to_scipy`: the matrix is converted to compressed rows of float64 values,
    duplicate entries are summed and the columns of each row sorted, so the result has the
    layout of quorvel's own sparse results. Stored zeros are kept (``to_scipy`` followed by
    ``from_scipy`` gives back the same arrays). The input is not modified.

    Parameters
    ----------
    matrix : scipy.sparse array or matrix
        Any format (CSR, CSC, COO, ...), real values.

    Returns
    -------
    tuple
        ``(indptr, indices, data, shape)``: int64, int64 and float64 arrays and a tuple of two
        ints.

    Raises
    ------
    TypeError
        Complex values.
    ValueError
        An inconsistent matrix (which SciPy may accept without checking): index pointers that
        decrease or do not match the arrays, indices out of range, non-numeric values.
    ImportError
        SciPy is not installed (it is the optional extra ``quorvel[scipy]``).

    Examples
    --------
    >>> import numpy as np, scipy.sparse, quorvel
    >>> m = scipy.sparse.coo_array(([1.0, 2.0, 3.0], ([0, 0, 1], [2, 0, 2])), shape=(2, 3))
    >>> indptr, indices, data, shape = quorvel.from_scipy(m)
    >>> indptr.tolist(), indices.tolist(), data.tolist(), shape
    ([0, 2, 3], [0, 2, 2], [2.0, 1.0, 3.0], (2, 3))
    """
    import numpy as np

    sparse = _scipy_sparse()
    dtype = getattr(matrix, "dtype", None)
    if dtype is not None and np.dtype(dtype).kind == "c":
        raise TypeError("quorvel sparse tuples hold real values, got a complex matrix")
    if sparse.issparse(matrix):
        _check_sparse(matrix)
    csr = sparse.csr_array(matrix, dtype=np.float64, copy=True)
    csr.sum_duplicates()
    rows, cols = csr.shape
    return (
        np.asarray(csr.indptr, dtype=np.int64),
        np.asarray(csr.indices, dtype=np.int64),
        np.ascontiguousarray(csr.data, dtype=np.float64),
        (int(rows), int(cols)),
    )


def _check_sparse(matrix: Any) -> None:
    """Checks the stored layout of a SciPy sparse matrix before SciPy converts it: SciPy builds
    CSR, CSC and COO arrays from given arrays without checking them, and its conversions then read
    and write out of bounds."""
    what = f"from_scipy ({matrix.format.upper()})"
    rows, cols = _shape(tuple(matrix.shape), what)
    if matrix.format in ("csr", "csc"):
        data = _real_values(matrix.data, what)
        indptr = _integers(matrix.indptr, "indptr", what)
        indices = _integers(matrix.indices, "indices", what)
        if matrix.format == "csr":
            _check_compressed(indptr, indices, len(data), rows, cols, what)
        else:
            _check_compressed(indptr, indices, len(data), cols, rows, what, "rows")
    elif matrix.format == "bsr":
        data = matrix.data
        r, c = matrix.blocksize
        if data.ndim != 3 or data.shape[1:] != (r, c) or rows % r or cols % c:
            raise ValueError(f"{what}: blocks of shape {data.shape[1:]} do not tile {(rows, cols)}")
        _real_values(data.reshape(-1), what)
        indptr = _integers(matrix.indptr, "indptr", what)
        indices = _integers(matrix.indices, "indices", what)
        _check_compressed(indptr, indices, len(data), rows // r, cols // c, what, "block columns")
    elif matrix.format == "coo":
        data = _real_values(matrix.data, what)
        for name, index, n in (("row", matrix.row, rows), ("col", matrix.col, cols)):
            index = _integers(index, name, what)
            if len(index) != len(data):
                raise ValueError(
                    f"{what}: {name} has {len(index)} entries, but there are {len(data)} values"
                )
            bad = (index < 0) | (index >= n)
            if bad.any():
                k = int(bad.argmax())
                raise ValueError(f"{what}: {name} index {index[k]} at position {k} is out of "
                                 f"range for {n} {name}s")
    elif matrix.format == "dia":
        _real_values(matrix.data.reshape(-1), what)
        if matrix.data.ndim != 2 or len(matrix.offsets) != matrix.data.shape[0]:
            raise ValueError(f"{what}: {len(matrix.offsets)} offsets for "
                             f"{matrix.data.shape[0]} diagonals")
