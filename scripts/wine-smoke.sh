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

echo "wine: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
