"""Makes the built extension importable.

ZELK_PYTHONPATH, when set, names the directory holding zelk.abi3.so and goes first. Otherwise a
PYTHONPATH given by the caller wins, and build/python of the source tree is the fallback.
"""

import os
import pathlib
import sys

_ROOT = pathlib.Path(__file__).resolve().parents[2]

_override = os.environ.get("ZELK_PYTHONPATH")
if _override:
    sys.path.insert(0, _override)
else:
    sys.path.append(str(_ROOT / "build" / "python"))
