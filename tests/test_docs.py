"""The documentation builds without a single warning, and every Python code block in it (and in
the README) runs."""

import json
import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import quorvel

DOCS = Path(__file__).parents[1] / "docs"


def test_sphinx_builds_the_docs_without_warnings(tmp_path):
    env = dict(os.environ, PYTHONPATH=str(Path(quorvel.__file__).parents[1]))
    run = subprocess.run(
        [sys.executable, "-m", "sphinx", "-W", "--keep-going", "-q", "-b", "html",
         "-d", str(tmp_path / "doctrees"), str(DOCS), str(tmp_path / "html")],
        env=env, capture_output=True, text=True,
    )
    assert run.returncode == 0, run.stdout + run.stderr
    assert (tmp_path / "html" / "api.html").read_text().count('id="quorvel.Space.') == 27


# ---- every Python code block of the docs runs -----------------------------------------------------

ROOT = DOCS.parent
DIRECTIVE = re.compile(r"^(\s*)\.\. code-block:: python\s*$")


def code_blocks(path):
    """The `.. code-block:: python` blocks of an rst file as (line number, dedented code)."""
    lines = path.read_text().splitlines()
    blocks = []
    for i, line in enumerate(lines):
        directive = DIRECTIVE.match(line)
        if not directive:
            continue
        indent = len(directive.group(1))
        body, j = [], i + 1
        while j < len(lines) and lines[j].strip().startswith(":"):  # directive options
            j += 1
        for text in lines[j:]:
            if text.strip() and len(text) - len(text.lstrip()) <= indent:
                break
            body.append(text)
        blocks.append((i + 2, textwrap.dedent("\n".join(body)).strip("\n") + "\n"))
    return blocks


def readme_blocks():
    """The ```python blocks of the README as (line number, code)."""
    text = (ROOT / "README.md").read_text()
    return [(text[: m.start()].count("\n") + 2, m.group(1))
            for m in re.finditer(r"^```python\n(.*?)^```", text, re.MULTILINE | re.DOTALL)]


# The blocks of one page run in order in one namespace (a tour may build on its earlier steps),
# in a fresh interpreter whose working directory is a scratch directory. A block written as an
# interactive session (>>> prompts) runs as a doctest: its shown output must match.
RUNNER = """
import doctest, json, sys
ns = {"__name__": "__main__"}
flags = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
for where, code in json.load(sys.stdin):
    if code.lstrip().startswith(">>>"):
        test = doctest.DocTestParser().get_doctest(code, ns, where, where, 0)
        runner = doctest.DocTestRunner(optionflags=flags)
        runner.run(test, out=sys.stderr.write, clear_globs=False)
        if runner.failures:
            sys.exit(f"{where}: {runner.failures} example(s) failed")
    else:
        exec(compile(code, where, "exec"), ns)
"""

PAGES = {str(p.relative_to(ROOT)): p for p in sorted(DOCS.rglob("*.rst")) if code_blocks(p)}


@pytest.mark.parametrize("page", [*PAGES, "README.md"])
def test_code_blocks_run(page, tmp_path):
    if page == "README.md":
        blocks = readme_blocks()
    else:
        blocks = code_blocks(PAGES[page])
    assert blocks
    env = dict(os.environ, MPLBACKEND="Agg",
               PYTHONPATH=str(Path(quorvel.__file__).parents[1]))
    run = subprocess.run(
        [sys.executable, "-c", RUNNER], input=json.dumps([(f"{page}:{line}", code)
                                                          for line, code in blocks]),
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=600,
    )
    assert run.returncode == 0, run.stderr[-6000:]


def test_the_runner_finds_blocks_with_options_and_stops_at_the_text(tmp_path):
    page = tmp_path / "page.rst"
    page.write_text("Title\n=====\n\n.. code-block:: python\n   :caption: c\n\n   a = 1\n\n"
                    "   b = a\nText after.\n\n  .. code-block:: python\n\n     c = 2\n")
    assert code_blocks(page) == [(5, "a = 1\n\nb = a\n"), (13, "c = 2\n")]


def test_getting_started_pictures_are_drawn_from_the_page(tmp_path):
    env = dict(os.environ, PYTHONPATH=str(Path(quorvel.__file__).parents[1]))
    run = subprocess.run(
        [sys.executable, str(DOCS / "getting_started_pictures.py"), "--output", str(tmp_path)],
        env=env, capture_output=True, text=True, timeout=600,
    )
    assert run.returncode == 0, run.stderr[-6000:]
    for step in range(1, 6):
        picture = (tmp_path / f"getting_started_{step}.png").read_bytes()
        assert picture.startswith(b"\x89PNG") and len(picture) > 10_000
