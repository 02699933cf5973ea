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
