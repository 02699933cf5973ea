"""Banded Cholesky factorisation and solves, observed through Projection and Fit: closed-form Gram
matrices, long axes against dense solves, and the pivot failures."""

import decimal

import numpy as np
import pytest

import quorvel as q
from quorvel import Fit, Projection, SingularError, Space
from helpers import dense, run_python

TAIL = ": the target elements are linearly dependent, or one of them has zero norm"


def shortest_exp(v):
    """Shortest round-trip exponential form: 4e0, -1.5e-17, 0e0."""
    if v == 0.0:
        return "-0e0" if np.signbit(v) else "0e0"
    sign, digits, exponent = decimal.Decimal(repr(float(v))).normalize().as_tuple()
    text = "".join(map(str, digits))
    mantissa = text[0] + ("." + text[1:] if len(text) > 1 else "")
    return ("-" if sign else "") + f"{mantissa}e{exponent + len(text) - 1}"


def test_shortest_exp_helper():
    assert [shortest_exp(v) for v in [4.0, -1.5e-17, 0.0, 0.4444444444444449, 1e22, 123.0]] == [
        "4e0", "-1.5e-17", "0e0", "4.444444444444449e-1", "1e22", "1.23e2"]


def test_diagonal_gram():
    # Boxes on a coarse grid have a diagonal Gram matrix (bandwidth 0): each output is the
    # overlap-weighted mean of the fine boxes.
    fine = np.linspace(0.0, 6.0, 13)
    coarse = np.array([0.0, 1.5, 3.0, 6.0])
    p = Projection(Space.boxes(fine), Space.boxes(coarse))
    expected = np.zeros((3, 12))
    for i in range(3):
        for j in range(12):
            overlap = max(0.0, min(coarse[i + 1], fine[j + 1]) - max(coarse[i], fine[j]))
            expected[i, j] = overlap / (coarse[i + 1] - coarse[i])
    np.testing.assert_allclose(p.to_dense(), expected, rtol=1e-15, atol=1e-16)


def test_tridiagonal_hat_gram_closed_form():
    # Point values at the nodes of hats are the identity, so to_dense is G^-1 with the closed-form
    # hat Gram matrix: h_(i-1)/6 and h_i/6 off the diagonal, (h_(i-1) + h_i)/3 on it.
    nodes = np.array([0.0, 0.4, 1.0, 1.3, 2.5, 3.0, 4.2])
    h = np.diff(nodes)
    n = len(nodes)
    g = np.zeros((n, n))
    for i in range(n - 1):
        g[i, i] += h[i] / 3
        g[i + 1, i + 1] += h[i] / 3
        g[i, i + 1] = g[i + 1, i] = h[i] / 6
    p = Projection(Space.deltas(nodes), Space.hats(nodes))
    np.testing.assert_allclose(p.to_dense(), np.linalg.inv(g), rtol=1e-12)


@pytest.mark.parametrize("degree", [0, 1, 2, 3])
def test_long_axis_against_dense_solve(degree):
    rng = np.random.default_rng(degree)
    knots = np.cumsum(rng.uniform(0.2, 1.0, 200))
    dst = Space.bsplines(knots, degree)
    src = Space.deltas(np.sort(rng.uniform(knots[0], knots[-1], 500)))
    p = Projection(src, dst)
    g = dense(q.inner_products(dst, dst))
    f = rng.normal(size=(3, len(src)))
    expected = np.linalg.solve(g, dense(p.cross()) @ f.T).T
    np.testing.assert_allclose(p.apply_last_axis(f), expected, rtol=1e-9, atol=1e-9)


def test_wide_band():
    # Triangles of large half base overlap many neighbours: bandwidth well above 3.
    centers = np.linspace(0.0, 10.0, 60)
    dst = Space.triangles(centers, np.array([0.9]))
    src = Space.boxes(np.linspace(-2.0, 12.0, 90))
    p = Projection(src, dst)
    g = dense(q.inner_products(dst, dst))
    assert max(abs(i - j) for i, j in zip(*np.nonzero(g))) >= 10
    expected = np.linalg.solve(g, dense(p.cross()))
    # Strongly overlapping triangles are ill-conditioned (cond(G) ~ 3e5): compare to rounding
    # of that size.
    np.testing.assert_allclose(p.to_dense(), expected, rtol=1e-8, atol=1e-10 * np.abs(expected).max())


def test_zero_norm_element():
    # The derivative of a box is identically zero on its support: its Gram row is empty.
    dst = Space.concatenate([Space.boxes(np.array([0.0, 1.0])),
                             Space.boxes(np.array([1.0, 2.0])).derivative(1)])
    with pytest.raises(SingularError) as info:
        Projection(Space.boxes(np.array([0.0, 2.0])), dst)
    assert str(info.value) == "pivot 1 is 0e0 (diagonal 0e0)" + TAIL
    assert isinstance(info.value, ValueError)


def test_coinciding_deltas():
    with pytest.raises(SingularError) as info:
        Projection(Space.deltas(np.array([0.0])), Space.deltas(np.array([0.5, 2.0, 2.0])))
    assert str(info.value) == "pivot 2 is 0e0 (diagonal 1e0)" + TAIL


def test_duplicate_element_fails_at_the_copy():
    knots = np.linspace(0.0, 3.0, 8)
    s = Space.bsplines(knots, 2)
    dst = Space.concatenate([s, s.take([1])])
    with pytest.raises(SingularError) as info:
        Projection(s, dst)
    message = str(info.value)
    d = dense(q.inner_products(dst, dst))[len(s), len(s)]
    head = f"pivot {len(s)} is "
    tail = f" (diagonal {shortest_exp(d)})" + TAIL
    assert message.startswith(head) and message.endswith(tail)
    w = float(message[len(head):-len(tail)])
    assert abs(w) <= 1e-13 * d


def nested_boxes(a, b):
    dst = Space.concatenate([Space.boxes(np.array([0.0, a])), Space.boxes(np.array([0.0, b]))])
    return dst, dense(q.inner_products(dst, dst))


def test_pivot_threshold_is_relative_to_the_diagonal():
    # Nested boxes [0, a) and [0, b) have G = [[g00, g00], [g00, g11]], whose second pivot is
    # w = g11 - (g00 / sqrt(g00))^2. Choose b so that w is exactly 1e-13 * g11 (= 1): that pivot
    # fails; the next larger b gives a pivot just above the threshold, which succeeds.
    a = 9999999999999.0
    _, g = nested_boxes(a, 1e13)
    l10 = g[1, 0] / np.sqrt(g[0, 0])
    target = l10 * l10 + 1.0
    b = target
    for _ in range(16):
        dst, g = nested_boxes(a, b)
        if g[1, 1] == target:
            break
        b = np.nextafter(b, -np.inf if g[1, 1] > target else np.inf)
    assert g[1, 1] == target and g[1, 1] - l10 * l10 == 1e-13 * g[1, 1] == 1.0
    with pytest.raises(SingularError) as info:
        Projection(dst, dst)
    assert str(info.value) == f"pivot 1 is 1e0 (diagonal {shortest_exp(target)})" + TAIL

    while True:
        b = np.nextafter(b, np.inf)
        dst, g = nested_boxes(a, b)
        if g[1, 1] > target:
            break
    assert g[1, 1] - l10 * l10 > 1e-13 * g[1, 1]
    assert np.all(np.isfinite(Projection(dst, dst).to_dense()))


def test_empty_spaces():
    src = Space.boxes(np.array([0.0, 1.0, 2.0]))
    empty = Space.deltas(np.array([]))
    p = Projection(src, empty)
    assert p.to_dense().shape == (0, 2)
    assert p.apply_last_axis(np.ones((3, 2))).shape == (3, 0)
    assert p.apply_last_axis(np.ones((3, 2)), (0.0, 1.0)).shape == (3, 0)
    p = Projection(empty, src)
    assert p.to_dense().shape == (2, 0)
    np.testing.assert_array_equal(p.apply_last_axis(np.ones((2, 0))), np.zeros((2, 2)))


def test_fit_factor_on_long_axis():
    rng = np.random.default_rng(11)
    knots = np.linspace(0.0, 100.0, 304)
    model = Space.bsplines(knots, 3)
    x = np.sort(rng.uniform(0.0, 100.0, 3000))
    y = np.sin(x / 7.0)
    fit = Fit(Space.deltas(x), model, "none", 0.0, "difference", 2)
    e = dense(q.evaluate(model, x))
    expected = np.linalg.solve(e.T @ e, e.T @ y)
    np.testing.assert_allclose(fit.apply_last_axis(y[None, :])[0], expected, rtol=1e-8, atol=1e-10)


THREADS_SCRIPT = r"""
import hashlib
import numpy as np
from quorvel import Fit, Projection, Space

rng = np.random.default_rng(5)
dst = Space.bsplines(np.linspace(-0.3, 10.3, 300), 3)
src = Space.boxes(np.linspace(0.0, 10.0, 501))
f = np.clip((np.sin(3.0 * np.arange(500) / 50.0) > 0) + 0.2 * rng.normal(size=(203, 500)), 0, 1)
p = Projection(src, dst)
x = np.sort(rng.uniform(0.0, 10.0, 5000))
fit = Fit(Space.deltas(x), dst, "none", 1e-3, "derivative", 2)
data = rng.normal(size=(37, 5000))
h = hashlib.sha256()
for a in [p.to_dense(), p.apply_last_axis(f), p.apply_last_axis(np.asfortranarray(f), "local"),
          p.apply_last_axis(f, (0.0, 1.0)), fit.to_dense(), fit.apply_last_axis(data)]:
    h.update(np.ascontiguousarray(a).tobytes())
print(h.hexdigest())
"""


def test_results_do_not_depend_on_the_number_of_threads():
    digests = {run_python(THREADS_SCRIPT, OMP_NUM_THREADS=threads) for threads in [1, 3]}
    assert len(digests) == 1
