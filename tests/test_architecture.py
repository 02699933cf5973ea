"""ARCHITECTURE.md stays true: every path it names exists, and every folder of the core's and
the extension's sources is described."""

import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parent.parent
TEXT = (ROOT / "ARCHITECTURE.md").read_text()
SOURCES = [ROOT / "core" / "src", ROOT / "python" / "src"]

# File names and globs such as `bind_*.cpp`, `convert.*`, `sparse/point_index.cpp`.
FILE = re.compile(r"(?<![\w.*/-])((?:[\w*-]+/)*[\w*-]+\.(?:cpp|hpp|py|pyi|md|\*))(?![\w*])")
# Folder names such as `element/`, `core/include/quorvel/`.
FOLDER = re.compile(r"(?<![\w./-])((?:[\w-]+/)+)(?![\w*.])")


def named_files():
    return sorted(set(FILE.findall(TEXT)))


def named_folders():
    return sorted(set(FOLDER.findall(TEXT)))


def exists(pattern, folder=False):
    # Relative to the repository root, or to any folder of it (the tree indents its names).
    for base in [ROOT, *(p for p in ROOT.rglob("*") if p.is_dir() and ".git" not in p.parts
                         and "build" not in p.relative_to(ROOT).parts[:1])]:
        for hit in base.glob(pattern.rstrip("/")):
            if hit.is_dir() == folder:
                return True
    return False


def test_the_note_names_paths():
    assert len(named_files()) > 30 and len(named_folders()) > 15


def test_every_named_file_exists():
    assert [f for f in named_files() if not exists(f)] == []


def test_every_named_folder_exists():
    assert [d for d in named_folders() if not exists(d, folder=True)] == []


def test_every_source_folder_is_described():
    folders = {d.name + "/" for src in SOURCES for d in src.rglob("*") if d.is_dir()}
    described = {d.rstrip("/").split("/")[-1] + "/" for d in named_folders()}
    assert sorted(folders - described) == []
