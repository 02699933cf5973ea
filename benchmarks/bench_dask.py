"""quorvel.dask on a LocalCluster of two worker processes beside the in-process calls.

Run from a build tree: PYTHONPATH=<build dir> python benchmarks/bench_dask.py [atoms] [kernels]
[derivative atoms] (defaults 20000, 1000000 and 6000). Three problems:

- the symmetric covariance of 20,000 bin averages (Matern 5/2, length 5): in process (all
  cores), then on the cluster as blocks of quorvel.dask.ATOMS_PER_CHUNK atoms, used through a
  matrix-vector product so that the matrix is never gathered;
- the measurement matrix of 1,000,000 Gaussian kernels on 100,000 cubic B-splines: in process,
  then on the cluster as blocks of quorvel.dask.ROWS_PER_CHUNK kernels, gathered into one
  csr_array (checked equal to the in-process result);
- the covariance and its length derivative of 6,000 bin averages (Matern 5/2, length 5): in
  process, then on the cluster as blocks of quorvel.dask.ATOMS_PER_CHUNK atoms, used through
  K @ v and L @ v. The size of the pickled basis of the measure problem is printed too (it is
  sent to every block's task).

The cluster has two worker processes of one thread each (OMP_NUM_THREADS=1 in the workers), the
in-process calls use the OpenMP pool (both cores). For each problem it prints both wall times,
the compute time of the blocks on the workers (from the task stream), the chunking overhead
(the share of the cluster's wall time not spent computing blocks on its two workers), and the
projected time on N workers, t·B/N for B blocks of mean compute time t. Times depend on the
load of the machine, printed with them.
"""

import os
import sys
import time

import numpy as np

import quorvel
import quorvel.dask as qd


def load_average():
    return " ".join(f"{v:.1f}" for v in os.getloadavg())


def timed(fn):
    t0 = time.perf_counter()
    out = fn()
    return time.perf_counter() - t0, out


def block_seconds(stream, part):
    """Compute times of the tasks whose key names `part` (Dask fuses the block with its
    neighbours in the graph, so the key is of the form ('measure_block-from-value-...', i, 0))."""
    seconds = []
    for task in stream:
        key = task["key"]
        name = key[0] if isinstance(key, tuple) else key
        if part in str(name):
            seconds += [s["stop"] - s["start"] for s in task["startstops"]
                        if s["action"] == "compute"]
    return np.array(seconds)


def report(name, inside, cluster, blocks, workers=2):
    b, total = len(blocks), blocks.sum()
    overhead = 1.0 - total / (workers * cluster)
    print(f"{name}")
    print(f"  in process (all cores)        {inside:9.2f} s")
    print(f"  LocalCluster, {workers} processes     {cluster:9.2f} s   ({inside / cluster:.2f} x in-process speed)")
    print(f"  blocks                        {b:9d}     mean {total / b:.3f} s, max {blocks.max():.3f} s, "
          f"sum {total:.2f} s")
    print(f"  chunking overhead             {100 * overhead:8.1f} %  of the cluster's worker time")
    print("  projected t·B/N:  " + "  ".join(
        f"N={n}: {total / n:.2f} s" for n in (1, 2, 4, 8, 16, 64)))


def covariance(client, distributed, n):
    bins = [quorvel.Space.boxes(np.arange(n + 1.0))]
    dims = [("matern52", 5.0, None, None)]
    v = np.random.default_rng(1).normal(size=n)
    inside, k = timed(lambda: quorvel.covariance_matrix(1.0, dims, bins, [None], bins, [None],
                                                        True))
    del k
    lazy = qd.covariance_matrix(1.0, dims, bins, [None], bins, [None], True) @ v
    with distributed.get_task_stream(client) as stream:
        cluster, _ = timed(lambda: client.compute(lazy).result())
    report(f"covariance_matrix of {n} atoms (symmetric, used as K @ v)", inside, cluster,
           block_seconds(stream.data, "covariance_block"))


def measure(client, distributed, m):
    n_basis = 100_000
    basis = quorvel.Space.bsplines(np.linspace(0.0, n_basis, n_basis + 4), 3)
    rng = np.random.default_rng(7)
    kernels = quorvel.Space.gaussians(np.sort(rng.uniform(5.0, n_basis - 5.0, m)),
                                      rng.uniform(0.3, 0.6, m), 4.0)
    inside, expected = timed(lambda: quorvel.measure(kernels, basis, "integral"))
    lazy = qd.measure(kernels, basis, "integral")
    with distributed.get_task_stream(client) as stream:
        cluster, got = timed(lambda: client.compute(lazy).result())
    indptr, indices, data, _ = expected
    assert np.array_equal(got.indptr, indptr) and np.array_equal(got.indices, indices)
    assert got.data.tobytes() == data.tobytes()
    report(f"measure of {m} Gaussian kernels on {n_basis} cubic B-splines (gathered, "
           f"{len(data)} entries)", inside, cluster, block_seconds(stream.data, "measure_block"))


def derivatives(client, distributed, n):
    bins = [quorvel.Space.boxes(np.arange(n + 1.0))]
    dims = [("matern52", 5.0, None, None)]
    v = np.random.default_rng(2).normal(size=n)
    inside, out = timed(lambda: quorvel.covariance_length_derivatives(1.0, dims, bins, [None]))
    del out
    k, l, _ = qd.covariance_length_derivatives(1.0, dims, bins, [None])
    with distributed.get_task_stream(client) as stream:
        cluster, _ = timed(lambda: client.compute([k @ v, l[0] @ v], sync=True))
    report(f"covariance_length_derivatives of {n} atoms (used as K @ v, L @ v)", inside, cluster,
           block_seconds(stream.data, "derivatives_block"))


def main():
    import distributed

    atoms = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000
    kernels = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    derivative_atoms = int(sys.argv[3]) if len(sys.argv) > 3 else 6_000
    import pickle
    basis = quorvel.Space.bsplines(np.linspace(0.0, 100_000, 100_004), 3)
    print(f"pickled basis of 100,000 cubic B-splines: {len(pickle.dumps(basis)) / 1e6:.2f} MB")
    print(f"load average before: {load_average()}  (cores: {os.cpu_count()})")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, env={"OMP_NUM_THREADS": "1"}) as cluster:
        with distributed.Client(cluster) as client:
            measure(client, distributed, kernels)
            covariance(client, distributed, atoms)
            derivatives(client, distributed, derivative_atoms)
    print(f"load average after: {load_average()}")


if __name__ == "__main__":
    main()
