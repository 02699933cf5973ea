"""The platform file alone compiles and answers sensibly with the system calls and with the
portable fallbacks (QUORVEL_PORTABLE), without building the rest of the core."""

import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
COMPILER = shutil.which("c++") or shutil.which("g++") or shutil.which("clang++")


@pytest.mark.skipif(COMPILER is None, reason="no C++ compiler")
@pytest.mark.parametrize("portable", [False, True])
def test_platform_probes_compile_and_answer(tmp_path, portable):
    binary = tmp_path / "test_platform"
    command = [COMPILER, "-std=c++23", "-O1", "-Wall", "-Wextra", "-Werror",
               f"-I{ROOT / 'core' / 'include'}", str(ROOT / "core" / "src" / "common" / "platform.cpp"),
               str(ROOT / "core" / "tests" / "test_platform.cpp"), "-o", str(binary), "-pthread"]
    if portable:
        command.insert(1, "-DQUORVEL_PORTABLE")
    build = subprocess.run(command, capture_output=True, text=True)
    assert build.returncode == 0, build.stderr[-4000:]
    run = subprocess.run([str(binary)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == ("portable" if portable else "system")


def test_no_system_header_outside_the_platform_file():
    system = ("<sys/", "<unistd.h>", "<pthread.h>", "<sched.h>", "<time.h>", "<windows.h>")
    offenders = [
        f"{path.relative_to(ROOT)}: {line.strip()}"
        for path in sorted((ROOT / "core" / "src").rglob("*.[ch]pp"))
        if path.name != "platform.cpp"
        for line in path.read_text().splitlines()
        if line.startswith("#include") and any(h in line for h in system)
    ]
    assert offenders == []
