"""Timing helpers shared by the benchmark scripts."""

import time


def best(fn, repeat=3):
    """The shortest wall time of `repeat` calls of fn(), in seconds."""
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def report(name, ours, theirs, unit="", width=56):
    """One line with both times and the ratio SciPy time / quorvel time (above 1: quorvel faster)."""
    print(
        f"{name:<{width}} quorvel {ours * 1e3:9.2f} ms{unit}  scipy {theirs * 1e3:9.2f} ms{unit}"
        f"  ratio {theirs / ours:6.2f}"
    )
