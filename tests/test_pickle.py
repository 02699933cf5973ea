"""Pickling and copying: spaces, projections and fits round-trip to objects whose results are
bitwise those of the originals, across processes too; SingularError keeps its class; the reader
of the binary form turns corrupted data into ValueError."""

import copy
import math
import multiprocessing
import pickle
import struct

import numpy as np
import pytest

import quorvel
from quorvel import Fit, Projection, SingularError, Space

ARR = np.array
X = np.linspace(0.5, 4.0, 6)
W = ARR([0.3, 0.2, 0.25, 0.4, 0.1, 0.3])
HALF = np.full(6, 0.5)
SHAPE_X, SHAPE_Y = ARR([-1.0, 0.0, 0.5, 1.0]), ARR([0.0, 1.0, 0.3, 0.0])

SPACES = {
    "deltas": lambda: Space.deltas(ARR([3.0, -0.0, 1.0, 1.0])),
    "boxes": lambda: Space.boxes(X),
    "hats": lambda: Space.hats(X),
    "bsplines": lambda: Space.bsplines(ARR([0.0, 0.0, 1.0, 2.0, 2.0, 3.5, 4.0]), 2),
    "clamped": lambda: Space.bsplines_clamped(X, 3),
    "periodic": lambda: Space.bsplines_periodic(X, 2),
    "harmonics": lambda: Space.harmonics(3, 2.0, -1.0),
    "gaussians": lambda: Space.gaussians(X, W, 4.0),
    "lorentzians": lambda: Space.lorentzians(X, W, 6.0),
    "voigts": lambda: Space.voigts(X, W, ARR([0.5, 0.0, 0.5, 0.5, 0.5, 0.5]), 5.0),
    "pseudo_voigts": lambda: Space.pseudo_voigts(X, W, HALF, 5.0),
    "super_gaussians": lambda: Space.super_gaussians(X, W, HALF, np.full(6, 2.5), 3.0),
    "smoothed_boxes": lambda: Space.smoothed_boxes(X, HALF, W, 4.0),
    "fts_hann": lambda: Space.fts(X, np.full(6, 2.0), 3.0, "hann"),
    "fts_triangle": lambda: Space.fts(X, np.full(6, 2.0), 3.0, "triangle"),
    "fts_polynomial": lambda: Space.fts(X, np.full(6, 2.0), 3.0, polynomial=[0.2, 0.0, 0.8]),
    "rectangles": lambda: Space.rectangles(X, ARR([0.4])),
    "triangles": lambda: Space.triangles(X, W),
    "trapezoids": lambda: Space.trapezoids(X, ARR([0.1]), ARR([0.4])),
    "shifted": lambda: Space.shifted(SHAPE_X, SHAPE_Y, X, ARR([0.5]), "pchip"),
    "tabulated": lambda: Space.tabulated(X[:2], SHAPE_X[None, :], np.vstack([SHAPE_Y] * 2),
                                         "linear"),
    "mapped": lambda: Space.gaussians(X + 2.0, W, 3.0)
    .mapped("reciprocal", 1e3, 0.0, True)
    .mapped("affine", 2.0, -0.5, False)
    .take([2, 0, 2, 5]),
    "mapped_deltas": lambda: Space.deltas(X).mapped("affine", 1.0, 3.0, True),
    "concatenated": lambda: Space.concatenate([Space.hats(X), Space.gaussians(X, W, 2.0)]),
    # B-splines cut apart, reordered and mixed with other shapes, at huge and tiny spacings.
    "bspline_pieces": lambda: Space.concatenate([
        Space.bsplines(np.linspace(0.0, 1.0, 12), 3).take([0, 1, 2, 5, 6, 7, 3]),
        Space.bsplines_clamped(X, 1),
        Space.triangles(X, W),
        Space.bsplines(ARR([1.0, 2.0, 2.0, 2.0, 2.0, 3.0, 5.0]), 3),
        Space.bsplines(ARR([0.1, 0.3, 0.7, 1.1]) * 1e300, 0),
        Space.bsplines(np.cumsum(np.full(8, 0.1)) * 1e-300 + 1e-290, 2),
        Space.bsplines_clamped(X, 2).derivative(1),
    ]),
    "empty": lambda: Space.deltas(np.empty(0)),
}

PROBE_X = np.linspace(-2.0, 8.0, 97)
PROBES = Space.boxes(np.linspace(-2.0, 8.0, 11))


def same(a, b):
    """Bitwise equality of arrays, floats, sparse results and nested tuples or lists."""
    if isinstance(a, (tuple, list)):
        return type(a) is type(b) and len(a) == len(b) and all(map(same, a, b))
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()
    return type(a) is type(b) and np.array(a).tobytes() == np.array(b).tobytes()


def results(space):
    """What a space computes, for comparing a space with its copy."""
    out = [len(space), space.lower(), space.upper(), space.centers(),
           quorvel.evaluate(space, PROBE_X)]
    if len(space):
        out += [space.integrals(), quorvel.inner_products(space, space),
                quorvel.inner_products(PROBES, space, 0.7), quorvel.measure(space, PROBES, "none")]
    return out


def payload(obj):
    loader, (data,) = obj.__reduce__()
    assert loader is quorvel._quorvel._from_bytes
    return data


@pytest.mark.parametrize("name", sorted(SPACES))
def test_space_round_trip_gives_bitwise_the_same_results(name):
    space = SPACES[name]()
    back = pickle.loads(pickle.dumps(space))
    assert type(back) is Space and back is not space
    assert same(results(back), results(space))
    assert payload(back) == payload(space)


def test_bspline_values_next_to_knots_survive_a_round_trip():
    # Values next to a support end round within a few ulp of 0; the copy must treat them alike.
    knots = np.linspace(0.0, 1.0, 1004)
    space = Space.bsplines(knots, 3)
    x = np.random.default_rng(1).uniform(knots[3], knots[1000], 1_000_000)
    ours = quorvel.evaluate(space, x)
    assert same(quorvel.evaluate(pickle.loads(pickle.dumps(space)), x), ours)
    assert ours[2].min() >= 0.0


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_every_pickle_protocol(protocol):
    space = SPACES["mapped"]()
    assert same(results(pickle.loads(pickle.dumps(space, protocol))), results(space))


def test_shared_parts_are_stored_once():
    one = len(payload(Space.shifted(SHAPE_X, SHAPE_Y, X[:1], ARR([0.5]), "pchip")))
    many = len(payload(Space.shifted(SHAPE_X, SHAPE_Y, np.linspace(0, 1, 101), ARR([0.5]),
                                     "pchip")))
    # One table of three segments (3 x 48 bytes); each further element is a reference to it.
    assert many - one < 100 * 24
    inner = Space.gaussians(X + 2.0, W, 3.0).mapped("affine", 1.0, 2.0, False)
    assert len(payload(inner.take([0] * 50))) < len(payload(inner.take(list(range(6)) * 9)))


def projection_and_fit():
    kernels = Space.gaussians(np.linspace(0.2, 9.8, 40), np.full(40, 0.3), 4.0)
    model = Space.bsplines_clamped(np.linspace(0.0, 10.0, 9), 3)
    return (Projection(kernels, model, -0.05),
            Fit(kernels, model, "rowsum", -0.0, "difference", 2, 0.25),
            Fit(kernels.mapped("affine", 0.0, 1.0, True), model, "integral", 1e-3,
                "derivative", 2))


def test_projection_and_fit_round_trips_give_bitwise_the_same_results():
    rows = np.random.default_rng(3).normal(size=(7, 40))
    for op in projection_and_fit():
        back = pickle.loads(pickle.dumps(op))
        assert type(back) is type(op)
        assert same(back.to_dense(), op.to_dense())
        if isinstance(op, Projection):
            assert (back.n_src, back.n_dst) == (op.n_src, op.n_dst)
            assert same(back.cross(), op.cross())
            for bounds in (None, "local", (-0.5, 0.5)):
                assert same(back.apply_last_axis(rows, bounds), op.apply_last_axis(rows, bounds))
        else:
            assert (back.n_data, back.n_model) == (op.n_data, op.n_model)
            assert same(back.design(), op.design())
            assert same(back.apply_last_axis(rows), op.apply_last_axis(rows))


def test_copies_of_immutable_objects_are_the_objects():
    for obj in (SPACES["hats"](), *projection_and_fit()):
        assert copy.copy(obj) is obj and copy.deepcopy(obj) is obj
    space = SPACES["hats"]()
    assert copy.deepcopy({"a": [space]})["a"][0] is space


def singular_error():
    model = Space.bsplines_clamped(np.linspace(0.0, 1.0, 8), 3)
    with pytest.raises(SingularError) as caught:
        Fit(Space.deltas(ARR([0.5])), model, "none", 0.0, "derivative", 2)
    return caught.value


def test_singular_error_pickles_as_itself():
    error = singular_error()
    error.add_note("while fitting")
    back = pickle.loads(pickle.dumps(error))
    assert type(back) is SingularError and isinstance(back, ValueError)
    assert (SingularError.__module__, SingularError.__name__) == ("_quorvel", "SingularError")
    assert back.args == error.args and back.__notes__ == ["while fitting"]
    assert copy.deepcopy(error).args == error.args


# ---- the reader of untrusted bytes --------------------------------------------------------------


def load(data):
    return quorvel._quorvel._from_bytes(data)


def message(data):
    with pytest.raises(ValueError) as caught:
        load(data)
    assert type(caught.value) is ValueError
    return str(caught.value)


def test_reader_messages():
    data = payload(Space.boxes(ARR([0.0, 1.0])))
    assert message(b"") == "not serialized quorvel data"
    assert message(b"pickle") == "not serialized quorvel data"
    assert message(data[:2]) == "serialized quorvel data is truncated"
    assert message(data[:-1]) == "serialized quorvel data is truncated"
    assert message(data[:2] + b"\x07" + data[3:]) == (
        "serialized quorvel data has format version 7; this build reads versions 1 to 2")
    assert message(data + b"\x00\x00") == (
        "corrupt serialized quorvel data: 2 bytes after the end of the data")
    assert message(data[:3] + b"\x09" + data[4:]) == (
        "corrupt serialized quorvel data: unknown object kind 9")
    swapped = data[:-16] + data[-8:] + data[-16:-8]  # the box [1, 0]
    assert message(swapped) == (
        "corrupt serialized quorvel data: space element 0: box needs finite a < b, got [1, 0]")
    huge = data[:4] + b"\xff" * 9 + b"\x01"
    assert message(huge) == ("corrupt serialized quorvel data: 18446744073709551615 segment "
                             "tables cannot fit in the remaining 0 bytes")
    assert same(results(load(bytearray(data))), results(load(memoryview(data))))
    with pytest.raises(TypeError, match="'str' object is not an instance of 'bytes'"):
        load("QV")


def test_payload_assembled_from_the_documented_layout():
    def count(n):
        return bytes([n])  # LEB128 of a count below 128

    def reals(*v):
        return struct.pack("<%dd" % len(v), *v)

    parts = (
        count(1) + count(1) + reals(2.0, 0.0, 0.0, 0.0, -1.0, 1.0)  # one table: 2 on [-1, 1)
        + count(1) + b"\x02" + reals(0.0, 1.0, 2.0)  # one inner element: Hat 0 1 2
    )
    elements = (
        b"\x00" + reals(0.25)  # Delta
        + b"\x03" + count(0) + reals(3.0, 0.5) + b"\x01\x00"  # Shape: nonnegative, no end form
        + b"\x04" + b"\x00" + reals(0.5) + reals(1.0, 3.0)  # Profile: Gaussian sigma, center, cutoff
        + b"\x05" + b"\x01" + reals(10.0, 2.0) + b"\x00" + count(0)  # Mapped: affine, inner 0
        + b"\x04" + b"\x06" + reals(2.0) + b"\x01" + reals(0.0, 3.0)  # Profile: Fts, triangle
    )
    run = b"\x06" + b"\x01" + count(3) + reals(4.0, 5.0, 7.0, 8.0, 9.0)  # 3 linear B-splines
    data = b"QV\x02\x00" + parts + count(8) + elements + run  # header: version 2, a Space
    space = load(data)
    assert len(space) == 8
    np.testing.assert_array_equal(space.lower(), [0.25, 2.5, -0.5, 10.0, -0.75, 4.0, 5.0, 7.0])
    np.testing.assert_array_equal(space.upper(), [0.25, 3.5, 2.5, 14.0, 0.75, 7.0, 8.0, 9.0])
    gaussian_area = 0.5 * math.sqrt(2 * math.pi) * math.erf(3 / math.sqrt(2))
    np.testing.assert_allclose(space.integrals()[:4], [1.0, 2.0, gaussian_area, 2.0], rtol=1e-13)
    np.testing.assert_allclose(space.integrals()[5:], [1.5, 1.5, 1.0], rtol=1e-15)
    assert payload(space) == data  # the writer emits exactly the documented fields
    # Version 1 is the same without runs of B-splines.
    assert same(results(load(b"QV\x01\x00" + parts + count(5) + elements)),
                results(space.take(range(5))))
    assert message(b"QV\x01" + data[3:]) == (
        "corrupt serialized quorvel data: unknown element kind 6")
    periodic = b"QV\x02\x00" + count(0) + count(0) + count(3) + b"\x07\x02" + count(3) + reals(
        0.0, 1.0, 3.0, 4.0)  # the periodic quadratic B-splines of breakpoints 0, 1, 3, 4
    assert same(results(load(periodic)), results(Space.bsplines_periodic(ARR([0.0, 1, 3, 4]), 2)))
    assert payload(load(periodic)) == periodic


# A space of two linear B-splines (knots 0, 0.5, 1.25, 2) as the first format wrote it: two
# pieces each, written from both ends.
VERSION_1_BSPLINES = bytes.fromhex("""
5156010004020000000000000000000000000000004000000000000000000000000000000000000000000000e4bf0000
00000000c0bf000000000000f03f555555555555f5bf00000000000000000000000000000000000000000000c0bf0000
00000000e43f02000000000000f03f00000000000000c000000000000000000000000000000000000000000000e4bf00
0000000000c0bf0000000000000000555555555555f53f00000000000000000000000000000000000000000000c0bf00
0000000000e43f020000000000000000555555555555f53f00000000000000000000000000000000000000000000e8bf
0000000000000000000000000000f03f555555555555f5bf000000000000000000000000000000000000000000000000
000000000000e83f02000000000000f03f555555555555f5bf00000000000000000000000000000000000000000000e8
bf00000000000000000000000000000000555555555555f53f0000000000000000000000000000000000000000000000
00000000000000e83f00020300000000000000e43f000000000000f03f0101010302000000000000f43f000000000000
f03f010103""".replace("\n", ""))


def test_first_format_still_loads_and_is_written_as_knots():
    knots = ARR([0.0, 0.5, 1.25, 2.0])
    old = load(VERSION_1_BSPLINES)
    assert same(results(old), results(Space.bsplines(knots, 1)))
    assert payload(old) == b"QV\x02\x00\x00\x00\x02\x06\x01\x02" + knots.tobytes()


@pytest.mark.parametrize("make", [
    lambda t: Space.bsplines(t, 3),
    lambda t: Space.bsplines(t, 0),
    lambda t: Space.bsplines_clamped(t, 2),
    lambda t: Space.bsplines(t, 2).take(range(100, 4000)),
    lambda t: Space.bsplines_periodic(t, 3),
])
def test_bsplines_pickle_to_their_knots(make):
    t = np.cumsum(np.random.default_rng(8).uniform(0.5, 1.5, 5_000))
    space = make(t)
    data = payload(space)
    # Knots as doubles, plus at most three B-splines at the end written piece by piece.
    assert len(data) < 8 * (len(space) + 4) + 3 * 500
    assert same(results(pickle.loads(pickle.dumps(space))), results(space))


def test_reader_survives_a_corpus_of_corrupted_payloads():
    """Truncations, bit flips and random data are read or rejected with ValueError only."""
    rng = np.random.default_rng(2024)
    corpus = [payload(SPACES[n]()) for n in ("clamped", "fts_polynomial", "shifted", "mapped",
                                              "harmonics", "voigts", "bspline_pieces",
                                              "periodic")]
    read = rejected = 0

    def attempt(data):
        nonlocal read, rejected
        try:
            space = load(bytes(data))
        except ValueError:
            rejected += 1
            return
        read += 1
        # A flipped bit may make a valid but costly element (a huge cutoff): only cheap reads.
        back = pickle.loads(pickle.dumps(space))
        assert same([back.lower(), back.upper(), back.centers()],
                    [space.lower(), space.upper(), space.centers()])

    for data in corpus:
        for n in range(len(data)):
            attempt(data[:n])
        for bit in rng.choice(len(data) * 8, size=400, replace=False):
            flipped = bytearray(data)
            flipped[bit // 8] ^= 1 << (bit % 8)
            attempt(flipped)
    for _ in range(300):
        for version in (b"QV\x01", b"QV\x02"):
            attempt(version + rng.integers(0, 256, size=rng.integers(1, 80), dtype=np.uint8)
                    .tobytes())
    assert read > 100 and rejected > 1000
    # Projections and fits are rebuilt on reading: only rejected data is tried here.
    for op in projection_and_fit():
        data = payload(op)
        for n in rng.choice(len(data), size=50, replace=False):
            message(data[:n])


# ---- other processes ----------------------------------------------------------------------------


def fit_rows(fit, rows):
    return fit.apply_last_axis(rows)


def fit_without_smoothing(kernels, model):
    return Fit(kernels, model, "none", 0.0, "derivative", 2)


def test_spawned_pool_computes_bitwise_and_returns_singular_error():
    _, fit, _ = projection_and_fit()
    rows = np.random.default_rng(5).normal(size=(9, fit.n_data))
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        parts = pool.starmap(fit_rows, [(fit, rows[i:i + 3]) for i in range(0, 9, 3)])
        model = Space.bsplines_clamped(np.linspace(0.0, 1.0, 8), 3)
        with pytest.raises(SingularError) as caught:
            pool.apply(fit_without_smoothing, (Space.deltas(ARR([0.5])), model))
    assert same(np.vstack(parts), fit.apply_last_axis(rows))
    assert caught.value.args == singular_error().args


def test_joblib_loky_computes_bitwise_and_returns_singular_error():
    joblib = pytest.importorskip("joblib")
    space = SPACES["mapped"]()
    chunks = [PROBE_X[i:i + 20] for i in range(0, len(PROBE_X), 20)]
    with joblib.parallel_config(backend="loky", n_jobs=2):
        parts = joblib.Parallel()(joblib.delayed(quorvel.evaluate)(space, x) for x in chunks)
        model = Space.bsplines_clamped(np.linspace(0.0, 1.0, 8), 3)
        with pytest.raises(SingularError) as caught:
            joblib.Parallel()(joblib.delayed(fit_without_smoothing)(Space.deltas(ARR([0.5])),
                                                                     model) for _ in range(2))
    expected = [quorvel.evaluate(space, x) for x in chunks]
    assert same(parts, expected)
    assert caught.value.args == singular_error().args
