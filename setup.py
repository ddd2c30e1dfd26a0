"""pip install .: the package finecoreg built by the project's CMake, Python part only.

CMake configures with -DFC_PYTHON_ONLY=ON (no Qt, host, plug-in or tools;
the GDAL import only when GDAL is there) for the interpreter running this,
builds fc_python_package and the wheel takes the assembled package from
<build>/python/finecoreg. The version is the CMake project's. CMAKE_ARGS
adds configure options; CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs.
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", text).group(1)


class CMakeBuildPy(build_py):
    """Builds the package with CMake and copies it, extension modules included, into the wheel's tree."""

    def run(self):
        build_dir = Path(self.get_finalized_command("build").build_temp).resolve() / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DFC_PYTHON_ONLY=ON",
                     "-DCMAKE_BUILD_TYPE=Release", f"-DPython3_EXECUTABLE={sys.executable}"]
        subprocess.run(configure + os.environ.get("CMAKE_ARGS", "").split(), check=True)
        environment = dict(os.environ)
        environment.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "fc_python_package"],
                       check=True, env=environment)
        target = Path(self.build_lib) / "finecoreg"
        shutil.rmtree(target, ignore_errors=True)
        shutil.copytree(build_dir / "python" / "finecoreg", target,
                        ignore=shutil.ignore_patterns("__pycache__"))


class BinaryDistribution(Distribution):
    """A wheel for this interpreter and platform: the package holds compiled modules."""

    def has_ext_modules(self):
        return True


setup(version=project_version(), packages=["finecoreg"], package_dir={"": "python"},
      cmdclass={"build_py": CMakeBuildPy}, distclass=BinaryDistribution,
      options={"build": {"build_base": "build-pip"}})
