"""Mutation fuzzing of the inputs that carry their own layout: pickled objects, SciPy sparse
matrices and sparse tuples. Every call must end in a result or a clean exception. Each fuzzer runs
in a fresh interpreter (a crash fails the test with its seed) for QUORVEL_FUZZ_SECONDS seconds
(default 2); set it higher for a longer search."""

import os
import subprocess
import sys

import pytest

SECONDS = float(os.environ.get("QUORVEL_FUZZ_SECONDS", "2"))

PRELUDE = """
import copy, pickle, sys, time
import numpy as np, scipy.sparse as sp, quorvel as q
rng = np.random.default_rng(int(sys.argv[1]))
deadline = time.monotonic() + float(sys.argv[2])
CLEAN = (ValueError, TypeError, OverflowError, MemoryError)
calls = 0
"""

PICKLES = PRELUDE + """
x = np.linspace(0.0, 4.0, 9)
objects = [
    q.Space.hats(x), q.Space.bsplines(x, 3), q.Space.deltas(x),
    q.Space.gaussians(x, np.full(9, 0.3), 4.0), q.Space.lorentzians(x, np.full(9, 0.2), 5.0),
    q.Space.fts(x, np.full(9, 2.0), 3.0, apodization="hann"),
    q.Space.shifted(np.array([-1.0, 0.0, 1.0]), np.array([0.0, 1.0, 0.0]), x, np.ones(9), "pchip"),
    q.Space.hats(x + 1.0).mapped("reciprocal", 2.0, 0.0, True).mapped("affine", 1.0, 2.0, False),
    q.Projection(q.Space.hats(x), q.Space.boxes(x)),
    q.Fit(q.Space.gaussians(x, np.full(9, 0.3), 4.0), q.Space.bsplines(x, 3), "integral", 1e-3,
          "derivative", 2),
]
seeds = [o.__reduce__()[1][0] for o in objects]
probe = np.linspace(-1.0, 5.0, 7)

def mutate(data):
    b = bytearray(data)
    for _ in range(rng.integers(1, 4)):
        op = rng.integers(5)
        at = int(rng.integers(len(b))) if b else 0
        if op == 0 and b:
            b[at] = int(rng.integers(256))
        elif op == 1 and b:
            b[at] ^= 1 << int(rng.integers(8))
        elif op == 2:
            del b[at:]
        elif op == 3:
            b[at:at] = rng.bytes(int(rng.integers(1, 9)))
        elif b:
            n = int(rng.integers(1, 17))
            b[at:at] = b[at:at + n]
    return bytes(b)

while time.monotonic() < deadline:
    data = mutate(seeds[rng.integers(len(seeds))])
    calls += 1
    try:
        obj = q._quorvel._from_bytes(data)
    except CLEAN:
        continue
    copy.deepcopy(obj)
    pickle.loads(pickle.dumps(obj))
    if isinstance(obj, q.Space):
        obj.lower(), obj.upper(), obj.centers()
        try:
            q.evaluate(obj, probe)
        except CLEAN:
            pass
    else:
        obj.to_dense()
print(calls)
"""

SPARSE = PRELUDE + """
def bad_ints(n, hi):
    return rng.integers(-3, hi + 3, size=n)

while time.monotonic() < deadline:
    rows, cols = (int(v) for v in rng.integers(0, 6, size=2))
    nnz = int(rng.integers(0, 10))
    data = rng.standard_normal(nnz)
    fmt = rng.integers(3)
    calls += 1
    try:
        if fmt == 0:
            indptr = np.sort(bad_ints(rows + 1, nnz)) if rng.random() < 0.5 else bad_ints(rows + 1, nnz)
            m = sp.csr_array((data, bad_ints(nnz, cols), indptr), shape=(rows, cols))
        elif fmt == 1:
            m = sp.csc_array((data, bad_ints(nnz, rows), bad_ints(cols + 1, nnz)), shape=(rows, cols))
        else:
            m = sp.coo_array((data, (bad_ints(nnz, rows), bad_ints(nnz, cols))), shape=(rows, cols))
    except (ValueError, IndexError, TypeError):
        continue
    try:
        t = q.from_scipy(m)
    except CLEAN:
        t = None
    if t is not None:
        indptr, indices, values, shape = t
        assert shape == (rows, cols) and indptr[0] == 0 and (np.diff(indptr) >= 0).all()
        assert ((indices >= 0) & (indices < max(cols, 1))).all()
        q.to_scipy(t).toarray()
    # A forged tuple: a valid one with one part changed.
    good = q.from_scipy(sp.random(rows, cols, density=0.5, format="csr", random_state=rng))
    parts = list(good)
    k = rng.integers(4)
    if k == 3:
        parts[3] = (int(rng.integers(-2, 8)), int(rng.integers(-2, 8)))
    elif len(parts[k]):
        parts[k] = parts[k].copy()
        parts[k][rng.integers(len(parts[k]))] = rng.integers(-5, 12)
    else:
        parts[k] = rng.integers(-5, 12, size=int(rng.integers(1, 4)))
    try:
        q.to_scipy(tuple(parts)).toarray()
    except CLEAN:
        pass
print(calls)
"""


FUZZERS = {"pickles": PICKLES, "sparse": SPARSE}


@pytest.mark.parametrize("name", FUZZERS)
@pytest.mark.parametrize("seed", [1, 2])
def test_fuzz(name, seed):
    script = FUZZERS[name]
    out = subprocess.run([sys.executable, "-c", script, str(seed), str(SECONDS)],
                         capture_output=True, text=True, timeout=SECONDS + 120,
                         env=dict(os.environ, PYTHONFAULTHANDLER="1"))
    assert out.returncode == 0, f"{name} fuzzer, seed {seed}:\n{out.stderr[-3000:]}"
    assert int(out.stdout.split()[-1]) > 0
