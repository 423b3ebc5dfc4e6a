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


def interpreters(minors):
    """CPython 3.<minor> interpreters on this machine, on PATH or under pyenv."""
    found = {}
    root = os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))
    for minor in minors:
        path = shutil.which(f"python3.{minor}")
        if path and "/shims/" not in path:  # a version manager's shim may name no interpreter
            found[os.path.realpath(path)] = None
        for path in sorted(glob.glob(os.path.join(root, "versions", f"3.{minor}.*", "bin",
                                                  "python3"))):
            found[os.path.realpath(path)] = None
    return list(found) or [
        pytest.param(None, marks=pytest.mark.skip(reason="no such interpreter on this machine"))]


def run_import(interpreter, body):
    module_dir = pathlib.Path(zelk.__file__).parent
    script = f"import sys\nsys.path.insert(0, sys.argv[1])\n{body}"
    return subprocess.run([interpreter, "-c", script, str(module_dir)], capture_output=True,
                          text=True, timeout=60)


@pytest.mark.parametrize("interpreter", interpreters(range(6, 10)))
def test_older_interpreter_gets_import_error(interpreter):
    result = run_import(interpreter, "try:\n    import zelk\nexcept ImportError as e:\n"
                                     "    print(e)\nelse:\n    print('imported')\n")
    assert result.returncode == 0, result.stderr
    version = subprocess.run([interpreter, "-c", "import platform; print(platform.python_version())"],
                             capture_output=True, text=True, check=True).stdout.strip()
    assert result.stdout.strip() == REFUSAL + version


# The one stable-ABI build serves every later interpreter.
@pytest.mark.parametrize("interpreter", interpreters(range(10, 15)))
def test_newer_interpreter_uses_the_module(interpreter):
    result = run_import(interpreter, "import zelk\nagent = zelk.ZelkAgent.generate('p256')\n"
                                     "print(len(zelk.__all__), agent.aid[:16])\n")
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "19 aid:pubkey:p256:"
