#!/usr/bin/env bash
# Builds the library and describes this machine. Extra arguments go to
# quillinfo (for example --json, or --replay FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILL_TESTS=OFF >/dev/null
cmake --build build/release --target quillinfo quillcore quillcore-sim
exec build/release/quillinfo "$@"
