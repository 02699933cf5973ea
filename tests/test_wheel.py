"""The wheel holds everything the package needs: built from the sources, installed into a
fresh virtual environment and imported there."""

import os
import subprocess
import sys
from pathlib import Path

import numpy as np

ROOT = Path(__file__).parents[1]

CHECK = """
import importlib.metadata, pathlib, sys
import numpy as np
import quorvel, quorvel.covariance
package = pathlib.Path(quorvel.__file__).parent
assert package.is_relative_to(sys.prefix), package
assert (package / "py.typed").exists() and (package / "_quorvel.pyi").exists()
assert quorvel.measure.__doc__.startswith("The measurement matrix")
hats = quorvel.Space.hats(np.array([0.0, 1.0, 2.0]))
assert quorvel.evaluate(hats, np.array([0.5]))[2].tolist() == [0.5, 0.5]
assert importlib.metadata.metadata("quorvel")["License-Expression"] == "BSD-3-Clause"
print("imported from", package)
"""


def run(*command, **kwargs):
    done = subprocess.run(command, capture_output=True, text=True, **kwargs)
    assert done.returncode == 0, " ".join(map(str, command)) + "\n" + done.stdout + done.stderr
    return done.stdout


def test_wheel_installs_and_imports_in_a_fresh_environment(tmp_path):
    # Built with the build tools of this environment (no isolation), in the persistent build tree
    # of the checkout, which an earlier `pip install .` leaves compiled.
    run(sys.executable, "-m", "pip", "wheel", str(ROOT), "--no-deps", "--no-build-isolation",
        "-w", str(tmp_path / "dist"))
    (wheel,) = (tmp_path / "dist").glob("quorvel-*.whl")
    run(sys.executable, "-m", "venv", "--without-pip", str(tmp_path / "venv"))
    python = tmp_path / "venv" / "bin" / "python"
    run(sys.executable, "-m", "pip", "--python", str(python), "install", "--no-deps", str(wheel),
        f"numpy=={np.__version__}")
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}
    assert "imported from" in run(str(python), "-c", CHECK, cwd=tmp_path, env=env)
