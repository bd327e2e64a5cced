#!/usr/bin/env bash
# quillinfo end to end on replayed dumps: the JSON document, the text, the
# description rules, errors and exit codes, and 256 processors in 4 groups.
#   quillinfo_test.sh QUILLINFO DUMP GROUPS_DUMP
# DUMP is the Alder Lake dump (signature 0x906A4) beside the Ryzen 5 3600 one;
# GROUPS_DUMP one of 256 processors.
usage="DUMP GROUPS_DUMP"
. "$(dirname "$0")/lib.sh"
dump=$1
groups_dump=${2:?usage: QUILLINFO DUMP GROUPS_DUMP}
lines() { wc -l <"$1" | tr -d ' '; }
status() { # status WANTED ARGS...: quillinfo ARGS exits WANTED
    local wanted=$1
    shift
    run "$@"
    expect "quillinfo $* exits $rc, not $wanted" test "$rc" -eq "$wanted"
}
# py EXPRESSION FILE: prints EXPRESSION of the JSON document d of FILE; is FILE VALUE EXPRESSION: it prints VALUE.
py() { python3 -c "import json, sys; d = json.load(open(sys.argv[1])); print($1)" "$2"; }
is() { test "$(py "$3" "$1")" = "$2"; }

# The document has exactly the documented keys, and sane values.
check_json() {
    python3 - "$1" <<'EOF'
import json, sys
raw = open(sys.argv[1], "rb").read()
doc, problems = json.loads(raw), [] if raw.isascii() else ["output is not plain ASCII"]
U8, U16, U32, U64, I32 = 1 << 8, 1 << 16, 1 << 32, 1 << 64, -(1 << 31)

def bad(v, shape, where):  # a tuple: null or its shape; a set: one of its names; a number: an integer bound
    if type(shape) is tuple:
        return [] if v is None else bad(v, shape[0], where)
    if type(shape) is dict:
        if type(v) is not dict or set(v) != set(shape):
            return ["%s: keys %s, documented %s" % (where, sorted(v) if type(v) is dict else v, sorted(shape))]
        return [p for k, s in shape.items() for p in bad(v[k], s, where + "." + k)]
    if type(shape) is list:
        if type(v) is not list:
            return [where + " is not an array"]
        return [p for i, x in enumerate(v) for p in bad(x, shape[0], "%s[%d]" % (where, i))]
    ok = (type(v) is shape if shape in (str, bool) else type(v) is str and v in shape if type(shape) is set
          else type(v) is int and (shape <= v < -shape if shape < 0 else 0 <= v < shape))
    return [] if ok else ["%s is %r" % (where, v)]

cache = dict(role={"unknown", "tlb", "cache"}, level=U32, associativity=U32, entrySize=U32, numEntries=U32,
             type={"unknown", "data", "instruction", "unified", "trace", "prefetch"}, size=U64, numSharing=U32,
             entryType={"unknown", "page", "line", "microOp"}, isShared=bool, groupId=(U32,), indexInGroup=(U32,),
             sharingIds=[U16])
processor = dict(logicalIndex=U32, vendorString=str, vendorId=U32, name=str, microarchitecture=(str,), family=(U32,), model=(U32,),
                 stepping=(U32,), signature=(U32,), apicId=U32, initialApicId=U8, smtId=U8, coreId=U8, packageId=U8,
                 maxLogicalPerPackage=U8, coresPerPackage=U8, threadsPerCore=U8, features=[str], featureBits=U64,
                 flags=[str], notUsable=[str], x86_64Level=5, avx10Version=U8,
                 coreType=({"performance", "efficiency", "low-power efficiency"},),
                 caches=[cache], hypervisor=(dict(vendorId=U32, vendor=str, major=U16, minor=U16, signature=str),))
processor["osProcessor"] = (U32,)
levels = {"1": U32, "2": U32, "3": U32}
problems += bad(doc, dict(
    numLogicalProcessors=U32, numLogicalProcessorsInProcess=U32, numPackages=U32, isSymmetric=bool,
    activeProcessorMask=U64, processProcessorMask=U64, numLogicalProcessorsAllGroups=U32,
    rules={"classic", "current"}, processors=[processor], reports=[dict(severity=I32, file=str, line=I32, message=str, processor=(U32,))],
    exports=dict(NumPackages=U32, MaxCoresPerPackage=U8, HyperThreaded=bool, LogicalProcessorsPerCore=U8,
                 DataCacheSize=dict.fromkeys("123", U64), DataCacheEntrySize=levels, DataCacheEntryType=levels),
    groups=[dict(group=U32, numLogicalProcessors=U32, numPackages=U32, isSymmetric=bool, processors=[processor])]),
    "document")
need = lambda ok, what: ok or problems.append(what)
if not problems:
    groups, n = doc["groups"], doc["numLogicalProcessors"]
    for ps in [doc["processors"]] + [g["processors"] for g in groups]:
        need(ps and [p["logicalIndex"] for p in ps] == list(range(len(ps))), "processors not numbered from 0")
        need(all(len(p["features"]) == bin(p["featureBits"]).count("1") for p in ps), "features, featureBits differ")
        need(all(c["sharingIds"] == sorted(set(c["sharingIds"])) for p in ps for c in p["caches"]),
             "sharingIds not ascending")
        need(all(p["flags"] == sorted(set(p["flags"])) and set(p["notUsable"]) <= set(p["flags"]) for p in ps),
             "flags not sorted, or notUsable not among them")
    need(n >= 1 and (n > 64 or bin(doc["activeProcessorMask"]).count("1") == n), "activeProcessorMask is not n bits")
    need(doc["exports"]["NumPackages"] == doc["numPackages"], "exports.NumPackages differs from numPackages")
    need(groups and [g["group"] for g in groups] == list(range(len(groups))) and
         sum(g["numLogicalProcessors"] for g in groups) == doc["numLogicalProcessorsAllGroups"],
         "the groups do not hold numLogicalProcessorsAllGroups processors")
sys.exit("\n".join("  " + p for p in problems[:20]) or None)
EOF
}

status 0 --replay "$dump" --json
expect "--replay DUMP --json writes to stderr" test ! -s "$tmp/err"
expect "--replay DUMP --json: the document is not as documented" check_json "$tmp/out"
cp "$tmp/out" "$tmp/first.json"
status 0 --json "--replay=$dump"
expect "options in another order give another document" cmp -s "$tmp/out" "$tmp/first.json"
# Leaf 1 EAX 0x906A4 on every processor: display family 6, model 0x9A, stepping 4.
expect "family/model/stepping/signature are not 6/154/4/0x906A4 everywhere" is "$tmp/first.json" True \
    'all((p["family"], p["model"], p["stepping"], p["signature"]) == (6, 154, 4, 0x906A4) for p in d["processors"])'
expect "the JSON does not name the default rules, current" is "$tmp/first.json" current 'd["rules"]'
# One description's reports, each from where it came: the classic rules'
# symmetry report, which every machine-wide query makes again, once.
run --replay "$dump" --json --rules classic
expect "reports without a processor, or repeated by the queries" is "$tmp/out" True '
all(r["processor"] is not None for r in d["reports"]) and
[r["message"] for r in d["reports"]].count("machine->GetIsSymmetric()") == 1'
run --replay "$dump" --rules classic
expect "the text does not list a report with its count and processors" \
    grep -Eq '^  (note|warning|error|severe)( x[0-9]+)?, processors? [0-9]' "$tmp/out"
# Alder Lake: AVX2, BMI1/2, FMA, MOVBE ... but no AVX-512 (leaf 7 EBX 239C27EB), XCR0 207: v3, all usable.
expect "the flags are not v3 with avx2 and without avx512f, all usable" is "$tmp/first.json" True \
    'all((p["x86_64Level"], "avx2" in p["flags"], "avx512f" in p["flags"], p["notUsable"], p["avx10Version"])
         == (3, True, False, [], 0) for p in d["processors"])'
# Leaf 7 EDX bit 15 set, leaf 0x1A EAX 0x40000001 on processors 0-1, 0x20000001 on 2-5, under either rules.
kinds='[p["coreType"][0] for p in d["processors"]]'
expect "the core types are not PPEEEE" is "$tmp/first.json" "['p', 'p', 'e', 'e', 'e', 'e']" "$kinds"
run --replay "$dump" --json --rules current
expect "--rules current: the core types are not PPEEEE" is "$tmp/out" "['p', 'p', 'e', 'e', 'e', 'e']" "$kinds"
expect "not 2 Golden Cove (leaf 0x1A 0x40) and 4 Gracemont (0x20) processors" is "$tmp/first.json" True \
    '[p["microarchitecture"] for p in d["processors"]] == ["Golden Cove"] * 2 + ["Gracemont"] * 4'
# x2APIC ids 0, 1 (one core of 2 threads) and 0x10 to 0x16 even (4 cores of 1), leaf 0xB package shift 6.
counts='[(p["maxLogicalPerPackage"], p["coresPerPackage"], p["threadsPerCore"]) for p in d["processors"]]'
expect "the counts are not the package's own 6 and 5, and the core's threads" is "$tmp/first.json" \
    "[(6, 5, 2), (6, 5, 2), (6, 5, 1), (6, 5, 1), (6, 5, 1), (6, 5, 1)]" "$counts"

# The Ryzen 5 3600: leaf 0x80000006 EDX 0x01009140 is an L3 of 64 x 512 KB =
# 32 MB for the package, shared by its 12 logical processors (0x80000008 ECX
# 0x700B) under the default rules; its leaf 0x8000001D L3 (00014163-03C0003F-
# 00003FFF: 16 ways, 64-byte lines, 16384 sets, 6 sharers) is the 16 MB of one
# core complex, which the current rules report.
zen2=$(dirname "$dump")/AuthenticAMD0870F10_K17_Matisse_CPUID2.txt
l3='d["rules"], [(c["size"] >> 20, c["numSharing"]) for c in d["processors"][0]["caches"] if c["level"] == 3
                  and c["role"] == "cache"]'
run --replay "$zen2" --json --rules classic
expect "--rules classic: not the package L3 of 32 MB ($(py "$l3" "$tmp/out"))" is "$tmp/out" "classic [(32, 12)]" "$l3"
run --replay "$zen2" --json --rules current
expect "--rules current: not the L3 of 16 MB for 6 ($(py "$l3" "$tmp/out"))" is "$tmp/out" "current [(16, 6)]" "$l3"
run --replay "$zen2"
expect "the text does not say which rules it used" grep -q '^Rules: *current' "$tmp/out"
expect "the text does not say what hosts get" grep -q 'SetQuillDescriptionRules' "$tmp/out"
status 2 --replay "$zen2" --rules newest

# The text: a summary, and every processor in full with --all.
status 0 --replay "$dump"
for line in '^System' '^Performance cores, processors 0-1: Golden Cove ' '^Efficiency cores, processors 2-5: Gracemont ' '^Processor ids' \
    '^Reports of the library' 'Family/model/stepping: 6 / 154 / 4 .*leaf 1' '^Feature flags (all processors)' \
    '^  Flags:  *3dnowprefetch abm ' '^  x86-64 level: v3$'; do expect "the text lacks $line" grep -q "$line" "$tmp/out"; done
expect "the summary prints the L3 cache more than once" test "$(grep -c 'L3 unified cache' "$tmp/out")" -eq 1
cp "$tmp/out" "$tmp/summary.txt"
status 0 --replay "$dump" --all
expect "--all does not list every processor" test "$(grep -c '^Processor [0-9]' "$tmp/out")" -eq \
    "$(py 'len(d["processors"])' "$tmp/first.json")"
expect "the summary is not shorter than --all" test "$(lines "$tmp/summary.txt")" -lt "$(lines "$tmp/out")"
expect "a prefetch record is printed with a sharing clause" sh -c "! grep prefetch '$tmp/out' | grep -q 'shared by'"

# Errors: a dump that cannot be read, usage errors, a library that cannot be loaded.
printf 'this is not a CPUID dump\n' >"$tmp/garbage.txt"
for bad in /nonexistent/quill/dump.txt "$tmp/garbage.txt"; do
    run --replay "$bad" --json
    expect "--replay $bad: not status 2 and one line on stderr ($rc)" test "$rc:$(lines "$tmp/err")" = 2:1
    expect "--replay $bad writes to stdout" test ! -s "$tmp/out"
done
status 2 --bogus
expect "--bogus is not named" grep -q -- --bogus "$tmp/err"
expect "--bogus does not print the usage" grep -q '^usage:' "$tmp/err"
status 2 --replay
status 2 --json stray
status 2 --replay "$dump" --dump --svg
status 0 --replay "$dump" --dump "$tmp/capture.txt"
expect "--dump FILE does not just say where the capture went" \
    test "$(lines "$tmp/out"):$(grep -c "wrote .* to $tmp/capture.txt" "$tmp/out")" = 1:1
status 2 --replay "$dump" --replay "$dump"
expect "--replay twice is not named" grep -q -- '--replay given twice' "$tmp/err"
status 0 --help
for option in --json --all --replay --library --rules --dump --svg --help SetQuillDescriptionRules
do expect "--help does not list $option" grep -q -- "$option" "$tmp/out"; done
run --library /nonexistent/quill/library --json
expect "--library of a missing file: not status 1 and one line ($rc)" test "$rc:$(lines "$tmp/err")" = 1:1

# A brand string of quotes, a backslash, control and Latin-1 bytes comes out
# as escaped JSON, byte for byte.
python3 - "$tmp/odd.txt" <<'EOF'
import struct, sys
words = struct.unpack("<12I", b'Quill "odd" \\ name\x01\x1f\xe9\x7f end'.ljust(48, b"\0"))
open(sys.argv[1], "w").write("".join("CPUID %08X: %08X-%08X-%08X-%08X\n" % row for row in [
    (0, 1, 0x756E6547, 0x6C65746E, 0x49656E69), (1, 0x622, 0x800, 0, 1), (0x80000000, 0x80000004, 0, 0, 0)] +
    [(0x80000002 + i,) + words[4 * i:4 * i + 4] for i in range(3)]))
EOF
status 0 --replay "$tmp/odd.txt" --json
expect "the odd dump: the document is not as documented" check_json "$tmp/out"
expect "the odd name does not come back byte for byte" is "$tmp/out" True \
    'd["processors"][0]["name"] == "Quill \"odd\" \\ name\x01\x1f\xe9\x7f end"'
expect "Intel family 6 model 2, no known part, is named" is "$tmp/out" None 'd["processors"][0]["microarchitecture"]'

# 256 processors: 4 groups of 64 in the JSON, each processor once, with its
# position in the dump as its OS number; the text
# and the picture show every group.
status 0 --replay "$groups_dump" --json
expect "GROUPS_DUMP: the document is not as documented" check_json "$tmp/out"
expect "GROUPS_DUMP: not 256 processors in 4 groups of 64, each once" is "$tmp/out" True '
d["numLogicalProcessorsAllGroups"] == 256 and len(d["groups"]) == 4 and d["groups"][0]["processors"] == d["processors"]
and len({p["apicId"] for g in d["groups"] for p in g["processors"]}) == 256
and {p["osProcessor"] for g in d["groups"] for p in g["processors"]} == set(range(256))
and all(g["numLogicalProcessors"] == len(g["processors"]) == 64 for g in d["groups"])'
status 0 --replay "$groups_dump"
expect "GROUPS_DUMP: the text does not show 4 groups" test "$(grep -c '^=== Processor group [0-3]: 64 logical' \
    "$tmp/out")" -eq 4
status 0 --replay "$groups_dump" --svg "$tmp/groups.svg"
expect "GROUPS_DUMP: --svg does not draw 4 groups of 64 processors" python3 -c '
import re, sys
groups = re.split(r"<svg class=\"group\"", open(sys.argv[1]).read())[1:]
sys.exit(len(groups) != 4 or any(len(re.findall(r"<g class=\"cpu\"", g)) != 64 for g in groups))' "$tmp/groups.svg"
finish quillinfo
