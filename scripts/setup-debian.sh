#!/usr/bin/env bash
# Installs what the build needs on a Debian machine, if anything is missing.
#   scripts/setup-debian.sh            compilers, CMake, Ninja, GoogleTest, Benchmark
#   scripts/setup-debian.sh --windows  the same plus mingw-w64, Wine and the tools of the Windows zip
set -euo pipefail

packages=(cmake ninja-build g++ gcc clang binutils libgtest-dev libbenchmark-dev python3 pkg-config)
# quillinfo: option parsing and JSON (header-only), and an SVG renderer for its tests.
packages+=(libcli11-dev nlohmann-json3-dev librsvg2-bin)
# scripts/fuzz.sh: Clang's libFuzzer and sanitizer runtimes.
packages+=(libclang-rt-14-dev)
# The Python package's tests, and its install into a virtual environment.
packages+=(python3-pytest python3-venv python3-pip python3-setuptools)
if [[ "${1:-}" == "--windows" ]]; then
  # llvm (llvm-dlltool) and lld (lld-link) make and use the MSVC import library.
  packages+=(mingw-w64 wine64 llvm lld zip unzip)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if (( ${#missing[@]} )); then
  sudo=""
  [[ "$(id -u)" == 0 ]] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
