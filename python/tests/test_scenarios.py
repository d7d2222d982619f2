"""Every binding called against the virtual notebook, in a process of its own
per scenario (the library's state is per process, and the stand-ins read
their scenario once): each call's result, with its exact type, and the
library's lines that came out between our markers for it."""

import json
import os
import subprocess
import sys

import pytest

import hwtk3
from conftest import PACKAGE_FOLDER

CALLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "calls.py")
RUN_TIMEOUT_S = 60
ANY = object()  # a result not checked: a value read on real time after a change


class Includes(object):
    """Lines that must appear, in this order, among others."""

    def __init__(self, *lines):
        self.lines = list(lines)

    def matches(self, lines):
        position = 0
        for line in lines:
            if position < len(self.lines) and line == self.lines[position]:
                position += 1
        return position == len(self.lines)

    def __repr__(self):
        return "Includes%r" % (tuple(self.lines),)


def call(name, *args, result, lines=(), **keywords):
    return {"call": name, "args": list(args), "keywords": keywords, "result": result, "lines": lines}


def port_io(result, lines, calls, release):
    return {"with": "port_io", "result": result, "lines": lines, "calls": calls, "release": release}


BIND = ["preparing to initialize WinRing0", "WinRing0 was initialized"]
RELEASE = ["IO driver is going to release..."]


def identity(product, manufacturer, board, machine_type=None):
    lines = ["finished to get dmi data", "Model name: " + product, "Manufacturer: " + manufacturer,
             "Board SN: " + board]
    if machine_type is not None:
        lines.append("machine type: %d" % machine_type)
    return Includes("preparing to initialize WinRing0", "WinRing0 was initialized", "IO driver is going to release...",
                    *lines)


QUORVEX = ("Quorvex Aero 14 K5402", "Quorvex Computer Inc.")
FAN_TEST_LINES = ["ec ZLKD", "Set rpm to 3000", "Tacho_temp:160 Tacho:3935 f5f MSB:f LSB:5f", "Set 0x24 to port 0x6C",
                  "Set 0xF to port 0x68", "Set 0x5F to port 0x68", "tacho msb: 0xF, lsb: 0x5F", "tacho: 160",
                  "Get fan speed 3000"]
TACHO_LINES = ["tacho msb: 0xF, lsb: 0x5F", "tacho: 160"]

# Scenario -> the calls, each with its result and the library's lines. The
# default scenario calls every binding; the fan test runs only there (3.4 s
# of real pauses). Values read after a speed change are not checked: the
# stand-ins' fan settles on real time.
SCENARIOS = {
    "default": [
        call("check_machine", True, result=True, lines=identity(*QUORVEX, "ZelkaK5402-0217A88", 0)),
        call("fill_dmi_data", False, result=0),  # filled already: 0 at once
        call("get_machine_type", result=0),
        call("get_manufacturer", result="Quorvex Computer Inc."),
        call("get_manufacturer", 7, result="Quorvex"),  # a bounded copy
        call("get_product_name", result="Quorvex Aero 14 K5402"),
        call("get_board_sn", result="ZelkaK5402-0217A88"),
        port_io(1, BIND, [
            call("init_hwio", result=1, lines=["WinRing0 has been initialized. No need to initialize again"]),
            call("get_ec_firmware_ver2", 12, result=[0, None], lines=["EC FW:=ZLKD 1.07.02="]),  # no room for the NUL
            call("get_ec_firmware_ver2", result=[1, "ZLKD 1.07.02"], lines=["EC FW:=ZLKD 1.07.02="]),
            call("zlkd_get_fan_speed2", result=[1, 2400], lines=["tacho msb: 0xF, lsb: 0x37", "tacho: 200"]),
            call("zlkd_get_cpu_temperature2", result=[1, 45]),
            call("fan_cpu", 3000, 0, True, result=[True, 3000, 45], lines=FAN_TEST_LINES),
            call("fan_cpu_get_value", True, result=[True, 3000, 45], lines=TACHO_LINES),
            call("zlkd_set_fan_speed2", 3000, result=1, lines=None),
            # The other maps' windows: this EC does not decode them, but
            # they have no handshake, so the exports cannot tell.
            call("amd_set_fan_rpm", 2000, result=1),
            call("amd_get_fan_rpm", result=[1, 0]),
            call("amd_get_cpu_temperature", result=[1, 255]),
            call("fan_state2", result=[True, 255, 65535]),
            call("get_fan_cur_state2", result=[1, {"manual": 1, "speed": 255, "rpm": 65535}]),
            call("set_fan_manual2", 1, result=1),
            call("set_fan_speed2", 50, result=1),
            call("get_battery_charge_state", result=0),
            call("set_battery_charge_enabled", False, result=True, lines=[
                "Set battery to discharging state", "Original data of address 0xD2 = 0x0",
                "Read address 0xD2 back, value = 0x40", "Success !! battery is discharging."]),
            call("get_battery_charge_state", result=0x40),
            call("is_battery_charge_enabled", result=False),  # machine type 0: no such register
            call("set_battery_charge_enabled", True, result=True, lines=[
                "Set battery to charging state", "Original data of address 0xD2 = 0x40",
                "Read address 0xD2 back, value = 0x0", "Success !! battery is charging."]),
        ], RELEASE),
        call("zlkd_get_fan_speed2", result=[0, None]),  # released: the gate, no line
        call("free_hwio", result=None),  # nothing bound: no line
        # No ACPI control driver on Linux: every control fails, writing nothing.
        call("get_panel_brightness", result=[False, None]),
        call("set_panel_brightness", 50, result=False),
        call("get_cpu_mode", result=[False, None, None]),
        call("set_cpu_mode", 0x0102, result=False),
        call("set_wifi_state", 1, result=False),
        call("get_wifi_state", result=[False, None]),
        call("set_bt_state", 1, result=False),
        call("get_bt_state", result=[False, None]),
        call("set_cam_state", 0, result=False),
        call("get_cam_state", result=[False, None]),
        call("get_acpi_support_methods", result=[False, None, None, None]),
        call("acpi_nb_query_bt_device", result=[0, True],
             lines=["Success for HWRS method!", "bios reported BT is existed"]),
        call("acpi_nb_query_wifi_device", result=[0, True],
             lines=["Success for HWRS method!", "bios reported Wifi is existed"]),
        call("acpi_nb_set_bt_power_on", True, result=0, lines=["Success for BLED method!"]),
    ],
    "init-fails": [
        call("fill_dmi_data", True, result=-1,
             lines=["preparing to initialize WinRing0", "Failed to init WinRing0!", "Failed to init IO library!"]),
        call("check_machine", True, result=False, lines=None),
        # Not bound: the block runs with every port export failing, and
        # nothing is released at its end.
        port_io(0, ["preparing to initialize WinRing0", "Failed to init WinRing0!"], [
            call("get_ec_firmware_ver2", result=[0, None]),
            call("zlkd_get_fan_speed2", result=[0, None]),
            call("get_fan_cur_state2", result=[0, None]),
            call("get_battery_charge_state", result=0),
        ], []),
    ],
    "pwm,hwrs-bt-only": [
        call("check_machine", True, result=True, lines=None),
        port_io(1, BIND, [
            call("get_ec_firmware_ver2", result=[1, "QX 1.02.11"], lines=["EC FW:=QX 1.02.11="]),
            call("fan_state2", result=[True, 45, 2400]),
            call("get_fan_cur_state2", result=[1, {"manual": 0, "speed": 48, "rpm": 2400}]),
            call("set_fan_manual2", 1, result=1),
            call("set_fan_speed2", 40, result=1),
            call("get_fan_cur_state2", result=ANY),
        ], RELEASE),
        call("acpi_nb_query_wifi_device", result=[0, False], lines=["Success for HWRS method!"]),
        call("acpi_nb_query_bt_device", result=[0, True],
             lines=["Success for HWRS method!", "bios reported BT is existed"]),
    ],
    "machine-type": [
        call("check_machine", True, result=True, lines=identity(QUORVEX[0], QUORVEX[1], "QVMB5402-0217A88", 1)),
        call("get_machine_type", result=1),
        port_io(1, BIND, [
            call("is_battery_charge_enabled", result=True, lines=["Data in 0x4F8: 0x0"]),
            call("set_battery_charge_enabled", False, result=True,
                 lines=["Set battery to discharging state", "Ori. 0x4F8: 0x0", "Read back 0x4F8: 0x40"]),
            call("is_battery_charge_enabled", result=False, lines=["Data in 0x4F8: 0x40"]),
            call("set_battery_charge_enabled", True, result=True,
                 lines=["Set battery to charging state", "Ori. 0x4F8: 0x40", "Read back 0x4F8: 0x0"]),
            call("fan_cpu_get_value", True, result=[True, 2401, 45],
                 lines=["MSB: 3", "LSB: 82", "Tacho: 382", "RPM: 2401", "CPU Temp: 45"]),
            call("set_fan_manual2", 0, result=1, lines=None),
        ], RELEASE),
    ],
    "foreign,nb-invoke-fails,ec-fw-silent": [
        call("check_machine", True, result=False,
             lines=identity("Hollin Traveller 13", "Hollin Systems Ltd.", "HS13-88301-Zelka")),
        call("get_manufacturer", result="Hollin Systems Ltd."),
        port_io(1, BIND, [
            call("get_ec_firmware_ver2", result=[0, None], lines=["WaitOBFTimeout Error!! EC FW:=ZLKD="]),
        ], RELEASE),
        call("acpi_nb_query_wifi_device", result=[-1, None], lines=["Fail!"]),
        call("acpi_nb_set_bt_power_on", False, result=-1, lines=["Fail!"]),
    ],
}


def steps_for_child(steps):
    return [{"with": s["with"], "calls": steps_for_child(s["calls"])} if "with" in s
            else {"call": s["call"], "args": s["args"], "keywords": s["keywords"]} for s in steps]


def expected_events(steps):
    """The reports the child gives, in order: (name, result, lines)."""
    events = []
    for step in steps:
        if "with" in step:
            events.append((step["with"], step["result"], step["lines"]))
            events += expected_events(step["calls"])
            events.append(("exit " + step["with"], None, step["release"]))
        else:
            events.append((step["call"], step["result"], step["lines"]))
    return events


def parse(output):
    """The child's reports: events, the libraries it had mapped, and lines
    that came out between calls (there must be none)."""
    events, loaded, stray = [], [], []
    current = None
    for line in output.splitlines():
        if line.startswith(">> call "):
            if stray:
                events.append(("lines outside a call", None, stray))
                stray = []
            current = [line[len(">> call "):], None, []]
        elif line.startswith(">> result ") and current is not None:
            current[1] = json.loads(line[len(">> result "):])
            events.append(tuple(current))
            current = None
        elif line.startswith(">> exit "):
            events.append((line[len(">> "):], None, stray))
            stray = []
        elif line.startswith(">> loaded "):
            loaded.append(json.loads(line[len(">> loaded "):]))
        elif current is not None:
            current[2].append(line)
        else:
            stray.append(line)
    if stray:
        events.append(("lines after the last call", None, stray))
    return events, loaded


def same(actual, expected):
    """Equal and of the same types all the way down (True is not 1 here)."""
    if type(actual) is not type(expected):
        return False
    if isinstance(expected, list):
        return len(actual) == len(expected) and all(same(a, e) for a, e in zip(actual, expected))
    if isinstance(expected, dict):
        return actual.keys() == expected.keys() and all(same(actual[k], expected[k]) for k in expected)
    return actual == expected


@pytest.fixture(scope="module")
def runs(notebook_folder):
    """All scenarios at once (they mostly pause): scenario -> (status, output)."""
    children = {}
    for scenario, steps in SCENARIOS.items():
        environment = dict(os.environ, HWTK3_SIM_SCENARIO=scenario)
        # As a station runs it: unbuffered Python would make the C runtime's
        # stdout unbuffered too, and hide whether the library's lines come
        # out where they belong.
        environment.pop("PYTHONUNBUFFERED", None)
        children[scenario] = subprocess.Popen(
            [sys.executable, CALLS, PACKAGE_FOLDER, notebook_folder, json.dumps(steps_for_child(steps))],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=environment, universal_newlines=True)
    results = {}
    for scenario, child in children.items():
        try:
            output, _ = child.communicate(timeout=RUN_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            child.kill()
            output, _ = child.communicate()
            output += "\n(timed out after %d s)" % RUN_TIMEOUT_S
        results[scenario] = (child.returncode, output)
    return results


@pytest.mark.parametrize("scenario", sorted(SCENARIOS))
def test_results_and_library_lines(runs, scenario, notebook_folder):
    status, output = runs[scenario]
    assert status == 0, output
    events, loaded = parse(output)
    expected = expected_events(SCENARIOS[scenario])
    assert [event[0] for event in events] == [event[0] for event in expected], output
    for (name, result, lines), (_, want_result, want_lines) in zip(events, expected):
        if want_result is not ANY:
            assert same(result, want_result), "%s gave %r, not %r" % (name, result, want_result)
        if isinstance(want_lines, Includes):
            assert want_lines.matches(lines), "%s printed %r, not %r" % (name, lines, want_lines)
        elif want_lines is not None:
            assert lines == list(want_lines), "%s printed %r" % (name, lines)
    # While bound, the process had the stand-ins from the folder mapped,
    # never the real provider.
    bound = [paths for paths in loaded[:-1]]
    assert bound, output
    for paths in bound:
        assert sorted(os.path.dirname(path) for path in paths) == [notebook_folder] * 2, paths


def test_every_binding_is_called():
    def names(steps):
        found = set()
        for step in steps:
            found |= {step["with"]} | names(step["calls"]) if "with" in step else {step["call"]}
        return found

    called = set().union(*(names(steps) for steps in SCENARIOS.values()))
    assert called == set(hwtk3.FUNCTIONS) | {"port_io"}
    assert len(hwtk3.FUNCTIONS) == 38
