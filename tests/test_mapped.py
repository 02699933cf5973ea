"""Mapped elements: reciprocal and affine changes of variable, the Jacobian factor, supports,
moved deltas, composition, integrals, messages and the order of the checks."""

import numpy as np
import pytest
import scipy.integrate

import quorvel
from quorvel import Space
from helpers import arr, point_values as dense, raises_with_note, value_error_message as message


def sample_space():
    """One element of each wrappable kind, all on the positive side of 0."""
    return Space.concatenate([
        Space.boxes(arr(1.0, 2.0)),
        Space.hats(arr(1.5, 2.5, 4.0)).take([1]),
        Space.shifted(arr(-0.5, 0.0, 0.3, 1.0), arr(0.0, 1.0, 0.2, 0.0), arr(3.0), arr(1.5),
                      "pchip"),
        Space.bsplines(arr(1.0, 1.5, 2.5, 3.0, 4.0), 3),
        Space.gaussians(arr(5.0), arr(0.4), 4.0),
    ])


# ---- reciprocal map ------------------------------------------------------------------------------


@pytest.mark.parametrize("jacobian", [True, False])
def test_reciprocal_box(jacobian):
    s = Space.boxes(arr(500.0, 1000.0)).mapped("reciprocal", 1e7, 0.0, jacobian)
    np.testing.assert_array_equal(s.lower(), [10000.0])
    np.testing.assert_array_equal(s.upper(), [20000.0])
    np.testing.assert_array_equal(s.centers(), [1e7 / 750.0])
    x = np.linspace(10000.0, 20000.0, 101)[1:]
    expected = 1e7 / x**2 if jacobian else np.ones_like(x)
    np.testing.assert_allclose(dense(s, x)[:, 0], expected, rtol=1e-15)
    # u = 1000 is the open end of the box
    assert dense(s, [10000.0, 9999.0, 20001.0]).tolist() == [[0.0], [0.0], [0.0]]
    # with the Jacobian the integral is the width in u, without it the width in x
    np.testing.assert_allclose(s.integrals(), [500.0 if jacobian else 10000.0], rtol=1e-12)


def test_reciprocal_map_on_negative_side():
    s = Space.boxes(arr(-4.0, -2.0)).mapped("reciprocal", 2.0, 0.0, True)
    np.testing.assert_array_equal(s.lower(), [-1.0])
    np.testing.assert_array_equal(s.upper(), [-0.5])
    x = arr(-0.9, -0.6, -0.5)
    np.testing.assert_allclose(dense(s, x)[:, 0], 2.0 / x**2, rtol=1e-15)
    np.testing.assert_allclose(s.integrals(), [2.0], rtol=1e-12)


def test_reciprocal_values_match_inner_element():
    base = sample_space()
    s = base.mapped("reciprocal", -3.0, 0.0, True)
    x = np.linspace(-3.0, -0.4, 513)
    u = -3.0 / x
    np.testing.assert_allclose(dense(s, x), dense(base, u) * (3.0 / x**2)[:, None], rtol=1e-13,
                               atol=1e-15)
    lo, hi = base.lower(), base.upper()
    np.testing.assert_array_equal(s.lower(), np.minimum(-3.0 / lo, -3.0 / hi))
    np.testing.assert_array_equal(s.upper(), np.maximum(-3.0 / lo, -3.0 / hi))
    np.testing.assert_array_equal(s.centers(), -3.0 / base.centers())


def test_reciprocal_jacobian_keeps_integrals():
    base = sample_space()
    s = base.mapped("reciprocal", 7.0, 0.0, True)
    np.testing.assert_allclose(s.integrals(), base.integrals(), rtol=1e-9)


def test_reciprocal_integrals_without_jacobian():
    # the integral of f(7 / x) over x is that of f(u) 7 / u^2 over u
    base = sample_space()
    plain = base.mapped("reciprocal", 7.0, 0.0, False).integrals()
    kinks = [1.0, 1.5, 2.0, 2.25, 2.5, 3.0, 3.45, 4.0, 4.5]
    for i, (lo, hi) in enumerate(zip(base.lower(), base.upper())):
        ref = scipy.integrate.quad(lambda u: dense(base, [u])[0, i] * 7.0 / u**2, lo, hi,
                                   points=[k for k in kinks if lo < k < hi], limit=200,
                                   epsabs=0, epsrel=1e-12)[0]
        assert plain[i] == pytest.approx(ref, rel=1e-9)


# ---- affine map ----------------------------------------------------------------------------------


@pytest.mark.parametrize("b", [3.0, -3.0, 0.25, -0.5])
@pytest.mark.parametrize("jacobian", [True, False])
def test_affine_values_supports_and_integrals(b, jacobian):
    base = sample_space()
    a = -1.25
    s = base.mapped("affine", a, b, jacobian)
    x = np.linspace(a + b * 0.5, a + b * 7.5, 601)
    factor = 1.0 / abs(b) if jacobian else 1.0
    np.testing.assert_allclose(dense(s, x), dense(base, (x - a) / b) * factor, rtol=1e-13,
                               atol=1e-15)
    ends = np.stack([base.lower() * b + a, base.upper() * b + a])
    np.testing.assert_array_equal(s.lower(), ends.min(axis=0))
    np.testing.assert_array_equal(s.upper(), ends.max(axis=0))
    assert np.all(s.lower() < s.upper())
    np.testing.assert_allclose(s.centers(), base.centers() * b + a, rtol=1e-15)
    scale = 1.0 if jacobian else abs(b)
    np.testing.assert_allclose(s.integrals(), base.integrals() * scale, rtol=1e-9)


@pytest.mark.parametrize("jacobian, expected", [(True, 2.0), (False, 8.0)])
def test_affine_box_integral(jacobian, expected):
    s = Space.boxes(arr(1.0, 3.0)).mapped("affine", 5.0, -4.0, jacobian)
    np.testing.assert_array_equal(s.integrals(), [expected])


def test_negative_scale_reverses_support_ends():
    s = Space.boxes(arr(0.0, 1.0)).mapped("affine", 1.0, -2.0, False)
    np.testing.assert_array_equal(s.lower(), [-1.0])
    np.testing.assert_array_equal(s.upper(), [1.0])
    # x = 1 - 2 u: u = 1 (the open end of the box) is x = -1
    np.testing.assert_array_equal(dense(s, [-1.0, -0.99, 0.0, 1.0, 1.01])[:, 0], [0, 1, 1, 1, 0])


@pytest.mark.parametrize("jacobian", [True, False])
def test_affine_maps_compose(jacobian):
    base = sample_space()
    a1, b1, a2, b2 = 0.5, -2.0, 3.0, 0.25
    twice = base.mapped("affine", a1, b1, jacobian).mapped("affine", a2, b2, jacobian)
    once = base.mapped("affine", a2 + b2 * a1, b1 * b2, jacobian)
    np.testing.assert_array_equal(twice.lower(), once.lower())
    np.testing.assert_array_equal(twice.upper(), once.upper())
    np.testing.assert_array_equal(twice.centers(), once.centers())
    x = np.linspace(once.lower().min(), once.upper().max(), 777)
    np.testing.assert_allclose(dense(twice, x), dense(once, x), rtol=1e-14, atol=1e-15)
    np.testing.assert_allclose(twice.integrals(), once.integrals(), rtol=1e-9)


def test_affine_then_reciprocal_nests():
    base = Space.boxes(arr(1.0, 2.0))
    s = base.mapped("affine", 1.0, 2.0, True).mapped("reciprocal", 6.0, 0.0, True)
    # u in [1, 2) -> y = 1 + 2u in [3, 5) -> x = 6 / y in (1.2, 2]
    np.testing.assert_allclose(s.lower(), [1.2], rtol=1e-15)
    np.testing.assert_array_equal(s.upper(), [2.0])
    x = arr(1.3, 1.5, 2.0)
    np.testing.assert_allclose(dense(s, x)[:, 0], 0.5 * 6.0 / x**2, rtol=1e-15)
    np.testing.assert_allclose(s.integrals(), [1.0], rtol=1e-10)


# ---- deltas --------------------------------------------------------------------------------------


@pytest.mark.parametrize("kind, a, b, points, moved", [
    ("affine", 1.0, -2.0, [0.0, 1.0, 3.0], [1.0, -1.0, -5.0]),
    ("reciprocal", 6.0, 0.0, [1.0, 3.0, -2.0], [6.0, 2.0, -3.0]),
])
@pytest.mark.parametrize("jacobian", [True, False])
def test_deltas_are_moved(kind, a, b, points, moved, jacobian):
    points = np.array(points)
    s = Space.deltas(points).mapped(kind, a, b, jacobian)
    np.testing.assert_array_equal(s.lower(), moved)
    np.testing.assert_array_equal(s.upper(), moved)
    # still point functionals of weight 1, whatever the Jacobian flag
    np.testing.assert_array_equal(s.integrals(), np.ones(len(moved)))
    box = Space.boxes(arr(-10.0, 10.0))
    indptr, indices, data, shape = quorvel.inner_products(s, box)
    np.testing.assert_array_equal(data, np.ones(len(moved)))


def test_delta_at_zero_under_reciprocal_map():
    s = Space.deltas(arr(1.0, 0.0))
    assert message(s.mapped, "reciprocal", 1.0, 0.0, True) == "delta position must be finite"
    assert message(Space.deltas(arr(1e-310)).mapped, "reciprocal", 1e10, 0.0, False) == \
        "delta position must be finite"


def test_delta_moved_past_the_largest_double():
    assert message(Space.deltas(arr(1e300)).mapped, "affine", 0.0, 1e10, False) == \
        "delta position must be finite"


# ---- messages ------------------------------------------------------------------------------------

KIND = "map kind must be 'reciprocal' or 'affine', got "
RECIPROCAL = "reciprocal map needs a finite nonzero k"
AFFINE = "affine map needs finite offset and nonzero finite scale"


@pytest.mark.parametrize("kind, shown", [
    ("Affine", '"Affine"'), ("RECIPROCAL", '"RECIPROCAL"'), ("", '""'), ("affine ", '"affine "'),
    ("lin\near", '"lin\\near"'),
])
def test_map_kind_message(kind, shown):
    # the kind is parsed before anything else, even for an empty space
    for s in (Space.deltas(arr()), Space.boxes(arr(0.0, 1.0))):
        assert message(s.mapped, kind, np.nan, 0.0, True) == KIND + shown


@pytest.mark.parametrize("kind, a, b, text", [
    ("reciprocal", 0.0, 1.0, RECIPROCAL),
    ("reciprocal", -0.0, 1.0, RECIPROCAL),
    ("reciprocal", np.inf, 1.0, RECIPROCAL),
    ("reciprocal", np.nan, 1.0, RECIPROCAL),
    ("affine", 0.0, 0.0, AFFINE),
    ("affine", 0.0, -0.0, AFFINE),
    ("affine", 0.0, np.inf, AFFINE),
    ("affine", 0.0, np.nan, AFFINE),
    ("affine", np.inf, 1.0, AFFINE),
    ("affine", np.nan, 1.0, AFFINE),
])
def test_map_parameter_messages(kind, a, b, text):
    # checked at the first element, before that element is looked at
    for s in (Space.boxes(arr(0.0, 1.0)), Space.deltas(arr(0.0))):
        assert message(s.mapped, kind, a, b, False) == text
    assert len(Space.deltas(arr()).mapped(kind, a, b, False)) == 0


def test_reciprocal_parameter_b_is_ignored():
    s = Space.boxes(arr(1.0, 2.0))
    for b in (0.0, np.nan, np.inf):
        np.testing.assert_array_equal(s.mapped("reciprocal", 2.0, b, False).lower(), [1.0])


SIDE = "a reciprocal map needs supports on one side of 0, got "


@pytest.mark.parametrize("space, text", [
    (Space.boxes(arr(0.0, 1.0)), SIDE + "[0, 1]"),
    (Space.boxes(arr(-1.0, 0.0)), SIDE + "[-1, 0]"),
    (Space.hats(arr(-0.5, 0.25, 1.0)).take([1]), SIDE + "[-0.5, 1]"),
    (Space.gaussians(arr(0.0), arr(1.0), 2.0), SIDE + "[-2, 2]"),
    (Space.boxes(arr(-1.0, -0.5)).mapped("affine", 1.0, 1.0, False), SIDE + "[0, 0.5]"),
])
def test_reciprocal_support_must_avoid_zero(space, text):
    assert message(space.mapped, "reciprocal", 1.0, 0.0, True) == text
    # the affine map has no such restriction
    assert len(space.mapped("affine", 1.0, 1.0, True)) == 1


def test_first_failing_element_decides():
    s = Space.concatenate([Space.deltas(arr(2.0)), Space.boxes(arr(0.0, 1.0)),
                           Space.deltas(arr(0.0))])
    assert message(s.mapped, "reciprocal", 1.0, 0.0, True) == SIDE + "[0, 1]"
    t = Space.concatenate([Space.deltas(arr(0.0)), Space.boxes(arr(0.0, 1.0))])
    assert message(t.mapped, "reciprocal", 1.0, 0.0, True) == "delta position must be finite"


@pytest.mark.parametrize("space, kind, a, b, text", [
    (Space.boxes(arr(0.0, 10.0)), "affine", 0.0, 1e308, "[0, inf]"),
    (Space.boxes(arr(-10.0, 0.0)), "affine", 0.0, 1e308, "[-inf, 0]"),
    (Space.boxes(arr(1e-310, 1.0)), "reciprocal", 1e10, 0.0, "[10000000000, inf]"),
])
def test_unbounded_mapped_support_fails(space, kind, a, b, text):
    assert message(space.mapped, kind, a, b, False) == "mapped support must be finite, got " + text


# ---- binding -------------------------------------------------------------------------------------


def test_empty_space_maps_to_empty_space():
    for kind in ("reciprocal", "affine"):
        assert len(Space.deltas(arr()).mapped(kind, 0.0, 0.0, True)) == 0


def test_order_and_length_kept():
    base = sample_space()
    s = base.mapped("affine", 0.0, 1.0, False)
    assert len(s) == len(base)
    np.testing.assert_array_equal(s.lower(), base.lower())
    np.testing.assert_array_equal(s.centers(), base.centers())


@pytest.mark.parametrize("flag", [True, False, np.True_, np.False_])
def test_jacobian_accepts_bools(flag):
    s = Space.boxes(arr(1.0, 2.0)).mapped("affine", 0.0, 2.0, flag)
    np.testing.assert_array_equal(s.integrals(), [1.0 if flag else 2.0])


@pytest.mark.parametrize("name, args", [
    ("jacobian", ("affine", 0.0, 1.0, 1)),
    ("jacobian", ("affine", 0.0, 1.0, None)),
    ("kind", (None, 0.0, 1.0, True)),
    ("a", ("affine", "0", 1.0, True)),
    ("b", ("affine", 0.0, None, True)),
])
def test_conversion_names_the_argument(name, args):
    raises_with_note(TypeError, name, Space.boxes(arr(1.0, 2.0)).mapped, *args)


def test_keywords_and_docstring():
    s = Space.boxes(arr(1.0, 2.0))
    t = s.mapped(jacobian=False, b=2.0, a=1.0, kind="affine")
    np.testing.assert_array_equal(t.lower(), [3.0])
    assert Space.mapped.__text_signature__ == "($self, kind, a, b, jacobian)"
    assert Space.mapped.__doc__ == (
        'The elements as functions of x = forward(u): kind "reciprocal" (x = a / u) or "affine"\n'
        "(x = a + b\u00b7u).")
    assert Space.shifted.__doc__ == ("Copies of the tabulated shape (shape_x, shape_y), shifted "
                                     "to `centers` and stretched by\n`stretch`.")
    assert Space.tabulated.__doc__ == ("Per-element tables: x has 1 or len(centers) rows, y has "
                                       "len(centers) rows.")


def test_mapped_elements_have_no_derivative():
    s = Space.boxes(arr(1.0, 2.0)).mapped("affine", 0.0, 2.0, False)
    assert len(s.derivative(0)) == 1
    assert message(s.derivative, 1) == "only piecewise-polynomial elements have derivatives"


# ---- nesting limit -------------------------------------------------------------------------------


def test_maps_nest_at_most_sixteen_deep():
    # Each reciprocal level makes integrals about 1.5 times dearer: 16 levels still take
    # milliseconds, and the 17th is refused at once.
    s = Space.boxes(arr(1.0, 2.0))
    for _ in range(16):
        s = s.mapped("reciprocal", 1.0, 0.0, True)
    np.testing.assert_allclose(s.integrals(), [1.0], rtol=1e-12)
    assert (message(s.mapped, "affine", 0.0, 2.0, False)
            == "maps nest at most 16 deep, got an element mapped 16 times already")
    # Deltas are moved, not wrapped: they never nest.
    d = Space.deltas(arr(2.0))
    for _ in range(40):
        d = d.mapped("reciprocal", 2.0, 0.0, False)
    np.testing.assert_array_equal(d.lower(), [2.0])
