"""Results do not depend on the number of worker threads: bitwise equality across thread counts."""

import ctypes.util

import pytest

from helpers import assert_same_sparse, on_threads, run_python

SCRIPT = r"""
import hashlib
import numpy as np
import quorvel
from quorvel import Space

def digest(*arrays):
    h = hashlib.sha256()
    for a in arrays:
        h.update(np.ascontiguousarray(a).tobytes())
    return h.hexdigest()

rng = np.random.default_rng(11)
splines = Space.bsplines_clamped(np.linspace(0.0, 50.0, 400), 3)
lines = Space.voigts(np.sort(rng.uniform(0.0, 50.0, 120)), rng.uniform(0.05, 0.3, 120),
                     rng.uniform(0.05, 0.3, 120), 6.0)
basis = Space.concatenate([splines, lines])
x = rng.uniform(-1.0, 51.0, 100_000)
ev = quorvel.evaluate(basis, x)
ip = quorvel.inner_products(lines, basis, 0.9)
gram = quorvel.inner_products(splines, splines)
long_splines = Space.bsplines(np.sort(rng.uniform(0.0, 50.0, 7_000)), 3)
long_gram = quorvel.inner_products(long_splines, long_splines)
assert len(ev[2]) > 400_000 and len(ip[2]) > 5_000 and len(gram[2]) > 2_000
kernels = Space.gaussians(np.linspace(1.0, 49.0, 300), np.full(300, 0.4), 5.0)
w, dw = quorvel.measure_derivative(kernels, splines, "integral", "sigma", weight=0.3)
rows = rng.normal(size=(40, len(splines)))
projected = quorvel.Projection(splines, Space.bsplines_clamped(np.linspace(0.0, 50.0, 90), 3))
local = projected.apply_last_axis(rows, bounds="local")
fitted = quorvel.Fit(kernels, splines, "rowsum", 1e-3, "derivative", 2).apply_last_axis(
    rng.normal(size=(20, len(kernels))))
atoms = [Space.boxes(np.linspace(0.0, 40.0, 121))]
cov = quorvel.covariance_matrix(1.0, [("matern32", 2.0, None, None)], atoms, [None], atoms, [0.5])
points = [Space.deltas(rng.uniform(0.0, 40.0, 900)), Space.deltas(rng.uniform(0.0, 9.0, 900))]
point_dims = [("matern32", 2.0, None, None), ("squared_exponential", 0.7, None, None)]
pcov = quorvel.covariance_matrix(1.0, point_dims, points, [None, 0.4], points, [None, 0.4])
stretched = Space.shifted(np.linspace(-1.0, 1.0, 9), np.sin(np.linspace(0.0, 3.0, 9)) + 1.0,
                          np.sort(rng.uniform(0.0, 50.0, 3000)), rng.uniform(0.2, 3.0, 3000),
                          "pchip")
sgram = quorvel.inner_products(stretched, stretched)
pfit = quorvel.Fit(Space.deltas(np.sort(rng.uniform(0.0, 50.0, 5_000))), splines, "none", 1e-3,
                   "difference", 2).to_dense()
print(digest(*ev[:3]), digest(*ip[:3]), digest(*gram[:3]), ev[3], ip[3],
      digest(*w[:3], *dw[:3]), digest(local), digest(fitted), digest(cov), digest(pcov),
      digest(*sgram[:3]), digest(pfit), digest(*long_gram[:3]))
"""


@pytest.fixture(scope="module")
def default_run():
    return run_python(SCRIPT, OMP_NUM_THREADS=None)


@pytest.mark.parametrize("threads", [1, 3])
def test_bitwise_equal_across_thread_counts(default_run, threads):
    assert run_python(SCRIPT, OMP_NUM_THREADS=threads) == default_run


def test_concurrent_python_threads_match_serial_results():
    import numpy as np

    import quorvel
    from quorvel import Space

    rng = np.random.default_rng(5)
    splines = Space.bsplines_clamped(np.linspace(0.0, 20.0, 120), 3)
    kernels = Space.voigts(np.linspace(0.5, 19.5, 150), np.full(150, 0.2), np.full(150, 0.1), 8.0)
    projection = quorvel.Projection(splines, Space.hats(np.linspace(0.0, 20.0, 60)))
    fit = quorvel.Fit(kernels, splines, "integral", 1e-2, "difference", 2)
    rows = rng.normal(size=(30, len(splines)))
    data = rng.normal(size=(30, len(kernels)))

    def work():
        return (
            quorvel.measure_derivative(kernels, splines, "rowsum", "gamma", weight=1.5),
            projection.apply_last_axis(rows, bounds=(-0.5, 0.5)),
            fit.apply_last_axis(data),
            fit.to_dense(),
        )

    serial = work()
    for result in on_threads(work, 6):
        (w, dw), bounded, coefficients, dense = result
        assert_same_sparse(w, serial[0][0])
        assert_same_sparse(dw, serial[0][1])
        np.testing.assert_array_equal(bounded, serial[1])
        np.testing.assert_array_equal(coefficients, serial[2])
        np.testing.assert_array_equal(dense, serial[3])


FORK_SCRIPT = r"""
import os
import select
import signal
import numpy as np
import quorvel
from quorvel import Space

atoms = [Space.hats(np.linspace(0.0, 5.0, 60))]
def work():
    return quorvel.covariance_matrix(1.0, [("matern32", 0.5, None, None)], atoms, [None], atoms,
                                     [None])
{before_fork}
read, write = os.pipe()
pid = os.fork()
if pid == 0:
    os.write(write, work().tobytes())
    os._exit(0)
os.close(write)
parent = work()
received = b""
while select.select([read], [], [], 60.0)[0]:
    chunk = os.read(read, 1 << 16)
    if not chunk:
        break
    received += chunk
else:
    os.kill(pid, signal.SIGKILL)
os.waitpid(pid, 0)
print(received == parent.tobytes())
"""

# Another OpenMP user builds its team first; quorvel computes nothing before the fork.
OPENMP_FIRST = """
import ctypes, ctypes.util
gomp = ctypes.CDLL(ctypes.util.find_library("gomp") or "libgomp.so.1")
libc = ctypes.CDLL(None)
# free(NULL) on every thread of a team of two.
gomp.GOMP_parallel(ctypes.cast(libc.free, ctypes.c_void_p), None, 2, 0)
"""


@pytest.mark.parametrize("before_fork", ["work()", OPENMP_FIRST],
                         ids=["parent used the pool", "another OpenMP team first"])
def test_child_of_a_fork_computes(before_fork):
    if before_fork == OPENMP_FIRST and ctypes.util.find_library("gomp") is None:
        pytest.skip("no OpenMP runtime to load")
    script = FORK_SCRIPT.replace("{before_fork}", before_fork)
    assert run_python(script, timeout=120, OMP_NUM_THREADS=2) == "True"
