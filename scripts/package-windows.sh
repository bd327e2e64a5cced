#!/usr/bin/env bash
# Builds the Windows x64 DLLs with mingw-w64 and packs the SDK zip:
#   scripts/package-windows.sh [BUILD_DIR]      (default build/package-windows)
# makes BUILD_DIR/quillcore-<version>-win64.zip with
#   bin/      quillcore.dll, quillcore-sim.dll, quillinfo.exe (need nothing beside them)
#   lib/      quillcore.lib (MSVC import library of the 23 exports and the extensions),
#             libquillcore.dll.a and libquillcore-sim.dll.a (MinGW),
#             cmake/quillcore/ (find_package for MinGW), pkgconfig/quillcore.pc
#   include/  quill/
#   bin/python/quillcore/  the Python package, which loads bin/quillcore.dll
#   README.txt
# An existing mingw-w64 build folder (such as build/mingw) is used as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/package-windows}

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DQUILL_TESTS=OFF >/dev/null
fi
grep -q '^CMAKE_OBJDUMP:FILEPATH=.*mingw32-objdump$' "$build/CMakeCache.txt" || {
  echo "$build is not a mingw-w64 build folder" >&2
  exit 1
}
cmake --build "$build" -j "$(nproc)" --target quillcore quillcore-sim quillinfo
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
objdump=$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' "$build/CMakeCache.txt")
name=quillcore-$version-win64
stage=$build/$name
zip=$(cd "$build" && pwd)/$name.zip

rm -rf "$stage" "$zip"
cmake --install "$build" --prefix "$stage" --strip >/dev/null

# The MSVC import library, from the module-definition file: the 23 exports,
# then the extensions beside them. Each name must be exported by the DLL, and
# the DLL must export nothing the import library lacks.
def=source/lib/quillcore.def
names=$(sed -n 's/^    \([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' "$def")
core=$(sed -n '/; Extensions/q; s/^    \([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' "$def" | wc -l)
[[ $core == 23 ]] || { echo "$def lists $core exports before its extensions, not 23" >&2; exit 1; }
exported=$("$objdump" -p "$stage/bin/quillcore.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
for n in $names; do
  grep -q "\] $n\$" <<<"$exported" || { echo "$def: $n is not exported by quillcore.dll" >&2; exit 1; }
done
for n in $(sed -n 's/^\t\[ *[0-9]*\] \([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' <<<"$exported"); do
  grep -qx "$n" <<<"$names" || { echo "quillcore.dll exports $n, which $def lacks" >&2; exit 1; }
done
llvm-dlltool -m i386:x86-64 -d "$def" -l "$stage/lib/quillcore.lib"

# Nothing beside the DLLs and the program: only system DLLs are imported.
for binary in "$stage"/bin/*.dll "$stage"/bin/*.exe; do
  if "$objdump" -p "$binary" | grep -i 'DLL Name:' | grep -v -i -E 'kernel32|msvcrt|api-ms-win-|advapi32|user32'; then
    echo "$binary needs the DLLs above beside it" >&2
    exit 1
  fi
done

cat >"$stage/README.txt" <<EOF
quillcore $version for 64-bit Windows
=====================================

Processor information from CPUID: logical processors, packages, cores and
threads, vendor, family, model and name, feature flags, caches and TLBs with
their sharing, and the hypervisor. Unzip into a folder of its own.

bin\\quillcore.dll       the library (23 exports, see include\\quill\\Quill.h)
bin\\quillcore-sim.dll   the same library on a simulated machine that replays
                        CPUID dumps (QuillSim* exports, include\\quill\\QuillSim.h)
bin\\quillinfo.exe       describes this machine: quillinfo [--json];
                        quillinfo --replay DUMP describes a dump instead
lib\\quillcore.lib       import library for the MSVC linker (and lld-link)
lib\\libquillcore.dll.a  import library for MinGW (libquillcore-sim.dll.a too)
lib\\cmake\\quillcore\\   CMake package for MinGW builds:
                        find_package(quillcore 0.1 CONFIG REQUIRED) gives
                        quillcore::quillcore and quillcore::quillcore-sim
lib\\pkgconfig\\          quillcore.pc for MinGW builds with pkg-config
include\\quill\\          headers: Quill.h for C++ hosts, QuillC.h for C hosts
bin\\python\\quillcore\\  the Python package (pure Python, ctypes): with the
                        folder bin\\python on PYTHONPATH, "import quillcore"
                        loads bin\\quillcore.dll; quillcore.describe()

The DLLs and quillinfo.exe need nothing beside them: the C and C++ runtimes
are linked in. Ship quillcore.dll next to your program.

MSVC:   cl /std:c++17 /I <sdk>\\include host.cpp /link <sdk>\\lib\\quillcore.lib
MinGW:  g++ -I<sdk>/include host.cpp -L<sdk>/lib -lquillcore
CMake:  cmake -DCMAKE_PREFIX_PATH=<sdk> ...   (MinGW toolchains)

The four description interfaces are called by slot position; the positions
are the same under the MSVC and the GCC ABI. C hosts use the typed slot
accessors of quill/QuillC.h (QuillMachine_GetNumProcessors and so on).
Objects from GetMachineDescription, GetCPUDescription and the hypervisor
slot belong to the caller, who ends them with Release.
EOF
sed -i 's/$/\r/' "$stage/README.txt"

(cd "$stage" && zip -q -r -X "$zip" README.txt bin include lib)
echo "$zip"
