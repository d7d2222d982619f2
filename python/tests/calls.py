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
the same line follows the result of each `with` step.

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
            print(">> call " + step["with"], flush=True)
            with getattr(hwtk3, step["with"])() as bound:
                print(">> result " + json.dumps(plain(bound)), flush=True)
                print(">> loaded " + json.dumps(mapped(LIBRARIES)), flush=True)
                run(step["calls"])
            print(">> exit " + step["with"], flush=True)
            continue
        print(">> call " + step["call"], flush=True)
        result = getattr(hwtk3, step["call"])(*step.get("args", []), **step.get("keywords", {}))
        print(">> result " + json.dumps(plain(result)), flush=True)


LIBRARIES = ("/libWinRing0.so", "/libVQMITF.so")


def mapped(names):
    with open("/proc/self/maps") as maps:
        paths = {line.split()[-1] for line in maps if line.rstrip().endswith(names)}
    return sorted(paths)


hwtk3.load(sys.argv[2])
run(json.loads(sys.argv[3]))
print(">> loaded " + json.dumps(mapped(LIBRARIES)), flush=True)
