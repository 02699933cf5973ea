"""Numbers in messages: shortest round-trip decimals without exponent, pivots in exponent form."""

import re

import numpy as np
import pytest

import quorvel
from helpers import positional, value_error_message


@pytest.mark.parametrize(
    "sigma",
    [-1.0, -0.5, -0.0, 0.0, -1e21, -1e23, -1.7976931348623157e308, -1.5e-17, -5e-324, -np.inf,
     np.nan, -123.456],
)
def test_profile_widths_print_shortest_positional(sigma):
    message = value_error_message(quorvel.Space.gaussians, np.array([0.0]), np.array([sigma]), 3.0)
    assert message == "sigma must be finite and > 0, got " + positional(sigma)
    assert "e" not in message.split("got ")[1] or message.endswith("inf")


def test_large_values_are_padded_digits_not_binary_expansions():
    with pytest.raises(ValueError, match=re.escape("got -100000000000000000000000")):
        quorvel.Space.gaussians(np.array([0.0]), np.array([-1e23]), 3.0)


@pytest.mark.parametrize("weight", [0.0, -0.0, np.inf, -np.inf, np.nan])
def test_weight_message(weight):
    a = quorvel.Space.boxes(np.array([0.0, 1.0]))
    assert value_error_message(quorvel.inner_products, a, a, weight=weight) == (
        "bad cosine weight scale " + positional(weight)
    )


# ---- notes on unknown option strings ------------------------------------------------------------

S = quorvel.Space
H = S.hats(np.array([0.0, 1.0, 2.0]))
G = S.gaussians(np.array([0.5, 1.5]), np.array([0.2, 0.2]), 4.0)
X, ONE = np.array([0.0, 1.0]), np.array([1.0])
NAMES = {
    "normalization": ["integral", "rowsum", "none"],
    "parameter": ["center", "scale", "sigma", "gamma", "eta", "power", "asymmetry", "half_width"],
    "penalty": ["derivative", "difference"],
    "interp": ["linear", "pchip"],
    "kind": ["reciprocal", "affine"],
    "apodization": ["none", "boxcar", "hann", "hanning", "hamming", "happ_genzel", "blackman",
                    "blackman_harris", "triangle", "norton_beer_weak", "norton_beer_medium",
                    "norton_beer_strong"],
    "family": ["squared_exponential", "gaussian", "exponential", "matern12", "matern32",
               "matern52"],
}
CALLS = {
    "normalization": lambda v: quorvel.measure(G, H, v),
    "parameter": lambda v: quorvel.measure_derivative(G, H, "none", v),
    "penalty": lambda v: quorvel.Fit(G, H, "none", 0.1, v, 1),
    "interp": lambda v: S.shifted(X, ONE + X, X, ONE, v),
    "kind": lambda v: S.boxes(ONE + X).mapped(v, 1.0, 2.0, False),
    "apodization": lambda v: S.fts(X, ONE + X, 3.0, v),
    "family": lambda v: quorvel.covariance_diagonal(1.0, [(v, 1.0, None, None)], [H], [None]),
}


def accepted(option, near=None):
    heading = "accepted covariance families" if option == "family" else f"accepted values of {option}"
    note = heading + ": " + ", ".join(f"'{n}'" for n in NAMES[option])
    return note + (f"; did you mean '{near}'? names are matched exactly" if near else "")


@pytest.mark.parametrize(
    "option, given, message, near",
    [
        ("normalization", "Integral",
         "normalization must be 'integral', 'rowsum' or 'none', got \"Integral\"", "integral"),
        ("normalization", "sum", "normalization must be 'integral', 'rowsum' or 'none', got \"sum\"",
         None),
        ("parameter", "Half-Width", 'unknown parameter "Half-Width"', "half_width"),
        ("parameter", "width", 'unknown parameter "width"', None),
        ("penalty", " difference", "penalty must be 'derivative' or 'difference', got \" difference\"",
         "difference"),
        ("interp", "cubic", "interpolation must be 'linear' or 'pchip', got \"cubic\"", None),
        ("interp", "PCHIP", "interpolation must be 'linear' or 'pchip', got \"PCHIP\"", "pchip"),
        ("kind", "Affine", "map kind must be 'reciprocal' or 'affine', got \"Affine\"", "affine"),
        ("apodization", "Blackman-Harris", 'unknown apodization "Blackman-Harris"', "blackman_harris"),
        ("apodization", "kaiser", 'unknown apodization "kaiser"', None),
        ("family", "rbf", 'unknown covariance family "rbf"', None),
        ("family", "Matern32", 'unknown covariance family "Matern32"', "matern32"),
    ],
)
def test_unknown_option_lists_the_accepted_names(option, given, message, near):
    with pytest.raises(ValueError) as info:
        CALLS[option](given)
    assert info.value.args == (message,)
    assert info.value.__notes__ == [accepted(option, near)]


@pytest.mark.parametrize("option", NAMES)
def test_every_listed_name_is_accepted(option):
    for name in NAMES[option]:
        try:
            CALLS[option](name)
        except ValueError as error:  # a check after the option, such as a kind without the parameter
            assert "unknown" not in str(error) and " must be '" not in str(error)
            assert getattr(error, "__notes__", None) is None


@pytest.mark.parametrize(
    "call",
    [
        lambda: S.fts(X, ONE + X, 3.0, "hann", [1.0]),  # the name is known: no list
        lambda: quorvel.covariance_diagonal(1.0, [("matern32", -1.0, None, None)], [H], [None]),
        lambda: quorvel.measure_derivative(G, H, "none", "gamma"),
    ],
)
def test_other_value_errors_have_no_note(call):
    with pytest.raises(ValueError) as info:
        call()
    assert getattr(info.value, "__notes__", None) is None


# ---- notes where a usual mistake meets a fixed message ------------------------------------------

MATERN = ("matern32", 1.0, None, None)
THREE = np.array([0.0, 1.0, 2.0])


@pytest.mark.parametrize(
    "call, name, hint",
    [
        (lambda: quorvel.covariance_diagonal(1.0, MATERN, [H], [None]), "dims",
         "dims is a list of (family, length, period, factor) tuples; for one dimension, wrap it "
         "in a list: [(...)]"),
        (lambda: quorvel.covariance_diagonal(1.0, [MATERN], H, [None]), "a",
         "a is a list of spaces; for one, wrap it in a list: [space]"),
        (lambda: S.concatenate(H), "spaces",
         "spaces is a list of spaces; for one, wrap it in a list: [space]"),
    ],
)
def test_a_single_item_for_a_list_says_wrap_it(call, name, hint):
    with pytest.raises(TypeError) as info:
        call()
    assert info.value.__notes__ == [f"while processing '{name}'", hint]


@pytest.mark.parametrize(
    "call, headline, note",
    [
        (lambda: quorvel.measure(H, H, normalisation="integral"),
         "measure() got an unexpected keyword argument 'normalisation'",
         "did you mean 'normalization'?"),
        (lambda: S.gaussians(X, ONE, cutof=3.0),
         "Space.gaussians() got an unexpected keyword argument 'cutof'", "did you mean 'cutoff'?"),
        (lambda: quorvel.Fit(H, H, "none", 0.1, "difference", 2, weights=1.0),
         "Fit.__new__() got an unexpected keyword argument 'weights'", "did you mean 'weight'?"),
        (lambda: quorvel.measure(H, H, "none", color=1.0),
         "measure() got an unexpected keyword argument 'color'", None),
    ],
)
def test_a_misspelt_keyword_gets_the_nearest_name(call, headline, note):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == headline
    assert getattr(info.value, "__notes__", None) == ([note] if note else None)


@pytest.mark.parametrize(
    "call, headline, note",
    [
        (lambda: quorvel.evaluate(H, np.array([0.5, 1.0, np.nan, np.inf])),
         "delta position must be finite", "x[2] is NaN"),
        (lambda: S.deltas(np.array([0.0, -np.inf])), "delta position must be finite",
         "x[1] is -inf"),
        (lambda: S.voigts(THREE, np.array([0.5, 0.5, -0.25]), np.ones(3), 5.0),
         "voigt needs finite sigma >= 0 and gamma >= 0", "element 2 has sigma -0.25 and gamma 1"),
        (lambda: S.voigts(THREE, np.array([0.5, 0.0, 0.5]), np.array([1.0, 0.0, 1.0]), 5.0),
         "voigt needs sigma > 0 or gamma > 0", "element 1 has sigma 0 and gamma 0"),
    ],
)
def test_bad_values_are_named_by_index(call, headline, note):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == headline
    assert info.value.__notes__ == [note]
