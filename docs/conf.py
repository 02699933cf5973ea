"""Sphinx configuration: the API reference is rendered from the docstrings of the package and
of the type stub of its extension module (see _ext/stub_docstrings.py)."""

import sys
from pathlib import Path

import quorvel

sys.path.insert(0, str(Path(__file__).parent / "_ext"))

project = "quorvel"
author = "The quorvel developers"
copyright = "The quorvel developers"
release = version = quorvel.__version__

extensions = ["sphinx.ext.autodoc", "sphinx.ext.napoleon", "stub_docstrings"]
exclude_patterns = ["_build"]
default_role = "py:obj"

autodoc_default_options = {"member-order": "bysource"}
napoleon_google_docstring = False
napoleon_custom_sections = ["Conventions", "Dimensions", "Atoms", "Results", "Errors"]

html_theme = "alabaster"
html_theme_options = {"description": "Functions of one real variable in finite bases"}
autodoc_typehints = "none"
