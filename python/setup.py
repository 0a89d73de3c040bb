"""Builds the treexport package: the Python converter and the export library's extension module.

The extension module is built by the repository's own CMake project (target _native), so the
library's sources, folders and dependencies are whatever that project says they are. Needs
cmake, a C++17 compiler and pybind11 (Debian: cmake g++ pybind11-dev), and the repository around
this folder.
"""

import glob
import os
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        if not os.path.isfile(os.path.join(ROOT, "CMakeLists.txt")):
            raise RuntimeError("treexport's extension module is built from the repository around "
                               "python/ (%s has no CMakeLists.txt): install with "
                               "pip install ./python from a checkout" % ROOT)
        target_dir = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        out_dir = os.path.join(build_dir, "lib")
        os.makedirs(out_dir, exist_ok=True)
        configure = [
            "cmake", "-S", ROOT, "-B", build_dir,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DTREEXPORT_BUILD_PYTHON=ON",
            "-DTREEXPORT_BUILD_TESTS=OFF",
            "-DTREEXPORT_BUILD_BENCH=OFF",
            # The module and the shared libraries it needs end up in one folder and find each
            # other there, wherever the package is installed.
            "-DCMAKE_LIBRARY_OUTPUT_DIRECTORY=" + out_dir,
            "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON",
            "-DCMAKE_INSTALL_RPATH=$ORIGIN",
            "-DPYTHON_EXECUTABLE=" + sys.executable,
            "-DPython_EXECUTABLE=" + sys.executable,
        ]
        try:
            import pybind11
            configure.append("-Dpybind11_DIR=" + pybind11.get_cmake_dir())
        except ImportError:
            pass  # Debian's pybind11-dev puts its CMake files where CMake looks anyway
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.check_call(configure)
        subprocess.check_call(["cmake", "--build", build_dir, "--target", "_native",
                               "--parallel", jobs])
        os.makedirs(target_dir, exist_ok=True)
        module = os.path.join(out_dir, "_native" + sysconfig.get_config_var("EXT_SUFFIX"))
        if not os.path.isfile(module):
            raise RuntimeError("the build made no %s" % module)
        shutil.copyfile(module, self.get_ext_fullpath(ext.name))
        for lib in glob.glob(os.path.join(out_dir, "lib*.so*")):
            shutil.copyfile(lib, os.path.join(target_dir, os.path.basename(lib)))


setup(
    name="treexport",
    version="0.1.0",
    description="Write fitted scikit-learn decision trees as PMML 4.3, tree XML or model files",
    packages=["treexport"],
    ext_modules=[CMakeExtension("treexport._native")],
    cmdclass={"build_ext": CMakeBuild},
    license="MIT",
    python_requires=">=3.7",
    install_requires=[],
    zip_safe=False,
)
