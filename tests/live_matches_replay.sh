#!/usr/bin/env bash
# On the machine a dump was read from, describing the live machine and
# replaying the dump give the same description: everything but the APIC ids
# (which this machine's hypervisor hands out afresh) and what derives from
# them. On any other machine the test is skipped.
#
#   live_matches_replay.sh QUILLINFO DUMP
#
# QUILLINFO_RUNNER, when set, is put in front of every run.
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 QUILLINFO DUMP" >&2
    exit 2
fi
quillinfo=$1
dump=$2
# shellcheck disable=SC2206
runner=(${QUILLINFO_RUNNER:-})
live=$(mktemp)
replay=$(mktemp)
trap 'rm -f "$live" "$replay"' EXIT

"${runner[@]}" "$quillinfo" --json >"$live" || { echo "live run failed"; echo "0 passed, 1 failed"; exit 1; }
"${runner[@]}" "$quillinfo" --json --replay "$dump" >"$replay" || { echo "replay failed"; echo "0 passed, 1 failed"; exit 1; }

python3 - "$live" "$replay" <<'PY'
import json, sys

live = json.load(open(sys.argv[1]))
replay = json.load(open(sys.argv[2]))

def identity(doc):
    p = doc["processors"][0] if doc["processors"] else {}
    return (p.get("vendorString"), p.get("name"), p.get("featureBits"), len(doc["processors"]))

if identity(live) != identity(replay):
    print("this is not the machine of the dump: skipped")
    print("0 passed, 0 failed, 1 skipped")
    sys.exit(0)

CACHE_KEYS = ["role", "level", "type", "associativity", "entryType", "entrySize", "numEntries", "size",
              "numSharing", "isShared"]
PROCESSOR_KEYS = ["vendorString", "vendorId", "name", "family", "model", "stepping", "maxLogicalPerPackage",
                  "coresPerPackage", "threadsPerCore", "features", "featureBits", "hypervisor"]
TOP_KEYS = ["numLogicalProcessors", "numLogicalProcessorsInProcess", "numPackages", "activeProcessorMask",
            "processProcessorMask", "isSymmetric", "exports"]

passed = failed = 0
def check(what, a, b):
    global passed, failed
    if a == b:
        passed += 1
    else:
        failed += 1
        print(f"FAILED: {what}: live {a!r}, replay {b!r}")

for key in TOP_KEYS:
    check(key, live[key], replay[key])
for i, (a, b) in enumerate(zip(live["processors"], replay["processors"])):
    for key in PROCESSOR_KEYS:
        check(f"processor {i} {key}", a[key], b[key])
    check(f"processor {i} cache count", len(a["caches"]), len(b["caches"]))
    for j, (ca, cb) in enumerate(zip(a["caches"], b["caches"])):
        for key in CACHE_KEYS:
            check(f"processor {i} cache {j} {key}", ca[key], cb[key])
print(f"live against replay: {passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
PY
