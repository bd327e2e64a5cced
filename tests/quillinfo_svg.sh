#!/usr/bin/env bash
# quillinfo --svg against the JSON of the same run, on this machine and on
# replayed dumps: every processor drawn once, inside its core and package,
# with its APIC id; every distinct cache drawn once with its level, type,
# size and sharers, its bars under exactly the processors that share it; and
# a real SVG renderer (rsvg-convert) draws the picture at its size.
#
#   quillinfo_svg.sh QUILLINFO DUMP...
#
# QUILLINFO_RUNNER, when set, is put in front of every run.
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 QUILLINFO DUMP..." >&2
    exit 2
fi
quillinfo=$1
shift
# shellcheck disable=SC2206
runner=(${QUILLINFO_RUNNER:-})
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0

check() { # check NAME [--replay DUMP]
    local name=$1
    shift
    if ! "${runner[@]}" "$quillinfo" "$@" --json --svg "$tmp/$name.svg" >"$tmp/$name.json"; then
        echo "FAILED: $name: quillinfo --svg failed"
        failed=$((failed + 1))
        return
    fi
    if python3 - "$tmp/$name.json" "$tmp/$name.svg" <<'PY'; then
import json, sys
import xml.etree.ElementTree as ET

doc = json.load(open(sys.argv[1]))
svg = ET.parse(sys.argv[2]).getroot()
NS = "{http://www.w3.org/2000/svg}"
problems = []

def groups(element, cls):
    return [g for g in element.iter(NS + "g") if g.get("class") == cls]

# Processors: once each, inside their core and package.
cells = {}
for package in groups(svg, "package"):
    for core in groups(package, "core"):
        if core.get("data-package") != package.get("data-package"):
            problems.append("core %s sits in another package" % core.get("data-core"))
        for cpu in groups(core, "cpu"):
            index = int(cpu.get("data-logical-index"))
            if index in cells:
                problems.append("processor %d drawn twice" % index)
            rect = cpu.find(NS + "rect")
            cells[index] = (int(cpu.get("data-apic-id")), int(package.get("data-package")),
                            int(core.get("data-core")), cpu.get("data-row"),
                            float(rect.get("x")) + float(rect.get("width")) / 2)
processors = {p["logicalIndex"]: p for p in doc["processors"]}
if set(cells) != set(processors):
    problems.append("processors drawn %s, described %s" % (sorted(cells), sorted(processors)))
for index, p in processors.items():
    if index in cells and cells[index][:3] != (p["initialApicId"], p["packageId"], p["coreId"]):
        problems.append("processor %d drawn as %s" % (index, cells[index][:3]))

# Caches: every distinct one of the JSON, drawn once, over its sharers (the
# ids the library names and the processors that hold it).
expected = set()
for p in doc["processors"]:
    for c in p["caches"]:
        if c["role"] == "cache" and c["type"] in ("data", "instruction", "unified", "trace"):
            sharing = tuple(sorted(set(c["sharingIds"]) | {p["initialApicId"]}))
            expected.add((c["level"], c["type"], c["size"], sharing))
drawn = []
for cache in groups(svg, "cache"):
    sharing = tuple(int(i) for i in cache.get("data-sharing").split())
    key = (int(cache.get("data-level")), cache.get("data-type"), int(cache.get("data-size")), sharing)
    drawn.append(key)
    covered = set()
    for bar in cache.iter(NS + "rect"):
        left = float(bar.get("x"))
        right = left + float(bar.get("width"))
        covered |= {i for i, cell in cells.items() if cell[3] == bar.get("data-row") and left <= cell[4] <= right}
    spanned = {i for i, cell in cells.items() if cell[0] in sharing}
    if covered != spanned:
        problems.append("cache %s covers processors %s, shared by %s" % (key, sorted(covered), sorted(spanned)))
if len(drawn) != len(set(drawn)) or set(drawn) != expected:
    problems.append("caches drawn %s, described %s" % (sorted(drawn), sorted(expected)))
if int(svg.get("width")) > 1200:
    problems.append("the picture is %s pixels wide" % svg.get("width"))

for problem in problems[:10]:
    print("  " + problem)
sys.exit(1 if problems else 0)
PY
        passed=$((passed + 1))
    else
        echo "FAILED: $name: the picture does not match the description"
        failed=$((failed + 1))
    fi
    # A real renderer draws it, at the size the picture gives.
    if rsvg-convert "$tmp/$name.svg" -o "$tmp/$name.png" && python3 - "$tmp/$name.png" "$tmp/$name.svg" <<'PY'; then
import struct, sys
import xml.etree.ElementTree as ET
png = open(sys.argv[1], "rb").read(32)
svg = ET.parse(sys.argv[2]).getroot()
assert png[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
assert struct.unpack(">II", png[16:24]) == (int(svg.get("width")), int(svg.get("height"))), "another size"
PY
        passed=$((passed + 1))
    else
        echo "FAILED: $name: rsvg-convert did not draw the picture"
        failed=$((failed + 1))
    fi
}

if ! command -v rsvg-convert >/dev/null; then
    echo "rsvg-convert is missing (Debian package librsvg2-bin)"
    echo "quillinfo svg: 0 passed, 1 failed"
    exit 1
fi
check live
for dump in "$@"; do
    check "$(basename "$dump" .txt)" --replay "$dump"
done
echo "quillinfo svg: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
