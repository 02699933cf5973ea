"""Argument and result conversion at the Python boundary."""

import math

import numpy as np
import pytest

from quorvel import _quorvel as q
from helpers import dense, raises_with_note, value_error_message

S = q.Space


def hats():
    return S.hats(np.array([0.0, 0.5, 1.0, 2.0]))


# ---- 1-D arrays ---------------------------------------------------------------------------------


EXPECTED = "expected a 1-D float64 array, got "
AS_FLOAT64 = "; use np.asarray(x, dtype=np.float64)"
NOT_ARRAY = "'ndarray' object is not an instance of 'ndarray'"


@pytest.mark.parametrize(
    "value, message, hint",
    [
        ([0.0, 1.0], "'list' object is not an instance of 'ndarray'", EXPECTED + "a list" + AS_FLOAT64),
        ((0.0, 1.0), "'tuple' object is not an instance of 'ndarray'", EXPECTED + "a tuple" + AS_FLOAT64),
        (1.0, "'float' object is not an instance of 'ndarray'",
         EXPECTED + "a single number (float); for n equal values use np.full(n, x)"),
        (None, "'None' is not an instance of 'ndarray'", None),
        ("01", "'str' object is not an instance of 'ndarray'", None),
        (np.array([0, 1]), NOT_ARRAY, EXPECTED + "int64 with shape (2,)" + AS_FLOAT64),
        (np.array([0.0, 1.0], dtype=np.float32), NOT_ARRAY,
         EXPECTED + "float32 with shape (2,)" + AS_FLOAT64),
        (np.array([0.0, 1.0], dtype=">f8"), NOT_ARRAY,
         EXPECTED + "big-endian float64 (>f8) with shape (2,)" + AS_FLOAT64),
        (np.zeros((2, 2)), NOT_ARRAY,
         EXPECTED + "float64 with shape (2, 2); pass a 1-D array, e.g. np.ravel(x)"),
        (np.array(1.0), NOT_ARRAY, EXPECTED + "float64 with shape (); pass a 1-D array, e.g. np.ravel(x)"),
        (np.array([1.0, None], dtype=object), NOT_ARRAY, EXPECTED + "object with shape (2,)" + AS_FLOAT64),
        (np.float64(1.0), "'float64' object is not an instance of 'ndarray'",
         EXPECTED + "a single number (numpy.float64); for n equal values use np.full(n, x)"),
    ],
)
def test_one_dimensional_array_rejections(value, message, hint):
    assert raises_with_note(TypeError, "x", S.deltas, value, hint=hint) == message
    if hint is not None and "np.asarray" in hint and np.asarray(value).dtype != object:  # it works
        np.testing.assert_array_equal(S.deltas(np.asarray(value, dtype=np.float64)).centers(),
                                      np.asarray(value, dtype=np.float64))


def test_failure_names_the_failing_argument():
    c = np.array([0.0, 1.0])
    assert raises_with_note(TypeError, "sigma", S.gaussians, c, [1.0, 1.0], 3.0,
                            hint=EXPECTED + "a list; use np.asarray(sigma, dtype=np.float64)")
    assert raises_with_note(TypeError, "cutoff", S.gaussians, c, c, "3")
    assert raises_with_note(TypeError, "centers", S.gaussians, None, None, None)


@pytest.mark.parametrize(
    "make",
    [
        lambda a: a[::-1],
        lambda a: a[::2],
        lambda a: a[::-3],
        lambda a: a.reshape(3, 4)[:, 1],
        lambda a: a.reshape(3, 4).T[2],
        lambda a: a[:0],
        lambda a: np.frombuffer(a.tobytes()[4:-4], dtype=np.float64),  # possibly misaligned
    ],
)
def test_any_stride_is_copied_in_index_order(make):
    base = np.arange(12.0) * 1.5 - 4.0
    x = make(base)
    s = S.deltas(x)
    np.testing.assert_array_equal(s.centers(), np.asarray(x, dtype=np.float64))
    assert len(s) == len(x)


def test_reversed_view_gives_deltas_in_view_order():
    s = S.deltas(np.array([0.0, 1.0, 2.0])[::-1])
    np.testing.assert_array_equal(s.centers(), [2.0, 1.0, 0.0])


def test_array_is_copied_not_referenced():
    x = np.array([0.0, 1.0, 2.0])
    s = S.deltas(x)
    x[:] = 7.0
    np.testing.assert_array_equal(s.centers(), [0.0, 1.0, 2.0])


def test_read_only_and_subclass_arrays_are_accepted():
    x = np.array([0.0, 1.0, 3.0])
    x.setflags(write=False)
    np.testing.assert_array_equal(S.deltas(x).centers(), x)

    class Tagged(np.ndarray):
        pass

    y = np.array([1.0, 2.0]).view(Tagged)
    np.testing.assert_array_equal(S.deltas(y).centers(), [1.0, 2.0])


def test_nan_values_reach_the_core_and_fail_cleanly():
    with pytest.raises(ValueError):
        S.boxes(np.array([0.0, math.nan, 1.0]))


# ---- integers, reals, strings -------------------------------------------------------------------


KNOTS = np.linspace(0.0, 1.0, 8)


@pytest.mark.parametrize("degree", [2, np.int64(2), np.uint8(2), True])
def test_non_negative_integer_accepts_index_objects(degree):
    assert len(S.bsplines(KNOTS, degree)) == 8 - int(degree) - 1


@pytest.mark.parametrize(
    "degree, exc",
    [(-1, OverflowError), (2**64, OverflowError), (10**40, OverflowError), (2.0, TypeError),
     ("2", TypeError), (None, TypeError), (np.float64(2.0), TypeError)],
)
def test_non_negative_integer_rejections(degree, exc):
    hint = f"degree must be >= 0, got {degree}" if degree == -1 else None
    raises_with_note(exc, "degree", S.bsplines, KNOTS, degree, hint=hint)


class FloatLike:
    def __float__(self):
        return 8.0


class IndexLike:
    def __index__(self):
        return 8


@pytest.mark.parametrize("cutoff", [8.0, 8, np.float32(8.0), FloatLike(), IndexLike()])
def test_real_accepts_float_protocol(cutoff):
    s = S.gaussians(np.array([0.0]), np.array([1.0]), cutoff)
    ref = S.gaussians(np.array([0.0]), np.array([1.0]), 8.0)
    np.testing.assert_array_equal(s.upper(), ref.upper())


@pytest.mark.parametrize("cutoff, exc", [("8", TypeError), (None, TypeError), ([8.0], TypeError),
                                         (10**400, OverflowError)])
def test_real_rejections(cutoff, exc):
    raises_with_note(exc, "cutoff", S.gaussians, np.array([0.0]), np.array([1.0]), cutoff)


def test_string_rejection():
    c = np.array([0.0])
    assert raises_with_note(TypeError, "apodization", S.fts, c, c + 1.0, 3.0, 1) == (
        "'int' object is not an instance of 'str'"
    )
    assert raises_with_note(TypeError, "apodization", S.fts, c, c + 1.0, 3.0, b"boxcar") == (
        "'bytes' object is not an instance of 'str'"
    )


def test_option_strings_are_case_sensitive_and_quoted():
    s = hats()
    assert value_error_message(q.measure, s, s, "Integral") == (
        "normalization must be 'integral', 'rowsum' or 'none', got \"Integral\""
    )


@pytest.mark.parametrize(
    "given, shown",
    [('a"b\\c', '"a\\"b\\\\c"'), ("\n\t\x01\x7f", '"\\n\\t\\u{1}\\u{7f}"'),
     ("\x80\x85\x9f", '"\\u{80}\\u{85}\\u{9f}"'), ("\xa0\u00e9\u2113", '"\xa0\u00e9\u2113"')],
)
def test_option_strings_escape_control_characters(given, shown):
    s = hats()
    assert value_error_message(q.measure, s, s, given) == (
        "normalization must be 'integral', 'rowsum' or 'none', got " + shown
    )


# ---- Space and sequences ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "value, message",
    [(None, "'None' is not an instance of 'Space'"), (1, "'int' object is not an instance of 'Space'"),
     (np.array([1.0]), "'ndarray' object is not an instance of 'Space'")],
)
def test_space_rejection(value, message):
    assert raises_with_note(TypeError, "basis", q.evaluate, value, np.array([0.0])) == message


def test_take_accepts_integer_arrays_and_sequences():
    s = hats()
    for idx in (np.array([3, 0]), [3, 0], (3, 0), range(3, -1, -3)):
        np.testing.assert_array_equal(s.take(idx).centers(), [2.0, 0.0])
    assert len(s.take([])) == 0


@pytest.mark.parametrize(
    "indices, exc, message",
    [
        ("01", TypeError, "Can't extract `str` to `Vec`"),
        (1, TypeError, "'int' object is not an instance of 'Sequence'"),
        (None, TypeError, "'None' is not an instance of 'Sequence'"),
        ({0: 1}, TypeError, "'dict' object is not an instance of 'Sequence'"),
        ((i for i in [0]), TypeError, "'generator' object is not an instance of 'Sequence'"),
        ([-1], OverflowError, None),
        ([0, 2**70], OverflowError, None),
        ([[0]], TypeError, None),
        ([0.0], TypeError, None),
        (np.array(1), TypeError, None),
        (np.array([0.0, 1.0]), TypeError, None),
    ],
)
def test_sequence_rejections(indices, exc, message):
    hint = "indices must be >= 0, got -1" if isinstance(indices, list) and indices == [-1] else None
    text = raises_with_note(exc, "indices", hats().take, indices, hint=hint)
    if message is not None:
        assert text == message


def test_sequence_of_spaces():
    a, b = hats(), S.deltas(np.array([5.0]))
    np.testing.assert_array_equal(S.concatenate([a, b]).centers(), [0.0, 0.5, 1.0, 2.0, 5.0])
    assert len(S.concatenate(())) == 0
    assert raises_with_note(TypeError, "spaces", S.concatenate, [a, 1]) == (
        "'int' object is not an instance of 'Space'"
    )


def test_sequence_of_reals():
    c = np.array([0.0, 1.0])
    by_list = S.fts(c, c + 2.0, 4.0, None, [0.5, 0.5])
    by_array = S.fts(c, c + 2.0, 4.0, cosine_sum=np.array([0.5, 0.5]))
    np.testing.assert_array_equal(by_list.upper(), by_array.upper())
    assert raises_with_note(TypeError, "polynomial", S.fts, c, c, 4.0, None, None, "12") == (
        "Can't extract `str` to `Vec`"
    )
    raises_with_note(TypeError, "cosine_sum", S.fts, c, c, 4.0, None, ["a"])


class ClaimsLength(list):
    """A list that reports `length` items, whatever it holds."""

    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        return self.length


HUGE = 2**62
C1 = np.array([0.0])
DIMS = [("matern32", 1.0, None, None)]


@pytest.mark.parametrize(
    "name, call",
    [
        ("indices", lambda: hats().take(range(HUGE))),
        ("indices", lambda: hats().take(ClaimsLength([0], HUGE))),
        ("spaces", lambda: S.concatenate(range(HUGE))),
        ("cosine_sum", lambda: S.fts(C1, C1 + 1.0, 3.0, None, range(HUGE))),
        ("polynomial", lambda: S.fts(C1, C1 + 1.0, 3.0, polynomial=ClaimsLength([1.0], HUGE))),
        ("dims", lambda: q.covariance_diagonal(1.0, range(HUGE), [hats()], [None])),
        ("a", lambda: q.covariance_diagonal(1.0, DIMS, range(HUGE), [None])),
        ("wa", lambda: q.covariance_diagonal(1.0, DIMS, [hats()], range(HUGE))),
        ("wb", lambda: q.covariance_matrix(1.0, DIMS, [hats()], [None], [hats()], range(HUGE))),
    ],
)
def test_length_beyond_memory_is_a_memory_error(name, call):
    with pytest.raises(MemoryError) as info:
        call()
    assert info.value.args == (f"the sequence reports {HUGE} items, more than memory can hold",)
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_reported_length_does_not_decide_the_items():
    for length in (0, 1, 10**6):
        np.testing.assert_array_equal(hats().take(ClaimsLength([3, 0], length)).centers(), [2.0, 0.0])


@pytest.mark.parametrize(
    "name, value, call",
    [
        ("degree", -1, lambda v: S.bsplines(KNOTS, v)),
        ("degree", np.int64(-3), lambda v: S.bsplines_clamped(KNOTS, v)),
        ("n", -2, lambda v: S.harmonics(v, 1.0, 0.0)),
        ("order", -(10**30), lambda v: hats().derivative(v)),
        ("order", -1, lambda v: q.Fit(hats(), hats(), "none", 0.1, "difference", v)),
        ("indices", -4, lambda v: hats().take([0, v])),
    ],
)
def test_negative_count_keeps_its_overflow_error_and_says_why(name, value, call):
    with pytest.raises(OverflowError) as info:
        call(value)
    assert info.value.__notes__ == [f"while processing '{name}'", f"{name} must be >= 0, got {int(value)}"]


# ---- weight -------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "weight, shown", [(0.0, "0"), (-0.0, "-0"), (math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf")]
)
def test_bad_weight(weight, shown):
    s = hats()
    for f in (lambda: q.inner_products(s, s, weight=weight), lambda: s.integrals(weight)):
        with pytest.raises(ValueError) as info:
            f()
        assert str(info.value) == f"bad cosine weight scale {shown}"
        assert getattr(info.value, "__notes__", None) is None


def test_negative_weight_is_accepted():
    s = hats()
    plus = dense(q.inner_products(s, s, weight=2.0))
    minus = dense(q.inner_products(s, s, weight=-2.0))
    unweighted = dense(q.inner_products(s, s))
    np.testing.assert_allclose(minus, plus, rtol=1e-14, atol=1e-15)
    assert np.abs(plus - unweighted).max() > 1e-3


def test_weight_conversion_failure():
    s = hats()
    raises_with_note(TypeError, "weight", q.inner_products, s, s, "2")
    raises_with_note(TypeError, "weight", s.integrals, [2.0])


# ---- results ------------------------------------------------------------------------------------


def test_sparse_result_form_and_values():
    s = hats()
    xs = np.array([0.25, 0.5, 1.5, -1.0])
    indptr, indices, data, shape = q.evaluate(s, xs)
    assert indptr.dtype == np.int64 and indices.dtype == np.int64 and data.dtype == np.float64
    assert shape == (4, 4) and all(type(n) is int for n in shape)
    assert indptr.shape == (5,) and indices.shape == data.shape
    table = dense((indptr, indices, data, shape))
    nodes = np.array([0.0, 0.5, 1.0, 2.0])
    for j in range(4):
        unit = np.zeros(4)
        unit[j] = 1.0
        np.testing.assert_allclose(table[:, j], np.interp(xs, nodes, unit, left=0.0, right=0.0),
                                   rtol=0, atol=1e-15)


def test_empty_sparse_result():
    indptr, indices, data, shape = q.evaluate(hats(), np.array([5.0, 6.0, -3.0]))
    np.testing.assert_array_equal(indptr, [0, 0, 0, 0])
    assert indices.shape == (0,) and data.shape == (0,)
    assert shape == (3, 4)


def test_array_results_are_fresh_writeable_float64():
    s = hats()
    a = s.lower()
    assert a.dtype == np.float64 and a.ndim == 1 and a.flags.c_contiguous and a.flags.writeable
    a[:] = 99.0
    np.testing.assert_array_equal(s.lower(), [0.0, 0.0, 0.5, 1.0])
    np.testing.assert_array_equal(s.upper(), [0.5, 1.0, 2.0, 2.0])
    np.testing.assert_allclose(s.integrals(), [0.25, 0.5, 0.75, 0.5], rtol=1e-15)
    assert S.deltas(np.array([])).centers().shape == (0,)


def test_pair_result_is_a_tuple_of_sparse_tuples():
    k = S.gaussians(np.array([0.5]), np.array([0.1]), 4.0)
    w, dw = q.measure_derivative(k, hats(), "none", "center")
    assert type(w) is tuple and type(dw) is tuple and len(w) == 4 and len(dw) == 4


# ---- 2-D arrays read in place -------------------------------------------------------------------


def test_two_dimensional_in_place_rules():
    src = S.boxes(np.linspace(0.0, 1.0, 5))
    p = q.Projection(src, src)
    f = np.arange(12.0).reshape(3, 4)
    np.testing.assert_allclose(p.apply_last_axis(f), f, rtol=1e-13)
    np.testing.assert_allclose(p.apply_last_axis(np.asfortranarray(f)), f, rtol=1e-13)
    assert raises_with_note(TypeError, "f", p.apply_last_axis, np.arange(24.0).reshape(3, 8)[:, ::2],
                            hint="use np.ascontiguousarray(f)") == (
        "The given array is not contiguous or is misaligned."
    )
    assert raises_with_note(TypeError, "f", p.apply_last_axis, f.ravel(), hint=(
        "expected a 2-D float64 array, got float64 with shape (12,); "
        "for a single row use np.atleast_2d(f)")) == "'ndarray' object is not an instance of 'ndarray'"
