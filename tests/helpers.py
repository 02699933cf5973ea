"""Small helpers shared by the test modules: array and sparse-result conversions, references built
from SciPy and NumPy, and the common ways of asserting messages."""

import functools
import os
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest
import scipy.sparse
from scipy.interpolate import BSpline

import quorvel

# ---- arrays and sparse results ------------------------------------------------------------------


def arr(*values):
    return np.array(values, dtype=float)


def dense(result):
    """A sparse (indptr, indices, data, shape) result as a dense array."""
    indptr, indices, data, shape = result
    return scipy.sparse.csr_matrix((data, indices, indptr), shape=shape).toarray()


def point_values(space, x):
    """Dense matrix of the values of the elements of `space` at the points x, shape
    (len(x), len(space))."""
    return dense(quorvel.evaluate(space, np.asarray(x, dtype=float)))


def element_values(space, x):
    """The values of each element at the points x, shape (len(space), len(x))."""
    return point_values(space, x).T


def parameter_derivative(space, x, parameter):
    """d(value)/d(parameter) of every element at the points x, through delta probes, shape
    (len(space), len(x))."""
    probes = quorvel.Space.deltas(np.asarray(x, dtype=float))
    return dense(quorvel.measure_derivative(space, probes, "none", parameter)[1])


def slopes(space, x):
    """d(value)/dx of every element at the points x: minus the derivative by the center."""
    return -parameter_derivative(space, x, "center")


def rows_of(result):
    """The stored (column, value) pairs of each row of a sparse result."""
    indptr, indices, data, shape = result
    return [
        list(
            zip(
                indices[indptr[i] : indptr[i + 1]].tolist(),
                data[indptr[i] : indptr[i + 1]].tolist(),
            )
        )
        for i in range(shape[0])
    ]


def assert_canonical(result, stored_zeros=False):
    """Columns strictly ascending per row, consistent arrays, and no stored exact zeros unless
    `stored_zeros` allows them."""
    indptr, indices, data, shape = result
    assert indptr.dtype == np.int64 and indices.dtype == np.int64 and data.dtype == np.float64
    assert indptr[0] == 0 and indptr[-1] == len(indices) == len(data)
    assert len(indptr) == shape[0] + 1
    assert np.all(np.diff(indptr) >= 0)
    row_of_entry = np.repeat(np.arange(shape[0]), np.diff(indptr))
    same_row = row_of_entry[1:] == row_of_entry[:-1]
    assert np.all(np.diff(indices)[same_row] > 0)
    assert np.all((indices >= 0) & (indices < shape[1]))
    if not stored_zeros:
        assert not np.any(data == 0.0)


def assert_same_sparse(got, want):
    """Two sparse results store the same entries, bit for bit, and have the same shape."""
    for a, b in zip(got[:3], want[:3]):
        np.testing.assert_array_equal(a, b)
    assert got[3] == want[3]


# ---- references ---------------------------------------------------------------------------------


def central_difference(f, v, h):
    """(f(v + h) - f(v - h)) / 2h."""
    return (f(v + h) - f(v - h)) / (2 * h)


@functools.cache
def _legendre(n):
    return np.polynomial.legendre.leggauss(n)


def gauss_legendre(cuts, n):
    """Nodes and weights of the n-point Gauss-Legendre rule on every piece between the sorted
    distinct cuts: exact for piecewise polynomials of degree < 2n whose pieces end at the cuts."""
    cuts = np.unique(cuts)
    nodes, weights = _legendre(n)
    lo, hi = cuts[:-1], cuts[1:]
    half = (hi - lo)[:, None] / 2
    return ((hi + lo)[:, None] / 2 + half * nodes).ravel(), (half * weights).ravel()


def hat(nodes, j, x):
    """Value and slope at the point x of hat j of `nodes`, from the closed form: the end hats are
    halves, and the slope is 0 at the peak and outside."""
    a, c, b = nodes[max(j - 1, 0)], nodes[j], nodes[min(j + 1, len(nodes) - 1)]
    if a <= x < c:
        return (x - a) / (c - a), 1 / (c - a)
    if c < x <= b:
        return (b - x) / (b - c), -1 / (b - c)
    return (1.0 if x == c else 0.0), 0.0


def bspline_functions(knots, degree, nu=0):
    """The B-splines of a knot vector (or their nu-th derivatives) from SciPy, each 0 outside
    [t_i, t_{i+d+1})."""
    funcs = []
    for i in range(len(knots) - degree - 1):
        t = knots[i : i + degree + 2]
        b = BSpline.basis_element(t, extrapolate=False)
        if nu:
            b = b.derivative(nu)
        funcs.append(
            lambda x, b=b, t=t: np.where(
                (x >= t[0]) & (x < t[-1]), np.nan_to_num(b(x), nan=0.0), 0.0
            )
        )
    return funcs


def periodic_bspline_functions(breakpoints, degree):
    """Periodic B-splines on [b_0, b_n): B-splines of the knot vector extended by a period's
    breakpoints on each side, folded back by one period; 0 outside the period."""
    period = breakpoints[-1] - breakpoints[0]
    n = len(breakpoints)
    ext = np.concatenate(
        [
            breakpoints[n - 1 - degree : n - 1] - period,
            breakpoints,
            breakpoints[1 : degree + 1] + period,
        ]
    )
    base = bspline_functions(ext, degree)[: n - 1]

    def folded(x, b):
        inside = (x >= breakpoints[0]) & (x < breakpoints[-1])
        return np.where(inside, b(x) + b(x - period) + b(x + period), 0.0)

    return [lambda x, b=b: folded(x, b) for b in base]


def columns(funcs, x):
    """Matrix of the functions at the points x, one column per function."""
    return np.array([f(x) for f in funcs]).reshape(len(funcs), len(x)).T


def positional(value):
    """Shortest round-trip digits of `value` written out without an exponent, with NaN, inf and
    -inf spelled as messages spell them."""
    if np.isnan(value):
        return "NaN"
    if np.isinf(value):
        return "-inf" if value < 0 else "inf"
    return np.format_float_positional(value, trim="-")


# ---- spaces -------------------------------------------------------------------------------------


def uniform_bsplines(lo, hi, n_intervals, degree=3):
    """B-splines on uniform knots extended past [lo, hi] so that they span it completely."""
    h = (hi - lo) / n_intervals
    knots = lo + h * np.arange(-degree, n_intervals + degree + 1, dtype=float)
    return quorvel.Space.bsplines(knots, degree)


def cubic_basis():
    """Cubic B-splines on the uniform knots -2, -1.5, ..., 12: the basis that kernels measure."""
    return quorvel.Space.bsplines(np.linspace(-2.0, 12.0, 29), 3)


# ---- failures -----------------------------------------------------------------------------------


def value_error_message(f, *args, **kwargs):
    """The message of the plain ValueError that f raises."""
    with pytest.raises(ValueError) as info:
        f(*args, **kwargs)
    assert type(info.value) is ValueError
    assert len(info.value.args) == 1
    return info.value.args[0]


def type_error_message(f, *args, **kwargs):
    """The message of the TypeError that f raises before any argument is converted, so without a
    note naming one (a call that does not bind to the signature)."""
    with pytest.raises(TypeError) as info:
        f(*args, **kwargs)
    assert getattr(info.value, "__notes__", None) is None
    return str(info.value)


def raises_with_note(exc, name, f, *args, hint=None, **kwargs):
    """The message of the `exc` that f raises, which must carry the note naming the argument,
    followed by the note `hint` when one is given."""
    with pytest.raises(exc) as info:
        f(*args, **kwargs)
    assert info.value.__notes__ == [f"while processing '{name}'"] + ([hint] if hint else [])
    return str(info.value)


def run_python(code, timeout=None, **env):
    """What a fresh interpreter prints when it runs `code`, with the environment variables in
    `env` set (None removes one); fails when the interpreter exits with an error."""
    environment = dict(os.environ)
    for key, value in env.items():
        if value is None:
            environment.pop(key, None)
        else:
            environment[key] = str(value)
    out = subprocess.run([sys.executable, "-c", code], env=environment, capture_output=True,
                         text=True, timeout=timeout)
    if out.returncode != 0:
        pytest.fail(f"the child interpreter {exit_status(out.returncode)}\n"
                    f"--- its stderr ---\n{out.stderr}--- its stdout ---\n{out.stdout}",
                    pytrace=False)
    return out.stdout.strip()


def exit_status(returncode):
    """How a child process ended, in words: "exited with status 1", "was killed by SIGABRT"."""
    if returncode < 0:
        try:
            return f"was killed by {signal.Signals(-returncode).name}"
        except ValueError:
            return f"was killed by signal {-returncode}"
    return f"exited with status {returncode}"


def on_threads(work, n):
    """The results of work() called on n threads that run at the same time, in thread order."""
    results = [None] * n

    def run(i):
        results[i] = work()

    threads = [threading.Thread(target=run, args=(i,)) for i in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results
