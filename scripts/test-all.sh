#!/usr/bin/env bash
# Builds and runs every test: Linux (GCC), Linux under AddressSanitizer and
# UndefinedBehaviorSanitizer, Linux with Clang, and the Windows DLL under Wine;
# then the install tree and the Windows SDK zip, used as other projects would.
# The fuzz configuration (scripts/fuzz.sh) is built, not run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh --windows
jobs=$(nproc)

echo "== Linux"
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILL_BENCH=ON >/dev/null
cmake --build build/linux -j "$jobs"
ctest --test-dir build/linux -j "$jobs" --output-on-failure
scripts/check-install.sh build/linux

echo "== Linux, sanitizers"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILL_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j "$jobs"
ctest --test-dir build/sanitize -j "$jobs" --output-on-failure

echo "== Linux, Clang"
CC=clang CXX=clang++ cmake -S . -B build/clang -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/clang -j "$jobs"
ctest --test-dir build/clang -j "$jobs" --output-on-failure

echo "== Linux, ThreadSanitizer: the concurrency tests only"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILL_TSAN=ON >/dev/null
cmake --build build/tsan -j "$jobs" --target quill_native_tests
ctest --test-dir build/tsan -R '\.Concurrent' --output-on-failure

echo "== Fuzz configuration (Clang, sanitizers): every target builds"
scripts/fuzz.sh --build-only

echo "== Windows DLL under Wine"
cmake -S . -B build/mingw -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build/mingw -j "$jobs"
ctest --test-dir build/mingw -j "$jobs" --output-on-failure
scripts/package-windows.sh build/mingw >/dev/null
scripts/check-windows-sdk.sh build/mingw
