#!/usr/bin/env bash
# Uses the Windows SDK zip (scripts/package-windows.sh) as Windows developers
# would, and runs what it builds under Wine:
#   - a C host compiled in MSVC mode (clang --target=x86_64-pc-windows-msvc,
#     freestanding) and linked by lld-link against lib/quillcore.lib;
#   - the CMake example built by mingw-w64 through find_package, and the C
#     example through pkg-config;
#   - quillinfo.exe from the zip, on this machine and on a replayed dump.
#   scripts/check-windows-sdk.sh BUILD_DIR   (the folder that holds the zip)
# The Wine prefix is BUILD_DIR/wineprefix.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
zip=$(ls "$build"/quillcore-*-win64.zip)
work=$build/sdk-check
sdk=$work/sdk
dump=$root/tests/data/GenuineIntel00906A4_AlderLakeP_01_CPUID.txt
rm -rf "$work"
mkdir -p "$work/msvc"
log=$work/log.txt
: >"$log"

fail() {
  echo "check-windows-sdk: $*" >&2
  [[ -s $log ]] && tail -n 30 "$log" >&2
  exit 1
}
run() { "$@" >>"$log" 2>&1 || fail "failed: $*"; }

unzip -q "$zip" -d "$sdk"
for f in README.txt bin/quillcore.dll bin/quillcore-sim.dll bin/quillinfo.exe bin/python/quillcore/__init__.py lib/quillcore.lib \
         lib/libquillcore.dll.a include/quill/Quill.h include/quill/QuillC.h \
         lib/cmake/quillcore/quillcoreConfig.cmake; do
  [[ -f $sdk/$f ]] || fail "$(basename "$zip") lacks $f"
done

export WINEPREFIX=$build/wineprefix
wine_run() { sh "$root/cmake/wine-run.sh" "$@"; }
wine_run --start-session "$build" || fail "Wine did not start"
trap 'sh "$root/cmake/wine-run.sh" --end-session "$build"' EXIT

# The C host of the tests in MSVC mode: no C runtime, no Windows SDK, only the zip.
run clang --target=x86_64-pc-windows-msvc -std=c11 -ffreestanding -fno-builtin -O2 -Wall -Wextra -Werror \
  -DQUILL_CHOST_FREESTANDING -I"$sdk/include" -c tests/chost/chost.c -o "$work/msvc/msvchost.obj"
printf 'LIBRARY kernel32.dll\nEXPORTS\n    ExitProcess\n    GetStdHandle\n    WriteFile\n' >"$work/msvc/kernel32.def"
run llvm-dlltool -m i386:x86-64 -d "$work/msvc/kernel32.def" -l "$work/msvc/kernel32.lib"
run lld-link /nologo /subsystem:console /entry:HostMain /nodefaultlib "$work/msvc/msvchost.obj" \
  "$sdk/lib/quillcore.lib" "$work/msvc/kernel32.lib" "/out:$work/msvc/msvchost.exe"
cp "$sdk/bin/quillcore.dll" "$work/msvc/"
wine_run "$work/msvc/msvchost.exe" >"$work/msvchost.txt" 2>&1 || fail "msvchost.exe: $(cat "$work/msvchost.txt")"
grep -q "^chost: [0-9]* checks, 0 failed" "$work/msvchost.txt" || fail "msvchost.exe: $(cat "$work/msvchost.txt")"

# quillinfo.exe finds its DLLs beside itself.
wine_run "$sdk/bin/quillinfo.exe" --json >"$work/quillinfo.json" 2>>"$log" || fail "quillinfo.exe failed"
wine_run "$sdk/bin/quillinfo.exe" --replay "$dump" >"$work/quillinfo-replay.txt" 2>>"$log" ||
  fail "quillinfo.exe --replay failed"

# The examples, built by mingw-w64 against the zip.
run cmake -S examples -B "$work/examples" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -Dquillcore_DIR="$sdk/lib/cmake/quillcore" \
  "-DCMAKE_C_FLAGS=-Wall -Wextra -Werror" "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Werror"
run cmake --build "$work/examples"
wine_run "$work/examples/cpp_host.exe" >"$work/cpp_host.txt" 2>&1 || fail "cpp_host.exe: $(cat "$work/cpp_host.txt")"
grep -q "matches one thread" "$work/cpp_host.txt" || fail "cpp_host.exe: no result"
wine_run "$work/examples/c_host.exe" >"$work/c_host.txt" 2>&1 || fail "c_host.exe: $(cat "$work/c_host.txt")"
wine_run "$work/examples/c_host_replay.exe" "$dump" >"$work/c_host_replay.txt" 2>&1 || fail "c_host_replay.exe failed"
grep -q "^processors: 6 (process: 6), packages: 1" "$work/c_host_replay.txt" ||
  fail "c_host_replay.exe: $(head -n 1 "$work/c_host_replay.txt")"

# The C example through pkg-config, for MinGW.
flags=$(PKG_CONFIG_PATH=$sdk/lib/pkgconfig pkg-config --cflags --libs quillcore) || fail "pkg-config quillcore"
mkdir -p "$work/pkgconfig"
run x86_64-w64-mingw32-gcc -std=c11 -Wall -Wextra -Werror examples/c-host/main.c $flags \
  -o "$work/pkgconfig/c_host.exe"
cp "$sdk/bin/quillcore.dll" "$work/pkgconfig/"
wine_run "$work/pkgconfig/c_host.exe" >"$work/c_host_pkgconfig.txt" 2>&1 || fail "c_host.exe (pkg-config) failed"

echo "Windows SDK zip: $(tail -n 1 "$work/msvchost.txt"); examples ok ($(head -n 1 "$work/c_host.txt" | tr -d '\r'))"
