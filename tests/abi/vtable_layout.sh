#!/usr/bin/env bash
# The description interfaces have the same slot positions under the MSVC ABI
# (clang lays the tables out for x86_64-pc-windows-msvc and prints them), under
# the Itanium ABI of CXX (default g++: a pointer to a member function holds one
# plus the slot's byte offset) and in the slot constants of quill/QuillC.h.
#   vtable_layout.sh SOURCE_DIR WORK_DIR [CXX]
set -euo pipefail
src=$1
work=$2
cxx=${3:-g++}
mkdir -p "$work"

clang++ --target=x86_64-pc-windows-msvc -std=c++17 -ffreestanding -I"$src/include" -Xclang -fdump-vtable-layouts \
  -S -o /dev/null "$src/tests/abi/vtable_probe.cpp" >"$work/msvc-layout.txt"
# "Class Method Slot" for every slot each class declares.
awk '/^VFTable indices for / { cls = $4; gsub(/\047/, "", cls); next }
     /^$/ { cls = "" }
     cls != "" && match($0, /^ *[0-9]+ \| /) {
         slot = $1
         if (!match($0, /[A-Za-z_][A-Za-z0-9_]*::[A-Za-z_~][A-Za-z0-9_]*\(/)) { print "unreadable: " $0; exit 1 }
         split(substr($0, RSTART, RLENGTH - 1), name, "::")
         print name[1], name[2], slot
     }' "$work/msvc-layout.txt" | sort >"$work/msvc.txt"
if grep -q '^unreadable' "$work/msvc.txt" || [[ ! -s $work/msvc.txt ]]; then
  echo "cannot read the MSVC layout:" >&2 && cat "$work/msvc-layout.txt" >&2 && exit 1
fi
# MSVC puts the overloads of one name together, GCC keeps the order of declaration.
overloaded=$(awk '{ print $1 "::" $2 }' "$work/msvc.txt" | uniq -d)
[[ -z $overloaded ]] || { echo "overloaded virtual functions (MSVC and GCC order them differently): $overloaded" >&2
  exit 1; }

{
  cat <<'EOF'
#include <quill/Quill.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
template <typename Member> long Slot(Member member) {
    struct { uintptr_t ptr; ptrdiff_t adjustment; } raw;
    static_assert(sizeof member == sizeof raw, "not an Itanium member function pointer");
    std::memcpy(&raw, &member, sizeof raw);
    return raw.ptr & 1 ? long((raw.ptr - 1) / sizeof(void*)) : -1;
}
int main() {
EOF
  awk '{ printf "    std::printf(\"%s %s %%ld\\n\", Slot(&%s::%s));\n", $1, $2, $1, $2 }' "$work/msvc.txt"
  echo "}"
} >"$work/itanium_slots.cpp"
"$cxx" -std=c++17 -I"$src/include" "$work/itanium_slots.cpp" -o "$work/itanium_slots"
"$work/itanium_slots" | sort >"$work/itanium.txt"

sed -n 's/^ *k\(Machine\|CPU\|Cache\|Hypervisor\)Slot\([A-Za-z]*\) = \([0-9]*\),\{0,1\}$/\1 \2 \3/p' \
  "$src/include/quill/QuillC.h" | sort >"$work/quillc.txt"
# The C header groups the classes: the extended slots continue the base.
sed -e 's/^MachineDescription /Machine /;s/^HypervisorDescription /Hypervisor /' \
    -e 's/^CPUDescription\(Extended\)\{0,1\} /CPU /;s/^CacheDescription\(Extended\)\{0,1\} /Cache /' \
    "$work/msvc.txt" | sort >"$work/msvc-grouped.txt"

status=0
diff -u "$work/msvc.txt" "$work/itanium.txt" >&2 ||
  { echo "slot positions differ: MSVC ABI (-), $cxx (+)" >&2 && status=1; }
diff -u "$work/msvc-grouped.txt" "$work/quillc.txt" >&2 ||
  { echo "slot positions differ: MSVC ABI (-), quill/QuillC.h (+)" >&2 && status=1; }
[[ $status == 0 ]] && echo "$(wc -l <"$work/msvc.txt") slots agree: MSVC ABI, $cxx, quill/QuillC.h"
exit $status
