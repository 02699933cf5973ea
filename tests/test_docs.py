"""The documentation builds without a single warning."""

import os
import subprocess
import sys
from pathlib import Path

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
