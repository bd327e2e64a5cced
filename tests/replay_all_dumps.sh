#!/usr/bin/env bash
# Replays every dump of a folder through quillinfo --json: each must be
# described (exit 0, one JSON document with one entry per processor kept, at
# most 64, each with its family, model and stepping) without a crash, a hang
# or a sanitizer finding.
#
#   replay_all_dumps.sh QUILLINFO DUMP-FOLDER
#
# A missing folder is skipped (exit status 77). QUILLINFO_RUNNER, when set, is put in front of
# every run (the Wine runner for a Windows build).
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 QUILLINFO DUMP-FOLDER" >&2
    exit 2
fi
quillinfo=$1
folder=$2
# shellcheck disable=SC2206
runner=(${QUILLINFO_RUNNER:-})

if [ ! -d "$folder" ]; then
    echo "no dump folder at $folder: skipped"
    exit 77
fi

passed=0
failed=0
out=$(mktemp)
trap 'rm -f "$out"' EXIT
while IFS= read -r -d '' dump; do
    if ! timeout 120 "${runner[@]}" "$quillinfo" --replay "$dump" --json >"$out" 2>"$out.err"; then
        echo "FAILED: $dump: exit status $?"
        head -5 "$out.err"
        failed=$((failed + 1))
        continue
    fi
    if ! python3 - "$out" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1], encoding="ascii"))
processors = doc["processors"]
assert 1 <= len(processors) <= 64, len(processors)
for p in processors:
    assert p["vendorString"] and p["caches"] is not None
    # Every dump has leaf 1: display family, model and stepping on every processor.
    assert None not in (p["family"], p["model"], p["stepping"], p["signature"]), p["logicalIndex"]
PY
    then
        echo "FAILED: $dump: unexpected JSON"
        failed=$((failed + 1))
        continue
    fi
    passed=$((passed + 1))
done < <(find "$folder" -type f -name '*.txt' ! -name 'README*' -print0 | sort -z)
rm -f "$out.err"
echo "replayed dumps: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
