"""Results too large for memory are refused with MemoryError before their rows are built."""

import json

import pytest

from helpers import run_python

# Each call would store 1e10 entries (160 GB or more); the process may have 2 GB of address space.
CALLS = {
    "evaluate": "q.evaluate(wide, x)",
    "inner_products": "q.inner_products(wide, boxes)",
    "measure": 'q.measure(wide, boxes, "integral")',
    "measure_derivative": 'q.measure_derivative(wide, boxes, "integral", "center")',
}

SCRIPT = """
import json, resource, time
import numpy as np, quorvel as q
resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
n = 100_000
x = np.linspace(0.0, 1.0, n)
wide = q.Space.gaussians(x, np.full(n, 1.0), 5.0)
boxes = q.Space.boxes(np.linspace(0.0, 1.0, n + 1))
def small():
    return q.evaluate(q.Space.hats(np.array([0.0, 1.0, 2.0])), np.array([0.5, 1.5]))[2].tolist()
before = small()
start = time.perf_counter()
try:
    {call}
    outcome = "returned"
except MemoryError:
    outcome = "MemoryError"
seconds = time.perf_counter() - start
print(json.dumps({{"outcome": outcome, "seconds": seconds,
                  "peak_mb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024,
                  "same after": small() == before}}))
"""


@pytest.mark.parametrize("name", CALLS)
def test_results_beyond_memory_are_refused_early(name):
    out = json.loads(run_python(SCRIPT.format(call=CALLS[name]), timeout=300))
    assert out["outcome"] == "MemoryError"
    # Refused from a sample of rows: nothing near the limit was used.
    assert out["peak_mb"] < 300
    assert out["same after"]
