"""Runs a list of binding calls in a process of its own, as a station's
test sequence would, and reports each on standard output between the
library's own lines:

    >> call NAME
    (the library's lines)
    >> result JSON

A step {"with": "port_io", "calls": [...]} runs its calls inside
`with hwtk3.port_io() as bound:`, reporting `bound` as its result and
">> exit port_io" after the release. Last comes ">> loaded JSON": the
files of the port-I/O and ACPI interface libraries the process has mapped;
the same line follows the result of each `with` step. Our lines are printed
as a station's script prints them, unflushed: the binding's own flushes
around each call keep them in place among the library's.

Usage: calls.py PACKAGE_FOLDER LIBRARY_FOLDER STEPS_JSON
"""

import json
import sys

sys.path.insert(0, sys.argv[1])
import hwtk3  # noqa: E402


def plain(value):
    if isinstance(value, tuple):
        return [plain(item) for item in value]
    if isinstance(value, (hwtk3.tFanState, hwtk3.tDiagWifiBTPowerState)):
        return {name: getattr(value, name) for name, _ in value._fields_}
    return value


def run(steps):
    for step in steps:
        if "with" in step:
            print(">> call " + step["with"])
            with getattr(hwtk3, step["with"])() as bound:
                print(">> result " + json.dumps(plain(bound)))
                print(">> loaded " + json.dumps(mapped(LIBRARIES)))
                run(step["calls"])
            print(">> exit " + step["with"])
            continue
        print(">> call " + step["call"])
        result = getattr(hwtk3, step["call"])(*step.get("args", []), **step.get("keywords", {}))
        print(">> result " + json.dumps(plain(result)))


LIBRARIES = ("/libWinRing0.so", "/libVQMITF.so")


def mapped(names):
    with open("/proc/self/maps") as maps:
        paths = {line.split()[-1] for line in maps if line.rstrip().endswith(names)}
    return sorted(paths)


hwtk3.load(sys.argv[2])
run(json.loads(sys.argv[3]))
print(">> loaded " + json.dumps(mapped(LIBRARIES)))
