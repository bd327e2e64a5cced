#!/usr/bin/env bash
# Capture and replay: quillinfo --dump writes this machine's CPUID answers,
# and --replay of that file describes the machine exactly as the live run
# did. The same for dumps of replayed machines (given as arguments; one of
# several processor groups comes back in the same groups), and a
# machine whose maximum leaves are absurd still gives a bounded dump.
#
#   quillinfo_roundtrip.sh QUILLINFO DUMP...
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

# compare NAME FIRST.json SECOND.json: the two descriptions must be equal,
# but for what a dump cannot hold (see below).
compare() {
    if python3 - "$2" "$3" <<'PY'; then passed=$((passed + 1)); else echo "FAILED: $1"; failed=$((failed + 1)); fi
import json, sys
first, second = (json.load(open(path)) for path in sys.argv[1:3])
# A dump holds the processors of the process only: when the process could not
# use every processor of the system, the system's count and mask, and the
# packages counted from them, legitimately differ in the replay.
if first["numLogicalProcessors"] != first["numLogicalProcessorsInProcess"]:
    for doc in (first, second):
        for key in ("numLogicalProcessors", "activeProcessorMask", "processProcessorMask", "numPackages"):
            doc.pop(key)
        doc["exports"].pop("NumPackages")
# On a machine whose processors differ, the machine-level exports answer for
# the processor the program runs on: live, wherever the scheduler put it;
# replayed, processor 0.
if not first["isSymmetric"]:
    for doc in (first, second):
        doc.pop("exports")
differences = [key for key in first if first[key] != second.get(key)]
for key in differences:
    print("  %s differs: %s against %s" % (key, json.dumps(first[key])[:300], json.dumps(second[key])[:300]))
sys.exit(1 if differences or first.keys() != second.keys() else 0)
PY
}

# roundtrip NAME [--replay DUMP]: describe and dump in one run, replay the dump.
roundtrip() {
    local name=$1
    shift
    if ! "${runner[@]}" "$quillinfo" "$@" --json --dump "$tmp/$name.dump" >"$tmp/$name.json"; then
        echo "FAILED: $name: the capturing run failed"
        failed=$((failed + 1))
        return
    fi
    if ! "${runner[@]}" "$quillinfo" --replay "$tmp/$name.dump" --json >"$tmp/$name.replay.json"; then
        echo "FAILED: $name: the replay of the capture failed"
        failed=$((failed + 1))
        return
    fi
    compare "$name: capture and replay describe another machine" "$tmp/$name.json" "$tmp/$name.replay.json"
}

roundtrip live
for dump in "$@"; do
    roundtrip "$(basename "$dump" .txt)" --replay "$dump"
done

# Absurd maximum leaves: every range reports 0xFFFFFFFF. The capture stops at
# 256 leaves per range (five ranges), and replays alike.
{
    echo "CPU 0:"
    for leaf in 0x00000000 0x40000000 0x80000000 0x80860000 0xc0000000; do
        echo "   $leaf 0x00: eax=0xffffffff ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69"
    done
    echo "   0x00000001 0x00: eax=0x000906a4 ebx=0x00000800 ecx=0x00000000 edx=0x00000001"
} >"$tmp/absurd.txt"
roundtrip absurd --replay "$tmp/absurd.txt"
lines=$(grep -c '^   0x' "$tmp/absurd.dump" 2>/dev/null || echo 0)
if [ "$lines" -ge 5 ] && [ "$lines" -le $((5 * 256 + 1 + 64)) ]; then
    passed=$((passed + 1))
else
    echo "FAILED: a dump of a machine with absurd maximum leaves has $lines lines"
    failed=$((failed + 1))
fi

echo "quillinfo round trip: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
