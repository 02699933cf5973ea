"""The reference docstrings of the extension module, read from its type stub.

The stub ``_quorvel.pyi`` is the one place where they are written: the package's functions
show them in ``help()``, and the documentation renders them.
"""

import ast
from pathlib import Path

STUB = Path(__file__).with_name("_quorvel.pyi")


def docstrings() -> dict[str, str]:
    """The stub's docstrings by qualified name ("measure", "Space.deltas", "Fit.n_data")."""
    found: dict[str, str] = {}

    def visit(body: list[ast.stmt], prefix: str) -> None:
        for node in body:
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                doc = ast.get_docstring(node)
                if doc:
                    found[prefix + node.name] = doc
                if isinstance(node, ast.ClassDef):
                    visit(node.body, prefix + node.name + ".")

    visit(ast.parse(STUB.read_text(encoding="utf-8")).body, "")
    return found
