"""The library through ctypes: finding it, its exports, and its interface slots.

A description object starts with a pointer to its table of slots; a slot is a
plain function taking the object first (see quill/QuillC.h)."""

from __future__ import annotations

import ctypes
import os
import sys
from pathlib import Path
from typing import Any, Callable, Optional

_WINDOWS = sys.platform == "win32"
_NATIVE_NAME = "quillcore.dll" if _WINDOWS else "libquillcore.so.0"
_SIM_NAME = "quillcore-sim.dll" if _WINDOWS else "libquillcore-sim.so.0"

# Slot positions of the four interfaces.
MACHINE_RELEASE = 0
MACHINE_GET_NUM_PACKAGES = 3
MACHINE_GET_IS_SYMMETRIC = 6
MACHINE_GET_CPU_BY_INDEX = 8
MACHINE_GET_NUM_COLLECTED = 12
CPU_GET_VENDOR_STRING = 1
CPU_GET_NAME = 3
CPU_GET_MAX_LOGICAL_PER_PACKAGE = 5
CPU_GET_CORES_PER_PACKAGE = 6
CPU_GET_THREADS_PER_CORE = 7
CPU_GET_CACHE = 9
CPU_GET_CORE_ID = 12
CPU_GET_PACKAGE_ID = 13
CPU_GET_APIC_ID = 15
CPU_GET_HYPERVISOR = 18
CACHE_GET_ROLE = 0
CACHE_GET_LEVEL = 1
CACHE_GET_TYPE = 2
CACHE_GET_ASSOCIATIVITY = 3
CACHE_GET_ENTRY_SIZE = 5
CACHE_GET_NUM_ENTRIES = 6
CACHE_GET_SIZE = 7
CACHE_GET_NUM_SHARING_IDS = 11
CACHE_GET_SHARING_ID = 14
HYPERVISOR_RELEASE = 0
HYPERVISOR_GET_VENDOR_STRING = 2
HYPERVISOR_GET_MAJOR = 4
HYPERVISOR_GET_MINOR = 5

RULES = {"classic": 0, "current": 1}

REPORT_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p,
                                   ctypes.c_char_p)

_P = ctypes.c_void_p
# Each export: result type and argument types. The extensions may be absent
# from an older library; those are looked up with `optional`.
_EXPORTS: dict[str, tuple[Any, list[Any]]] = {
    "NumProcessorGroups": (ctypes.c_uint16, []),
    "GetGroupMachineDescription": (_P, [ctypes.c_uint16]),
    "CastMachineDescription": (ctypes.c_bool, [ctypes.c_uint32, _P, ctypes.POINTER(_P)]),
    "SetQuillDetailedErrorReportCallback": (_P, [_P]),
    "SetQuillDescriptionRules": (ctypes.c_uint32, [ctypes.c_uint32]),
    "ClearAllCachedMachineDescriptors": (None, []),
    "GetCPUSignature": (ctypes.c_uint32, [_P]),
    "GetCPUIndexInGroup": (ctypes.c_uint32, [_P]),
    "GetCoreType": (ctypes.c_uint32, [_P]),
    "GetMicroarchitectureName": (ctypes.c_char_p, [_P]),
    "HasCPUFeature": (ctypes.c_bool, [_P, ctypes.c_char_p]),
    "IsCPUFeatureUsable": (ctypes.c_bool, [_P, ctypes.c_char_p]),
    "GetCPUFeatureLevel": (ctypes.c_uint32, [_P]),
    "GetCPUFeatureName": (ctypes.c_char_p, [ctypes.c_uint32]),
    "IsFeatureUsableEverywhere": (ctypes.c_bool, [ctypes.c_char_p]),
    "GetOSProcessorNumber": (ctypes.c_uint32, [ctypes.c_uint16, ctypes.c_uint32]),
    "QuillSimLoadDump": (ctypes.c_int, [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint32]),
}


def _candidates(variable: str, name: str) -> list[str]:
    """Where to look, in order: the environment, the install tree the package
    sits in (the library is two folders up), the system's loader."""
    places = []
    if os.environ.get(variable):
        places.append(os.environ[variable])
    tree = Path(__file__).resolve().parent.parent.parent / name
    if tree.exists():
        places.append(str(tree))
    places.append(name)
    return places


class Library:
    """One loaded product, native or simulated."""

    def __init__(self, simulated: bool) -> None:
        variable = "QUILLCORE_SIM_LIBRARY" if simulated else "QUILLCORE_LIBRARY"
        reasons = []
        self.handle: Optional[ctypes.CDLL] = None
        for place in _candidates(variable, _SIM_NAME if simulated else _NATIVE_NAME):
            try:
                self.handle = ctypes.CDLL(place)
                self.path = place
                break
            except OSError as error:
                reasons.append(f"{place}: {error}")
        if self.handle is None:
            what = "the simulated quillcore library" if simulated else "the quillcore library"
            raise OSError(f"cannot load {what} (set {variable} to its path); tried " + "; ".join(reasons))
        if simulated and self.optional("QuillSimLoadDump") is None:
            raise OSError(f"{self.path} is not the simulated quillcore library")

    def optional(self, name: str) -> Optional[Callable[..., Any]]:
        assert self.handle is not None
        try:
            function = getattr(self.handle, name)
        except AttributeError:
            return None
        function.restype, function.argtypes = _EXPORTS[name]
        return function

    def export(self, name: str) -> Callable[..., Any]:
        function = self.optional(name)
        if function is None:
            raise OSError(f"{self.path} lacks {name}: it is older than this package")
        return function


_slot_types: dict[tuple[Any, tuple[Any, ...]], Any] = {}


def slot(obj: int, index: int, result: Any, *args: Any) -> Any:
    """Calls slot `index` of the object at address `obj` with `args`, given as
    (ctypes type, value) pairs."""
    table = ctypes.cast(ctypes.c_void_p(obj), ctypes.POINTER(ctypes.c_void_p))[0]
    address = ctypes.cast(ctypes.c_void_p(table), ctypes.POINTER(ctypes.c_void_p))[index]
    key = (result, tuple(kind for kind, _ in args))
    prototype = _slot_types.get(key)
    if prototype is None:
        prototype = _slot_types[key] = ctypes.CFUNCTYPE(result, ctypes.c_void_p, *key[1])
    return prototype(address)(obj, *(value for _, value in args))


def text(value: Optional[bytes]) -> str:
    """Library texts are bytes; those that are not UTF-8 are read as Latin-1."""
    if value is None:
        return ""
    try:
        return value.decode("utf-8")
    except UnicodeDecodeError:
        return value.decode("latin-1")
