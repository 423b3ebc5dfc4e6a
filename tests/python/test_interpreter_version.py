"""The import refuses interpreters older than the stable ABI the module is built for (3.10)."""

import glob
import os
import pathlib
import shutil
import subprocess

import pytest

import zelk

probe = pytest.importorskip("_zelk_probe")

REFUSAL = "zelk requires Python 3.10 or later; this interpreter is Python "


@pytest.mark.parametrize("version, refused_as", [
    ("3.9.18 (main, May  9 2026, 07:35:25) \n[GCC 12.2.0]", "3.9.18"),
    ("3.8.0a1 (default)", "3.8.0a1"),
    ("3.6.15", "3.6.15"),
    ("2.7.18 (default, Apr 20 2020)", "2.7.18"),
    ("3.9", "3.9"),
    ("3.10.0 (main)", None),
    ("3.10.13+ (heads/3.10:abc)", None),
    ("3.11.2 (main, Mar 13 2023) [GCC 12.2.0]", None),
    ("3.100.1", None),
    ("4.0.0", None),
    # Text the check cannot read is let through rather than refusing a working interpreter.
    ("", None),
    ("three.nine", None),
    ("3", None),
    ("3.x", None),
])
def test_refusal_by_version_text(version, refused_as):
    expected = None if refused_as is None else REFUSAL + refused_as
    assert probe.interpreter_too_old(version) == expected


def older_interpreters():
    """CPython 3.x interpreters before 3.10 on this machine, if any (on PATH or under pyenv)."""
    found = {}
    for minor in range(6, 10):
        path = shutil.which(f"python3.{minor}")
        if path and "/shims/" not in path:  # a version manager's shim may name no interpreter
            found[path] = None
    root = os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))
    for path in sorted(glob.glob(os.path.join(root, "versions", "3.[6-9].*", "bin", "python3"))):
        found[path] = None
    return list(found)


@pytest.mark.parametrize("interpreter", older_interpreters() or [
    pytest.param(None, marks=pytest.mark.skip(reason="no CPython before 3.10 on this machine"))])
def test_older_interpreter_gets_import_error(interpreter):
    module_dir = pathlib.Path(zelk.__file__).parent
    script = ("import sys\nsys.path.insert(0, sys.argv[1])\n"
              "try:\n    import zelk\nexcept ImportError as e:\n    print(e)\n"
              "else:\n    print('imported')\n")
    result = subprocess.run([interpreter, "-c", script, str(module_dir)], capture_output=True,
                            text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    version = subprocess.run([interpreter, "-c", "import platform; print(platform.python_version())"],
                             capture_output=True, text=True, check=True).stdout.strip()
    assert result.stdout.strip() == REFUSAL + version
