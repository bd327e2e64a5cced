#!/usr/bin/env bash
# Installs a Linux build into a temporary prefix, moves the tree elsewhere
# (it must work from any prefix) and uses it as another project would: the
# CMake example through find_package, the C example through pkg-config,
# quillinfo from bin/. Then checks that the runtime and development
# components leave the simulated library out.
#   scripts/check-install.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: $0 BUILD_DIR}
work=$(cd "$build" && pwd)/install-check
dump=tests/data/GenuineIntel00906A4_AlderLakeP_01_CPUID.txt
rm -rf "$work"
mkdir -p "$work"
log=$work/log.txt

fail() {
  echo "check-install: $*" >&2
  [[ -s $log ]] && tail -n 30 "$log" >&2
  exit 1
}
run() { "$@" >>"$log" 2>&1 || fail "failed: $*"; }

run cmake --install "$build" --prefix "$work/staged"
mv "$work/staged" "$work/prefix"
prefix=$work/prefix
lib=$prefix/lib

# The SONAME chain and the headers.
[[ $(readlink "$lib/libquillcore.so") == libquillcore.so.0 &&
   $(readlink "$lib/libquillcore.so.0") == libquillcore.so.0.1.0 ]] || fail "libquillcore.so symlinks"
objdump -p "$lib/libquillcore.so.0.1.0" | grep -q 'SONAME *libquillcore.so.0$' || fail "no SONAME libquillcore.so.0"
[[ -f $prefix/include/quill/Quill.h && -f $prefix/include/quill/QuillC.h && -f $prefix/include/quill/QuillSim.h ]] ||
  fail "headers missing under include/quill"

# quillinfo finds the library through its run path, native and simulated.
"$prefix/bin/quillinfo" --json >"$work/quillinfo.json" 2>>"$log" || fail "installed quillinfo failed"
"$prefix/bin/quillinfo" --replay "$dump" >"$work/quillinfo-replay.txt" 2>>"$log" || fail "installed quillinfo --replay failed"

# The Python package loads the tree's libraries, without being told where;
# and pip installs it offline into a virtual environment.
py=/usr/bin/python3
count=$(cd / && PYTHONPATH=$lib/python $py -c 'import quillcore; print(len(quillcore.describe().processors))') ||
  fail "the installed Python package cannot describe this machine"
[[ $count == $(python3 -c 'import json, sys; print(len(json.load(sys.stdin)["processors"]))' <"$work/quillinfo.json") ]] ||
  fail "the installed Python package sees $count processors, quillinfo others"
(here=$PWD; cd / && PYTHONPATH=$lib/python $py -c "import quillcore, sys; sys.exit(len(quillcore.describe('$here/$dump').processors) != 6)") ||
  fail "the installed Python package cannot replay $dump"
run $py -m venv --system-site-packages "$work/venv"
cp -r python "$work/python-source"  # pip builds in the folder it installs from
run "$work/venv/bin/pip" install -q --no-index --no-build-isolation "$work/python-source"
(cd / && QUILLCORE_LIBRARY=$lib/libquillcore.so.0 "$work/venv/bin/python" -m quillcore >>"$log" 2>&1) ||
  fail "python -m quillcore from the virtual environment failed"

# The CMake consumer project.
run cmake -S examples -B "$work/examples" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" \
  "-DCMAKE_C_FLAGS=-Wall -Wextra -Werror" "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Werror"
run cmake --build "$work/examples"
"$work/examples/cpp_host" >"$work/cpp_host.txt" 2>&1 || fail "cpp_host: $(cat "$work/cpp_host.txt")"
grep -q "matches one thread" "$work/cpp_host.txt" || fail "cpp_host: no result"
"$work/examples/c_host" >"$work/c_host.txt" 2>&1 || fail "c_host: $(cat "$work/c_host.txt")"
"$work/examples/c_host_replay" "$dump" >"$work/c_host_replay.txt" 2>&1 || fail "c_host_replay failed"
grep -q "^processors: 6 (process: 6), packages: 1" "$work/c_host_replay.txt" ||
  fail "c_host_replay: $(head -n 1 "$work/c_host_replay.txt")"

# The C example through pkg-config.
flags=$(PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --cflags --libs quillcore) || fail "pkg-config quillcore"
run cc -std=c11 -Wall -Wextra -Werror examples/c-host/main.c $flags -o "$work/c_host_pkgconfig"
LD_LIBRARY_PATH=$lib "$work/c_host_pkgconfig" >"$work/c_host_pkgconfig.txt" 2>&1 || fail "c_host (pkg-config) failed"
cmp -s <(head -n 1 "$work/c_host.txt") <(head -n 1 "$work/c_host_pkgconfig.txt") ||
  fail "the two C hosts see different machines"

# Without the sim component: no simulated library, no QuillSim.h, and the
# package still loads.
for component in runtime development; do
  run cmake --install "$build" --prefix "$work/nosim" --component $component
done
[[ ! -e $work/nosim/include/quill/QuillSim.h ]] && ! compgen -G "$work/nosim/lib/libquillcore-sim*" >/dev/null ||
  fail "the sim component leaked into runtime/development"
run cmake -S examples -B "$work/examples-nosim" -G Ninja -DCMAKE_PREFIX_PATH="$work/nosim"
! grep -q c_host_replay "$work/examples-nosim/build.ninja" ||
  fail "quillcore::quillcore-sim defined without the sim component"

echo "install tree, CMake and pkg-config examples: ok ($(head -n 1 "$work/c_host.txt"))"
