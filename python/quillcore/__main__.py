"""python3 -m quillcore [--replay FILE] [--rules current|classic]: a short
summary of this machine or of a CPUID dump."""

from __future__ import annotations

import argparse
import sys
from typing import Dict, List, Sequence, Tuple

from . import describe
from ._model import Machine


def _ranges(values: Sequence[int]) -> str:
    parts: List[str] = []
    for v in sorted(values):
        if parts and parts[-1][1] == v - 1:
            parts[-1] = (parts[-1][0], v)
        else:
            parts.append((v, v))  # type: ignore[arg-type]
    return ", ".join(str(a) if a == b else f"{a}-{b}" for a, b in parts)  # type: ignore[misc]


def _size(n: int) -> str:
    for unit, scale in (("GiB", 1 << 30), ("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= scale and n % (scale // 4) == 0:
            return f"{n / scale:g} {unit}"
    return f"{n} B"


def summary(machine: Machine) -> str:
    lines = [f"{len(machine.processors)} logical processors in {len(machine.groups)} group(s), "
             f"{machine.packages} package(s); rules: {machine.rules}"]
    if machine.hypervisor:
        h = machine.hypervisor
        lines.append(f"Hypervisor: {h.vendor} {h.major}.{h.minor}")
    kinds: Dict[Tuple[str, str, object], List[int]] = {}
    for p in machine.processors:
        key = (p.core_type or "", p.name, p.microarchitecture)
        kinds.setdefault(key, []).append(p.index)
    for (core_type, name, uarch), indices in kinds.items():
        label = f"{core_type.capitalize()} cores" if core_type else "Processors"
        first = machine.processors[indices[0]]
        lines.append(f"{label} {_ranges(indices)}: {name or first.vendor}"
                     + (f" ({uarch})" if uarch else "") + f", x86-64 level v{first.x86_64_level}")
    # Each distinct cache once, with its instances.
    instances: Dict[Tuple[int, str, int, object, int], set] = {}
    for p in machine.processors:
        for c in p.caches:
            if c.type == "prefetch":
                continue
            instances.setdefault((c.level, c.type, c.size, c.ways, len(c.shared_by)), set()).add(c.shared_by)
    lines.append("Caches:")
    for (level, kind, size, ways, sharers), sets in instances.items():
        assoc = "fully associative" if ways is None else f"{ways}-way"
        lines.append(f"  L{level} {kind} {_size(size)}, {assoc}, shared by {sharers} "
                     f"processor{'s' if sharers != 1 else ''} ({len(sets)} instance{'s' if len(sets) != 1 else ''})")
    if machine.reports:
        lines.append(f"Reports of the library: {len(machine.reports)}")
    return "\n".join(lines)


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m quillcore", description=__doc__)
    parser.add_argument("--replay", metavar="FILE", help="describe a CPUID dump instead of this machine")
    parser.add_argument("--rules", choices=("current", "classic"), default="current")
    args = parser.parse_args(argv)
    try:
        machine = describe(args.replay, args.rules)
    except (OSError, ValueError) as error:
        print(f"quillcore: {error}", file=sys.stderr)
        return 2 if isinstance(error, (ValueError, FileNotFoundError)) else 1
    print(summary(machine))
    return 0


if __name__ == "__main__":
    sys.exit(main())
