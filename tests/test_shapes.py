"""Rectangles, triangles, trapezoids, tabulated and shifted shapes: values, supports, integrals,
linear and PCHIP tables against NumPy and SciPy, messages and the order of the checks."""

import numpy as np
import pytest
import scipy.integrate
from scipy.interpolate import PchipInterpolator

from quorvel import Space
from helpers import (arr, point_values as dense, raises_with_note, type_error_message,
                     value_error_message as message)


def tab(xs, ys, interp, center=0.0):
    return Space.tabulated(arr(center), np.array([xs], float), np.array([ys], float), interp)


# ---- rectangles and triangles ------------------------------------------------------------------


def test_rectangle_is_half_open_box():
    s = Space.rectangles(arr(0.0), arr(2.0))
    np.testing.assert_array_equal(s.lower(), [-1.0])
    np.testing.assert_array_equal(s.upper(), [1.0])
    np.testing.assert_array_equal(dense(s, [-1.0, 0.0, 0.999, 1.0, -1.001])[:, 0], [1, 1, 1, 0, 0])
    np.testing.assert_array_equal(s.integrals(), [2.0])


@pytest.mark.parametrize("widths, lower, upper", [
    (arr(2.0), [-1.0, 4.0], [1.0, 6.0]),
    (arr(2.0, 0.5), [-1.0, 4.75], [1.0, 5.25]),
])
def test_rectangles_share_or_pair_widths(widths, lower, upper):
    s = Space.rectangles(arr(0.0, 5.0), widths)
    np.testing.assert_array_equal(s.lower(), lower)
    np.testing.assert_array_equal(s.upper(), upper)
    np.testing.assert_array_equal(s.centers(), [0.0, 5.0])


@pytest.mark.parametrize("centers, widths, text", [
    (arr(0.0), arr(0.0), "box needs finite a < b, got [0, 0]"),
    (arr(1.0), arr(-2.0), "box needs finite a < b, got [2, 0]"),
    (arr(0.0, np.nan), arr(1.0), "box needs finite a < b, got [NaN, NaN]"),
    (arr(0.0), arr(np.inf), "box needs finite a < b, got [-inf, inf]"),
    (arr(0.0, 1.0, 2.0), arr(1.0, 1.0), "widths has length 2, expected 1 or 3"),
    (arr(0.0), arr(), "widths has length 0, expected 1 or 1"),
])
def test_rectangle_messages(centers, widths, text):
    assert message(Space.rectangles, centers, widths) == text


def test_empty_rectangles_and_triangles():
    assert len(Space.rectangles(arr(), arr(1.0))) == 0
    assert len(Space.rectangles(arr(), arr())) == 0
    assert len(Space.triangles(arr(), arr(-1.0))) == 0


def test_triangle_support_and_half_maximum():
    s = Space.triangles(arr(0.0), arr(1.0))
    np.testing.assert_array_equal(s.lower(), [-2.0])
    np.testing.assert_array_equal(s.upper(), [2.0])
    np.testing.assert_array_equal(dense(s, [-2.0, -1.0, 0.0, 1.0, 2.0, 2.5])[:, 0],
                                  [0, 0.5, 1, 0.5, 0, 0])
    np.testing.assert_allclose(s.integrals(), [2.0], rtol=1e-15)


def test_triangles_per_element_hwhm():
    s = Space.triangles(arr(1.0, 3.0), arr(0.5, 0.25))
    np.testing.assert_array_equal(s.lower(), [0.0, 2.5])
    np.testing.assert_array_equal(s.upper(), [2.0, 3.5])
    np.testing.assert_allclose(s.integrals(), [1.0, 0.5], rtol=1e-15)


@pytest.mark.parametrize("centers, hwhm, text", [
    (arr(0.0), arr(-1.0), "hat needs finite a <= c <= b with a < b, got (2, 0, -2)"),
    (arr(0.0), arr(0.0), "hat needs finite a <= c <= b with a < b, got (0, 0, 0)"),
    (arr(np.inf), arr(1.0), "hat needs finite a <= c <= b with a < b, got (inf, inf, inf)"),
    (arr(0.0, 1.0), arr(1.0, 1.0, 1.0), "hwhm has length 3, expected 1 or 2"),
])
def test_triangle_messages(centers, hwhm, text):
    assert message(Space.triangles, centers, hwhm) == text


# ---- trapezoids ----------------------------------------------------------------------------------


def test_trapezoid_values():
    s = Space.trapezoids(arr(0.0), arr(1.0), arr(2.0))
    x = np.linspace(-3.0, 3.0, 61)
    expected = np.clip(2.0 - np.abs(x), 0.0, 1.0)
    np.testing.assert_allclose(dense(s, x)[:, 0], expected, rtol=0, atol=1e-15)
    np.testing.assert_array_equal(dense(s, [-2.0, -1.0, 1.0, 2.0])[:, 0], [0, 1, 1, 0])
    np.testing.assert_array_equal(s.lower(), [-2.0])
    np.testing.assert_array_equal(s.upper(), [2.0])


@pytest.mark.parametrize("top, bottom", [(1.0, 2.0), (0.0, 2.0), (2.0, 2.0), (0.25, 3.0)])
def test_trapezoid_integral_is_top_plus_bottom(top, bottom):
    s = Space.trapezoids(arr(-1.0, 4.0), arr(top), arr(bottom))
    np.testing.assert_allclose(s.integrals(), [top + bottom] * 2, rtol=1e-15)


def test_trapezoid_without_plateau_is_triangle():
    s = Space.trapezoids(arr(1.0), arr(0.0), arr(2.0))
    x = np.linspace(-2.0, 4.0, 49)
    np.testing.assert_allclose(dense(s, x)[:, 0], np.clip(1.0 - np.abs(x - 1.0) / 2.0, 0, 1),
                               rtol=0, atol=1e-15)


def test_trapezoid_with_equal_widths_is_box():
    s = Space.trapezoids(arr(0.0), arr(2.0), arr(2.0))
    np.testing.assert_array_equal(dense(s, [-2.0, 0.0, 1.999, 2.0])[:, 0], [1, 1, 1, 0])


def test_trapezoids_per_element_pairs():
    s = Space.trapezoids(arr(0.0, 10.0), arr(0.5), arr(1.0, 3.0))
    np.testing.assert_array_equal(s.lower(), [-1.0, 7.0])
    np.testing.assert_array_equal(s.upper(), [1.0, 13.0])
    np.testing.assert_allclose(s.integrals(), [1.5, 3.5], rtol=1e-15)


TRAP = "trapezoid needs 0 <= top <= bottom, bottom > 0; got "


@pytest.mark.parametrize("centers, top, bottom, text", [
    (arr(0.0), arr(3.0), arr(2.0), TRAP + "3, 2"),
    (arr(0.0), arr(-1.0), arr(2.0), TRAP + "-1, 2"),
    (arr(0.0), arr(0.0), arr(0.0), TRAP + "0, 0"),
    (arr(0.0), arr(np.nan), arr(2.0), TRAP + "NaN, 2"),
    (arr(0.0), arr(1.0), arr(np.inf), TRAP + "1, inf"),
    # one shared pair is validated before the loop, even without centers
    (arr(), arr(3.0), arr(2.0), TRAP + "3, 2"),
    # the shared pair before the first center
    (arr(np.nan), arr(3.0), arr(2.0), TRAP + "3, 2"),
    # top is tested before bottom
    (arr(0.0, 1.0, 2.0), arr(1.0, 1.0), arr(2.0, 2.0), "top has length 2, expected 1 or 3"),
    (arr(0.0, 1.0, 2.0), arr(1.0), arr(2.0, 2.0), "bottom has length 2, expected 1 or 3"),
    # per element: the pair of an element, then its center
    (arr(np.nan, 0.0), arr(1.0), arr(2.0, 0.5),
     "piecewise element needs finite center and stretch > 0"),
    (arr(np.nan, 0.0), arr(1.0), arr(0.5, 2.0), TRAP + "1, 0.5"),
    (arr(0.0, 0.0), arr(1.0), arr(2.0, 0.5), TRAP + "1, 0.5"),
])
def test_trapezoid_messages(centers, top, bottom, text):
    assert message(Space.trapezoids, centers, top, bottom) == text


# ---- linear tables -------------------------------------------------------------------------------


def test_linear_table_against_interp():
    rng = np.random.default_rng(3)
    xs = np.cumsum(rng.uniform(0.1, 1.0, 12)) - 3.0
    ys = rng.normal(size=12)
    center = 1.5
    s = tab(xs, ys, "linear", center)
    x = np.linspace(xs[0], xs[-1], 777, endpoint=False) + center
    np.testing.assert_allclose(dense(s, x)[:, 0], np.interp(x - center, xs, ys), rtol=1e-13,
                               atol=1e-13)
    np.testing.assert_array_equal(s.lower(), [xs[0] + center])
    np.testing.assert_array_equal(s.upper(), [xs[-1] + center])
    np.testing.assert_allclose(s.integrals(), [scipy.integrate.trapezoid(ys, xs)], rtol=1e-13)


@pytest.mark.parametrize("interp", ["linear", "pchip"])
def test_table_ends(interp):
    xs, ys = arr(-1.0, 0.0, 2.0), arr(0.25, 1.0, 0.5)
    s = tab(xs, ys, interp, center=10.0)
    np.testing.assert_array_equal(dense(s, [9.0, 12.0, 12.5, 8.999])[:, 0], [0.25, 0, 0, 0])


def test_tabulated_rows_shared_or_own():
    x = np.array([[0.0, 1.0, 2.0]])
    y = np.array([[0.0, 1.0, 0.0], [0.0, 2.0, 0.0]])
    s = Space.tabulated(arr(0.0, 10.0), x, y, "linear")
    np.testing.assert_array_equal(dense(s, [1.0, 11.0]), [[1.0, 0.0], [0.0, 2.0]])
    x2 = np.array([[0.0, 1.0, 2.0], [-4.0, 0.0, 4.0]])
    s2 = Space.tabulated(arr(0.0, 10.0), x2, y, "linear")
    np.testing.assert_array_equal(s2.lower(), [0.0, 6.0])
    np.testing.assert_array_equal(s2.upper(), [2.0, 14.0])
    np.testing.assert_allclose(s2.integrals(), [1.0, 8.0], rtol=1e-15)


@pytest.mark.parametrize("layout", ["c", "fortran", "strided", "reversed"])
def test_tabulated_reads_rows_through_strides(layout):
    base_x = np.array([[0.0, 1.0, 3.0], [0.0, 2.0, 5.0]])
    base_y = np.array([[1.0, 4.0, 2.0], [3.0, 0.0, 6.0]])
    if layout == "c":
        x, y = base_x, base_y
    elif layout == "fortran":
        x, y = np.asfortranarray(base_x), np.asfortranarray(base_y)
    elif layout == "strided":
        x = np.zeros((4, 6))
        x[::2, ::2] = base_x
        x = x[::2, ::2]
        y = np.zeros((4, 6))
        y[::2, ::2] = base_y
        y = y[::2, ::2]
    else:
        x, y = base_x[::-1].copy()[::-1], base_y[::-1].copy()[::-1]
    s = Space.tabulated(arr(0.0, 100.0), x, y, "linear")
    probe = np.array([0.0, 0.5, 2.0, 100.0, 101.0, 104.0])
    expected = np.zeros((6, 2))
    expected[:3, 0] = np.interp(probe[:3], base_x[0], base_y[0])
    expected[3:, 1] = np.interp(probe[3:] - 100.0, base_x[1], base_y[1])
    np.testing.assert_allclose(dense(s, probe), expected, rtol=1e-15)


# ---- PCHIP ---------------------------------------------------------------------------------------


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("n", [2, 3, 4, 9])
def test_pchip_against_scipy(seed, n):
    rng = np.random.default_rng(seed)
    xs = np.cumsum(rng.uniform(0.05, 2.0, n))
    ys = rng.normal(size=n)
    if seed == 3:
        ys[1:3] = ys[1]  # a flat stretch
    s = tab(xs, ys, "pchip", center=-2.0)
    x = np.linspace(xs[0], xs[-1], 1001)[:-1]
    ref = PchipInterpolator(xs, ys)
    np.testing.assert_allclose(dense(s, x - 2.0)[:, 0], ref(x), rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose(s.integrals(), [ref.integrate(xs[0], xs[-1])], rtol=1e-12,
                               atol=1e-14)


@pytest.mark.parametrize("interp", ["linear", "pchip"])
@pytest.mark.parametrize("spacing", [1e200, 1e-120, 1e-300])
def test_tables_with_extreme_spacing(interp, spacing):
    # c3 ~ 1 / h^3 leaves the double range; the shape is scale invariant, so the reference is the
    # table at unit spacing.
    xs, ys = arr(-1.0, -0.3, 0.2, 1.0), arr(0.0, 1.0, 0.5, 0.0)
    s = tab(spacing * xs, ys, interp)
    x = np.linspace(-1.0, 1.0, 41)[:-1]
    ref = PchipInterpolator(xs, ys) if interp == "pchip" else (lambda v: np.interp(v, xs, ys))
    np.testing.assert_allclose(dense(s, spacing * x)[:, 0], ref(x), rtol=1e-15, atol=1e-16)
    integral = ref.integrate(-1.0, 1.0) if interp == "pchip" else np.trapezoid(ys, xs)
    np.testing.assert_allclose(s.integrals(), [spacing * integral], rtol=1e-15, atol=0)


@pytest.mark.parametrize("ys", [
    arr(0.0, 0.1, 0.2, 3.0, 3.01, 7.0, 7.0, 20.0),
    arr(5.0, 4.9, 1.0, 0.9, -3.0, -3.0, -3.5, -10.0),
])
def test_pchip_keeps_monotone_data_monotone(ys):
    xs = arr(0.0, 0.3, 0.5, 2.0, 2.1, 4.0, 4.5, 5.0)
    s = tab(xs, ys, "pchip")
    v = dense(s, np.linspace(0.0, 5.0, 4001)[:-1])[:, 0]
    steps = np.diff(v) * np.sign(ys[-1] - ys[0])
    assert steps.min() >= -1e-14
    # slopes at the knots, from the derivative of the shape
    d = dense(s.derivative(1), xs[:-1])[:, 0] * np.sign(ys[-1] - ys[0])
    assert d.min() >= 0.0


def test_pchip_slopes_at_extremum_and_flat_stretch():
    xs = arr(0.0, 1.0, 2.0, 3.0, 4.0, 5.0)
    ys = arr(0.0, 2.0, 1.0, 1.0, 3.0, 4.0)
    d = dense(tab(xs, ys, "pchip").derivative(1), xs[:-1])[:, 0]
    assert d[1] == 0.0  # local maximum of the data
    assert d[2] == 0.0 and d[3] == 0.0  # both ends of the flat stretch
    np.testing.assert_allclose(d, PchipInterpolator(xs, ys)(xs[:-1], 1), rtol=1e-14, atol=1e-15)


def test_pchip_three_point_example():
    s = tab(arr(0.0, 1.0, 2.0), arr(0.0, 1.0, 0.0), "pchip")
    slopes = dense(s.derivative(1), [0.0, 1.0, 2.0 - 2.0**-30])[:, 0]
    np.testing.assert_allclose(slopes, [2.0, 0.0, -2.0], rtol=0, atol=1e-8)
    t = np.linspace(0.0, 1.0, 17)[:-1]
    np.testing.assert_array_equal(dense(s, t)[:, 0], 2.0 * t - t * t)
    np.testing.assert_array_equal(dense(s, 1.0 + t)[:, 0], 1.0 - t * t)


@pytest.mark.parametrize("xs, ys, left, right", [
    # end formula limited to 3 delta0 where the data turn
    (arr(0.0, 1.0, 2.0), arr(0.0, 1.0, -4.0), 3.0, None),
    # end formula against the data: slope 0
    (arr(0.0, 1.0, 1.1), arr(0.0, 0.1, 5.0), 0.0, None),
    # a zero first interval (signed zero) gives a zero end slope
    (arr(0.0, 1.0, 2.0), arr(0.0, -0.0, 1.0), 0.0, None),
    (arr(0.0, 1.0, 2.0), arr(0.0, -0.0, -1.0), 0.0, None),
    # two points: both slopes are the chord
    (arr(0.0, 4.0), arr(1.0, 3.0), 0.5, 0.5),
])
def test_pchip_end_slopes(xs, ys, left, right):
    s = tab(xs, ys, "pchip")
    d = dense(s.derivative(1), [xs[0], xs[-1] - 1e-9])[:, 0]
    ref = PchipInterpolator(xs, ys)(xs[0], 1)
    assert d[0] == left
    assert d[0] == pytest.approx(ref, abs=1e-15)
    if right is not None:
        assert d[1] == pytest.approx(right, abs=1e-12)


def test_pchip_coefficient_overflow_is_rejected():
    assert message(tab, arr(0.0, 1e-300, 1.0), arr(0.0, 1e300, 0.0), "pchip") == \
        "shape segments must be finite"


# ---- table messages ------------------------------------------------------------------------------

EQUAL = "a tabulated shape needs x and y of equal length >= 2"
FINITE = "a tabulated shape must be finite"
INCREASING = "a tabulated shape needs strictly increasing x"


@pytest.mark.parametrize("interp", ["linear", "pchip"])
@pytest.mark.parametrize("xs, ys, text", [
    ([0.0], [1.0], EQUAL),
    ([0.0, 1.0], [1.0, 2.0, 3.0], EQUAL),
    ([0.0, 1.0, 2.0], [1.0, 2.0], EQUAL),
    ([1.0, 0.0, np.nan], [0.0, 0.0, 1.0], FINITE),
    ([1.0, 0.0, 2.0], [0.0, np.nan, 1.0], FINITE),
    ([0.0, 1.0, 2.0], [0.0, -np.inf, 1.0], FINITE),
    ([0.0, 1.0, 1.0], [0.0, 1.0, 2.0], INCREASING),
    ([0.0, 2.0, 1.0], [0.0, 1.0, 2.0], INCREASING),
])
def test_table_messages(interp, xs, ys, text):
    assert message(tab, xs, ys, interp) == text
    assert message(Space.shifted, arr(*xs), arr(*ys), arr(0.0), arr(1.0), interp) == text


@pytest.mark.parametrize("interp, shown", [
    ("cubic", '"cubic"'),
    ("Linear", '"Linear"'),
    ("pchip ", '"pchip "'),
    ('a"b\\', '"a\\"b\\\\"'),
])
def test_interpolation_option(interp, shown):
    text = "interpolation must be 'linear' or 'pchip', got " + shown
    # the option is parsed before the length rules and before the tables are looked at
    bad_rows = np.zeros((2, 1))
    assert message(Space.tabulated, arr(0.0, 1.0, 2.0), bad_rows, bad_rows, interp) == text
    assert message(Space.shifted, arr(1.0), arr(1.0), arr(0.0), arr(1.0, 1.0), interp) == text


@pytest.mark.parametrize("n_x, n_y, text", [
    (2, 3, "x has 2 shapes, expected 1 or 3"),
    (1, 2, "y has 2 shapes, expected 3"),
    (0, 3, "x has 0 shapes, expected 1 or 3"),
    (2, 2, "y has 2 shapes, expected 3"),  # y before x
])
def test_tabulated_row_counts(n_x, n_y, text):
    x = np.tile(arr(0.0, 1.0), (n_x, 1))
    y = np.tile(arr(1.0, 1.0), (n_y, 1))
    assert message(Space.tabulated, arr(0.0, 1.0, 2.0), x, y, "linear") == text


def test_tabulated_order_per_element():
    x = np.array([[0.0, 1.0]])
    y = np.array([[1.0, 1.0], [1.0, np.nan]])
    # element 0: its table, then its center; element 1 is never reached
    assert message(Space.tabulated, arr(np.nan, 0.0), x, y, "linear") == \
        "piecewise element needs finite center and stretch > 0"
    assert message(Space.tabulated, arr(0.0, np.nan), x, y, "linear") == FINITE
    assert len(Space.tabulated(arr(), x, np.zeros((0, 2)), "pchip")) == 0


def test_tabulated_conversion_names_the_argument():
    raises_with_note(TypeError, "x", Space.tabulated, arr(0.0), arr(0.0, 1.0),
                     np.array([[1.0, 1.0]]), "linear", hint=(
                         "expected a 2-D float64 array, got float64 with shape (2,); "
                         "for a single row use np.atleast_2d(x)"))
    raises_with_note(TypeError, "y", Space.tabulated, arr(0.0), np.array([[0.0, 1.0]]),
                     np.array([[1, 1]]), "linear", hint=(
                         "expected a 2-D float64 array, got int64 with shape (1, 2); "
                         "use np.asarray(y, dtype=np.float64)"))
    raises_with_note(TypeError, "interp", Space.shifted, arr(0.0, 1.0), arr(1.0, 1.0), arr(0.0),
                     arr(1.0), None)


# ---- shifted -------------------------------------------------------------------------------------


@pytest.mark.parametrize("interp", ["linear", "pchip"])
def test_shifted_stretch_scales_abscissa_only(interp):
    xs, ys = arr(-1.0, -0.2, 0.0, 0.5, 1.0), arr(0.0, 0.7, 1.0, 0.4, 0.0)
    s = Space.shifted(xs, ys, arr(0.0, 10.0), arr(1.0, 2.0), interp)
    np.testing.assert_array_equal(s.lower(), [-1.0, 8.0])
    np.testing.assert_array_equal(s.upper(), [1.0, 12.0])
    u = np.linspace(-1.0, 1.0, 41)[:-1]
    v = dense(s, np.concatenate([u, 10.0 + 2.0 * u]))
    np.testing.assert_allclose(v[40:, 1], v[:40, 0], rtol=1e-14, atol=1e-15)
    assert v[:, 1].max() == 1.0
    i = s.integrals()
    np.testing.assert_allclose(i[1], 2.0 * i[0], rtol=1e-14)


def test_shifted_shares_one_stretch():
    s = Space.shifted(arr(0.0, 1.0), arr(1.0, 1.0), arr(0.0, 5.0, 7.0), arr(0.5), "linear")
    np.testing.assert_array_equal(s.lower(), [0.0, 5.0, 7.0])
    np.testing.assert_array_equal(s.upper(), [0.5, 5.5, 7.5])
    np.testing.assert_array_equal(s.centers(), [0.0, 5.0, 7.0])


PLACEMENT = "piecewise element needs finite center and stretch > 0"


@pytest.mark.parametrize("xs, centers, stretch, text", [
    (arr(0.0, 1.0), arr(0.0), arr(0.0), PLACEMENT),
    (arr(0.0, 1.0), arr(0.0), arr(-0.0), PLACEMENT),
    (arr(0.0, 1.0), arr(0.0, 1.0), arr(1.0, -1.0), PLACEMENT),
    (arr(0.0, 1.0), arr(0.0), arr(np.inf), PLACEMENT),
    (arr(0.0, 1.0), arr(np.nan), arr(1.0), PLACEMENT),
    (arr(0.0, 1.0), arr(0.0, 1.0, 2.0), arr(1.0, 1.0), "stretch has length 2, expected 1 or 3"),
    # the shared table is built before the stretch length rule
    (arr(1.0, 0.0), arr(0.0, 1.0, 2.0), arr(1.0, 1.0), INCREASING),
    (arr(1.0, 0.0), arr(), arr(), INCREASING),
    # a finite stretch may still carry the ends to infinity
    (arr(-1e10, 0.0), arr(0.0), arr(1e300),
     "piecewise element support must be finite, got [-inf, 0]"),
])
def test_shifted_messages(xs, centers, stretch, text):
    assert message(Space.shifted, xs, arr(1.0, 1.0), centers, stretch, "linear") == text


def test_unbounded_trapezoid_support_fails():
    assert message(Space.trapezoids, arr(1e308), arr(0.0), arr(1e308)) == \
        "piecewise element support must be finite, got [0, inf]"


@pytest.mark.parametrize("name, signature", [
    ("rectangles", "(centers, widths)"),
    ("triangles", "(centers, hwhm)"),
    ("trapezoids", "(centers, top, bottom)"),
    ("shifted", "(shape_x, shape_y, centers, stretch, interp)"),
    ("tabulated", "(centers, x, y, interp)"),
])
def test_text_signatures(name, signature):
    assert getattr(Space, name).__text_signature__ == signature


def test_keywords_bind_by_name():
    s = Space.shifted(interp="linear", stretch=arr(2.0), centers=arr(1.0), shape_y=arr(1.0, 0.0),
                      shape_x=arr(0.0, 1.0))
    np.testing.assert_array_equal(s.upper(), [3.0])
    t = Space.tabulated(arr(1.0), y=np.array([[1.0, 0.0]]), x=np.array([[0.0, 1.0]]),
                        interp="pchip")
    np.testing.assert_array_equal(t.upper(), [2.0])
    assert type_error_message(Space.trapezoids, arr(0.0), arr(1.0)) == (
        "Space.trapezoids() missing 1 required positional argument: 'bottom'"
    )
