#!/usr/bin/env bash
# Runs the Windows build under Wine and checks its exit codes.
# Usage: scripts/wine-smoke.sh <mingw build dir>
set -euo pipefail
# Windows are drawn, so Wine needs a display, and every run needs the same one: the first
# process of a Wine session starts the session's desktop on the display it finds.
if [[ -z "${DISPLAY:-}" ]] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a "$0" "$@"
fi
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
note() {  # note <ok?> <what>
  if [[ $1 -eq 0 ]]; then
    passed=$((passed + 1))
  else
    echo "wine-smoke: $2" >&2
    failed=$((failed + 1))
  fi
}

# The utility's Windows build, packaged with a ROM image and run against a simulated machine
# made by the native noxsim; NOXWINGUI_UI=text takes the box answers from standard input.
# The last run flashes main BIOS and boot block and restarts the machine.
native=${NOX_NATIVE_BUILD:-build/dev}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ -x "$native/tools/noxsim/noxsim" && -x "$native/tools/noxpack/noxpack" ]]; then
  "$native/tools/noxsim/noxsim" create "$work/m" --preset legacy-8m >/dev/null
  "$native/tools/noxsim/noxsim" rom "$work/m" -o "$work/new.rom" >/dev/null
  head -c 4096 /dev/zero | tr '\0' 'D' >"$work/driver.sys"
  (cd "$work" && "$OLDPWD/$native/tools/noxpack/noxpack" build --stub "$OLDPWD/$exe" --driver64 driver.sys \
      --rom 0=new.rom --cmd "/p /b" -o tool.exe >/dev/null)
  utility() {  # utility <expected exit code> <answers> <words...>
    local want=$1 answers=$2
    shift 2
    local rc=0
    (cd "$work" && printf "$answers" | NOXWINGUI_MACHINE=m NOXWINGUI_UI=text timeout 120 "$wine" tool.exe "$@") \
      >"$work/out.txt" 2>&1 || rc=$?
    note $((rc != want)) "NOXWINGUI.exe $* exited $rc, expected $want: $(tr -d '\r' <"$work/out.txt" | tail -3)"
  }
  utility 0 'Cancel\n\n'
  utility 2 'OK\nOK\n\n' /bogus
  utility 0 'OK\n\n'
  found() { if "$@"; then echo 0; else echo 1; fi; }  # keeps a failed check from ending the script
  note "$(found grep -q "Done." "$work/out.txt")" "the packaged run did not finish its flash"
  # diff exits 1 because the regions that were not selected keep the machine's contents.
  regions=$("$native/tools/noxsim/noxsim" diff "$work/m" "$work/new.rom" || true)
  note "$(found grep -qE '^main BIOS .* equal$' <<<"$regions")" \
    "the main BIOS on the machine does not equal the image after the run"
  note "$(found grep -q '"event":"reboot"' "$work/m/journal.jsonl")" "the run did not restart the machine"
  note "$(found test ! -e "$work/orufldrv64.sys")" "the driver file was left behind"
  # The interactive window in text mode: Save the machine's firmware, Open the image, choose
  # the main BIOS on the Setup page, Flash.
  "$native/tools/noxsim/noxsim" create "$work/m2" --preset minimal-1m >/dev/null
  "$native/tools/noxsim/noxsim" rom "$work/m2" -o "$work/mini.rom" >/dev/null
  cp "$work/m2/flash.bin" "$work/before.bin"
  (cd "$work" && "$OLDPWD/$native/tools/noxpack/noxpack" build --stub "$OLDPWD/$exe" --driver64 driver.sys \
      --rom 0=mini.rom --cmd "/x" -o window.exe >/dev/null)
  rc=0
  (cd "$work" && printf 'OK\nOK\nsave\nsaved.rom\nopen\nmini.rom\nsetup\nMain BIOS Image\n\nflash\n' |
    NOXWINGUI_MACHINE=m2 NOXWINGUI_UI=text timeout 120 "$wine" window.exe) >"$work/window.txt" 2>&1 || rc=$?
  note $rc "the window run exited $rc: $(tr -d '\r' <"$work/window.txt" | tail -3)"
  note "$(found cmp -s "$work/saved.rom" "$work/before.bin")" "Save did not write the machine's firmware"
  regions=$("$native/tools/noxsim/noxsim" diff "$work/m2" "$work/mini.rom" || true)
  note "$(found grep -qE '^main BIOS .* equal$' <<<"$regions")" "the opened file was not flashed"
else
  note 1 "the native noxsim and noxpack are needed (build the dev preset first)"
fi

# The Windows operating-system services, as far as Wine has them.
services="$build/src/platform/nox_win32_smoke.exe"
if [[ -f "$services" ]]; then
  rc=0
  timeout 120 "$wine" "$services" >"$work/services.txt" 2>&1 || rc=$?
  note $rc "the Windows services smoke failed: $(tr -d '\r' <"$work/services.txt")"
fi

# The Progress page and its controls, checked by what they draw.
page="$build/src/platform/nox_progress_page_smoke.exe"
if [[ -f "$page" ]]; then
  rc=0
  timeout 120 "$wine" "$page" >"$work/page.txt" 2>&1 || rc=$?
  note $rc "the progress page smoke failed: $(tr -d '\r' <"$work/page.txt")"
  tr -d '\r' <"$work/page.txt" | grep -h '^progress page:' || true
fi

# The packager's Windows build: package the utility with a ROM image, list it, take the
# image out again and compare.
noxpack="$build/tools/noxpack/noxpack.exe"
if [[ -f "$noxpack" ]]; then
  noxpack=$(realpath "$noxpack")
  head -c 300000 "$exe" >"$work/rom0.bin"
  cp "$exe" "$work/stub.exe"
  pack_rc=0
  (cd "$work" && "$wine" "$noxpack" build --stub stub.exe -o packed.exe --rom 0=rom0.bin --cmd "/p /b" >/dev/null 2>&1 &&
    "$wine" "$noxpack" list packed.exe 2>/dev/null | grep -q '^@R00 .* ok' &&
    "$wine" "$noxpack" extract packed.exe @R00 -o back.bin >/dev/null 2>&1 && cmp -s back.bin rom0.bin) || pack_rc=$?
  note $pack_rc "noxpack.exe build/list/extract round trip failed"
fi

echo "wine: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
