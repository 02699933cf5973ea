"""Covariance arguments: the `dims` descriptor, weights and atoms, messages and their order."""

import numpy as np
import pytest

import quorvel as q
from helpers import raises_with_note, type_error_message, value_error_message as message

S = q.Space
D = S.deltas(np.array([0.0, 1.0]))
HATS = S.hats(np.array([0.0, 1.0, 2.0]))
RECIPROCAL = S.hats(np.array([1.0, 2.0])).mapped("reciprocal", 1.0, 0.0, False)
GOOD = ("matern32", 1.0, None, None)
FUNCTIONS = {
    "matrix": lambda v, dims, a, wa: q.covariance_matrix(v, dims, a, wa, a, wa),
    "diagonal": q.covariance_diagonal,
    "derivatives": q.covariance_length_derivatives,
}


@pytest.mark.parametrize("f", list(FUNCTIONS.values()), ids=list(FUNCTIONS))
@pytest.mark.parametrize("entry, text", [
    (("Gaussian", 1.0, None, None), 'unknown covariance family "Gaussian"'),
    (("matern 32", -1.0, 0.0, None), 'unknown covariance family "matern 32"'),
    (("gaussian", 0.0, None, None), "correlation length must be finite and > 0, got 0"),
    (("gaussian", -1.0, 0.0, None), "correlation length must be finite and > 0, got -1"),
    (("exponential", float("inf"), None, None),
     "correlation length must be finite and > 0, got inf"),
    (("matern52", float("nan"), None, None), "correlation length must be finite and > 0, got NaN"),
    (("matern12", 0.5, 0.0, None), "period must be finite and > 0, got 0"),
    (("matern12", 0.5, -2.5, (HATS, [])),
     "period must be finite and > 0, got -2.5"),
    (("gaussian", 1.0, None, (S.gaussians(np.array([0.0]), np.array([1.0]), 3.0), [1.0, 2.0])),
     "a linear combination needs one coefficient per element"),
    (("gaussian", 1.0, None, (HATS.take([]), [])),
     "a linear combination needs one coefficient per element"),
    (("gaussian", 1.0, None, (S.gaussians(np.array([0.0]), np.array([1.0]), 3.0), [np.nan])),
     "a linear combination needs piecewise-polynomial elements"),
    (("gaussian", 1.0, None, (S.concatenate([HATS, D]), [1.0] * 5)),
     "a linear combination needs piecewise-polynomial elements"),
    (("gaussian", 1.0, None, (RECIPROCAL, [1.0] * 2)),
     "a linear combination needs piecewise-polynomial elements"),
    (("gaussian", 1.0, None, (HATS, [1.0, float("inf"), 1.0])), "coefficients must be finite"),
    (("gaussian", 1.0, None, (HATS, [1e308] * 3)),
     "shape segments must be finite"),
])
def test_dimension_messages(f, entry, text):
    assert message(f, 1.0, [GOOD, entry, ("bad", 0.0, 0.0, None)], [D, D, D],
                   [None, None, None]) == text


def test_admissible_factor_elements_and_subnormal_length():
    mixed = S.concatenate([HATS, S.boxes(np.array([0.5, 1.5])),
                           S.trapezoids(np.array([1.0]), np.array([0.2]), np.array([0.6])),
                           HATS.mapped("affine", 0.5, 2.0, True)])
    dims = [("gaussian", 5e-324, None, None), ("matern32", 1.0, 3.0, (mixed, [0.5] * 8))]
    k = q.covariance_matrix(1.0, dims, [D, D], [None, None], [D, D], [None, None])
    assert k[0, 1] == 0.0 and k[0, 0] > 0.0


@pytest.mark.parametrize("variance, text", [
    (0.0, "variance must be finite and > 0, got 0"),
    (-1.5, "variance must be finite and > 0, got -1.5"),
    (float("inf"), "variance must be finite and > 0, got inf"),
    (float("nan"), "variance must be finite and > 0, got NaN"),
])
def test_variance_is_checked_before_dims(variance, text):
    for f in FUNCTIONS.values():
        assert message(f, variance, [("bad", 0.0, None, None)], [], [0.0]) == text
    assert q.covariance_diagonal(5e-324, [GOOD], [D], [None])[0] == 5e-324


def test_order_dims_weights_atoms_symmetric():
    m = q.covariance_matrix
    assert message(m, 1.0, [("x", 1.0, None, None)], [D], [0.0], [D], [0.0]) == \
        'unknown covariance family "x"'
    assert message(m, 1.0, [GOOD], [], [None, float("nan")], [D], [0.0]) == \
        "bad cosine weight scale NaN"
    assert message(m, 1.0, [GOOD], [], [None], [D], [-0.0]) == "bad cosine weight scale -0"
    atoms = "atoms need one space and one weight per dimension (1), got {} and {}"
    assert message(m, 1.0, [GOOD], [], [None], [D, D], [2.0]) == atoms.format(0, 1)
    assert message(m, 1.0, [GOOD], [D], [None], [D, D], [2.0]) == atoms.format(2, 1)
    three, four = S.deltas(np.zeros(3)), S.deltas(np.zeros(4))
    assert message(m, 1.0, [GOOD] * 2, [three, four], [None] * 2, [D], [None]) == \
        "every dimension's space must have one element per atom"
    assert message(q.covariance_length_derivatives, 1.0, [GOOD] * 2, [three, four],
                   [None] * 2) == "every dimension's space must have one element per atom"
    assert message(m, 1.0, [GOOD], [three], [None], [D], [None], True) == \
        "a symmetric covariance needs the same atoms on both sides"
    assert m(1.0, [GOOD], [three], [None], [D], [None], False).shape == (3, 2)


@pytest.mark.parametrize("dims, exc, text", [
    ("gaussian", TypeError, "Can't extract `str` to `Vec`"),
    (3, TypeError, "'int' object is not an instance of 'Sequence'"),
    ([["gaussian", 1.0, None, None]], TypeError, "'list' object is not an instance of 'tuple'"),
    ([("gaussian", 1.0, None)], ValueError,
     "expected tuple of length 4, but got tuple of length 3"),
    ([(1, 1.0, None, None)], TypeError, "'int' object is not an instance of 'str'"),
    ([("gaussian", "1", None, None)], TypeError, None),
    ([("gaussian", 1.0, "2", None)], TypeError, None),
    ([("gaussian", 1.0, None, (HATS,))], ValueError,
     "expected tuple of length 2, but got tuple of length 1"),
    ([("gaussian", 1.0, None, (D.lower(), [1.0, 1.0]))], TypeError,
     "'ndarray' object is not an instance of 'Space'"),
    ([("gaussian", 1.0, None, (HATS, "123"))], TypeError, "Can't extract `str` to `Vec`"),
])
def test_dims_conversion_errors(dims, exc, text):
    got = raises_with_note(exc, "dims", q.covariance_diagonal, 0.0, dims, [D], [None])
    if text is not None:
        assert got == text


@pytest.mark.parametrize("name, args", [
    ("wa", (1.0, [GOOD], [D], ["1.0"])),
    ("a", (1.0, [GOOD], [HATS, "x"], [None])),
    ("variance", ("1", [GOOD], [D], [None])),
])
def test_other_conversion_errors_name_their_argument(name, args):
    raises_with_note(TypeError, name, q.covariance_diagonal, *args)


def test_signatures_and_keywords():
    signature = "(variance, dims, a, wa, b, wb, symmetric=False)"
    assert q.covariance_matrix.__text_signature__ == signature
    assert q._quorvel.covariance_diagonal.__doc__ == "The variances of product atoms a."
    assert q._quorvel.covariance_length_derivatives.__doc__ == (
        "The symmetric covariance K of atoms a and \u2113_d \u2202K/\u2202\u2113_d for each "
        "dimension d.")
    assert q._quorvel.covariance_matrix.__doc__.endswith("and b (columns); see\n`quorvel.covariance`.")
    by_keyword = q.covariance_matrix(wb=(None,), b=(D,), wa=[2.0], a=[D], dims=(GOOD,),
                                     variance=1.0, symmetric=np.True_)
    np.testing.assert_array_equal(by_keyword, q.covariance_matrix(1.0, [GOOD], [D], [None],
                                                                  [D], [None]))
    assert type_error_message(q.covariance_diagonal, 1.0, [GOOD], [D]) == (
        "covariance_diagonal() missing 1 required positional argument: 'wa'"
    )
