"""Builds the core's C++ tests with CMake and runs them with ctest.

The tests are built in the tree that built the imported extension when there is one (a
development tree such as build/dev, or the persistent tree of `pip install .`), so the core
library is compiled once and only the test programs are added; otherwise in build/core-tests.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

import quorvel

ROOT = pathlib.Path(__file__).resolve().parent.parent


def cache_entry(cache, name):
    """The value of `name` in a CMakeCache.txt, or None."""
    match = re.search(rf"^{name}:[A-Z]+=(.*)$", cache, re.MULTILINE)
    return match and match.group(1)


def extension_build_tree():
    """The build tree of this checkout that holds the imported extension module, or None."""
    module = pathlib.Path(quorvel._quorvel.__file__)
    candidates = [module.parent.parent]  # a build tree used as the import location
    candidates += sorted(p.parent for p in (ROOT / "build").glob("*/CMakeCache.txt"))
    for tree in candidates:
        cache = tree / "CMakeCache.txt"
        if not cache.is_file() or not (tree / "quorvel" / module.name).is_file():
            continue
        home = cache_entry(cache.read_text(), "CMAKE_HOME_DIRECTORY")
        if home and pathlib.Path(home).resolve() == ROOT:
            return tree
    return None


def run(command):
    done = subprocess.run(command, capture_output=True, text=True)
    assert done.returncode == 0, f"{' '.join(command)}\n{done.stdout[-4000:]}\n{done.stderr[-4000:]}"


def reconfigure_command(build):
    """Configures a tree that built the extension again, with this environment's CMake and
    build tool: pip's isolated build environment, whose tools the tree recorded, is gone."""
    command = ["cmake", "-S", str(ROOT), "-B", str(build), "-DQUORVEL_CORE_TESTS=ON"]
    make = cache_entry((build / "CMakeCache.txt").read_text(), "CMAKE_MAKE_PROGRAM")
    if make and not pathlib.Path(make).exists():
        tool = shutil.which(pathlib.Path(make).name)
        assert tool, f"{pathlib.Path(make).name} is needed to build the C++ tests"
        command.append(f"-DCMAKE_MAKE_PROGRAM={tool}")
    return command


def test_core_cpp_tests_pass():
    build = extension_build_tree()
    if build is not None:
        run(reconfigure_command(build))
    else:
        build = ROOT / "build" / "core-tests"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DQUORVEL_CORE_TESTS=ON",
                     "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        run(configure)
    targets = [p.stem for p in sorted((ROOT / "core" / "tests").glob("test_*.cpp"))]
    run(["cmake", "--build", str(build), "--parallel", str(os.cpu_count() or 2), "--target",
         *targets])
    run(["ctest", "--test-dir", str(build), "--output-on-failure"])
