"""The Python binding against the C answers: quillinfo's JSON of the same
machine, replays of dumps decoded by hand, and bad input.
Environment: QUILLCORE_LIBRARY, QUILLCORE_SIM_LIBRARY, QUILLINFO, QUILL_DATA."""

import ctypes
import json
import os
import subprocess
import sys

import pytest

import quillcore

DATA = os.environ.get("QUILL_DATA", "")
ALDER_LAKE = os.path.join(DATA, "GenuineIntel00906A4_AlderLakeP_01_CPUID.txt")
KNIGHTS_LANDING = os.path.join(DATA, "GenuineIntel0050671_KnightsLanding_CPUID.txt")


def quillinfo_json(*args):
    out = subprocess.run([os.environ["QUILLINFO"], "--json", *args], check=True, capture_output=True).stdout
    return json.loads(out)


@pytest.mark.parametrize("replay", [None, ALDER_LAKE])
def test_processors_caches_and_flags_match_quillinfo(replay):
    machine = quillcore.describe(replay)
    doc = quillinfo_json(*(["--replay", replay] if replay else []))
    assert machine.rules == doc["rules"] == "current"
    expected = [p for g in doc["groups"] for p in g["processors"]]
    assert len(machine.processors) == len(expected)
    for p, q in zip(machine.processors, expected):
        assert (p.vendor, p.name, p.apic_id, p.family, p.model, p.stepping) == (
            q["vendorString"], q["name"].strip(), q["apicId"], q["family"], q["model"], q["stepping"])
        assert (p.logical_per_package, p.cores_per_package, p.threads_per_core) == (
            q["maxLogicalPerPackage"], q["coresPerPackage"], q["threadsPerCore"])
        assert [(c.level, c.type, c.size) for c in p.caches] == [
            (c["level"], c["type"], c["size"]) for c in q["caches"] if c["role"] == "cache"]
        assert [(t.level, t.type, t.page_size, t.entries) for t in p.tlbs] == [
            (c["level"], c["type"], c["entrySize"], c["numEntries"]) for c in q["caches"] if c["role"] == "tlb"]
        if "flags" in q:
            assert sorted(p.flags) == q["flags"]
            assert sorted(p.flags - p.usable_flags) == q["notUsable"]
            assert p.x86_64_level == q["x86_64Level"]
        if "osProcessor" in q:
            assert p.os_index == q["osProcessor"]
    if replay is None:
        assert all(quillcore.has_feature(f) for f in machine.processors[0].usable_flags
                   if all(f in p.usable_flags for p in machine.processors))
        assert not quillcore.has_feature("no_such_flag") and machine.processors[0].usable_flags


def test_hybrid_core_types_and_l2_clusters():
    # Leaf 0x1A: 0x40 (core) on processors 0-1, 0x20 (atom) on 2-5. Leaf 4
    # sub-leaf 2 shares the L2 among 8 APIC ids: x2APIC ids 0, 1 (10 ways,
    # 2048 sets: 1.25 MiB) and 0x10-0x16 (16 ways: 2 MiB).
    machine = quillcore.describe(ALDER_LAKE)
    assert [p.core_type for p in machine.processors] == ["performance"] * 2 + ["efficiency"] * 4
    # x2APIC ids 0, 1 and 0x10-0x16 even: 5 cores, 6 logical processors.
    assert [p.threads_per_core for p in machine.processors] == [2] * 2 + [1] * 4
    assert {(p.logical_per_package, p.cores_per_package) for p in machine.processors} == {(6, 5)}
    l2 = [[(c.size, c.ways, c.shared_by) for c in p.caches if c.level == 2] for p in machine.processors]
    assert l2 == [[(1310720, 10, (0, 1))]] * 2 + [[(2097152, 16, (2, 3, 4, 5))]] * 4
    assert (machine.packages, machine.hypervisor, machine.processors[0].family) == (1, None, 6)


def test_every_group_of_a_large_machine():
    machine = quillcore.describe(KNIGHTS_LANDING, rules="classic")
    assert machine.rules == "classic"
    assert [p.index for p in machine.processors] == list(range(256))
    assert sum(len(g.processors) for g in machine.groups) == 256 and len(machine.groups) >= 4
    assert all(p.group == g.index for g in machine.groups for p in g.processors)
    assert len({p.apic_id for p in machine.processors}) == 256


def test_rules_put_back_and_reports_kept():
    machine = quillcore.describe(ALDER_LAKE, rules="classic")
    assert machine.reports and all(r.message and r.severity in range(4) for r in machine.reports)
    lib = ctypes.CDLL(os.environ["QUILLCORE_SIM_LIBRARY"])
    assert lib.SetQuillDescriptionRules(0) == 0  # the classic rules were in force again


def test_bad_input(tmp_path):
    with pytest.raises(FileNotFoundError):
        quillcore.describe(str(tmp_path / "missing.txt"))
    garbage = tmp_path / "garbage.txt"
    garbage.write_text("this is not a CPUID dump\n")
    with pytest.raises(ValueError, match="garbage"):
        quillcore.describe(str(garbage))
    with pytest.raises(ValueError):
        quillcore.describe(rules="newest")
    env = dict(os.environ, QUILLCORE_LIBRARY="/nonexistent/libquillcore.so.0")
    code = "import quillcore\ntry:\n quillcore.describe()\nexcept OSError as e:\n print('OSError', e)"
    result = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
    assert result.stdout.startswith("OSError") and "/nonexistent/libquillcore.so.0" in result.stdout
