"""The binding against what the C++ side declares: the records' layout as
the compiler lays it out, each export's decorated name, argument and result
types, the arguments it refuses rather than cut down, and where it finds
the library."""

import ctypes
import os
import re
import shutil
import subprocess
import sys

import pytest

import hwtk3
from conftest import PACKAGE_FOLDER, REPOSITORY, build_file, virtual_notebook_folder

RECORDS = {"tFanState": hwtk3.tFanState, "tDiagWifiBTPowerState": hwtk3.tDiagWifiBTPowerState}


def test_records_have_the_cpp_layout():
    printed = subprocess.run([build_file("bin", "hwtk3_layout")], stdout=subprocess.PIPE, check=True,
                             universal_newlines=True).stdout.split("\n")
    layouts, record = {}, None
    for line in filter(None, printed):
        kind, name, *numbers = line.split()
        if kind == "record":
            record = name
            layouts[record] = [int(numbers[0]), []]
        else:
            layouts[record][1].append((name, int(numbers[0]), int(numbers[1])))
    assert set(layouts) == set(RECORDS)
    for name, (size, fields) in layouts.items():
        structure = RECORDS[name]
        assert ctypes.sizeof(structure) == size, name
        assert [(field, getattr(structure, field).offset, getattr(structure, field).size)
                for field, _ in structure._fields_] == fields, name


# The parameter types of a decorated name (Itanium ABI, as far as the
# exports use it): builtin codes, pointers and references, named records,
# and substitutions of an earlier pointer or record (S_, S0_, ...).
BUILTIN = {"i": ctypes.c_int, "j": ctypes.c_uint, "b": ctypes.c_bool, "h": ctypes.c_ubyte,
           "m": ctypes.c_ulong, "c": ctypes.c_char}


def parameter_types(decorated):
    match = re.match(r"_Z(\d+)", decorated)
    rest = decorated[match.end() + int(match.group(1)):]
    if rest == "v":
        return ()
    types, substitutions = [], []

    def one():
        nonlocal rest
        code, rest = rest[0], rest[1:]
        if code in "PR":
            target = ctypes.POINTER(one())
            substitutions.append(target)
            return target
        if code in BUILTIN:
            return BUILTIN[code]
        if code == "S":
            index, rest = rest.split("_", 1)
            return substitutions[int(index, 36) + 1 if index else 0]
        length = re.match(r"\d+", code + rest).group(0)
        name = (code + rest)[len(length):len(length) + int(length)]
        rest = (code + rest)[len(length) + int(length):]
        substitutions.append(RECORDS[name])
        return RECORDS[name]

    while rest:
        types.append(one())
    return tuple(types)


HEADER_RESULTS = {"int": ctypes.c_int, "void": None, "bool": ctypes.c_bool, "unsigned char": ctypes.c_ubyte}


def header_results():
    with open(os.path.join(REPOSITORY, "include", "hwtk3.h")) as header:
        text = header.read()
    return {name: HEADER_RESULTS[result]
            for result, name in re.findall(r"HWTK3_API\s+(.+?)\s+HWTK3_CALL\s+(Diag_\w+)\(", text)}


def test_exports_are_those_without_std_string():
    with open(os.path.join(REPOSITORY, "tests", "exports.txt")) as listed:
        names = set(listed.read().split())
    left_out = {name for name in names if "Diag_Get90Code" in name or "Diag_BatteryState" in name}
    assert len(left_out) == 2
    assert {decorated for _, decorated, _, _ in hwtk3.EXPORTS} == names - left_out
    assert len(hwtk3.EXPORTS) == 38


@pytest.mark.parametrize("export, decorated, result, arguments", hwtk3.EXPORTS, ids=[e[0] for e in hwtk3.EXPORTS])
def test_types_match_the_declaration(export, decorated, result, arguments):
    assert decorated.startswith("_Z%d%s" % (len(export), export))
    assert tuple(arguments) == parameter_types(decorated)
    assert result is header_results()[export]


@pytest.fixture(scope="module")
def library(notebook_folder):
    # Loading runs no export; every case below is refused before a call.
    return hwtk3.Library(notebook_folder)


@pytest.mark.parametrize("function, arguments, error", [
    ("set_panel_brightness", (256,), ValueError),
    ("set_panel_brightness", (-1,), ValueError),
    ("set_panel_brightness", (1.5,), TypeError),
    ("set_wifi_state", (0x101,), ValueError),
    ("set_cpu_mode", (-1,), ValueError),
    ("set_cpu_mode", (1 << 8 * ctypes.sizeof(ctypes.c_ulong),), ValueError),
    ("set_fan_speed2", (-1,), ValueError),
    ("zlkd_set_fan_speed2", (1 << 32,), ValueError),
    ("amd_set_fan_rpm", (1 << 31,), ValueError),
    ("set_fan_manual2", (-(1 << 31) - 1,), ValueError),
    ("fan_cpu", (3000, 1 << 31, True), ValueError),
    ("fan_cpu", (3000, 0, True, -(1 << 40)), ValueError),
    ("get_ec_firmware_ver2", (1 << 31,), ValueError),
    ("get_manufacturer", (1 << 31,), ValueError),
])
def test_arguments_are_refused_not_cut_down(library, function, arguments, error):
    with pytest.raises(error):
        getattr(library, function)(*arguments)


def test_a_library_without_the_exports_is_refused(tmp_path):
    shutil.copy(build_file("python-sim", "libWinRing0.so"), str(tmp_path / "libhwtk3.so"))
    with pytest.raises(OSError, match="exports no _Z13Diag_InitHWIOv"):
        hwtk3.Library(tmp_path)


def test_a_folder_given_is_the_only_place_looked(notebook_folder, tmp_path):
    assert hwtk3.Library(notebook_folder).path == os.path.join(notebook_folder, "libhwtk3.so")
    with pytest.raises(OSError, match=re.escape(str(tmp_path / "libhwtk3.so"))):
        hwtk3.Library(tmp_path)


# Where load() finds the library, for a copy of the package: beside it
# (libhwtk3.so and the stand-ins in the package folder), by the ordinary
# search (a folder on LD_LIBRARY_PATH), or nowhere.
@pytest.mark.parametrize("beside, search_path, found", [
    (True, False, "beside"),
    (True, True, "beside"),
    (False, True, "libhwtk3.so"),
    (False, False, None),
])
def test_load_finds_the_library(tmp_path, notebook_folder, beside, search_path, found):
    package = tmp_path / "site" / "hwtk3"
    shutil.copytree(os.path.join(PACKAGE_FOLDER, "hwtk3"), str(package),
                    ignore=shutil.ignore_patterns("__pycache__"))
    if beside:
        virtual_notebook_folder(package)
    environment = dict(os.environ, PYTHONPATH=str(tmp_path / "site"), LD_LIBRARY_PATH="")
    if search_path:
        environment["LD_LIBRARY_PATH"] = notebook_folder
    child = subprocess.run([sys.executable, "-c", "import hwtk3; print(hwtk3.library().path)"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=environment, cwd=str(tmp_path),
                           universal_newlines=True)
    if found is None:
        assert child.returncode != 0
        assert "cannot load libhwtk3.so" in child.stderr
    else:
        assert child.returncode == 0, child.stderr
        assert child.stdout.strip() == (str(package / "libhwtk3.so") if found == "beside" else found)
