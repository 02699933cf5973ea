"""The worked examples run (quick mode), check their own results and write their pictures."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

import quorvel

EXAMPLES = Path(__file__).parents[1] / "examples"
SCRIPTS = ["line_retrieval", "smoothing_gcv", "gp_bin_averages"]


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    """All scripts started at once (each is mostly imports), collected by name."""
    out = tmp_path_factory.mktemp("examples")
    env = dict(os.environ, PYTHONPATH=str(Path(quorvel.__file__).parents[1]))
    started = {
        name: subprocess.Popen(
            [sys.executable, str(EXAMPLES / f"{name}.py"), "--quick", "--output",
             str(out / f"{name}.png")],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
        )
        for name in SCRIPTS
    }
    return out, {name: process.communicate() + (process.returncode,)
                 for name, process in started.items()}


@pytest.mark.parametrize("name", SCRIPTS)
def test_example_runs_and_draws(runs, name):
    out, results = runs
    stdout, _, returncode = results[name]
    assert returncode == 0, stdout
    picture = (out / f"{name}.png").read_bytes()
    assert picture.startswith(b"\x89PNG") and len(picture) > 10_000
    assert f"wrote {out / name}.png" in stdout
