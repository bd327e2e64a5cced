#!/usr/bin/env bash
# quillinfo --dump, then --replay of that file, describes the same machine:
# this one, replayed ones (processor groups come back alike) and one whose
# maximum leaves are absurd, which still gives a bounded dump.
#   quillinfo_roundtrip.sh QUILLINFO DUMP...
usage="DUMP..."
. "$(dirname "$0")/lib.sh"
same() { # same FIRST.json SECOND.json
    python3 - "$1" "$2" <<'PY'
import json, sys
first, second = (json.load(open(path)) for path in sys.argv[1:3])
# A dump holds the processors of the process only: the system's count, masks
# and packages may differ when the process could not use them all.
if first["numLogicalProcessors"] != first["numLogicalProcessorsInProcess"]:
    for doc in (first, second):
        for key in ("numLogicalProcessors", "activeProcessorMask", "processProcessorMask", "numPackages"):
            doc.pop(key)
        doc["exports"].pop("NumPackages")
# What the operating system enabled (XCR0, and on Windows the state it
# reports) is not in a CPUID dump: which flags are usable may differ.
for doc in (first, second):
    for p in doc["processors"] + [p for g in doc["groups"] for p in g["processors"]]:
        p.pop("notUsable"), p.pop("x86_64Level")
# Processors that differ: the machine-level exports answer for the processor
# the program runs on, live wherever the scheduler put it, replayed processor 0.
if not first["isSymmetric"]:
    first.pop("exports"), second.pop("exports")
for key in first.keys() | second.keys():
    if first.get(key) != second.get(key):
        print("  %s: %s against %s" % (key, json.dumps(first.get(key))[:300], json.dumps(second.get(key))[:300]))
sys.exit(first != second)
PY
}
roundtrip() { # roundtrip NAME [--replay DUMP]
    local name=$1
    shift
    expect "$name: the capture failed" run "$@" --json --dump "$tmp/$name.dump" && cp "$tmp/out" "$tmp/$name.json" &&
        expect "$name: the replay of the capture failed" run --replay "$tmp/$name.dump" --json &&
        expect "$name: capture and replay describe another machine" same "$tmp/$name.json" "$tmp/out"
}

roundtrip live
for dump in "$@"; do roundtrip "$(basename "$dump" .txt)" --replay "$dump"; done
# Every range reports 0xFFFFFFFF: the capture stops at 256 leaves per range.
echo "CPU 0:" >"$tmp/absurd.txt"
for leaf in 0x00000000 0x40000000 0x80000000 0x80860000 0xc0000000; do
    echo "   $leaf 0x00: eax=0xffffffff ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69" >>"$tmp/absurd.txt"
done
echo "   0x00000001 0x00: eax=0x000906a4 ebx=0x00000800 ecx=0x00000000 edx=0x00000001" >>"$tmp/absurd.txt"
roundtrip absurd --replay "$tmp/absurd.txt"
leaves=$(grep -c '^   0x' "$tmp/absurd.dump")
expect "the dump of absurd maximum leaves has $leaves lines" test "$leaves" -ge 5 -a "$leaves" -le $((5 * 256 + 1 + 64))
finish "quillinfo round trip"
