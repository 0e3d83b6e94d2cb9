#!/usr/bin/env bash
# Builds everything and runs every test: the native suite (unit, scenario, differential)
# with the dev preset, the unit and scenario suites again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the Windows cross build and its smoke test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== native build and tests (dev preset)"
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs"
ctest --preset dev

# The differential tests compare against other programs' output and add nothing here.
echo "== sanitizer build and tests (asan preset)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -L 'unit|scenario'

echo "== Windows build (mingw preset)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"

echo "== Windows smoke test under Wine"
scripts/wine-smoke.sh build/mingw

echo "test.sh: all passed"
