#!/usr/bin/env bash
# Runs the Windows build under Wine and checks its exit codes.
# Usage: scripts/wine-smoke.sh <mingw build dir>
set -euo pipefail
build=${1:-build/mingw}
exe="$build/src/platform/NOXWINGUI.exe"

wine=$(command -v wine64 || true)
[[ -n "$wine" ]] || wine=/usr/lib/wine/wine64
[[ -x "$wine" ]] || { echo "wine-smoke: wine64 not found" >&2; exit 1; }

export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}"
if [[ ! -d "$WINEPREFIX" ]]; then
  echo "wine-smoke: creating the Wine prefix (takes a minute the first time)"
  "$wine" wineboot --init >/dev/null 2>&1 || true
fi

passed=0 failed=0
check() {  # check <expected exit code> <args...>
  local want=$1; shift
  local rc=0
  "$wine" "$exe" "$@" >/dev/null 2>&1 || rc=$?
  if [[ $rc -eq $want ]]; then
    passed=$((passed + 1))
  else
    echo "wine-smoke: NOXWINGUI.exe $* exited $rc, expected $want" >&2
    failed=$((failed + 1))
  fi
}

check 0 /p /x
check 1 /mai

# The packager's Windows build: package the utility with a ROM image, list it, take the
# image out again and compare.
noxpack="$build/tools/noxpack/noxpack.exe"
if [[ -f "$noxpack" ]]; then
  work=$(mktemp -d)
  noxpack=$(realpath "$noxpack")
  head -c 300000 "$exe" >"$work/rom0.bin"
  cp "$exe" "$work/stub.exe"
  pack_rc=0
  (cd "$work" && "$wine" "$noxpack" build --stub stub.exe -o tool.exe --rom 0=rom0.bin --cmd "/p /b" >/dev/null 2>&1 &&
    "$wine" "$noxpack" list tool.exe 2>/dev/null | grep -q '^@R00 .* ok' &&
    "$wine" "$noxpack" extract tool.exe @R00 -o back.bin >/dev/null 2>&1 && cmp -s back.bin rom0.bin) || pack_rc=$?
  if [[ $pack_rc -eq 0 ]]; then
    passed=$((passed + 1))
  else
    echo "wine-smoke: noxpack.exe build/list/extract round trip failed" >&2
    failed=$((failed + 1))
  fi
  rm -rf "$work"
fi

echo "wine: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
