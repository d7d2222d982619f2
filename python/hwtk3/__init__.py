"""hwtk3 for Python: the library's exports through ctypes.

    import hwtk3
    hwtk3.load()                       # beside this package, else the ordinary search
    accepted = hwtk3.check_machine(True)
    with hwtk3.port_io() as bound:
        result, version = hwtk3.get_ec_firmware_ver2()
        ok, rpm, temperature = hwtk3.fan_cpu(3000, 0, True)

Every export that passes no std::string has a function here of the same name
in snake case without "Diag_" (Diag_ZLKDGetFanSpeed2: zlkd_get_fan_speed2).
Results are exactly the exports' own (int 1/0, bool, the ACPI interface
object's 0/-1, the raw charge byte). What an export writes through a pointer
is returned after the result, as a tuple; when the result says the call
failed, the export has written nothing and those values are None. The raw
ctypes functions are Library.raw.Diag_*.

The library keeps its state per process (the port-I/O binding, the identity
record, the machine type), so a process loads it once.
"""

import contextlib
import ctypes
import operator
import os
import sys
from collections import namedtuple

__all__ = [
    "Library", "load", "library", "port_io", "tFanState", "tDiagWifiBTPowerState", "EXPORTS",
    "Reading", "FanValues", "FanState2", "CpuMode", "SupportMethods",
]

_WINDOWS = sys.platform == "win32"
LIBRARY_FILE = "hwtk3.dll" if _WINDOWS else "libhwtk3.so"


class _Record(ctypes.Structure):
    def __repr__(self):
        fields = ", ".join("%s=%r" % (name, getattr(self, name)) for name, _ in self._fields_)
        return "%s(%s)" % (type(self).__name__, fields)


class tFanState(_Record):
    """Fan state of the PWM fan map (Diag_GetFanCurState2)."""
    _fields_ = [("manual", ctypes.c_int), ("speed", ctypes.c_uint), ("rpm", ctypes.c_uint)]


class tDiagWifiBTPowerState(_Record):
    """Radio and camera power, one byte each; nonzero = on."""
    _fields_ = [("bWifi", ctypes.c_ubyte), ("bBT", ctypes.c_ubyte), ("bCam", ctypes.c_ubyte)]


_c_int, _c_uint, _c_bool = ctypes.c_int, ctypes.c_uint, ctypes.c_bool
_c_ubyte, _c_ulong = ctypes.c_ubyte, ctypes.c_ulong
_P = ctypes.POINTER
_text = _P(ctypes.c_char)
_power = _P(tDiagWifiBTPowerState)

# Export, decorated name (the same in libhwtk3.so and hwtk3.dll), result,
# arguments. C++ references are passed as pointers.
EXPORTS = (
    ("Diag_InitHWIO", "_Z13Diag_InitHWIOv", _c_int, ()),
    ("Diag_FreeHWIO", "_Z13Diag_FreeHWIOv", None, ()),
    ("Diag_GetECFirmwareVer2", "_Z22Diag_GetECFirmwareVer2Pci", _c_int, (_text, _c_int)),
    ("Diag_AMDSetFanRPM", "_Z17Diag_AMDSetFanRPMi", _c_int, (_c_int,)),
    ("Diag_AMDGetFanRPM", "_Z17Diag_AMDGetFanRPMPi", _c_int, (_P(_c_int),)),
    ("Diag_AMDGetCpuTemperature", "_Z25Diag_AMDGetCpuTemperaturePi", _c_int, (_P(_c_int),)),
    ("Diag_FanState2", "_Z14Diag_FanState2PiS_", _c_bool, (_P(_c_int), _P(_c_int))),
    ("Diag_GetFanCurState2", "_Z20Diag_GetFanCurState2P9tFanState", _c_int, (_P(tFanState),)),
    ("Diag_SetFanManual2", "_Z18Diag_SetFanManual2i", _c_int, (_c_int,)),
    ("Diag_SetFanSpeed2", "_Z17Diag_SetFanSpeed2j", _c_int, (_c_uint,)),
    ("Diag_ZLKDGetCpuTemperature2", "_Z27Diag_ZLKDGetCpuTemperature2Pi", _c_int, (_P(_c_int),)),
    ("Diag_ZLKDGetFanSpeed2", "_Z21Diag_ZLKDGetFanSpeed2Pi", _c_int, (_P(_c_int),)),
    ("Diag_ZLKDSetFanSpeed2", "_Z21Diag_ZLKDSetFanSpeed2j", _c_int, (_c_uint,)),
    ("Diag_FanCpu", "_Z11Diag_FanCpuiiPiS_b", _c_bool, (_c_int, _c_int, _P(_c_int), _P(_c_int), _c_bool)),
    ("Diag_FanCpuGetValue", "_Z19Diag_FanCpuGetValuePiS_b", _c_bool, (_P(_c_int), _P(_c_int), _c_bool)),
    ("Diag_FillDMIData", "_Z16Diag_FillDMIDatab", _c_int, (_c_bool,)),
    ("Diag_CheckMachine", "_Z17Diag_CheckMachineb", _c_bool, (_c_bool,)),
    ("Diag_GetMachineType", "_Z19Diag_GetMachineTypev", _c_int, ()),
    ("Diag_GetManufacturer", "_Z20Diag_GetManufacturerPci", None, (_text, _c_int)),
    ("Diag_GetProductName", "_Z19Diag_GetProductNamePci", None, (_text, _c_int)),
    ("Diag_GetBoardSN", "_Z15Diag_GetBoardSNPci", None, (_text, _c_int)),
    ("Diag_GetPanelBrightness", "_Z23Diag_GetPanelBrightnessPh", _c_bool, (_P(_c_ubyte),)),
    ("Diag_SetPanelBrightness", "_Z23Diag_SetPanelBrightnessh", _c_bool, (_c_ubyte,)),
    ("Diag_GetCPUMode", "_Z15Diag_GetCPUModePhS_", _c_bool, (_P(_c_ubyte), _P(_c_ubyte))),
    ("Diag_SetCPUMode", "_Z15Diag_SetCPUModem", _c_bool, (_c_ulong,)),
    ("Diag_SetWifiState", "_Z17Diag_SetWifiStateP21tDiagWifiBTPowerState", _c_bool, (_power,)),
    ("Diag_GetWifiState", "_Z17Diag_GetWifiStateP21tDiagWifiBTPowerState", _c_bool, (_power,)),
    ("Diag_SetBTState", "_Z15Diag_SetBTStateP21tDiagWifiBTPowerState", _c_bool, (_power,)),
    ("Diag_GetBTState", "_Z15Diag_GetBTStateP21tDiagWifiBTPowerState", _c_bool, (_power,)),
    ("Diag_SetCamState", "_Z16Diag_SetCamStateP21tDiagWifiBTPowerState", _c_bool, (_power,)),
    ("Diag_GetCamState", "_Z16Diag_GetCamStateP21tDiagWifiBTPowerState", _c_bool, (_power,)),
    ("Diag_GetACPISupportMethods", "_Z26Diag_GetACPISupportMethodsPbS_S_", _c_bool,
     (_P(_c_bool), _P(_c_bool), _P(_c_bool))),
    ("Diag_AcpiNBSetBTPowerOn", "_Z23Diag_AcpiNBSetBTPowerOnb", _c_int, (_c_bool,)),
    ("Diag_AcpiNBQueryBTDevice", "_Z24Diag_AcpiNBQueryBTDeviceRb", _c_int, (_P(_c_bool),)),
    ("Diag_AcpiNBQueryWifiDevice", "_Z26Diag_AcpiNBQueryWifiDeviceRb", _c_int, (_P(_c_bool),)),
    ("Diag_GetBatteryChargeState", "_Z26Diag_GetBatteryChargeStatev", _c_ubyte, ()),
    ("Diag_SetBatteryChargeEnabled", "_Z28Diag_SetBatteryChargeEnabledb", _c_bool, (_c_bool,)),
    ("Diag_IsBatteryChargeEnabled", "_Z27Diag_IsBatteryChargeEnabledv", _c_bool, ()),
)

# One output: the result and the value (None when the result is a failure).
Reading = namedtuple("Reading", "result value")
FanValues = namedtuple("FanValues", "result rpm temperature")
FanState2 = namedtuple("FanState2", "result temperature rpm")
CpuMode = namedtuple("CpuMode", "result high low")
SupportMethods = namedtuple("SupportMethods", "result wlan bluetooth camera")

_TEXT_SIZE = 256         # the identity texts
_FIRMWARE_TEXT_SIZE = 32  # the most the EC firmware read takes
_TEXT_ENCODING = "latin-1"  # byte for byte


def _fits(value, ctype, what):
    """The argument as an int of the export's C type, never cut down to fit."""
    number = operator.index(value)
    bits = 8 * ctypes.sizeof(ctype)
    signed = ctype(-1).value < 0
    low, high = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
    if not low <= number <= high:
        raise ValueError("%s %d does not fit the export's %s (%d..%d)" % (what, number, ctype.__name__, low, high))
    return number


def _value_if(ok, *values):
    return values if ok else (None,) * len(values)


class _Raw(object):
    """The exports as ctypes functions, by their plain names."""


class Library(object):
    """libhwtk3.so or hwtk3.dll, loaded from `folder` when given, else from
    beside this package, else by the ordinary search of the system's loader."""

    def __init__(self, folder=None):
        if _WINDOWS and ctypes.sizeof(ctypes.c_void_p) != 4:
            raise OSError("hwtk3.dll is a 32-bit module: it loads only into a 32-bit Python")
        if folder is not None:
            candidates = [os.path.join(os.path.abspath(os.fspath(folder)), LIBRARY_FILE)]
        else:
            beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_FILE)
            candidates = [beside] if os.path.isfile(beside) else []
            candidates.append(LIBRARY_FILE)
        errors = []
        for candidate in candidates:
            try:
                # Caller cleans the stack (cdecl), on Windows too: CDLL.
                self._cdll = ctypes.CDLL(candidate)
                break
            except OSError as error:
                errors.append("%s: %s" % (candidate, error))
        else:
            raise OSError("cannot load %s (%s)" % (LIBRARY_FILE, "; ".join(errors)))
        self.path = candidate
        self.raw = _Raw()
        for export, decorated, result, arguments in EXPORTS:
            try:
                function = self._cdll[decorated]
            except AttributeError:
                raise OSError("%s exports no %s (%s): not the hwtk3 library this binding is for"
                              % (self.path, decorated, export))
            function.restype = result
            function.argtypes = arguments
            setattr(self.raw, export, function)
        # The library prints through the C runtime's stdout. On Linux that
        # is buffered when it is not a terminal, so its lines would come
        # after ours, or at exit; each call is followed by a flush.
        self._flush_c = None if _WINDOWS else ctypes.CDLL(None).fflush
        if self._flush_c is not None:
            self._flush_c.argtypes = (ctypes.c_void_p,)

    def _call(self, export, *arguments):
        stream = sys.stdout
        if stream is not None:
            stream.flush()
        try:
            return getattr(self.raw, export)(*arguments)
        finally:
            if self._flush_c is not None:
                self._flush_c(None)

    def _text_query(self, export, size):
        size = _fits(size, _c_int, "size")
        buffer = ctypes.create_string_buffer(max(size, 0) + 1)  # a NUL even for a full buffer
        self._call(export, buffer, size)
        return buffer.value.decode(_TEXT_ENCODING)

    def _one_output(self, export, ctype):
        value = ctype()
        result = self._call(export, ctypes.byref(value))
        return Reading(result, value.value if result else None)

    # Port-I/O binding.
    def init_hwio(self):
        """Diag_InitHWIO: 1 when the binding is up (newly or already), else 0."""
        return self._call("Diag_InitHWIO")

    def free_hwio(self):
        """Diag_FreeHWIO: releases the binding if it is up."""
        self._call("Diag_FreeHWIO")

    @contextlib.contextmanager
    def port_io(self):
        """Diag_InitHWIO on entry, giving its result (1 or 0); Diag_FreeHWIO
        on exit when it was 1. The binding is one per process and not
        counted: leaving a nested block releases it for the outer one too."""
        bound = self.init_hwio()
        try:
            yield bound
        finally:
            if bound == 1:
                self.free_hwio()

    # EC firmware.
    def get_ec_firmware_ver2(self, length=_FIRMWARE_TEXT_SIZE):
        """Diag_GetECFirmwareVer2 with a buffer of `length` bytes: (1, text) or (0, None)."""
        length = _fits(length, _c_int, "length")
        buffer = ctypes.create_string_buffer(max(length, 0) + 1)
        result = self._call("Diag_GetECFirmwareVer2", buffer, length)
        return Reading(result, buffer.value.decode(_TEXT_ENCODING) if result else None)

    # Fan and CPU temperature, per platform.
    def amd_set_fan_rpm(self, rpm):
        """Diag_AMDSetFanRPM: 1, or 0 while the binding is down."""
        return self._call("Diag_AMDSetFanRPM", _fits(rpm, _c_int, "rpm"))

    def amd_get_fan_rpm(self):
        """Diag_AMDGetFanRPM: (result, rpm)."""
        return self._one_output("Diag_AMDGetFanRPM", _c_int)

    def amd_get_cpu_temperature(self):
        """Diag_AMDGetCpuTemperature: (result, temperature)."""
        return self._one_output("Diag_AMDGetCpuTemperature", _c_int)

    def fan_state2(self):
        """Diag_FanState2: (result, temperature, rpm), in the export's order."""
        temperature, rpm = _c_int(), _c_int()
        result = self._call("Diag_FanState2", ctypes.byref(temperature), ctypes.byref(rpm))
        return FanState2(result, *_value_if(result, temperature.value, rpm.value))

    def get_fan_cur_state2(self):
        """Diag_GetFanCurState2: (result, tFanState)."""
        state = tFanState()
        result = self._call("Diag_GetFanCurState2", ctypes.byref(state))
        return Reading(result, state if result else None)

    def set_fan_manual2(self, manual):
        """Diag_SetFanManual2: nonzero for manual fan control, 0 for the EC's."""
        return self._call("Diag_SetFanManual2", _fits(manual, _c_int, "manual"))

    def set_fan_speed2(self, speed):
        """Diag_SetFanSpeed2: the fan speed setting (the export clamps it to 100)."""
        return self._call("Diag_SetFanSpeed2", _fits(speed, _c_uint, "speed"))

    def zlkd_get_cpu_temperature2(self):
        """Diag_ZLKDGetCpuTemperature2: (result, temperature)."""
        return self._one_output("Diag_ZLKDGetCpuTemperature2", _c_int)

    def zlkd_get_fan_speed2(self):
        """Diag_ZLKDGetFanSpeed2: (result, rpm)."""
        return self._one_output("Diag_ZLKDGetFanSpeed2", _c_int)

    def zlkd_set_fan_speed2(self, rpm):
        """Diag_ZLKDSetFanSpeed2: the target in RPM."""
        return self._call("Diag_ZLKDSetFanSpeed2", _fits(rpm, _c_uint, "rpm"))

    # Fan test.
    def fan_cpu(self, target_rpm, duty_level, ec_platform, pwm_setting=0):
        """Diag_FanCpu: (result, rpm, temperature). `pwm_setting` is what the
        speed output holds on entry, which the PWM path sends as the setting."""
        rpm = _c_int(_fits(pwm_setting, _c_int, "pwm_setting"))
        temperature = _c_int()
        result = self._call("Diag_FanCpu", _fits(target_rpm, _c_int, "target_rpm"),
                            _fits(duty_level, _c_int, "duty_level"), ctypes.byref(rpm),
                            ctypes.byref(temperature), bool(ec_platform))
        return FanValues(result, *_value_if(result, rpm.value, temperature.value))

    def fan_cpu_get_value(self, ec_platform):
        """Diag_FanCpuGetValue: (result, rpm, temperature)."""
        rpm, temperature = _c_int(), _c_int()
        result = self._call("Diag_FanCpuGetValue", ctypes.byref(rpm), ctypes.byref(temperature),
                            bool(ec_platform))
        return FanValues(result, *_value_if(result, rpm.value, temperature.value))

    # Machine identity.
    def fill_dmi_data(self, scan_physical_memory):
        """Diag_FillDMIData: 0, or -1 when the BIOS area cannot be read."""
        return self._call("Diag_FillDMIData", bool(scan_physical_memory))

    def check_machine(self, scan_physical_memory):
        """Diag_CheckMachine: True for a machine of ours; sets the machine type."""
        return self._call("Diag_CheckMachine", bool(scan_physical_memory))

    def get_machine_type(self):
        """Diag_GetMachineType."""
        return self._call("Diag_GetMachineType")

    def get_manufacturer(self, size=_TEXT_SIZE):
        """Diag_GetManufacturer into a buffer of `size` bytes, as text."""
        return self._text_query("Diag_GetManufacturer", size)

    def get_product_name(self, size=_TEXT_SIZE):
        """Diag_GetProductName into a buffer of `size` bytes, as text."""
        return self._text_query("Diag_GetProductName", size)

    def get_board_sn(self, size=_TEXT_SIZE):
        """Diag_GetBoardSN into a buffer of `size` bytes, as text."""
        return self._text_query("Diag_GetBoardSN", size)

    # ACPI device controls.
    def get_panel_brightness(self):
        """Diag_GetPanelBrightness: (result, brightness)."""
        return self._one_output("Diag_GetPanelBrightness", _c_ubyte)

    def set_panel_brightness(self, brightness):
        """Diag_SetPanelBrightness."""
        return self._call("Diag_SetPanelBrightness", _fits(brightness, _c_ubyte, "brightness"))

    def get_cpu_mode(self):
        """Diag_GetCPUMode: (result, high, low): bits 8 to 15 and 0 to 7."""
        high, low = _c_ubyte(), _c_ubyte()
        result = self._call("Diag_GetCPUMode", ctypes.byref(high), ctypes.byref(low))
        return CpuMode(result, *_value_if(result, high.value, low.value))

    def set_cpu_mode(self, mode):
        """Diag_SetCPUMode."""
        return self._call("Diag_SetCPUMode", _fits(mode, _c_ulong, "mode"))

    def _set_power(self, export, field, on):
        state = tDiagWifiBTPowerState()
        setattr(state, field, _fits(on, _c_ubyte, field))
        return self._call(export, ctypes.byref(state))

    def _get_power(self, export, field):
        state = tDiagWifiBTPowerState()
        result = self._call(export, ctypes.byref(state))
        return Reading(result, getattr(state, field) if result else None)

    def set_wifi_state(self, on):
        """Diag_SetWifiState with bWifi = `on` (nonzero = on)."""
        return self._set_power("Diag_SetWifiState", "bWifi", on)

    def get_wifi_state(self):
        """Diag_GetWifiState: (result, bWifi)."""
        return self._get_power("Diag_GetWifiState", "bWifi")

    def set_bt_state(self, on):
        """Diag_SetBTState with bBT = `on` (nonzero = on)."""
        return self._set_power("Diag_SetBTState", "bBT", on)

    def get_bt_state(self):
        """Diag_GetBTState: (result, bBT)."""
        return self._get_power("Diag_GetBTState", "bBT")

    def set_cam_state(self, on):
        """Diag_SetCamState with bCam = `on` (nonzero = on)."""
        return self._set_power("Diag_SetCamState", "bCam", on)

    def get_cam_state(self):
        """Diag_GetCamState: (result, bCam)."""
        return self._get_power("Diag_GetCamState", "bCam")

    def get_acpi_support_methods(self):
        """Diag_GetACPISupportMethods: (result, wlan, bluetooth, camera); the
        export sets only the controls it finds, so the others stay False."""
        flags = (_c_bool(False), _c_bool(False), _c_bool(False))
        result = self._call("Diag_GetACPISupportMethods", *(ctypes.byref(flag) for flag in flags))
        return SupportMethods(result, *_value_if(result, *(flag.value for flag in flags)))

    # ACPI interface object: 0 success, -1 failure.
    def acpi_nb_set_bt_power_on(self, on):
        """Diag_AcpiNBSetBTPowerOn."""
        return self._call("Diag_AcpiNBSetBTPowerOn", bool(on))

    def _query_device(self, export):
        present = _c_bool(False)
        result = self._call(export, ctypes.byref(present))
        return Reading(result, present.value if result == 0 else None)

    def acpi_nb_query_bt_device(self):
        """Diag_AcpiNBQueryBTDevice: (result, present)."""
        return self._query_device("Diag_AcpiNBQueryBTDevice")

    def acpi_nb_query_wifi_device(self):
        """Diag_AcpiNBQueryWifiDevice: (result, present)."""
        return self._query_device("Diag_AcpiNBQueryWifiDevice")

    # Charge control.
    def get_battery_charge_state(self):
        """Diag_GetBatteryChargeState: the raw EC byte (bit 6 set: charging off)."""
        return self._call("Diag_GetBatteryChargeState")

    def set_battery_charge_enabled(self, enabled):
        """Diag_SetBatteryChargeEnabled."""
        return self._call("Diag_SetBatteryChargeEnabled", bool(enabled))

    def is_battery_charge_enabled(self):
        """Diag_IsBatteryChargeEnabled."""
        return self._call("Diag_IsBatteryChargeEnabled")


# The functions of the library this module loaded, one per export.
FUNCTIONS = tuple(name for name in vars(Library) if not name.startswith("_") and name != "port_io")

_loaded = None


def load(folder=None):
    """Loads the library (see Library) and makes it the one the module's
    functions call."""
    global _loaded
    _loaded = Library(folder)
    return _loaded


def library():
    """The library the module's functions call, loaded by load() or now."""
    return _loaded if _loaded is not None else load()


def port_io():
    """Library.port_io of the loaded library: `with hwtk3.port_io() as bound:`."""
    return library().port_io()


def _module_function(name):
    method = getattr(Library, name)

    def call(*arguments, **keywords):
        return method(library(), *arguments, **keywords)

    call.__name__ = name
    call.__doc__ = method.__doc__
    return call


for _name in FUNCTIONS:
    globals()[_name] = _module_function(_name)
__all__ += list(FUNCTIONS)
del _name
