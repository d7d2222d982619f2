"""What the binding's tests run against: the native build tree (HWTK3_BUILD_DIR,
build/linux by default) and, made from it, a folder holding a copy of
libhwtk3.so beside the virtual notebook's self-contained stand-ins
libWinRing0.so and libVQMITF.so. The library looks for both beside itself
first, so from there it drives the virtual notebook (scenarios from
HWTK3_SIM_SCENARIO, on real time) and never the real port-I/O provider."""

import os
import shutil
import sys

import pytest

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGE_FOLDER = os.path.join(REPOSITORY, "python")
BUILD = os.path.abspath(os.environ.get("HWTK3_BUILD_DIR", os.path.join(REPOSITORY, "build", "linux")))

sys.path.insert(0, PACKAGE_FOLDER)


def build_file(*parts):
    path = os.path.join(BUILD, *parts)
    if not os.path.exists(path):
        pytest.fail("%s is missing: build the native tree first (scripts/build linux)" % path)
    return path


def virtual_notebook_folder(folder):
    """`folder` with libhwtk3.so and the stand-ins in it."""
    os.makedirs(folder, exist_ok=True)
    shutil.copy(build_file("lib", "libhwtk3.so"), folder)
    for standin in ("libWinRing0.so", "libVQMITF.so"):
        shutil.copy(build_file("python-sim", standin), folder)
    return str(folder)


@pytest.fixture(scope="session")
def notebook_folder(tmp_path_factory):
    return virtual_notebook_folder(tmp_path_factory.mktemp("virtual-notebook"))
