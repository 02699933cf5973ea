"""A short tour of quorvel: a cubic B-spline basis, point evaluation, inner products, a
projection onto a coarser basis, the retrieval of a spectrum from instrument data, and the
Faddeeva function. With matplotlib installed it also draws the retrieval (demo.png beside this
script, or --output FILE.png)."""

import argparse
from pathlib import Path

import numpy as np

import quorvel

parser = argparse.ArgumentParser(description="A short tour of quorvel.")
parser.add_argument("--output", type=Path, default=Path(__file__).with_name("demo.png"))
args = parser.parse_args()

# Nine clamped cubic B-splines on [0, 1] with breakpoints every 1/6.
basis = quorvel.Space.bsplines_clamped(np.linspace(0.0, 1.0, 7), 3)
print("basis:", basis, "| supports from", basis.lower(), "to", basis.upper())


def dense(sparse):
    """The (indptr, indices, data, shape) tuple as a dense NumPy array."""
    indptr, indices, data, (rows, cols) = sparse
    out = np.zeros((rows, cols))
    for i in range(rows):
        out[i, indices[indptr[i] : indptr[i + 1]]] = data[indptr[i] : indptr[i + 1]]
    return out


# Point evaluation: the clamped B-splines form a partition of unity on [0, 1) (pieces are
# half-open, so every element is 0 at the right end of the interval).
x = np.array([0.0, 0.2, 0.5, 0.8, 0.99])
values = dense(quorvel.evaluate(basis, x))
print("values at", x, ":\n", np.round(values, 4) + 0.0)
print("row sums:", values.sum(axis=1))

# Inner products (the Gram matrix) and integrals, plain and with a cos(4x) weight.
gram = dense(quorvel.inner_products(basis, basis))
print("Gram matrix is symmetric:", np.allclose(gram, gram.T), "| sum of entries:", gram.sum())
print("integrals:", basis.integrals())
print("integrals with cos(4x):", basis.integrals(weight=4.0))

# Coefficients of sin(2 pi x) in the basis: project samples given on a fine hat basis.
nodes = np.linspace(0.0, 1.0, 201)
fine = quorvel.Space.hats(nodes)
projection = quorvel.Projection(fine, basis)
coefficients = projection.apply_last_axis(np.sin(2 * np.pi * nodes)[None, :])[0]
check = np.linspace(0.0, 1.0, 11)
error = dense(quorvel.evaluate(basis, check)) @ coefficients - np.sin(2 * np.pi * check)
print(f"largest error of the projected sine: {np.abs(error).max():.2e}")

# Retrieval: a spectrum of two Voigt lines seen through Gaussian instrument kernels, with noise,
# fitted by cubic B-splines with a second-derivative penalty.
grid = np.linspace(0.0, 10.0, 2001)
truth = quorvel.Space.voigts(np.array([3.0, 6.5]), np.array([0.25, 0.4]), np.array([0.1, 0.2]), 30.0)
truth_on_grid = dense(quorvel.evaluate(truth, grid)) @ np.array([1.0, 0.6])
kernels = quorvel.Space.gaussians(np.linspace(0.5, 9.5, 181), np.full(181, 0.15), 4.0)
w = dense(quorvel.measure(kernels, quorvel.Space.hats(grid), "integral"))
rng = np.random.default_rng(0)
data = w @ truth_on_grid + rng.normal(0.0, 0.01, size=181)
model = quorvel.Space.bsplines_clamped(np.linspace(0.0, 10.0, 81), 3)
fit = quorvel.Fit(kernels, model, "integral", 0.3, "derivative", 2)
spectrum = fit.apply_last_axis(data[None, :])[0]
retrieved = dense(quorvel.evaluate(model, grid)) @ spectrum
inside = (grid > 1.0) & (grid < 9.0)
print(f"retrieved spectrum from {len(kernels)} noisy kernel readings:",
      f"largest error {np.abs(retrieved - truth_on_grid)[inside].max():.3f}",
      f"on a peak of {truth_on_grid.max():.3f}")
sensitivity = quorvel.measure_derivative(kernels, model, "integral", "sigma")[1]
print(f"d(W)/d(sigma) of the instrument has {len(sensitivity[2])} stored entries")

# The real part of the Faddeeva function, the kernel of the Voigt line shape.
for re, im in [(0.0, 0.0), (1.0, 0.5), (3.0, 2.0)]:
    print(f"Re w({re} + {im}i) = {quorvel.faddeeva_re(re, im):.15g}")

# The retrieval as a picture, when matplotlib is there.
try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    print("matplotlib is not installed (pip install '.[examples]'): no picture drawn")
else:
    fig, ax = plt.subplots(figsize=(7.0, 3.5), layout="constrained")
    ax.plot(grid, truth_on_grid, color="k", lw=1, label="true spectrum: two Voigt lines")
    ax.plot(kernels.centers(), data, "o", ms=3, color="C1",
            label=f"{len(kernels)} noisy readings of Gaussian kernels (at their centres)")
    ax.plot(grid[inside], retrieved[inside], color="C0", lw=1.5, ls="--",
            label=f"Fit: {len(model)} cubic B-splines, 2nd-derivative penalty")
    ax.set_xlabel("position x (arbitrary units)")
    ax.set_ylabel("intensity (arbitrary units)")
    ax.set_title(f"Retrieved from kernel data: largest error "
                 f"{np.abs(retrieved - truth_on_grid)[inside].max():.3f} on a peak of "
                 f"{truth_on_grid.max():.3f}", fontsize=10)
    ax.legend(fontsize=8)
    fig.savefig(args.output, dpi=90)
    print(f"wrote {args.output}")
