"""Builds the extension, the plug-ins and the host libraries with CMake from the checkout that
holds this folder, and puts them into the package beside the Python sources. Nothing is
downloaded: CMake, a C++17 compiler, BLAS/LAPACK/ARPACK and pybind11 come from the system
(scripts/install-deps.sh core python).

    python3 -m pip install --no-build-isolation --no-index ./python

ROTALIGN_CMAKE_ARGS adds arguments to CMake's configuration; CMAKE_BUILD_PARALLEL_LEVEL sets the
number of compile jobs (default: every core).
"""

import os
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

CHECKOUT = Path(__file__).resolve().parent.parent


class cmake_build_ext(build_ext):
    def build_extension(self, ext):
        temp = Path(self.build_temp).resolve()
        build, stage = temp / "cmake", temp / "stage"
        configure = [
            "cmake", "-S", str(CHECKOUT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DTOOLBOX_TESTS=OFF", "-DTOOLBOX_BENCHMARKS=OFF", "-DTOOLBOX_REQUIRE_PYTHON=ON",
            "-DPython_EXECUTABLE=" + sys.executable,
        ] + shlex.split(os.environ.get("ROTALIGN_CMAKE_ARGS", ""))
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "rotalign_python_package",
                        "--parallel", jobs], check=True)
        shutil.rmtree(stage, ignore_errors=True)
        subprocess.run(["cmake", "--install", str(build), "--component", "python",
                        "--prefix", str(stage)], check=True)
        # The extension, the host libraries and the plug-ins; build_py brings the sources.
        package = Path(self.get_ext_fullpath(ext.name)).parent
        package.mkdir(parents=True, exist_ok=True)
        for built in (stage / "rotalign").iterdir():
            if built.suffix != ".py":
                shutil.copy2(built, package / built.name)


setup(
    ext_modules=[Extension("rotalign._core", sources=[])],
    cmdclass={"build_ext": cmake_build_ext},
)
