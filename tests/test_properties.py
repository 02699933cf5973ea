"""Properties that hold for every input, on spaces drawn by hypothesis: the canonical form of
sparse results, clamped B-splines as a partition of unity, symmetric Gram matrices, and
measurement rows as inner-product rows divided by their normaliser."""

import numpy as np
from hypothesis import given, settings, strategies as st
from scipy.interpolate import BSpline

import quorvel
from quorvel import Space
from helpers import assert_canonical, dense, point_values

# A fixed set of examples per test, so that every run checks the same inputs.
PROPERTY = settings(max_examples=40, derandomize=True, database=None, deadline=None)

positions = st.floats(-5.0, 15.0)
widths = st.floats(0.05, 2.0)
weights = st.one_of(st.none(), st.floats(0.1, 3.0), st.floats(-3.0, -0.1))


# Strictly increasing arrays of 2 to 8 values, at least 0.05 apart.
increasing = st.builds(lambda start, steps: np.cumsum([start, *steps]), positions,
                       st.lists(widths, min_size=1, max_size=7))


def profiles(make):
    """Spaces of 1 to 5 profiles from make(centers, widths, cutoff)."""
    def build(pairs, cutoff):
        centers, scales = np.array(pairs).T
        return make(np.ascontiguousarray(centers), np.ascontiguousarray(scales), cutoff)

    return st.builds(build, st.lists(st.tuples(positions, widths), min_size=1, max_size=5),
                     st.floats(1.0, 6.0))


spaces = st.one_of(
    st.lists(positions, max_size=6).map(lambda x: Space.deltas(np.array(x, dtype=float))),
    increasing.map(Space.boxes),
    increasing.map(Space.hats),
    st.builds(Space.bsplines_clamped, increasing, st.integers(0, 3)),
    profiles(Space.gaussians),
    profiles(Space.lorentzians),
)


@PROPERTY
@given(spaces, st.lists(st.floats(-8.0, 20.0), max_size=20))
def test_evaluate_is_canonical(space, x):
    # The support ends are where closed supports and dropped zeros meet.
    x = np.concatenate([np.array(x, dtype=float), space.lower(), space.upper()])
    result = quorvel.evaluate(space, x)
    assert_canonical(result)
    assert result[3] == (len(x), len(space))


@PROPERTY
@given(spaces, spaces, weights)
def test_inner_products_are_canonical_and_transpose_with_their_arguments(a, b, weight):
    ab, ba = quorvel.inner_products(a, b, weight), quorvel.inner_products(b, a, weight)
    assert_canonical(ab)
    assert ab[3] == (len(a), len(b))
    g = dense(ab)
    np.testing.assert_allclose(g, dense(ba).T, rtol=1e-12, atol=1e-13 * np.abs(g).max(initial=0))


@PROPERTY
@given(spaces, weights)
def test_gram_matrices_are_symmetric_and_without_weight_semidefinite(s, weight):
    g = dense(quorvel.inner_products(s, s, weight))
    scale = np.abs(g).max(initial=0)
    np.testing.assert_allclose(g, g.T, rtol=1e-12, atol=1e-13 * scale)
    if weight is None and len(s):
        assert np.linalg.eigvalsh((g + g.T) / 2).min() >= -1e-12 * scale


# Breakpoints on a grid of eighths: B-splines keep their pieces relative to their centers, and on
# this grid a breakpoint survives that shift exactly, so the support ends are the breakpoints.
eighths = st.builds(lambda start, steps: np.cumsum([start, *steps]) / 8.0, st.integers(-40, 120),
                    st.lists(st.integers(1, 16), min_size=1, max_size=7))


@PROPERTY
@given(eighths, st.integers(0, 3), st.lists(st.floats(0.0, 1.0), min_size=1, max_size=20))
def test_clamped_bsplines_are_a_partition_of_unity(breakpoints, degree, u):
    lo, hi = breakpoints[0], breakpoints[-1]
    x = np.concatenate([lo + (hi - lo) * np.array(u), breakpoints])
    x = x[x < hi]
    v = point_values(Space.bsplines_clamped(breakpoints, degree), x)
    np.testing.assert_allclose(v.sum(axis=1), 1.0, rtol=0, atol=1e-14)
    knots = np.concatenate([[lo] * degree, breakpoints, [hi] * degree])
    ref = BSpline.design_matrix(x, knots, degree).toarray()
    np.testing.assert_allclose(v, ref, rtol=0, atol=1e-14)


@PROPERTY
@given(spaces, spaces, st.sampled_from(["integral", "rowsum", "none"]), weights)
def test_measure_divides_inner_product_rows_by_their_normaliser(kernels, basis, normalization,
                                                                weight):
    got = quorvel.measure(kernels, basis, normalization, weight)
    indptr, indices, values, shape = quorvel.inner_products(kernels, basis, weight)
    np.testing.assert_array_equal(got[0], indptr)
    np.testing.assert_array_equal(got[1], indices)
    assert got[3] == shape == (len(kernels), len(basis))
    if normalization == "integral":
        norms = kernels.integrals(weight)
    elif normalization == "rowsum":
        norms = [sum(values[indptr[i] : indptr[i + 1]].tolist()) for i in range(shape[0])]
    else:
        norms = np.ones(shape[0])
    # A row whose normaliser is exactly 0 keeps its pattern, multiplied by 0; only there may
    # zeros be stored.
    scales = np.array([0.0 if n == 0 else 1 / n for n in norms])
    scale_of_entry = np.repeat(scales, np.diff(indptr))
    assert_canonical(got, stored_zeros=True)
    assert not np.any((got[2] == 0.0) & (scale_of_entry != 0.0))
    np.testing.assert_allclose(got[2], values * scale_of_entry, rtol=1e-14, atol=0)
    if normalization == "rowsum":
        for i in np.flatnonzero(scales):
            w = got[2][indptr[i] : indptr[i + 1]]
            assert abs(w.sum() - 1.0) <= 1e-13 * np.abs(w).sum()
