"""Draws the pictures of getting_started.rst from the page's own code.

Runs the page's Python blocks in order in one namespace and, after each step, draws that step's
picture from what the step computed, so the pictures always show what the code on the page does.

    python docs/getting_started_pictures.py [--output DIR]   # default: docs/images
"""

import argparse
import re
import textwrap
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

PAGE = Path(__file__).with_name("getting_started.rst")
X_LABEL = "position x (arbitrary units)"


def code_blocks(text):
    """The bodies of the `.. code-block:: python` directives of an rst text, dedented."""
    blocks = []
    for match in re.finditer(r"^\.\. code-block:: python\n\n((?:(?:   .*)?\n)+)", text, re.M):
        blocks.append(textwrap.dedent(match.group(1)))
    return blocks


def spaces(ns, ax):
    x = np.linspace(0.0, 10.0, 1001)
    quorvel, basis, lines, pixels = ns["quorvel"], ns["basis"], ns["lines"], ns["pixels"]
    values = quorvel.to_scipy(quorvel.evaluate(basis, x)).toarray()
    for j in range(values.shape[1]):
        ax.plot(x, values[:, j], color="C0", lw=0.8,
                label=f"{len(basis)} cubic B-splines" if j == 0 else None)
    line_values = quorvel.to_scipy(quorvel.evaluate(lines, x)).toarray()
    for j in range(line_values.shape[1]):
        ax.plot(x, line_values[:, j], color="C1", lw=1.5,
                label=f"{len(lines)} Gaussian lines (unit peak)" if j == 0 else None)
    for k, edge in enumerate(np.append(pixels.lower(), pixels.upper()[-1])):
        ax.axvline(edge, color="0.8", lw=0.5, zorder=0,
                   label=f"edges of the {len(pixels)} pixels" if k == 0 else None)
    ax.set_ylabel("element value")


def evaluate(ns, ax):
    x, B, c = ns["x"], ns["B"], ns["coefficients"]
    dense = B.toarray()
    for j in range(dense.shape[1]):
        ax.plot(x, dense[:, j] * c[j], color="0.6", lw=0.7,
                label="each B-spline times its coefficient" if j == 0 else None)
    ax.plot(x, ns["f"], color="C0", lw=2, label="f = B @ coefficients")
    ax.set_ylabel("value")


def measure(ns, ax):
    x, pixels = ns["x"], ns["pixels"]
    ax.plot(x, ns["truth"], color="k", lw=1, label="spectrum: 1.0 and 0.6 times the lines")
    edges = np.append(pixels.lower(), pixels.upper()[-1])
    ax.stairs(ns["seen"], edges, color="C1", lw=1.5, label="pixel averages W @ amplitudes")
    ax.set_ylabel("intensity (peak of line 1 = 1)")


def fit(ns, ax):
    x, pixels = ns["x"], ns["pixels"]
    edges = np.append(pixels.lower(), pixels.upper()[-1])
    ax.stairs(ns["data"], edges, color="C1", lw=1, label="noisy pixel averages (σ = 0.01)")
    ax.plot(x, ns["truth"], color="k", lw=1, label="true spectrum")
    inside = x < 10.0
    ax.plot(x[inside], ns["recovered"][inside], color="C0", lw=1.5, ls="--",
            label="fitted cubic spline")
    ax.set_ylabel("intensity (peak of line 1 = 1)")


def covariance(ns, ax):
    x, pixels, mean, std = ns["x"], ns["pixels"], ns["mean"], ns["std"]
    ax.fill_between(x, mean - 2 * std, mean + 2 * std, color="C2", alpha=0.3,
                    label="Gaussian process: mean ± 2σ (Matérn 3/2)")
    ax.plot(x, mean, color="C2", lw=1.5, label="Gaussian process: posterior mean")
    ax.plot(x, ns["truth"], color="k", lw=1, label="true spectrum")
    ax.plot(pixels.centers(), ns["data"], "o", ms=3, color="C1",
            label="pixel averages (at pixel centres)")
    ax.set_ylabel("intensity (peak of line 1 = 1)")


STEPS = [spaces, evaluate, measure, fit, covariance]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", type=Path, default=Path(__file__).with_name("images"))
    args = parser.parse_args()
    args.output.mkdir(parents=True, exist_ok=True)
    blocks = code_blocks(PAGE.read_text())
    assert len(blocks) == len(STEPS), f"{len(blocks)} code blocks for {len(STEPS)} pictures"
    ns = {"__name__": "__main__"}
    for number, (code, draw) in enumerate(zip(blocks, STEPS), start=1):
        exec(compile(code, f"{PAGE.name} step {number}", "exec"), ns)
        fig, ax = plt.subplots(figsize=(7.0, 3.2), layout="constrained")
        draw(ns, ax)
        ax.set_xlabel(X_LABEL)
        ax.set_xlim(0.0, 10.0)
        ax.legend(fontsize=7, loc="lower left" if draw is evaluate else "upper right")
        path = args.output / f"getting_started_{number}.png"
        fig.savefig(path, dpi=90)
        plt.close(fig)
        print(f"wrote {path}")


if __name__ == "__main__":
    main()
