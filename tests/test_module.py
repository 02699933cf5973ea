"""The module frame: registered objects, classes, signatures and the argument binder."""

import math
import pathlib

import numpy as np
import pytest

import quorvel
from quorvel import _quorvel as q
from helpers import assert_same_sparse, on_threads, positional, run_python, type_error_message

REGISTRATION_ORDER = [
    "__version__",
    "SingularError",
    "FWHM_PER_SIGMA",
    "Space",
    "Projection",
    "Fit",
    "inner_products",
    "measure",
    "measure_derivative",
    "evaluate",
    "faddeeva_re",
    "covariance_matrix",
    "covariance_diagonal",
    "covariance_length_derivatives",
]
# Compatible additions, registered after the names above.
ADDED = ["measure_derivatives", "selected_inverse"]

SPACE_MEMBERS = [
    "deltas", "boxes", "hats", "bsplines", "harmonics", "bsplines_periodic", "bsplines_clamped",
    "gaussians", "lorentzians", "voigts", "pseudo_voigts", "super_gaussians", "smoothed_boxes",
    "fts", "rectangles", "triangles", "trapezoids", "shifted", "tabulated", "mapped",
    "concatenate", "take", "derivative", "lower", "upper", "centers", "integrals",
]


def basis():
    return q.Space.hats(np.linspace(0.0, 1.0, 5))


# ---- attributes ---------------------------------------------------------------------------------


def test_all_lists_registered_names_in_registration_order():
    names = q.__all__
    assert names == REGISTRATION_ORDER + ADDED
    for n in names:
        assert hasattr(q, n)
    assert quorvel.__all__[: len(names)] == names


def test_version_constant_and_docstring():
    assert q.__version__ == "0.2.1"
    assert quorvel.__version__ == "0.2.1"
    assert q.FWHM_PER_SIGMA == 2.0 * math.sqrt(2.0 * math.log(2.0))
    assert type(q.FWHM_PER_SIGMA) is float
    assert q.__doc__ == ""


def test_version_is_the_one_in_pyproject():
    tomllib = pytest.importorskip("tomllib")
    pyproject = pathlib.Path(__file__).resolve().parent.parent / "pyproject.toml"
    with pyproject.open("rb") as f:
        version = tomllib.load(f)["project"]["version"]
    assert q.__version__ == version
    assert type(q.__version__) is str


def test_singular_error_class():
    e = q.SingularError
    assert issubclass(e, ValueError)
    assert e.__bases__ == (ValueError,)
    assert e.__module__ == "_quorvel"
    assert e.__name__ == "SingularError"
    assert e.__doc__ is None
    assert quorvel.SingularError is e


@pytest.mark.parametrize("name", ["inner_products", "evaluate", "faddeeva_re", "measure"])
def test_functions_record_the_module(name):
    assert getattr(q, name).__module__ == q.__name__


@pytest.mark.parametrize(
    "func, signature, doc",
    [
        ("inner_products", "(a, b, weight=None)", None),
        ("evaluate", "(basis, x)", None),
        ("faddeeva_re", "(x, y)", "Re w(x + iy) for y >= 0, w the Faddeeva function."),
    ],
)
def test_function_signatures(func, signature, doc):
    # The interpreter shows an empty docstring after the text signature as None.
    f = getattr(q, func)
    assert f.__text_signature__ == signature
    assert f.__doc__ == doc


# ---- Space class --------------------------------------------------------------------------------


def test_space_is_not_constructible():
    with pytest.raises(TypeError):
        q.Space()
    assert q.Space.__module__ == "quorvel._quorvel"
    assert q.Space.__name__ == "Space"
    assert q.Space.__doc__ is None


def test_space_instances_are_immutable_and_have_no_dict():
    s = basis()
    assert not hasattr(s, "__dict__")
    with pytest.raises(AttributeError):
        s.anything = 1
    with pytest.raises((AttributeError, TypeError)):
        q.Space.deltas = None


def test_space_members_in_table_order():
    members = [k for k in vars(q.Space) if not k.startswith("__")]
    assert members == SPACE_MEMBERS


@pytest.mark.parametrize(
    "member, signature",
    [
        ("deltas", "(x)"),
        ("bsplines", "(knots, degree)"),
        ("harmonics", "(n, period, start)"),
        ("super_gaussians", "(centers, hwhm_left, hwhm_right, power, cutoff)"),
        ("fts", "(centers, max_opd, cutoff, apodization=None, cosine_sum=None, polynomial=None)"),
        ("concatenate", "(spaces)"),
        ("take", "($self, indices)"),
        ("derivative", "($self, order)"),
        ("lower", "($self)"),
        ("centers", "($self)"),
        ("integrals", "($self, weight=None)"),
    ],
)
def test_space_member_signatures(member, signature):
    assert getattr(q.Space, member).__text_signature__ == signature


def test_fts_docstring():
    assert q.Space.fts.__doc__ == (
        "`apodization` is a name, or None with `cosine_sum` (<= 4) or `polynomial` (<= 5)\n"
        "coefficients."
    )


def test_static_constructor_on_class_and_instance():
    x = np.array([0.5, -1.0, 2.0])
    a = q.Space.deltas(x)
    b = a.deltas(x)
    assert type(a) is q.Space and type(b) is q.Space
    np.testing.assert_array_equal(b.centers(), x)


@pytest.mark.parametrize("n", [0, 1, 7])
def test_len(n):
    assert len(q.Space.deltas(np.linspace(0.0, 1.0, n))) == n


# ---- binder -------------------------------------------------------------------------------------


def test_keywords_equal_positional():
    s = basis()
    xs = np.array([0.1, 0.45, 0.9])
    a = q.evaluate(s, xs)
    b = q.evaluate(basis=s, x=xs)
    c = q.evaluate(s, x=xs)
    for r in (b, c):
        assert_same_sparse(r, a)


def test_explicit_none_weight_equals_omitted():
    s = basis()
    a = q.inner_products(s, s)
    b = q.inner_products(s, s, weight=None)
    c = q.inner_products(s, s, None)
    for r in (b, c):
        assert_same_sparse(r, a)
    np.testing.assert_array_equal(s.integrals(), s.integrals(weight=None))
    np.testing.assert_array_equal(s.integrals(), s.integrals(None))


X = np.array([0.0, 1.0])


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda s: q.evaluate(s), "evaluate() missing 1 required positional argument: 'x'"),
        (lambda s: q.evaluate(), "evaluate() missing 2 required positional arguments: 'basis' and 'x'"),
        (lambda s: q.evaluate(x=X), "evaluate() missing 1 required positional argument: 'basis'"),
        (lambda s: q.Space.take(s), "Space.take() missing 1 required positional argument: 'indices'"),
        (lambda s: q.Space.gaussians(X),
         "Space.gaussians() missing 2 required positional arguments: 'sigma' and 'cutoff'"),
        (lambda s: q.Space.voigts(X),
         "Space.voigts() missing 3 required positional arguments: 'sigma', 'gamma', and 'cutoff'"),
        (lambda s: q.Space.super_gaussians(),
         "Space.super_gaussians() missing 5 required positional arguments: "
         "'centers', 'hwhm_left', 'hwhm_right', 'power', and 'cutoff'"),
        (lambda s: q.Space.fts(X, cutoff=1.0),
         "Space.fts() missing 1 required positional argument: 'max_opd'"),
        (lambda s: q.evaluate(s, X, y=1), "evaluate() got an unexpected keyword argument 'y'"),
        (lambda s: s.take([0], order=1), "Space.take() got an unexpected keyword argument 'order'"),
        (lambda s: q.evaluate(s, X, basis=s), "evaluate() got multiple values for argument 'basis'"),
        (lambda s: q.inner_products(s, s, 1.0, weight=1.0),
         "inner_products() got multiple values for argument 'weight'"),
        (lambda s: q.evaluate(s, X, X), "evaluate() takes 2 positional arguments but 3 were given"),
        (lambda s: s.take([0], [1]), "Space.take() takes 1 positional arguments but 2 were given"),
        (lambda s: q.inner_products(s, s, None, None),
         "inner_products() takes from 2 to 3 positional arguments but 4 were given"),
        (lambda s: s.integrals(None, None),
         "Space.integrals() takes from 0 to 1 positional arguments but 2 were given"),
        (lambda s: q.Projection(s),
         "Projection.__new__() missing 1 required positional argument: 'dst'"),
        (lambda s: q.Projection(s, s, None, None),
         "Projection.__new__() takes from 2 to 3 positional arguments but 4 were given"),
        (lambda s: q.Projection(s, s, src=s),
         "Projection.__new__() got multiple values for argument 'src'"),
        (lambda s: q.Projection(s, s, w=None),
         "Projection.__new__() got an unexpected keyword argument 'w'"),
    ],
)
def test_binding_messages(call, message):
    assert type_error_message(call, basis()) == message


def test_too_many_positional_takes_precedence_over_keywords():
    s = basis()
    assert type_error_message(q.evaluate, s, X, X, basis=s) == (
        "evaluate() takes 2 positional arguments but 3 were given"
    )


def test_non_string_keyword_is_the_interpreters_error():
    with pytest.raises(TypeError):
        q.evaluate(basis(), **{1: X})


def test_methods_without_arguments_take_none():
    with pytest.raises(TypeError):
        basis().lower(1)
    with pytest.raises(TypeError):
        basis().centers(x=1)


def test_missing_argument_checked_before_conversion():
    # Binding errors come before any conversion of the given arguments.
    assert type_error_message(q.evaluate, "not a space") == (
        "evaluate() missing 1 required positional argument: 'x'"
    )


# ---- errors and threads -------------------------------------------------------------------------


def test_core_error_is_value_error_with_exact_message():
    with pytest.raises(ValueError) as info:
        q.Space.boxes(np.array([0.0, 0.0, 1.0]))
    assert type(info.value) is ValueError
    assert info.value.args == ("edges must be strictly increasing",)


def test_singular_core_error_raises_singular_error():
    # Two identical hats give a singular Gram matrix.
    dst = q.Space.concatenate([q.Space.hats(np.array([0.0, 1.0, 2.0]))] * 2)
    with pytest.raises(q.SingularError) as info:
        q.Projection(q.Space.hats(np.array([0.0, 1.0, 2.0])), dst)
    assert isinstance(info.value, ValueError)
    assert len(info.value.args) == 1 and isinstance(info.value.args[0], str)


def test_concurrent_calls_on_one_space_agree():
    s = q.Space.bsplines(np.linspace(0.0, 1.0, 40), 3)
    xs = np.linspace(0.0, 1.0, 2000)
    ref = q.evaluate(s, xs)
    results = on_threads(lambda: (q.evaluate(s, xs), q.inner_products(s, s, weight=3.0)), 6)
    ip = q.inner_products(s, s, weight=3.0)
    for ev, prod in results:
        assert_same_sparse(ev, ref)
        assert_same_sparse(prod, ip)


def test_numpy_is_imported_only_by_the_first_array_conversion():
    code = (
        "import sys, quorvel\n"
        "quorvel.faddeeva_re(1.0, 2.0)\n"
        "assert 'numpy' not in sys.modules, 'imported at module execution'\n"
        "try:\n"
        "    quorvel.Space.deltas([1.0])\n"
        "except TypeError:\n"
        "    pass\n"
        "assert 'numpy' in sys.modules\n"
    )
    run_python(code)


@pytest.mark.parametrize(
    "space, text",
    [
        (q.Space.deltas(np.array([])), "Space(0 elements)"),
        (q.Space.deltas(np.array([0.25])), "Space(1 delta on [0.25, 0.25])"),
        (q.Space.bsplines(np.linspace(0.0, 1.0, 11), 3),
         "Space(7 B-splines of degree 3 on [0, 1])"),
        (q.Space.bsplines_clamped(np.linspace(0.0, 1.0, 3), 0),
         "Space(2 B-splines of degree 0 on [0, 1])"),
        (q.Space.bsplines(np.linspace(0.0, 1.0, 5), 2).derivative(1),
         "Space(2 piecewise polynomials of degree 1 on [0, 1])"),
        (q.Space.trapezoids(np.array([0.0]), np.array([1.0]), np.array([2.0])),
         "Space(1 piecewise polynomial of degree 1 on [{lo}, {hi}])"),
        (q.Space.voigts(np.array([1.0, 3.0]), np.full(2, 0.5), np.full(2, 0.25), 2.0),
         "Space(2 Voigt profiles on [{lo}, {hi}])"),
        (q.Space.boxes(np.array([1.0, 2.0, 4.0])).mapped("affine", 1.0, 0.5, False),
         "Space(2 boxes under an affine map on [1.5, 3])"),
    ],
)
def test_space_repr_names_the_families(space, text):
    if len(space):
        text = text.format(lo=positional(min(space.lower())), hi=positional(max(space.upper())))
    assert repr(space) == text


def test_reprs_count_each_family_with_its_support():
    S = q.Space
    hats = S.hats(np.array([0.0, 0.5, 2.0]))
    gauss = S.gaussians(np.array([1.0, 3.0]), np.array([0.5, 0.25]), 4.0)
    boxes = S.boxes(np.array([1.0, 2.0, 4.0])).mapped("affine", 1.0, 0.5, False)
    mixed = S.concatenate([gauss, hats, boxes, gauss])
    g_lo, g_hi = positional(min(gauss.lower())), positional(max(gauss.upper()))
    assert repr(mixed) == (
        f"Space(9 elements: 4 Gaussian profiles on [{g_lo}, {g_hi}], 3 hats on [0, 2], "
        "2 boxes under an affine map on [1.5, 3])")
    many = S.concatenate([hats, gauss, boxes, S.deltas(np.array([0.5])),
                          S.boxes(np.array([0.0, 1.0])), S.bsplines(np.linspace(0.0, 1.0, 5), 1),
                          S.lorentzians(np.array([0.5]), np.array([0.1]), 3.0)])
    assert repr(many).startswith("Space(13 elements: 3 hats on [0, 2], 2 Gaussian profiles on ")
    assert repr(many).endswith(", 1 delta on [0.5, 0.5], 1 box on [0, 1], and 2 other families)")


def test_projection_and_fit_reprs_give_sizes():
    hats = q.Space.hats(np.array([0.0, 0.5, 2.0]))
    gauss = q.Space.gaussians(np.array([1.0, 3.0]), np.array([0.5, 0.25]), 4.0)
    S = q.Space
    p = q.Projection(hats, gauss)
    assert repr(p) == "Projection(n_src=3, n_dst=2)"
    fit = q.Fit(S.deltas(np.linspace(0.0, 2.0, 7)), hats, "none", 0.1, "difference", 1)
    assert repr(fit) == "Fit(n_data=7, n_model=3)"


def test_dir_lists_only_public_names():
    import quorvel.dask

    assert set(quorvel.__all__) | {"covariance", "dask"} <= set(dir(quorvel))
    submodules = {"covariance", "dask", "lines", "smoothing", "gp"}
    assert set(dir(quorvel)) - set(quorvel.__all__) <= submodules
    assert all(not name.startswith("_") or name == "__version__" for name in dir(quorvel))
    assert dir(quorvel.dask) == sorted(quorvel.dask.__all__)
    assert {"Any", "Callable", "TypeVar", "docstrings"}.isdisjoint(dir(quorvel))
    assert {"np", "da", "uuid", "annotations", "TYPE_CHECKING"}.isdisjoint(dir(quorvel.dask))
