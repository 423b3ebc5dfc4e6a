"""Builds the zelk wheel: one stable-ABI extension (zelk.abi3.so, CPython 3.10 and later) made by
the project's CMake build, with its type stubs beside it.

CMake builds in build-wheel/ (setuptools in build-wheel/setuptools/), leaving the project's own
build trees alone. ZELK_WHEEL_JOBS sets the build's parallelism (3 by default); ccache is used when present.
"""

import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.egg_info import egg_info

ROOT = pathlib.Path(__file__).resolve().parent
WHEEL_BUILD = ROOT / "build-wheel"
# The stubs beside the extension, where editors look, and again as a stub-only package, the form
# mypy finds for a module that is no package.
STUB_FILES = {"zelk.pyi": "zelk.pyi", "py.typed": "py.typed", "zelk-stubs/__init__.pyi": "zelk.pyi"}


class CMakeBuildExt(build_ext):
    """Configures and builds the zelk_python target only, then places its output."""

    def build_extension(self, ext):
        env = dict(os.environ)
        if shutil.which("ccache") and "CMAKE_CXX_COMPILER_LAUNCHER" not in env:
            env["CMAKE_CXX_COMPILER_LAUNCHER"] = "ccache"
            # Paths relative to the checkout, so build/ and build-wheel/ share cache hits.
            env.setdefault("CCACHE_BASEDIR", str(ROOT))
        subprocess.run(
            ["cmake", "-S", str(ROOT), "-B", str(WHEEL_BUILD), "-G", "Ninja",
             "-DCMAKE_BUILD_TYPE=Release", "-DZELK_PYTHON=ON", "-DZELK_TESTS=OFF",
             "-DZELK_BENCH=OFF", "-DZELK_PYTHON_PROBE=OFF",
             f"-DPython3_EXECUTABLE={sys.executable}"],
            check=True, env=env, stdout=subprocess.DEVNULL)
        jobs = env.get("ZELK_WHEEL_JOBS", "3")
        subprocess.run(["cmake", "--build", str(WHEEL_BUILD), "-j", jobs, "--target", "zelk_python"],
                       check=True, env=env)
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(WHEEL_BUILD / "python" / "zelk.abi3.so", target)
        for name, source in STUB_FILES.items():
            (target.parent / name).parent.mkdir(exist_ok=True)
            shutil.copyfile(ROOT / "stubs" / source, target.parent / name)

    def get_outputs(self):
        outputs = super().get_outputs()
        if outputs:
            outputs += [os.path.join(os.path.dirname(outputs[0]), name) for name in STUB_FILES]
        return outputs


class OutOfTreeEggInfo(egg_info):
    """Keeps the generated metadata folder out of the source tree."""

    def initialize_options(self):
        super().initialize_options()
        WHEEL_BUILD.mkdir(exist_ok=True)
        self.egg_base = os.path.relpath(WHEEL_BUILD, ROOT)


setup(
    ext_modules=[Extension("zelk", sources=[], py_limited_api=True)],
    cmdclass={"build_ext": CMakeBuildExt, "egg_info": OutOfTreeEggInfo},
    options={
        "build": {"build_base": str(WHEEL_BUILD / "setuptools")},
        "bdist_wheel": {"py_limited_api": "cp310"},
    },
)
