"""Scripts that once crashed, froze or corrupted a process: each runs in a fresh interpreter with a
timeout and must end normally (a result or a clear exception)."""

import os
import signal
import subprocess
import sys

import pytest

PRELUDE = """
import os, signal, sys, threading, time
import numpy as np, quorvel as q

def medium():
    # About a second of walks with steps capped by the weight.
    basis = q.Space.bsplines(np.linspace(0.0, 1.0, 1001), 3)
    kernels = q.Space.gaussians(np.linspace(0.01, 0.99, 20), np.full(20, 1e-3), 5.0)
    return q.measure(kernels, basis, "integral", weight=1e6)[2]

def signal_every(period, until):
    def send():
        while not until():
            time.sleep(period)
            os.kill(os.getpid(), signal.SIGINT)
    threading.Thread(target=send, daemon=True).start()
"""

SCRIPTS = {
    # A daemon thread inside a call while the interpreter shuts down.
    "exit during a call": """
# The call ends while a module's object is being finalized at shutdown (a daemon thread that
# takes the interpreter lock back then is ended by the interpreter).
import types
class SlowToFinalize:
    def __del__(self, sleep=time.sleep):
        sleep(3.0)
module = types.ModuleType("slow_to_finalize")
module.slow = SlowToFinalize()
sys.modules[module.__name__] = module
kernels = q.Space.gaussians(np.linspace(0.01, 0.99, 20), np.full(20, 1e-3), 5.0)
basis = q.Space.bsplines(np.linspace(0.0, 1.0, 1001), 3)
threading.Thread(target=q.measure, args=(kernels, basis, "integral", 1e5), daemon=True).start()
time.sleep(0.3)
""",
    # A fork from another thread while the main thread is in a call; the child is interrupted
    # and then computes normally.
    "fork during a call": """
def fork_soon():
    time.sleep(0.2)
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT)).start()
            try:
                medium()
            except KeyboardInterrupt:
                pass
            code = 0 if np.isfinite(medium()).all() else 1
        finally:
            os._exit(code)
    _, status = os.waitpid(pid, 0)
    results.append(os.waitstatus_to_exitcode(status))
results = []
forker = threading.Thread(target=fork_soon)
forker.start()
medium()
forker.join()
assert results == [0], results
""",
    # A handler that returns does not restart the call: it finishes with the same bits.
    "handler that returns": """
expected = medium()
seen = []
signal.signal(signal.SIGINT, lambda *args: seen.append(1))
done = []
signal_every(0.05, lambda: bool(done))
got = medium()
done.append(1)
assert np.array_equal(got, expected) and seen
""",
    # asyncio.run's first Ctrl-C cancels the task instead of raising in the running frame.
    "asyncio": """
import asyncio
expected = medium()
async def main():
    threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT)).start()
    got = medium()
    assert np.array_equal(got, expected)
    await asyncio.sleep(0)
try:
    asyncio.run(main())
except (KeyboardInterrupt, asyncio.CancelledError):
    pass
""",
    # A handler that gives SIGINT back to the default disposition during a call: the next
    # SIGINT ends the process.
    "handler sets SIG_DFL": """
signal.signal(signal.SIGINT, lambda *args: signal.signal(signal.SIGINT, signal.SIG_DFL))
threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT)).start()
medium()
assert signal.getsignal(signal.SIGINT) == signal.SIG_DFL
os.kill(os.getpid(), signal.SIGINT)
time.sleep(5)
""",
    "handler sets SIG_IGN": """
signal.signal(signal.SIGINT, lambda *args: signal.signal(signal.SIGINT, signal.SIG_IGN))
threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT)).start()
medium()
assert signal.getsignal(signal.SIGINT) == signal.SIG_IGN
os.kill(os.getpid(), signal.SIGINT)
time.sleep(0.2)
""",
    "from_scipy with backward pointers": """
import scipy.sparse as sp
bad = [sp.csc_array((np.ones(3), np.array([0, 1, 2]), np.array([0, 2, 1, 3])), shape=(3, 3)),
       sp.csr_array((np.ones(2), np.array([-1, 7]), np.array([0, 1, 2])), shape=(2, 3))]
for m in bad:
    try:
        q.from_scipy(m)
    except ValueError:
        pass
    else:
        raise AssertionError("accepted")
""",
    "to_scipy with a forged tuple": """
t = q.evaluate(q.Space.hats(np.linspace(0.0, 1.0, 5)), np.linspace(0.0, 1.0, 7))
for forged in [(t[0], t[1] + 100000, t[2], t[3]), (t[0][::-1], t[1], t[2], t[3]),
               (t[0], t[1], t[2][:-1], t[3])]:
    try:
        q.to_scipy(forged).toarray()
    except ValueError:
        pass
    else:
        raise AssertionError("accepted")
""",
    "subnormal Lorentzian width": """
try:
    q.Space.lorentzians(np.array([0.0]), np.array([5e-324]), 3.0).integrals()
except ValueError:
    pass
""",
    "deeply nested reciprocal maps": """
s = q.Space.boxes(np.array([1.0, 2.0]))
try:
    for _ in range(64):
        s = s.mapped("reciprocal", 1.0, 0.0, True)
except ValueError:
    pass
else:
    raise AssertionError("no nesting limit")
s.integrals()
""",
    "strided bytes, tiny maps and huge windows": """
s = q.Space.hats(np.linspace(0.0, 1.0, 5))
raw = s.__reduce__()[1][0]
doubled = np.frombuffer(bytes(b for b in raw for _ in range(2)), dtype=np.uint8)
assert len(q._quorvel._from_bytes(memoryview(doubled)[::2])) == 5
for a in [5e-324, 1e-300]:
    try:
        r = q.Space.boxes(np.array([1.0, 2.0])).mapped("reciprocal", a, 0.0, True)
    except ValueError:
        continue
    assert np.isfinite(q.evaluate(r, np.array([0.7 * a]))[2]).all() and np.isfinite(r.integrals()).all()
try:
    f = q.Space.fts(np.array([0.0]), np.array([1.0]), 5.0, cosine_sum=[1e308, -1e308, 1e308])
    assert np.isfinite(f.integrals()).all()
except ValueError:
    pass
""",
    "memory exhausted": """
import resource
resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))
a = [q.Space.deltas(np.linspace(0.0, 1.0, 2_000_000))]
try:
    q.covariance_matrix(1.0, [("gaussian", 1.0, None, None)], a, [None], a, [None])
except MemoryError as e:
    assert str(e) == ("covariance matrix of 2000000 x 2000000 doubles (32 TB) does not fit in "
                      "memory"), str(e)
""",
}


def run_script(name, timeout=60):
    env = dict(os.environ, PYTHONFAULTHANDLER="1")
    return subprocess.run([sys.executable, "-c", PRELUDE + SCRIPTS[name]], env=env,
                          capture_output=True, text=True, timeout=timeout)


EXPECTED_SIGNAL = {"handler sets SIG_DFL": -signal.SIGINT}


@pytest.mark.parametrize("name", SCRIPTS)
def test_reproducer_ends_normally(name):
    out = run_script(name)
    assert out.returncode == EXPECTED_SIGNAL.get(name, 0), out.stderr
    assert "race condition" not in out.stderr
