"""quorvel.dask on a LocalCluster of two worker processes: every block-wise result is bitwise the
in-process one, whatever the chunking; errors come back with their own type and message."""

import numpy as np
import pytest

import quorvel
from quorvel import Fit, Projection, SingularError, Space

distributed = pytest.importorskip("distributed")
da = pytest.importorskip("dask.array")
qd = pytest.importorskip("quorvel.dask")

TIMEOUT = 180


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster, timeout=TIMEOUT) as c:
            yield c


def run(client, *collections):
    futures = client.compute(list(collections))
    distributed.wait(futures, timeout=TIMEOUT)
    return client.gather(futures)


def same(a, b):
    if isinstance(a, (tuple, list)):
        return len(a) == len(b) and all(map(same, a, b))
    if hasattr(a, "indptr"):  # a csr_array against an in-process sparse result
        indptr, indices, data, shape = b
        return (a.shape == shape and np.array_equal(a.indptr, indptr)
                and np.array_equal(a.indices, indices) and a.data.tobytes() == data.tobytes())
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


BASIS = Space.bsplines_clamped(np.linspace(0.0, 50.0, 41), 3)
KERNELS = Space.voigts(np.linspace(0.3, 49.7, 523), np.full(523, 0.4), np.full(523, 0.2), 6.0)
POINTS = np.linspace(-1.0, 51.0, 700)


def test_sparse_operators_are_bitwise_the_in_process_ones(client):
    lazy = [
        qd.measure(KERNELS, BASIS, "rowsum", chunk=100),
        *qd.measure_derivative(KERNELS, BASIS, "integral", "sigma", 0.3, chunk=77),
        qd.evaluate(BASIS, POINTS, chunk=64),
        qd.evaluate(BASIS, da.from_array(POINTS, chunks=250)),
        qd.inner_products(KERNELS, BASIS, -0.2, chunk=1000),
        qd.measure(KERNELS.take([]), BASIS, "none"),
    ]
    assert lazy[0].chunks[0] == (100,) * 5 + (23,)
    w, dw = quorvel.measure_derivative(KERNELS, BASIS, "integral", "sigma", 0.3)
    expected = [
        quorvel.measure(KERNELS, BASIS, "rowsum"), w, dw,
        quorvel.evaluate(BASIS, POINTS), quorvel.evaluate(BASIS, POINTS),
        quorvel.inner_products(KERNELS, BASIS, -0.2),
        quorvel.measure(KERNELS.take([]), BASIS, "none"),
    ]
    assert same(run(client, *lazy), expected)


BINS = Space.boxes(np.linspace(0.0, 10.0, 38))
HATS = Space.hats(np.linspace(-1.0, 11.0, 37))
ATOMS = [BINS, HATS.take(range(37))]
DIMS = [("matern32", 1.5, None, (Space.hats(np.linspace(0.0, 10.0, 5)), [1.0, 0.5, 2.0, 1.0, 0.7])),
        ("gaussian", 2.0, 12.0, None)]


@pytest.mark.parametrize("symmetric", [True, False])
def test_covariance_blocks_are_bitwise_the_in_process_matrix(client, symmetric):
    b = [HATS.take(range(3, 32)), BINS.take(range(2, 31))] if not symmetric else ATOMS
    lazy = qd.covariance_matrix(1.3, DIMS, ATOMS, [None, 0.4], b, [None, 0.4], symmetric,
                                chunk=10)
    assert lazy.chunks == ((10, 10, 10, 7), (10, 10, 9) if not symmetric else (10, 10, 10, 7))
    expected = quorvel.covariance_matrix(1.3, DIMS, ATOMS, [None, 0.4], b, [None, 0.4], symmetric)
    (got,) = run(client, lazy)
    assert same(got, expected)


def test_covariance_diagonal_and_derivatives_are_bitwise(client):
    diag = qd.covariance_diagonal(1.3, DIMS, ATOMS, [None, None], chunk=8)
    k, l, t = qd.covariance_length_derivatives(1.3, DIMS, ATOMS, [None, None], chunk=15)
    ek, el, et = quorvel.covariance_length_derivatives(1.3, DIMS, ATOMS, [None, None])
    assert [len(d) for d in t] == [5, 0]
    got = run(client, diag, k, *l, *t[0])
    assert same(got[0], quorvel.covariance_diagonal(1.3, DIMS, ATOMS, [None, None]))
    assert same(got[1:], [ek, *el, *et[0]])


@pytest.mark.parametrize("split", [0, 1, 17, 37])
def test_derivative_block_is_the_corner_of_the_one_sided_arrays(split):
    ek, el, et = quorvel.covariance_length_derivatives(1.3, DIMS, ATOMS, [None, 0.4])
    k, l, t = quorvel._quorvel._covariance_length_derivative_block(1.3, DIMS, ATOMS, [None, 0.4],
                                                                   split)
    def corner(m):
        return np.ascontiguousarray(m[:split, split:])
    assert same([k, *l, *t[0]], [corner(m) for m in [ek, *el, *et[0]]])
    with pytest.raises(ValueError, match="^split must be at most the number of atoms 37, got 38$"):
        quorvel._quorvel._covariance_length_derivative_block(1.3, DIMS, ATOMS, [None, None], 38)


def test_a_covariance_is_used_without_gathering_it(client):
    dims = [("squared_exponential", 0.8, None, None)]
    bins = [BINS.take(range(36))]  # dask's Cholesky needs chunks of one size
    lazy = qd.covariance_matrix(1.0, dims, bins, [None], bins, [None], True, chunk=12)
    c = lazy + 0.1 * da.eye(36, chunks=12)
    v = np.linspace(-1.0, 1.0, 36)
    product, trace, factor = run(client, c @ v, da.trace(c), da.linalg.cholesky(c, lower=True))
    dense = quorvel.covariance_matrix(1.0, dims, bins, [None], bins, [None], True)
    dense = dense + 0.1 * np.eye(36)
    np.testing.assert_allclose(product, dense @ v, rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose(trace, np.trace(dense), rtol=1e-14)
    np.testing.assert_allclose(factor, np.linalg.cholesky(dense), rtol=1e-10, atol=1e-12)


def test_operators_over_row_blocks_are_bitwise(client):
    projection = Projection(KERNELS, BASIS)
    fit = Fit(KERNELS, BASIS, "integral", 1e-4, "derivative", 2)
    rows = np.random.default_rng(7).normal(size=(95, len(KERNELS)))
    chunked = da.from_array(rows, chunks=(20, 200))
    lazy = [qd.apply_last_axis(projection, chunked), qd.apply_last_axis(projection, rows, "local",
                                                                       chunk=30),
            qd.apply_last_axis(projection, chunked, (-0.5, 0.5)), qd.apply_last_axis(fit, chunked)]
    expected = [projection.apply_last_axis(rows), projection.apply_last_axis(rows, "local"),
                projection.apply_last_axis(rows, (-0.5, 0.5)), fit.apply_last_axis(rows)]
    assert same(run(client, *lazy), expected)


def test_errors_keep_their_type_and_message(client):
    # Raised on a worker.
    nan = qd.evaluate(Space.hats(np.linspace(0.0, 1.0, 4)), np.array([0.5, np.nan]), chunk=1)
    with pytest.raises(ValueError, match=r"^delta position must be finite\nx\[1\] is NaN$"):
        run(client, nan)
    model = Space.bsplines_clamped(np.linspace(0.0, 1.0, 8), 3)
    future = client.submit(Fit, Space.deltas(np.array([0.5])), model, "none", 0.0,
                           "derivative", 2)
    with pytest.raises(SingularError, match="so add smoothing$") as caught:
        future.result(timeout=TIMEOUT)
    assert type(caught.value) is SingularError
    # Raised when the collection is built, exactly as in process.
    with pytest.raises(ValueError) as caught:
        qd.measure(KERNELS, BASIS, "Integral")
    with pytest.raises(ValueError) as expected:
        quorvel.measure(KERNELS, BASIS, "Integral")
    assert str(caught.value) == str(expected.value)
    with pytest.raises(TypeError) as caught:
        qd.inner_products(KERNELS, [1.0])
    assert caught.value.__notes__ == ["while processing 'b'"]
    with pytest.raises(ValueError, match="^every dimension's space must have one element"):
        qd.covariance_diagonal(1.0, DIMS, [BINS, HATS.take([0])], [None, None])
    with pytest.raises(ValueError, match="^f has 3 values along the transformed axis"):
        qd.apply_last_axis(Projection(KERNELS, BASIS), np.zeros((4, 3)))
    with pytest.raises(ValueError, match="^chunk must be a positive integer, got 0$"):
        qd.measure(KERNELS, BASIS, "none", chunk=0)
