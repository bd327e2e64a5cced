#!/usr/bin/env bash
# Builds the two fuzz targets with coverage over the whole library, and
# every other target of that configuration, and runs each fuzz target for the
# given number of seconds (default 600), both at once. --build-only stops
# after the build (scripts/test-all.sh).
#   scripts/fuzz.sh [seconds | --build-only]
# Seeds: the dumps of tests/data and, when present, of ../shared/cpuid-dumps;
# the CPUID target gets them converted to its input layout. New inputs stay in
# build/fuzz/corpus, findings land in build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
build=${QUILL_FUZZ_BUILD:-build/fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILL_FUZZ=ON -DQUILL_SANITIZE=ON -DQUILL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
[[ $seconds == --build-only ]] && exit 0

dumps=(tests/data/*.txt)
if [[ -d ../shared/cpuid-dumps ]]; then
  mapfile -t -O "${#dumps[@]}" dumps < <(find ../shared/cpuid-dumps -type f ! -name 'README*')
fi
mkdir -p "$build"/corpus/{cpuid,loader} "$build"/findings/{cpuid,loader}
for dump in "${dumps[@]}"; do
  name=$(basename "$(dirname "$dump")")_$(basename "$dump")
  cp "$dump" "$build/corpus/loader/$name"
  "$build/dump_to_fuzz_input" "$dump" "$build/corpus/cpuid/$name.bin" 2>/dev/null || true
done

run() {
  local target=$1 corpus=$2
  "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$corpus/" "$build/corpus/$corpus" >"$build/$target.log" 2>&1
}
status=0
run cpuid_table_fuzzer cpuid & cpuid=$!
run dump_loader_fuzzer loader & loader=$!
wait $cpuid || status=1
wait $loader || status=1
for target in cpuid_table_fuzzer dump_loader_fuzzer; do
  echo "== $target"
  grep -E '^#[0-9]+.*(DONE|cov:)' "$build/$target.log" | tail -1
  grep -E '^stat::number_of_executed_units' "$build/$target.log" || true
done
ls "$build"/findings/*/ 2>/dev/null | grep -v '^$' || true
exit $status
