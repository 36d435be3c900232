"""Builds the Python module bfsscan: its extension is built by the project's
CMake build (target bfsscan_python), for the interpreter running this."""

import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(HERE, "CMakeLists.txt")) as f:
        return re.search(r"project\(bfsscan VERSION ([0-9.]+)", f.read()).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        configure = ["cmake", "-S", HERE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                     "-DBUILD_TESTING=OFF", "-DPython_EXECUTABLE=" + sys.executable]
        try:
            import pybind11
            configure.append("-Dpybind11_DIR=" + pybind11.get_cmake_dir())
        except ImportError:
            pass  # CMake looks for it itself
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", build_dir, "--target", "bfsscan_python",
                        "-j", str(os.cpu_count() or 1)], check=True)
        built = os.path.join(build_dir, "python", "bfsscan",
                             os.path.basename(self.get_ext_filename(ext.name)))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    packages=["bfsscan"],
    package_dir={"": "python"},
    ext_modules=[CMakeExtension("bfsscan._native")],
    cmdclass={"build_ext": CMakeBuild},
)
