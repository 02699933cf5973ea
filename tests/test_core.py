"""Builds the core's C++ tests with CMake and runs them with ctest."""

import pathlib
import shutil
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent


def test_core_cpp_tests_pass():
    build = ROOT / "build" / "core-tests"
    configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DQUORVEL_CORE_TESTS=ON",
                 "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}"]
    if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
        configure += ["-G", "Ninja"]
    targets = [p.stem for p in sorted((ROOT / "core" / "tests").glob("test_*.cpp"))]
    for command in (configure,
                    ["cmake", "--build", str(build), "--parallel", "--target", *targets],
                    ["ctest", "--test-dir", str(build), "--output-on-failure"]):
        run = subprocess.run(command, capture_output=True, text=True)
        assert run.returncode == 0, f"{' '.join(command)}\n{run.stdout[-4000:]}\n{run.stderr[-4000:]}"
