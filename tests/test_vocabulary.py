"""Every option vocabulary has one source, the core's parser tables (exposed privately as
_quorvel._vocabularies): the stub's Literal aliases, the documentation's table of option strings
and the notes of a rejected name list the same names in the same order."""

import ast
import pathlib
import re

import numpy as np
import pytest

import quorvel
from quorvel import _quorvel

ROOT = pathlib.Path(__file__).resolve().parent.parent
RUNTIME = _quorvel._vocabularies
STUB_ALIASES = {"normalization": "_Normalization", "parameter": "_Parameter",
                "penalty": "_Penalty", "interp": "_Interp", "kind": "_MapKind",
                "apodization": "_Apodization", "family": "_Family"}


def stub_literals():
    tree = ast.parse((ROOT / "python" / "quorvel" / "_quorvel.pyi").read_text())
    out = {}
    for node in tree.body:
        if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            value = node.value
            if (isinstance(value, ast.Subscript) and isinstance(value.value, ast.Name)
                    and value.value.id == "Literal"):
                items = value.slice.elts if isinstance(value.slice, ast.Tuple) else [value.slice]
                out[node.target.id] = tuple(item.value for item in items)
    return out


def documented_options():
    # The definition list under "Option strings": a term line naming the option, then its
    # quoted names on the indented lines below it.
    text = (ROOT / "docs" / "guide" / "concepts.rst").read_text()
    section = text.split("Option strings\n--------------\n", 1)[1].split("\n\n", 2)[1]
    out, option = {}, None
    for line in section.splitlines():
        if not line.startswith(" "):
            term = re.match(r"``(\w+)``", line)
            option = term.group(1) if term else ("family" if "covariance family" in line else None)
            out.setdefault(option, ())
        elif option is not None:
            out[option] += tuple(re.findall(r'``"(\w+)"``', line))
    return {k: v for k, v in out.items() if v}


def test_runtime_tables_cover_every_option():
    assert sorted(RUNTIME) == sorted(STUB_ALIASES)
    assert all(len(names) >= 2 and len(set(names)) == len(names) for names in RUNTIME.values())


@pytest.mark.parametrize("option", sorted(STUB_ALIASES))
def test_stub_literal_lists_the_runtime_names(option):
    assert stub_literals()[STUB_ALIASES[option]] == RUNTIME[option]


@pytest.mark.parametrize("option", sorted(STUB_ALIASES))
def test_documentation_lists_the_runtime_names(option):
    assert documented_options()[option] == RUNTIME[option]


def test_every_listed_name_is_accepted_and_the_note_lists_the_table():
    b = quorvel.Space.bsplines(np.linspace(0.0, 4.0, 6), 2)
    for name in RUNTIME["normalization"]:
        quorvel.measure(b, b, name)
    for name in RUNTIME["parameter"]:
        try:
            quorvel.measure_derivative(b, b, "none", name)
        except ValueError as error:
            assert "applies only to line-shape profiles" in str(error)
    with pytest.raises(ValueError) as caught:
        quorvel.measure(b, b, "Integral")
    listed = ", ".join(f"'{n}'" for n in RUNTIME["normalization"])
    assert caught.value.__notes__[0].startswith(f"accepted values of normalization: {listed};")
