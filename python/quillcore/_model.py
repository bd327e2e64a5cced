"""What a description holds: plain, immutable values."""

from __future__ import annotations

from dataclasses import dataclass
from typing import FrozenSet, Optional, Tuple


@dataclass(frozen=True)
class Report:
    """A report the library made while describing: severity 0 note, 1
    warning, 2 error, 3 severe."""

    severity: int
    file: str
    line: int
    message: str


@dataclass(frozen=True)
class Hypervisor:
    vendor: str
    major: int
    minor: int


@dataclass(frozen=True)
class Cache:
    level: int
    type: str  # "data", "instruction", "unified", "trace", "prefetch" or "unknown"
    size: int
    line_size: int
    ways: Optional[int]  # None when fully associative
    shared_by: Tuple[int, ...]  # the `index` of every processor sharing it, ascending


@dataclass(frozen=True)
class Tlb:
    level: int
    type: str
    page_size: int
    entries: int
    ways: Optional[int]  # None when fully associative


@dataclass(frozen=True)
class Processor:
    index: int  # position in Machine.processors
    group: int
    os_index: Optional[int]  # the OS's number: Linux's CPU number, the number in the group on Windows
    vendor: str
    name: str
    family: Optional[int]  # display values; None without CPUID leaf 1
    model: Optional[int]
    stepping: Optional[int]
    apic_id: int
    core_id: int
    package_id: int
    # Under the current rules the package's own counts and its core's threads (255 at most)
    logical_per_package: int
    cores_per_package: int
    threads_per_core: int
    core_type: Optional[str]  # "performance", "efficiency", "low-power efficiency"
    microarchitecture: Optional[str]
    flags: FrozenSet[str]
    usable_flags: FrozenSet[str]
    x86_64_level: int
    caches: Tuple[Cache, ...]
    tlbs: Tuple[Tlb, ...]


@dataclass(frozen=True)
class Group:
    index: int
    processors: Tuple[Processor, ...]


@dataclass(frozen=True)
class Machine:
    processors: Tuple[Processor, ...]  # every group's, in group order
    groups: Tuple[Group, ...]
    packages: int
    is_symmetric: bool
    hypervisor: Optional[Hypervisor]
    rules: str  # "current" or "classic"
    reports: Tuple[Report, ...]
