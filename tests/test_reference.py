"""Reference documentation: the type stub against the module, the package's forwarding
functions, and the examples written in the docstrings."""

import doctest
import inspect
import os
import pydoc
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import quorvel
import quorvel.dask  # noqa: F401  (docstrings refer to it)
from quorvel import _quorvel as q
from quorvel._stubdoc import docstrings

FORWARDED = [
    "inner_products",
    "measure",
    "measure_derivative",
    "measure_derivatives",
    "evaluate",
    "covariance_matrix",
    "covariance_diagonal",
    "covariance_length_derivatives",
    "selected_inverse",
]


def test_stub_matches_the_module(tmp_path):
    """mypy's stubtest: names, kinds, parameters and defaults of the stub are the module's."""
    env = dict(os.environ, PYTHONPATH=str(Path(quorvel.__file__).parents[1]))
    run = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "quorvel"],
        cwd=tmp_path, env=env, capture_output=True, text=True,
    )
    assert run.returncode == 0, run.stdout + run.stderr


def test_every_public_object_has_a_reference_docstring():
    documented = docstrings()
    expected = [n for n in q.__all__ if callable(getattr(q, n))]
    for cls in (q.Space, q.Projection, q.Fit):
        expected += [f"{cls.__name__}.{m}" for m in vars(cls) if not m.startswith("_")]
    assert sorted(set(expected) - set(documented)) == []
    assert sorted(set(documented) - set(expected)) == []


EXAMPLES = dict(docstrings())
EXAMPLES.update({n: getattr(quorvel, n).__doc__
                 for n in ("covariance", "to_scipy", "from_scipy", "LineModel", "fit_lines")})


@pytest.mark.parametrize("name", [n for n, doc in EXAMPLES.items() if ">>>" in doc])
def test_docstring_examples_run(name):
    doc = EXAMPLES[name]
    test = doctest.DocTestParser().get_doctest(doc, {}, name, None, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test, out=lambda text: pytest.fail(text, pytrace=False))


def test_references_to_package_names_resolve():
    texts = list(docstrings().values()) + [quorvel.__doc__, quorvel.covariance.__doc__]
    texts += [getattr(q, n).__doc__ or "" for n in q.__all__ if callable(getattr(q, n))]
    names = set(re.findall(r"`quorvel\.([\w.]+)`", "\n".join(texts)))
    assert {"covariance", "measure_derivative", "to_scipy"} <= names
    for dotted in names:
        obj = quorvel
        for part in dotted.split("."):
            obj = getattr(obj, part)


@pytest.mark.parametrize("name", FORWARDED)
def test_help_shows_the_reference_and_the_module_signature(name):
    forward, target = getattr(quorvel, name), getattr(q, name)
    assert forward.__doc__ == docstrings()[name]
    assert forward.__text_signature__ == target.__text_signature__
    assert inspect.signature(forward) == inspect.signature(target)
    assert f"{name}{target.__text_signature__}" in pydoc.render_doc(forward, renderer=pydoc.plaintext)
    assert forward is getattr(quorvel.covariance, name, forward)


def _outcome(f, args, kwargs):
    try:
        result = f(*args, **kwargs)
    except Exception as error:  # noqa: BLE001 - the exception itself is compared
        return ("raised", type(error), error.args, getattr(error, "__notes__", None))
    return ("returned", result)


def _same(a, b):
    if isinstance(a, np.ndarray):
        return isinstance(b, np.ndarray) and a.dtype == b.dtype and np.array_equal(a, b)
    if isinstance(a, (tuple, list)):
        return type(a) is type(b) and len(a) == len(b) and all(map(_same, a, b))
    return type(a) is type(b) and a == b


H = q.Space.hats(np.linspace(0.0, 1.0, 5))
G = q.Space.gaussians(np.array([0.3, 0.6]), np.array([0.1, 0.1]), 4.0)
X = np.array([0.2, 0.7])
DIMS = [("matern32", 0.4, None, None)]
CALLS = [
    ("inner_products", (H, G), {}),
    ("inner_products", (H,), {"b": G, "weight": 3.0}),
    ("inner_products", (H, G), {"weight": 0.0}),
    ("inner_products", (H, G, None, None), {}),
    ("measure", (G, H, "integral"), {}),
    ("measure", (G, H), {"normalization": "Integral"}),
    ("measure", (G, H, "none"), {"weighting": 1.0}),
    ("measure_derivative", (G, H, "rowsum", "sigma"), {}),
    ("measure_derivative", (H, H, "none", "sigma"), {}),
    ("measure_derivative", (G, H, "none", 3), {}),
    ("evaluate", (), {"basis": H, "x": X}),
    ("evaluate", (H, [0.2, 0.7]), {}),
    ("evaluate", (H,), {}),
    ("evaluate", (H, X), {"basis": H}),
    ("covariance_matrix", (1.0, DIMS, [H], [None], [G], [None]), {"symmetric": False}),
    ("covariance_matrix", (1.0, DIMS, [H], [None], [G], [None]), {"symmetric": 1}),
    ("covariance_diagonal", (-1.0, DIMS, [H], [None]), {}),
    ("covariance_diagonal", (1.0, "dims", [H], [None]), {}),
    ("covariance_length_derivatives", (2.0, DIMS, [G], [None]), {}),
    ("covariance_length_derivatives", (2.0, [("rbf", 1.0, None, None)], [G], [None]), {}),
]


@pytest.mark.parametrize("name, args, kwargs", CALLS)
def test_forwarding_changes_no_result_and_no_exception(name, args, kwargs):
    via_package = _outcome(getattr(quorvel, name), args, kwargs)
    via_module = _outcome(getattr(q, name), args, kwargs)
    assert _same(via_package, via_module), (via_package, via_module)
