#!/usr/bin/env bash
# quillinfo --replay DUMP --json on every dump of a folder: each described
# (at most 64 processors, each with family, model and stepping: every dump has
# leaf 1; caches of level 1 to 4 with a size and a line) without a crash, a
# hang or a sanitizer finding. No folder: exit 77.
#   replay_all_dumps.sh QUILLINFO DUMP-FOLDER
usage="DUMP-FOLDER"
. "$(dirname "$0")/lib.sh"
folder=${1:?usage: QUILLINFO DUMP-FOLDER}
[ -d "$folder" ] || { echo "no dump folder at $folder: skipped" && exit 77; }
replayed() { # replayed DUMP
    run --replay "$1" --json || { echo "  exit status $rc: $(head -c 300 "$tmp/err")" && return 1; }
    python3 -c '
import json, sys
ps = json.load(open(sys.argv[1], encoding="ascii"))["processors"]
def sane(c):  # a cache of level 1 to 4 (an eDRAM) has a size and a line; no record has a level past 4
    return c["level"] <= 4 and (c["role"] != "cache" or not c["level"] or c["size"] and c["entrySize"])
sys.exit(not 1 <= len(ps) <= 64 or any(not p["vendorString"] or p["caches"] is None or
         not all(map(sane, p["caches"])) or None in (p["family"], p["model"], p["stepping"], p["signature"])
         for p in ps))' "$tmp/out"
}
runner=(timeout 120 "${runner[@]}")
while IFS= read -r -d '' dump; do
    expect "$dump is not described" replayed "$dump"
done < <(find "$folder" -type f -name '*.txt' ! -name 'README*' -print0 | sort -z)
finish "replayed dumps"
