"""Results do not depend on the number of worker threads: bitwise equality across thread counts."""

import os
import subprocess
import sys

import pytest

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
assert len(ev[2]) > 400_000 and len(ip[2]) > 5_000 and len(gram[2]) > 2_000
print(digest(*ev[:3]), digest(*ip[:3]), digest(*gram[:3]), ev[3], ip[3])
"""


def run(threads):
    env = dict(os.environ)
    if threads is None:
        env.pop("OMP_NUM_THREADS", None)
    else:
        env["OMP_NUM_THREADS"] = str(threads)
    out = subprocess.run(
        [sys.executable, "-c", SCRIPT], env=env, capture_output=True, text=True, check=True
    )
    return out.stdout.strip()


@pytest.fixture(scope="module")
def default_run():
    return run(None)


@pytest.mark.parametrize("threads", [1, 3])
def test_bitwise_equal_across_thread_counts(default_run, threads):
    assert run(threads) == default_run
