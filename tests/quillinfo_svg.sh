#!/usr/bin/env bash
# quillinfo --svg against --json of the same run, here and on replayed dumps:
# every processor once, inside its core and package, with its APIC id; each
# core with its kind, listed in the legend; every distinct cache once with its
# level, type, size and sharers, its bars under exactly the processors sharing
# it, in one row where they fit; rsvg-convert draws it at its size.
#   quillinfo_svg.sh QUILLINFO DUMP...
usage="DUMP..."
. "$(dirname "$0")/lib.sh"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing (Debian package librsvg2-bin)" && exit 1; }
matches() { # matches JSON SVG
    python3 - "$1" "$2" <<'PY'
import json, sys, xml.etree.ElementTree as ET
doc, svg = json.load(open(sys.argv[1])), ET.parse(sys.argv[2]).getroot()
NS, problems, cells = "{http://www.w3.org/2000/svg}", [], {}
groups = lambda element, cls: [g for g in element.iter(NS + "g") if g.get("class") == cls]
for package in groups(svg, "package"):
    for core in groups(package, "core"):
        if core.get("data-package") != package.get("data-package"):
            problems.append("core %s sits in another package" % core.get("data-core"))
        for cpu in groups(core, "cpu"):
            index, rect = int(cpu.get("data-logical-index")), cpu.find(NS + "rect")
            if index in cells:
                problems.append("processor %d drawn twice" % index)
            cells[index] = (int(cpu.get("data-apic-id")), int(package.get("data-package")), int(core.get("data-core")),
                            cpu.get("data-row"), float(rect.get("x")) + float(rect.get("width")) / 2)
described = {p["logicalIndex"]: (p["initialApicId"], p["packageId"], p["coreId"]) for p in doc["processors"]}
if {i: cell[:3] for i, cell in cells.items()} != described:
    problems.append("processors drawn %s, described %s" % (cells, described))
# Every distinct cache, over the ids the library names and the processors holding it.
expected = {(c["level"], c["type"], c["size"], tuple(sorted(set(c["sharingIds"]) | {p["initialApicId"]})))
            for p in doc["processors"] for c in p["caches"]
            if c["role"] == "cache" and c["type"] in ("data", "instruction", "unified", "trace")}
drawn = []
for cache in groups(svg, "cache"):
    sharing = tuple(int(i) for i in cache.get("data-sharing").split())
    drawn.append((int(cache.get("data-level")), cache.get("data-type"), int(cache.get("data-size")), sharing))
    covered = set()
    for bar in cache.iter(NS + "rect"):
        left, width = float(bar.get("x")), float(bar.get("width"))
        covered |= {i for i, c in cells.items() if c[3] == bar.get("data-row") and left <= c[4] <= left + width}
    if covered != {i for i, c in cells.items() if c[0] in sharing}:
        problems.append("cache %s covers processors %s" % (drawn[-1], sorted(covered)))
if len(drawn) != len(set(drawn)) or set(drawn) != expected:
    problems.append("caches drawn %s, described %s" % (sorted(drawn), sorted(expected)))
# Each core drawn with its kind, the legend with the kinds drawn; a cache that its package's other
# processors do not share is one bar wherever its cores fit one row (156 pixels a core and more).
kinds = {(p["packageId"], p["coreId"]): p["coreType"] for p in doc["processors"]}
drawn = {(int(c.get("data-package")), int(c.get("data-core"))): c.get("data-core-type") for c in groups(svg, "core")}
if drawn != kinds or {e.get("data-core-type") for e in groups(svg, "legend-entry")} != set(kinds.values()) - {None}:
    problems.append("kinds drawn differ from %s" % kinds)
for cache in groups(svg, "cache"):
    ps = [p for p in doc["processors"] if str(p["initialApicId"]) in cache.get("data-sharing").split()]
    cores = {(p["packageId"], p["coreId"]): 0 for p in ps}
    for p in ps: cores[p["packageId"], p["coreId"]] += 1
    width = sum(max(156, 68 * n - 4) + 24 for n in cores.values()) - 8
    whole = sum(p["packageId"] == ps[0]["packageId"] for p in doc["processors"])
    if len(ps) < whole and width <= 1100 and len(cache.findall(NS + "rect")) != 1:
        problems.append("cache %s cut into rows" % cache.get("data-sharing"))
if int(svg.get("width")) > 1200:
    problems.append("the picture is %s pixels wide" % svg.get("width"))
sys.exit("\n".join("  " + p for p in problems[:10]) or None)
PY
}
rendered() { # rendered SVG: rsvg-convert makes a PNG of the picture's size
    rsvg-convert "$1" -o "$tmp/png" && python3 - "$tmp/png" "$1" <<'PY'
import struct, sys, xml.etree.ElementTree as ET
png, svg = open(sys.argv[1], "rb").read(24), ET.parse(sys.argv[2]).getroot()
size = (int(svg.get("width")), int(svg.get("height")))
sys.exit(png[:8] != b"\x89PNG\r\n\x1a\n" or struct.unpack(">II", png[16:24]) != size)
PY
}
check() { # check NAME [--replay DUMP]
    local name=$1
    shift
    expect "$name: quillinfo --svg failed" run "$@" --json --svg "$tmp/$name.svg" &&
        expect "$name: the picture does not match the description" matches "$tmp/out" "$tmp/$name.svg"
    expect "$name: rsvg-convert did not draw the picture" rendered "$tmp/$name.svg"
}

check live
for dump in "$@"; do check "$(basename "$dump" .txt)" --replay "$dump"; done
finish "quillinfo svg"
