#!/usr/bin/env bash
# Checks the quillinfo program end to end on replayed dumps.
#
#   quillinfo_test.sh QUILLINFO DUMP [GROUPS_DUMP]
#
# GROUPS_DUMP: a dump of 256 processors, which replays as 4 processor groups.
# QUILLINFO_RUNNER, when set, is put in front of every run (the Wine runner
# for a Windows build). Needs python3 for the JSON checks.
set -u

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 QUILLINFO DUMP [GROUPS_DUMP]" >&2
    exit 2
fi
quillinfo=$1
dump=$2
groups_dump=${3:-}
# Word splitting of the runner is wanted: it is a command with arguments.
# shellcheck disable=SC2206
runner=(${QUILLINFO_RUNNER:-})

passed=0
failed=0
ok() { passed=$((passed + 1)); }
bad() {
    echo "FAILED: $*"
    failed=$((failed + 1))
}
expect() { # expect DESCRIPTION CONDITION-COMMAND...
    local what=$1
    shift
    if "$@"; then ok; else bad "$what"; fi
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Runs quillinfo; stdout, stderr (carriage returns of Windows text mode
# dropped) and the exit status land in $tmp/out, $tmp/err and $rc.
run() {
    "${runner[@]}" "$quillinfo" "$@" >"$tmp/out.raw" 2>"$tmp/err.raw"
    rc=$?
    tr -d '\r' <"$tmp/out.raw" >"$tmp/out"
    tr -d '\r' <"$tmp/err.raw" >"$tmp/err"
}

lines() { wc -l <"$1" | tr -d ' '; }

# The JSON document: exact keys and sane values.
check_json() { # check_json FILE
    python3 - "$1" <<'EOF'
import json, sys

path = sys.argv[1]
raw = open(path, "rb").read()
problems = []
try:
    raw.decode("ascii")
except UnicodeDecodeError:
    problems.append("output is not plain ASCII")
doc = json.loads(raw)

def keys(obj, expected, where):
    if not isinstance(obj, dict):
        problems.append("%s is not an object" % where)
        return False
    if set(obj) != set(expected):
        problems.append("%s keys: extra %s, missing %s" % (where, sorted(set(obj) - set(expected)),
                                                           sorted(set(expected) - set(obj))))
        return False
    return True

def integer(value, where, bits=64, signed=False):
    if isinstance(value, bool) or not isinstance(value, int):
        problems.append("%s is not an integer: %r" % (where, value))
    elif signed and not -(1 << (bits - 1)) <= value < (1 << (bits - 1)):
        problems.append("%s out of range: %r" % (where, value))
    elif not signed and not 0 <= value < (1 << bits):
        problems.append("%s out of range: %r" % (where, value))

def boolean(value, where):
    if not isinstance(value, bool):
        problems.append("%s is not a bool: %r" % (where, value))

def string(value, where):
    if not isinstance(value, str):
        problems.append("%s is not a string: %r" % (where, value))

processor_keys = ["logicalIndex", "vendorString", "vendorId", "name", "family", "model", "stepping", "signature",
                  "apicId",
                  "initialApicId", "smtId", "coreId", "packageId", "maxLogicalPerPackage", "coresPerPackage",
                  "threadsPerCore", "features", "featureBits", "caches", "hypervisor"]
cache_keys = ["role", "level", "type", "associativity", "entryType", "entrySize", "numEntries", "size",
              "numSharing", "isShared", "groupId", "indexInGroup", "sharingIds"]

def check_processors(processors, prefix):
    if not isinstance(processors, list) or not processors:
        problems.append(prefix + " is not a non-empty array")
        processors = []
    for i, p in enumerate(processors):
        where = "%s[%d]" % (prefix, i)
        if not keys(p, processor_keys, where):
            continue
        if p["logicalIndex"] != i:
            problems.append("%s.logicalIndex is %r" % (where, p["logicalIndex"]))
        string(p["vendorString"], where + ".vendorString")
        string(p["name"], where + ".name")
        integer(p["vendorId"], where + ".vendorId", 32)
        for k in ["family", "model", "stepping", "signature"]:
            if p[k] is not None:
                integer(p[k], where + "." + k, 32)
        integer(p["apicId"], where + ".apicId", 32)
        for k in ["initialApicId", "smtId", "coreId", "packageId", "maxLogicalPerPackage", "coresPerPackage",
                  "threadsPerCore"]:
            integer(p[k], where + "." + k, 8)
        integer(p["featureBits"], where + ".featureBits")
        if not isinstance(p["features"], list) or not all(isinstance(f, str) for f in p["features"]):
            problems.append(where + ".features is not an array of names")
        elif len(p["features"]) != bin(p["featureBits"]).count("1"):
            problems.append(where + ": features and featureBits disagree")
        if not isinstance(p["caches"], list):
            problems.append(where + ".caches is not an array")
        else:
            for j, c in enumerate(p["caches"]):
                cw = "%s.caches[%d]" % (where, j)
                if not keys(c, cache_keys, cw):
                    continue
                if c["role"] not in ("unknown", "tlb", "cache"):
                    problems.append("%s.role %r" % (cw, c["role"]))
                if c["type"] not in ("unknown", "data", "instruction", "unified", "trace", "prefetch"):
                    problems.append("%s.type %r" % (cw, c["type"]))
                if c["entryType"] not in ("unknown", "page", "line", "microOp"):
                    problems.append("%s.entryType %r" % (cw, c["entryType"]))
                for k in ["level", "associativity", "entrySize", "numEntries", "numSharing"]:
                    integer(c[k], cw + "." + k, 32)
                integer(c["size"], cw + ".size")
                boolean(c["isShared"], cw + ".isShared")
                for k in ["groupId", "indexInGroup"]:
                    if c[k] is not None:
                        integer(c[k], cw + "." + k, 32)
                ids = c["sharingIds"]
                if not isinstance(ids, list) or ids != sorted(set(ids)) or not all(
                        isinstance(x, int) and 0 <= x <= 255 for x in ids):
                    problems.append(cw + ".sharingIds is not an ascending array of ids")
        h = p["hypervisor"]
        if h is not None and keys(h, ["vendorId", "vendor", "major", "minor", "signature"], where + ".hypervisor"):
            integer(h["vendorId"], where + ".hypervisor.vendorId", 32)
            string(h["vendor"], where + ".hypervisor.vendor")
            integer(h["major"], where + ".hypervisor.major", 16)
            integer(h["minor"], where + ".hypervisor.minor", 16)
            string(h["signature"], where + ".hypervisor.signature")

top = ["numLogicalProcessors", "numLogicalProcessorsInProcess", "numPackages", "activeProcessorMask",
       "processProcessorMask", "isSymmetric", "exports", "processors", "reports", "numLogicalProcessorsAllGroups", "rules",
       "groups"]
if keys(doc, top, "document"):
    for k in ["numLogicalProcessors", "numLogicalProcessorsInProcess", "numPackages"]:
        integer(doc[k], k, 32)
    integer(doc["activeProcessorMask"], "activeProcessorMask")
    integer(doc["processProcessorMask"], "processProcessorMask")
    boolean(doc["isSymmetric"], "isSymmetric")
    if doc["numLogicalProcessors"] < 1:
        problems.append("no logical processor")
    if doc["numLogicalProcessors"] <= 64 and bin(doc["activeProcessorMask"]).count("1") != doc["numLogicalProcessors"]:
        problems.append("activeProcessorMask does not have numLogicalProcessors bits")

    e = doc["exports"]
    levels = ["DataCacheSize", "DataCacheEntrySize", "DataCacheEntryType"]
    if keys(e, ["NumPackages", "MaxCoresPerPackage", "HyperThreaded", "LogicalProcessorsPerCore"] + levels,
            "exports"):
        integer(e["NumPackages"], "exports.NumPackages", 32)
        integer(e["MaxCoresPerPackage"], "exports.MaxCoresPerPackage", 8)
        boolean(e["HyperThreaded"], "exports.HyperThreaded")
        integer(e["LogicalProcessorsPerCore"], "exports.LogicalProcessorsPerCore", 8)
        if e["NumPackages"] != doc["numPackages"]:
            problems.append("exports.NumPackages differs from numPackages")
        for name in levels:
            if keys(e[name], ["1", "2", "3"], "exports." + name):
                for level in ("1", "2", "3"):
                    integer(e[name][level], "exports.%s.%s" % (name, level), 64 if name == "DataCacheSize" else 32)

    check_processors(doc["processors"], "processors")
    for g, group in enumerate(doc["groups"]):
        where = "groups[%d]" % g
        if keys(group, ["group", "numLogicalProcessors", "numPackages", "isSymmetric", "processors"], where):
            if group["group"] != g:
                problems.append(where + ".group is %r" % group["group"])
            integer(group["numLogicalProcessors"], where + ".numLogicalProcessors", 32)
            integer(group["numPackages"], where + ".numPackages", 32)
            boolean(group["isSymmetric"], where + ".isSymmetric")
            check_processors(group["processors"], where + ".processors")
    if not doc["groups"] or sum(g.get("numLogicalProcessors", 0) for g in doc["groups"]) != doc["numLogicalProcessorsAllGroups"]:
        problems.append("the groups do not hold numLogicalProcessorsAllGroups processors")

    reports = doc["reports"]
    if not isinstance(reports, list):
        problems.append("reports is not an array")
        reports = []
    for i, r in enumerate(reports):
        where = "reports[%d]" % i
        if keys(r, ["severity", "file", "line", "message"], where):
            integer(r["severity"], where + ".severity", 32, signed=True)
            integer(r["line"], where + ".line", 32, signed=True)
            string(r["file"], where + ".file")
            string(r["message"], where + ".message")

for p in problems[:20]:
    print("  " + p)
sys.exit(1 if problems else 0)
EOF
}

# 1. JSON of a replayed dump.
run --replay "$dump" --json
expect "--replay DUMP --json exits 0 (status $rc)" test "$rc" -eq 0
expect "--replay DUMP --json writes nothing to stderr" test ! -s "$tmp/err"
expect "--replay DUMP --json: the JSON document is not as documented" check_json "$tmp/out"
expect "json.tool does not accept the output" python3 -m json.tool "$tmp/out" /dev/null
cp "$tmp/out" "$tmp/first.json"

# 2. Options in the other order give the same document.
run --json "--replay=$dump"
expect "--json --replay=DUMP exits 0 (status $rc)" test "$rc" -eq 0
expect "options in another order give another document" cmp -s "$tmp/out" "$tmp/first.json"

# 2b. Family, model and stepping from leaf 1 of every processor (the dump is
# an Alder Lake, signature 0x906A4: display family 6, model 0x9A, stepping 4).
expect "family/model/stepping/signature are not 6/154/4/0x906A4 on every processor" python3 -c '
import json, sys
doc = json.load(open(sys.argv[1]))
sys.exit(0 if all((p["family"], p["model"], p["stepping"], p["signature"]) == (6, 154, 4, 0x906A4)
                  for p in doc["processors"]) else 1)' "$tmp/first.json"

# 2c. The description rules. The Ryzen 5 3600 dump answers leaf 0x80000006
# EDX 0x01009140: an L3 of 64 x 512 KB = 32 MB for the package, which the
# library's default rules report as shared by its 12 logical processors
# (0x80000008 ECX 0x700B); its leaf 0x8000001D L3 (00014163-03C0003F-
# 00003FFF: 16 ways, 64-byte lines, 16384 sets, 6 sharers) is the 16 MB of
# one core complex, which the current rules report.
expect "the JSON does not name the default rules" python3 -c '
import json, sys; sys.exit(0 if json.load(open(sys.argv[1]))["rules"] == "spec" else 1)' "$tmp/first.json"
zen2=$(dirname "$dump")/AuthenticAMD0870F10_K17_Matisse_CPUID2.txt
l3_of_processor_0() { python3 -c '
import json, sys
doc = json.load(open(sys.argv[1]))
l3 = [c for c in doc["processors"][0]["caches"] if c["level"] == 3 and c["role"] == "cache"]
print(doc["rules"], l3[0]["size"] >> 20, l3[0]["numSharing"])' "$tmp/out"; }
run --replay "$zen2" --json --rules spec
expect "--rules spec: not the package L3 of 32 MB ($(l3_of_processor_0))" test "$(l3_of_processor_0)" = "spec 32 12"
run --replay "$zen2" --json --rules current
expect "--rules current: not the core complex L3 of 16 MB for 6 ($(l3_of_processor_0))" test "$(l3_of_processor_0)" = "current 16 6"
run --replay "$zen2" --rules current
expect "the text does not say which rules it used" grep -q '^Rules: *current' "$tmp/out"
run --replay "$zen2" --rules newest
expect "--rules with an unknown value exits 2 (status $rc)" test "$rc" -eq 2

# 3. The text for a person: a summary, and every processor in full with --all.
run --replay "$dump"
expect "--replay DUMP exits 0 (status $rc)" test "$rc" -eq 0
expect "text output lacks the system summary" grep -q '^System' "$tmp/out"
expect "text output lacks the processor groups" grep -q '^Processors 0-1 ' "$tmp/out"
expect "text output lacks the id table" grep -q '^Processor ids' "$tmp/out"
expect "text output lacks the reports" grep -q '^Reports of the library' "$tmp/out"
expect "text output lacks the display model" grep -q 'Family/model/stepping: 6 / 154 / 4 .*leaf 1' "$tmp/out"
expect "the summary prints the L3 cache more than once" test "$(grep -c 'L3 unified cache' "$tmp/out")" -eq 1
cp "$tmp/out" "$tmp/summary.txt"
run --replay "$dump" --all
expect "--all exits 0 (status $rc)" test "$rc" -eq 0
expect "--all does not list every processor" test "$(grep -c '^Processor [0-9]' "$tmp/out")" -eq "$(python3 -c '
import json, sys; print(len(json.load(open(sys.argv[1]))["processors"]))' "$tmp/first.json")"
expect "the summary is not shorter than --all" test "$(lines "$tmp/summary.txt")" -lt "$(lines "$tmp/out")"
expect "a prefetch record is printed with a sharing clause" sh -c "! grep 'prefetch' '$tmp/out' | grep -q 'shared by'"

# 4. A dump that cannot be read: one line on stderr, status 2.
run --replay /nonexistent/quill/dump.txt --json
expect "--replay of a missing file exits 2 (status $rc)" test "$rc" -eq 2
expect "--replay of a missing file: not one line on stderr ($(lines "$tmp/err"))" test "$(lines "$tmp/err")" -eq 1
expect "--replay of a missing file writes to stdout" test ! -s "$tmp/out"

# 5. A file that is no dump at all.
printf 'this is not a CPUID dump\n' >"$tmp/garbage.txt"
run --replay "$tmp/garbage.txt"
expect "--replay of a file without CPUID data exits 2 (status $rc)" test "$rc" -eq 2
expect "--replay of a file without CPUID data: not one line on stderr" test "$(lines "$tmp/err")" -eq 1

# 6. Usage errors.
run --bogus
expect "an unknown option exits 2 (status $rc)" test "$rc" -eq 2
expect "an unknown option does not name itself" grep -q -- '--bogus' "$tmp/err"
expect "an unknown option does not print the usage" grep -q '^usage:' "$tmp/err"
run --replay
expect "--replay without a file exits 2 (status $rc)" test "$rc" -eq 2
run --json stray
expect "a stray argument exits 2 (status $rc)" test "$rc" -eq 2
run --replay "$dump" --dump --svg
expect "--dump and --svg both on standard output exit 2 (status $rc)" test "$rc" -eq 2
run --replay "$dump" --replay "$dump"
expect "--replay twice exits 2 (status $rc)" test "$rc" -eq 2
expect "--replay twice is not named" grep -q -- '--replay given twice' "$tmp/err"

# 7. Help lists every option.
run --help
expect "--help exits 0 (status $rc)" test "$rc" -eq 0
for option in --json --all --replay --library --rules --dump --svg --help; do
    expect "--help does not list $option" grep -q -- "$option" "$tmp/out"
done

# 8. A library that cannot be loaded: one line, status 1.
run --library /nonexistent/quill/library --json
expect "--library of a missing file exits 1 (status $rc)" test "$rc" -eq 1
expect "--library of a missing file: not one line on stderr" test "$(lines "$tmp/err")" -eq 1

# 9. Names with any bytes come out as escaped JSON: a processor whose brand
# string holds quotes, a backslash, control characters and Latin-1 bytes.
python3 - "$tmp/odd.txt" <<'EOF'
import struct, sys
brand = b'Quill "odd" \\ name\x01\x1f\xe9\x7f end'.ljust(48, b"\0")
lines = ["CPUID 00000000: 00000001-756E6547-6C65746E-49656E69",
         "CPUID 00000001: 000906A4-00000800-00000000-00000001",
         "CPUID 80000000: 80000004-00000000-00000000-00000000"]
for i in range(3):
    lines.append("CPUID %08X: %08X-%08X-%08X-%08X" % ((0x80000002 + i,) + struct.unpack("<4I", brand[16 * i:16 * i + 16])))
open(sys.argv[1], "w").write("\n".join(lines) + "\n")
EOF
run --replay "$tmp/odd.txt" --json
expect "--replay of the odd dump exits 0 (status $rc)" test "$rc" -eq 0
expect "the odd dump: the JSON document is not as documented" check_json "$tmp/out"
expect "the odd name does not come back byte for byte" python3 -c '
import json, sys
name = json.load(open(sys.argv[1]))["processors"][0]["name"]
sys.exit(0 if name == "Quill \"odd\" \\ name\x01\x1f\xe9\x7f end" else 1)' "$tmp/out"

# 10. A machine of 256 processors: 4 groups of 64 in the JSON, each
# processor once; the text and the picture show every group.
if [ -n "$groups_dump" ]; then
    run --replay "$groups_dump" --json
    expect "--replay GROUPS_DUMP --json exits 0 (status $rc)" test "$rc" -eq 0
    expect "GROUPS_DUMP: the JSON document is not as documented" check_json "$tmp/out"
    expect "GROUPS_DUMP: not 256 processors in 4 groups of 64, each once" python3 -c '
import json, sys
doc = json.load(open(sys.argv[1]))
groups = doc["groups"]
ids = [p["apicId"] for g in groups for p in g["processors"]]
sys.exit(0 if doc["numLogicalProcessorsAllGroups"] == 256 and len(groups) == 4 and len(set(ids)) == 256 and
         all(g["numLogicalProcessors"] == len(g["processors"]) == 64 for g in groups) and
         groups[0]["processors"] == doc["processors"] else 1)' "$tmp/out"
    run --replay "$groups_dump"
    expect "GROUPS_DUMP: the summary does not show 4 groups" test "$(grep -c '^=== Processor group [0-3]: 64 logical' "$tmp/out")" -eq 4
    run --replay "$groups_dump" --svg "$tmp/groups.svg"
    expect "GROUPS_DUMP: --svg does not draw 4 groups of 64 processors" python3 -c '
import re, sys
svg = open(sys.argv[1]).read()
groups = re.split(r"<svg class=\"group\"", svg)[1:]
sys.exit(0 if len(groups) == 4 and all(len(re.findall(r"<g class=\"cpu\"", g)) == 64 for g in groups) else 1)' "$tmp/groups.svg"
fi

echo "quillinfo: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
