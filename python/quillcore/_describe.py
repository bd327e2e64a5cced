"""Reads every processor group's description into the model."""

from __future__ import annotations

import ctypes
import os
import threading
from typing import Any, Dict, List, Optional, Tuple

from . import _native as n
from ._model import Cache, Group, Hypervisor, Machine, Processor, Report, Tlb

_CACHE_TYPES = {1: "data", 2: "instruction", 3: "unified", 4: "trace", 5: "prefetch"}
_CORE_TYPES = {1: "performance", 2: "efficiency", 3: "low-power efficiency"}
_ROLE_TLB, _ROLE_CACHE = 1, 2
_FULLY_ASSOCIATIVE = 0xFFFFFFFF
_MACHINE_VERSION = 1

_libraries: Dict[bool, n.Library] = {}
# The library's settings (rules, report callback) are the process's: one
# description at a time.
_lock = threading.Lock()


def library(simulated: bool) -> n.Library:
    if simulated not in _libraries:
        _libraries[simulated] = n.Library(simulated)
    return _libraries[simulated]


def _display(signature: int) -> Tuple[Optional[int], Optional[int], Optional[int]]:
    if signature == 0:
        return None, None, None
    base_family = (signature >> 8) & 0xF
    family = base_family + ((signature >> 20) & 0xFF if base_family == 0xF else 0)
    model = ((signature >> 4) & 0xF) + (((signature >> 16) & 0xF) << 4 if base_family >= 6 else 0)
    return family, model, signature & 0xF


class _Reader:
    def __init__(self, lib: n.Library, rules: str) -> None:
        self.lib = lib
        self.current = rules == "current"
        get = lib.optional
        self.signature = get("GetCPUSignature")
        self.index_in_group = get("GetCPUIndexInGroup")
        self.os_number = get("GetOSProcessorNumber")
        self.core_type = get("GetCoreType")
        self.microarchitecture = get("GetMicroarchitectureName")
        self.has_feature = get("HasCPUFeature")
        self.usable = get("IsCPUFeatureUsable")
        self.level = get("GetCPUFeatureLevel")
        self.names: List[bytes] = []
        feature_name = get("GetCPUFeatureName")
        while feature_name is not None:
            name = feature_name(len(self.names))
            if name is None:
                break
            self.names.append(name)

    def caches(self, cpu: int) -> Tuple[List[Tuple[Cache, List[int]]], List[Tlb]]:
        """The caches with their sharing ids (resolved later), and the TLBs."""
        caches: List[Tuple[Cache, List[int]]] = []
        tlbs: List[Tlb] = []
        u32 = ctypes.c_uint32
        for i in range(4096):
            record = n.slot(cpu, n.CPU_GET_CACHE, ctypes.c_void_p, (u32, i))
            if not record:
                break
            role = n.slot(record, n.CACHE_GET_ROLE, u32)
            kind = _CACHE_TYPES.get(n.slot(record, n.CACHE_GET_TYPE, u32), "unknown")
            level = n.slot(record, n.CACHE_GET_LEVEL, u32)
            ways: Optional[int] = n.slot(record, n.CACHE_GET_ASSOCIATIVITY, u32)
            ways = None if ways == _FULLY_ASSOCIATIVE else ways
            entry_size = n.slot(record, n.CACHE_GET_ENTRY_SIZE, u32)
            if role == _ROLE_TLB:
                entries = n.slot(record, n.CACHE_GET_NUM_ENTRIES, u32)
                tlbs.append(Tlb(level, kind, entry_size, entries, ways))
            elif role == _ROLE_CACHE:
                count = n.slot(record, n.CACHE_GET_NUM_SHARING_IDS, u32)
                ids = [n.slot(record, n.CACHE_GET_SHARING_ID, ctypes.c_uint16, (u32, k)) for k in range(min(count, 4096))]
                size = n.slot(record, n.CACHE_GET_SIZE, ctypes.c_uint64)
                caches.append((Cache(level, kind, size, entry_size, ways, ()), [i for i in ids if i != 0xFFFF]))
        return caches, tlbs

    def processor(self, cpu: int, index: int, group: int) -> Tuple[Processor, List[List[int]]]:
        c_cpu = ctypes.c_void_p(cpu)
        family, model, stepping = _display(self.signature(c_cpu) if self.signature else 0)
        os_index = None
        if self.index_in_group is not None and self.os_number is not None:
            in_group = self.index_in_group(c_cpu)
            number = self.os_number(group, in_group) if in_group != 0xFFFFFFFF else 0xFFFFFFFF
            os_index = None if number == 0xFFFFFFFF else number
        flags = frozenset(name.decode() for name in self.names if self.has_feature and self.has_feature(c_cpu, name))
        usable = frozenset(name for name in flags if self.usable and self.usable(c_cpu, name.encode()))
        core_type = _CORE_TYPES.get(self.core_type(c_cpu)) if self.core_type else None
        microarchitecture = n.text(self.microarchitecture(c_cpu)) if self.microarchitecture else ""
        u8 = ctypes.c_uint8
        caches, tlbs = self.caches(cpu)
        processor = Processor(
            index=index, group=group, os_index=os_index,
            vendor=n.text(n.slot(cpu, n.CPU_GET_VENDOR_STRING, ctypes.c_char_p)),
            name=n.text(n.slot(cpu, n.CPU_GET_NAME, ctypes.c_char_p)).strip(),
            family=family, model=model, stepping=stepping,
            apic_id=n.slot(cpu, n.CPU_GET_APIC_ID, ctypes.c_uint32),
            core_id=n.slot(cpu, n.CPU_GET_CORE_ID, u8), package_id=n.slot(cpu, n.CPU_GET_PACKAGE_ID, u8),
            logical_per_package=n.slot(cpu, n.CPU_GET_MAX_LOGICAL_PER_PACKAGE, u8),
            cores_per_package=n.slot(cpu, n.CPU_GET_CORES_PER_PACKAGE, u8),
            threads_per_core=n.slot(cpu, n.CPU_GET_THREADS_PER_CORE, u8),
            core_type=core_type, microarchitecture=microarchitecture or None,
            flags=flags, usable_flags=usable, x86_64_level=self.level(c_cpu) if self.level else 0,
            caches=tuple(cache for cache, _ in caches), tlbs=tuple(tlbs))
        return processor, [ids for _, ids in caches]

    def sharing_id(self, cpu: int) -> int:
        """The id other processors' caches name this one by."""
        if self.current:
            return n.slot(cpu, n.CPU_GET_APIC_ID, ctypes.c_uint32) & 0xFFFF
        return n.slot(cpu, 10, ctypes.c_uint8)  # the initial APIC id


def _hypervisor(cpu: int) -> Optional[Hypervisor]:
    description = n.slot(cpu, n.CPU_GET_HYPERVISOR, ctypes.c_void_p)
    if not description:
        return None
    try:
        return Hypervisor(n.text(n.slot(description, n.HYPERVISOR_GET_VENDOR_STRING, ctypes.c_char_p)),
                          n.slot(description, n.HYPERVISOR_GET_MAJOR, ctypes.c_uint16),
                          n.slot(description, n.HYPERVISOR_GET_MINOR, ctypes.c_uint16))
    finally:
        n.slot(description, n.HYPERVISOR_RELEASE, None)


def describe(replay: Optional[str] = None, rules: str = "current") -> Machine:
    """Describes this machine, every processor group of it, or the machine of
    a CPUID dump file (AIDA64 text, `cpuid -r` output or libcpuid raw)."""
    if rules not in n.RULES:
        raise ValueError(f"rules must be 'current' or 'classic', not {rules!r}")
    with _lock:
        lib = library(replay is not None)
        if replay is not None:
            path = os.fspath(replay)
            if not os.path.isfile(path):
                raise FileNotFoundError(2, "no such dump file", path)
            message = ctypes.create_string_buffer(512)
            if lib.export("QuillSimLoadDump")(path.encode(), message, len(message)) != 0:
                raise ValueError(n.text(message.value) or f"cannot replay {path}")
        reports: List[Report] = []

        def keep(severity: int, file: Optional[bytes], line: int, _revision: Any, message: Optional[bytes]) -> None:
            reports.append(Report(severity, n.text(file), line, n.text(message)))

        callback = n.REPORT_CALLBACK(keep)
        set_callback = lib.export("SetQuillDetailedErrorReportCallback")
        set_rules = lib.export("SetQuillDescriptionRules")
        previous_callback = set_callback(ctypes.cast(callback, ctypes.c_void_p))
        previous_rules = set_rules(n.RULES[rules])
        try:
            return _read(lib, rules, reports)
        finally:
            set_rules(previous_rules)
            set_callback(previous_callback)


def _read(lib: n.Library, rules: str, reports: List[Report]) -> Machine:
    reader = _Reader(lib, rules)
    processors: List[Processor] = []
    sharing: List[List[List[int]]] = []
    groups: List[Group] = []
    ids: List[Dict[int, int]] = []  # per group: sharing id -> index
    symmetric = True
    hypervisor = None
    for group in range(lib.export("NumProcessorGroups")()):
        description = lib.export("GetGroupMachineDescription")(group)
        if not description:
            groups.append(Group(group, ()))
            ids.append({})
            continue
        first = len(processors)
        own: Dict[int, int] = {}
        try:
            checked = ctypes.c_void_p()
            if not lib.export("CastMachineDescription")(_MACHINE_VERSION, description, ctypes.byref(checked)):
                continue
            machine = checked.value or description
            symmetric = symmetric and bool(n.slot(machine, n.MACHINE_GET_IS_SYMMETRIC, ctypes.c_bool))
            for i in range(n.slot(machine, n.MACHINE_GET_NUM_COLLECTED, ctypes.c_uint32)):
                cpu = n.slot(machine, n.MACHINE_GET_CPU_BY_INDEX, ctypes.c_void_p, (ctypes.c_uint32, i))
                if not cpu:
                    continue
                processor, cache_ids = reader.processor(cpu, len(processors), group)
                if hypervisor is None and not processors:
                    hypervisor = _hypervisor(cpu)
                own.setdefault(reader.sharing_id(cpu), processor.index)
                processors.append(processor)
                sharing.append(cache_ids)
        finally:
            n.slot(description, n.MACHINE_RELEASE, None)
        groups.append(Group(group, tuple(processors[first:])))
        ids.append(own)
    # Each cache's sharers, by their indices; a sharer outside the group is
    # looked for in the others.
    everywhere: Dict[int, int] = {}
    for own in reversed(ids):
        everywhere.update(own)
    resolved = []
    for processor, cache_ids in zip(processors, sharing):
        own = ids[processor.group]
        caches = tuple(
            Cache(c.level, c.type, c.size, c.line_size, c.ways,
                  tuple(sorted({own.get(i, everywhere.get(i, -1)) for i in sharers} - {-1})))
            for c, sharers in zip(processor.caches, cache_ids))
        resolved.append(_replace(processor, caches))
    groups = [Group(g.index, tuple(resolved[p.index] for p in g.processors)) for g in groups]
    return Machine(processors=tuple(resolved), groups=tuple(groups),
                   packages=len({p.package_id for p in resolved}), is_symmetric=symmetric,
                   hypervisor=hypervisor, rules=rules, reports=tuple(reports))


def _replace(processor: Processor, caches: Tuple[Cache, ...]) -> Processor:
    from dataclasses import replace
    return replace(processor, caches=caches)


def has_feature(name: str) -> bool:
    """True when every processor of this process may use the feature (its
    Linux name, e.g. "avx2"), register state and permissions included."""
    with _lock:
        lib = library(False)
        everywhere = lib.export("IsFeatureUsableEverywhere")
        # Reports of a collection this may cause are not for the terminal.
        set_callback = lib.export("SetQuillDetailedErrorReportCallback")
        previous = set_callback(ctypes.cast(_SILENCE, ctypes.c_void_p))
        try:
            return bool(everywhere(name.encode()))
        finally:
            set_callback(previous)


_SILENCE = n.REPORT_CALLBACK(lambda *_: None)
