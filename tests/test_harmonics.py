"""Harmonics: cosines and sines in absolute x on one period, with their messages."""

import math

import numpy as np
import pytest

import quorvel
from quorvel import Space
from helpers import (dense, element_values as values, parameter_derivative, slopes,
                     value_error_message)


def reference(n, period, x):
    rows = []
    for k in range(1, n + 1):
        rows.append(np.cos(2 * np.pi * k * x / period))
        rows.append(np.sin(2 * np.pi * k * x / period))
    return np.array(rows)


def test_one_wavenumber_on_two_units():
    s = Space.harmonics(1, 2.0, 0.0)
    assert len(s) == 2
    np.testing.assert_array_equal(s.lower(), [0.0, 0.0])
    np.testing.assert_array_equal(s.upper(), [2.0, 2.0])
    np.testing.assert_array_equal(s.centers(), [1.0, 1.0])
    v = values(s, [-0.1, 0.0, 0.5, 2.0, 2.1])
    np.testing.assert_allclose(v, [[0, 1, 0, 1, 0], [0, 0, 1, 0, 0]], rtol=0, atol=1e-15)


@pytest.mark.parametrize(
    "n, period, start", [(3, 2.0, 0.0), (4, 0.7, -5.3), (5, 10.0, 123.4), (2, 1.0, -0.5)]
)
def test_values_in_absolute_x(n, period, start):
    s = Space.harmonics(n, period, start)
    assert len(s) == 2 * n
    np.testing.assert_allclose(s.lower(), start, rtol=1e-15, atol=1e-15)
    np.testing.assert_allclose(s.upper(), start + period, rtol=1e-15, atol=1e-15)
    x = np.linspace(s.lower()[0], s.upper()[0], 97)
    np.testing.assert_allclose(values(s, x), reference(n, period, x), rtol=0, atol=1e-12)


def test_shifting_start_by_whole_periods_changes_only_the_support():
    a = Space.harmonics(3, 1.5, 0.2)
    b = Space.harmonics(3, 1.5, 0.2 + 3 * 1.5)
    x = np.linspace(0.2, 1.7, 31)
    np.testing.assert_allclose(values(a, x), values(b, x + 4.5), rtol=0, atol=1e-12)


def test_closed_support_ends_agree():
    s = Space.harmonics(3, 2.0, 0.0)
    v = values(s, [0.0, 2.0])
    np.testing.assert_allclose(v[:, 0], v[:, 1], rtol=0, atol=1e-14)
    np.testing.assert_allclose(v[0::2, 1], 1.0, rtol=1e-15)


def test_orthogonality():
    period = 3.0
    s = Space.harmonics(3, period, -1.0)
    gram = dense(quorvel.inner_products(s, s))
    np.testing.assert_allclose(gram, np.eye(6) * period / 2, rtol=0, atol=1e-9)


def test_slope():
    s = Space.harmonics(2, 1.3, 0.4)
    x = np.array([0.5, 0.9, 1.2, 1.6])
    slope = slopes(s, x)
    k = np.repeat([1.0, 2.0], 2)[:, None]
    g = 2 * np.pi * k / 1.3
    expected = np.where(np.arange(4)[:, None] % 2 == 0, -g * np.sin(g * x), g * np.cos(g * x))
    np.testing.assert_allclose(slope, expected, rtol=1e-12, atol=1e-12)


def test_no_profile_parameters():
    s = Space.harmonics(1, 2.0, 0.0)
    assert value_error_message(parameter_derivative, s, [0.5], "sigma") == (
        "Harmonic { wavenumber: 1.0, period: 2.0, phase: 3.141592653589793 } has no parameter Sigma"
    )


@pytest.mark.parametrize(
    "n, period, start, message",
    [
        (0, 1.0, 0.0, "harmonics need n >= 1"),
        (0, -1.0, math.nan, "harmonics need n >= 1"),
        (2, 0.0, 0.0, "harmonics need a finite period > 0 and a finite start"),
        (2, -1.0, 0.0, "harmonics need a finite period > 0 and a finite start"),
        (2, math.inf, 0.0, "harmonics need a finite period > 0 and a finite start"),
        (2, math.nan, 0.0, "harmonics need a finite period > 0 and a finite start"),
        (2, 1.0, math.inf, "harmonics need a finite period > 0 and a finite start"),
        (2, 1.0, math.nan, "harmonics need a finite period > 0 and a finite start"),
        (2, 1.7e308, 1.7e308, "harmonic phase and center must be finite"),
        (1, 1.0, 1e308, "harmonic phase and center must be finite"),
    ],
)
def test_messages(n, period, start, message):
    assert value_error_message(Space.harmonics, n, period, start) == message


@pytest.mark.parametrize("n", [2**64 - 1, 2**63, 2**62])
def test_unaddressable_counts_fail_as_memory_exhaustion(n):
    with pytest.raises(MemoryError):
        Space.harmonics(n, 1.0, 0.0)
