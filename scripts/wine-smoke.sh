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
found() { if "$@"; then echo 0; else echo 1; fi; }  # keeps a failed check from ending the script

# The utility's Windows build, packaged with a ROM image and run against a simulated machine
# made by the native noxsim; NOXWINGUI_UI=text takes the box answers from standard input.
# The last run flashes main BIOS and boot block and restarts the machine.
native=${NOX_NATIVE_BUILD:-build/dev}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
shots=build/screenshots
mkdir -p "$shots"

# A PNG whose chunks, checksums and pixel rows are sound, at least as large as a small dialog,
# and not of one colour.
png_ok() {  # png_ok <file>
  python3 - "$1" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n', 'signature'
pos, chunks = 8, []
while pos < len(data):
    size, kind = struct.unpack('>I4s', data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + size]
    assert len(body) == size and zlib.crc32(kind + body) == struct.unpack('>I', data[pos + 8 + size:pos + 12 + size])[0], kind
    chunks.append((kind, body))
    pos += 12 + size
assert chunks[0][0] == b'IHDR' and chunks[-1] == (b'IEND', b''), 'chunk order'
width, height, depth, colour = struct.unpack('>IIBB', chunks[0][1][:10])
raw = zlib.decompress(b''.join(body for kind, body in chunks if kind == b'IDAT'))  # checks Adler-32
assert (depth, colour) == (8, 2) and len(raw) == height * (1 + 3 * width), 'rows'
assert width >= 200 and height >= 100, 'size'
rows = [raw[y * (1 + 3 * width):(y + 1) * (1 + 3 * width)] for y in range(height)]
assert all(r[0] == 0 for r in rows) and len({r[1 + 3 * x:4 + 3 * x] for r in rows for x in range(width)}) > 2, 'pixels'
PY
}
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
  note "$(found grep -q "Done." "$work/out.txt")" "the packaged run did not finish its flash"
  # diff exits 1 because the regions that were not selected keep the machine's contents.
  regions=$("$native/tools/noxsim/noxsim" diff "$work/m" "$work/new.rom" || true)
  note "$(found grep -qE '^main BIOS .* equal$' <<<"$regions")" \
    "the main BIOS on the machine does not equal the image after the run"
  note "$(found grep -q '"event":"reboot"' "$work/m/journal.jsonl")" "the run did not restart the machine"
  note "$(found test ! -e "$work/orufldrv64.sys")" "the driver file was left behind"
  # A recovery update armed by the Windows build and applied by the native noxsim's boot: the
  # firmware finds the file the Windows program wrote under its own view of the path.
  "$native/tools/noxsim/noxsim" create "$work/m3" --preset secure-16m >/dev/null
  "$native/tools/noxsim/noxsim" rom "$work/m3" -o "$work/s.cap" --capsule >/dev/null
  "$native/tools/noxsim/noxsim" rom "$work/m3" -o "$work/s.rom" >/dev/null
  (cd "$work" && "$OLDPWD/$native/tools/noxpack/noxpack" build --stub "$OLDPWD/$exe" --driver64 driver.sys \
      --rom 0=s.cap --cmd "/p /b /recovery" -o rescue.exe >/dev/null)
  rc=0
  (cd "$work" && printf 'OK\nOK\n' | NOXWINGUI_MACHINE=m3 NOXWINGUI_UI=text timeout 120 "$wine" rescue.exe) \
    >"$work/rescue.txt" 2>&1 || rc=$?
  note $rc "the recovery run exited $rc: $(tr -d '\r' <"$work/rescue.txt" | tail -3)"
  note "$(found cmp -s "$work/rescue.hdr" "$work/s.cap")" "the recovery file is not the package's image"
  "$native/tools/noxsim/noxsim" reboot "$work/m3" >/dev/null || true
  regions=$("$native/tools/noxsim/noxsim" diff "$work/m3" "$work/s.rom" || true)
  note "$(found grep -qE '^main BIOS .* equal$' <<<"$regions")" "the boot did not apply the recovery file"
  # An ME machine: the Windows build writes the ME region from a full-flash image and hands the
  # package's EC firmware to the controller, then powers the machine off.
  "$native/tools/noxsim/noxsim" create "$work/m4" --preset me-16m >/dev/null
  "$native/tools/noxsim/noxsim" rom "$work/m4" -o "$work/full.rom" --me-full --seed 3 >/dev/null
  "$native/tools/noxsim/noxsim" ec "$work/m4" -o "$work/ec.img" --size 8192 >/dev/null
  (cd "$work" && "$OLDPWD/$native/tools/noxpack/noxpack" build --stub "$OLDPWD/$exe" --driver64 driver.sys \
      --rom 0=full.rom --ec 0=ec.img --cmd "/meuf" -o me-ec.exe >/dev/null)
  rc=0
  (cd "$work" && printf 'OK\nOK\n' | NOXWINGUI_MACHINE=m4 NOXWINGUI_UI=text timeout 120 "$wine" me-ec.exe) \
    >"$work/me.txt" 2>&1 || rc=$?
  note $rc "the ME and EC run exited $rc: $(tr -d '\r' <"$work/me.txt" | tail -3)"
  regions=$("$native/tools/noxsim/noxsim" diff "$work/m4" "$work/full.rom" || true)
  note "$(found grep -qE '^ME region .* equal$' <<<"$regions")" "the Windows build did not write the ME region"
  note "$(found cmp -s <(head -c 8192 "$work/m4/ec.bin") "$work/ec.img")" "the Windows build did not write the EC flash"
  note "$(found grep -q '"event":"power-off-requested"' "$work/m4/journal.jsonl")" "the EC update did not turn the restart into a power-off"
  # Resilience in the Windows build. The power lost halfway through a run leaves the part on
  # disk as the Windows build wrote it (a main BIOS half written: boot-block recovery, said
  # alike by the native noxsim and noxsim.exe) and the same package run again restores it; a
  # process ended from outside (TerminateProcess) leaves every write its journal lists; a
  # machine that cannot be used is refused in one line naming the file.
  ns="$native/tools/noxsim/noxsim"
  "$ns" create "$work/m5" --preset legacy-8m >/dev/null
  cp -r "$work/m5" "$work/m5-clean" && cp -r "$work/m5" "$work/m5-bad"
  (cd "$work" && printf 'OK\nOK\n\n' | NOXWINGUI_MACHINE=m5-clean NOXWINGUI_UI=text timeout 120 "$wine" tool.exe) >/dev/null 2>&1 || true
  smis=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["smiCount"])' "$work/m5-clean/state.json")
  "$ns" set "$work/m5" "faults.powerLossAfterSmi=$((smis / 2))" >/dev/null
  rc=0
  (cd "$work" && printf 'OK\nOK\n\n' | NOXWINGUI_MACHINE=m5 NOXWINGUI_UI=text timeout 120 "$wine" tool.exe) >"$work/cut.txt" 2>&1 || rc=$?
  note $((rc != 86)) "the run cut by the power loss exited $rc, expected 86"
  verdict=$("$ns" verdict "$work/m5" 2>&1 || true)
  note "$(found grep -q "boot-block recovery" <<<"$verdict")" "a main BIOS cut halfway is not left to recovery: $verdict"
  verdict_exe=$(cd "$work" && timeout 60 "$wine" "$OLDPWD/$build/tools/noxsim/noxsim.exe" verdict m5 2>&1 | tr -d '\r' || true)
  note "$(found test "$verdict_exe" = "$verdict")" "noxsim.exe says \"$verdict_exe\", the native noxsim \"$verdict\""
  "$ns" set "$work/m5" faults.powerLossAfterSmi=0 >/dev/null
  rc=0
  (cd "$work" && printf 'OK\nOK\n\n' | NOXWINGUI_MACHINE=m5 NOXWINGUI_UI=text timeout 120 "$wine" tool.exe) >"$work/rerun.txt" 2>&1 || rc=$?
  note $rc "the rerun after the cut exited $rc: $(tr -d '\r' <"$work/rerun.txt" | tail -3)"
  regions=$("$ns" diff "$work/m5" "$work/new.rom" || true)
  note "$(found grep -qE '^main BIOS .* equal$' <<<"$regions")" "the rerun did not restore the main BIOS"
  "$ns" create "$work/m6" --preset minimal-1m >/dev/null
  "$ns" rom "$work/m6" -o "$work/kill.rom" >/dev/null
  "$ns" set "$work/m6" timing.realMicrosPerRequest=1000 >/dev/null
  (cd "$work" && "$OLDPWD/$native/tools/noxpack/noxpack" build --stub "$OLDPWD/$exe" --driver64 driver.sys \
      --rom 0=kill.rom --cmd "/p /b" -o kill.exe >/dev/null)
  (cd "$work" && printf 'OK\nOK\n\n' | NOXWINGUI_MACHINE=m6 NOXWINGUI_UI=text timeout 120 "$wine" kill.exe) >/dev/null 2>&1 &
  for _ in $(seq 300); do grep -q '"op":"write"' "$work/m6/journal.jsonl" 2>/dev/null && break; sleep 0.1; done
  "$wine" taskkill /F /IM kill.exe >/dev/null 2>&1 || true
  wait || true
  note "$(found python3 - "$work/m6" "$work/kill.rom" <<'PY'
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1] + '/journal.jsonl') if l.strip()]
writes = [l for l in lines if l.get('op') == 'write' and l.get('status') == 0]
part, rom = open(sys.argv[1] + '/flash.bin', 'rb').read(), open(sys.argv[2], 'rb').read()
assert writes and not any(l.get('event') == 'reboot' for l in lines), 'the run was not ended mid-flash'
assert all(part[w['addr']:w['addr'] + w['len']] == rom[w['addr']:w['addr'] + w['len']] for w in writes), 'a write is missing'
PY
)" "a NOXWINGUI.exe ended from outside left a part without the writes its journal lists"
  rm "$work/m5-bad/flash.bin" && mkdir "$work/m5-bad/flash.bin"
  rc=0
  (cd "$work" && printf 'OK\nOK\n\n' | NOXWINGUI_MACHINE=m5-bad NOXWINGUI_UI=text timeout 120 "$wine" tool.exe) >"$work/bad.txt" 2>&1 || rc=$?
  note "$(found test $rc -eq 4)" "an unusable machine made NOXWINGUI.exe exit $rc instead of 4"
  note "$(found grep -q 'flash.bin: cannot be read' "$work/bad.txt")" "the unusable machine's file is not named: $(tr -d '\r' <"$work/bad.txt" | tail -2)"
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

# noxdrive, the tool that drives the Windows dialogs from outside: each check that must fail
# does so, at its line, saying what it found, and ends the program it started (the packaged
# utility above, on its start box or its window); then the start box answered Cancel.
platform="$build/src/platform"
if [[ -f "$build/tools/noxdrive/noxdrive.exe" && -f "$work/tool.exe" ]]; then
  d="$work/drive"
  mkdir -p "$d"
  cp "$build/tools/noxdrive/noxdrive.exe" "$work/tool.exe" "$work/window.exe" "$d/"
  "$native/tools/noxsim/noxsim" create "$d/m" --preset minimal-1m >/dev/null
  failing() {  # failing <exit code> <said> <program> <lines after its start...>
    local want=$1 said=$2 program=$3
    shift 3
    printf '%s\n' "start -env NOXWINGUI_MACHINE=m $program" "$@" >"$d/failing.noxdrive"
    rc=0
    (cd "$d" && timeout 180 "$wine" noxdrive.exe failing.noxdrive) >"$d/drive.txt" 2>&1 || rc=$?
    tr -d '\r' <"$d/drive.txt" | grep -v '^wine: ' >"$d/said.txt" || true
    note "$(found test $rc -eq "$want")" "noxdrive exited $rc instead of $want on: $*"
    note "$(found grep -qF "failing.noxdrive:$(($# + 1)): " "$d/said.txt")" "noxdrive did not name the line of: $*"
    note "$(found grep -qF "$said" "$d/said.txt")" "noxdrive did not say \"$said\" on: $*: $(cat "$d/said.txt")"
  }
  box='window title NOXWINGUI class "#32770"'
  failing 1 'control 65535 shows "' tool.exe "$box" 'text 65535 is "goodbye"'
  failing 1 'no button with id 1002 in' tool.exe "$box" 'within 1 click 1002'
  failing 1 'no box is "NOXWINGUI" with text has "stop"' tool.exe 'within 1 answer NOXWINGUI OK has "stop"'
  failing 1 'the program exited with 0' tool.exe 'answer NOXWINGUI Cancel' 'within 60 wait-exit 1'
  failing 1 'the control is disabled' window.exe 'answer NOXWINGUI OK' 'answer WARNING OK' \
    'window class CNOXWINGUIDlg' 'click 1002'
  failing 2 'unknown command "sleep"' tool.exe 'sleep 1'
  note "$(found test -z "$(pgrep -f "$(basename "$work").drive.(tool|window).exe" || true)")" \
    "a failing noxdrive left the utility running"
  # The utility's own start box, as Windows shows it, answered Cancel.
  printf '%s\n' 'start -env NOXWINGUI_MACHINE=m tool.exe' 'window title NOXWINGUI class "#32770"' \
    'screenshot start-box.png' 'answer NOXWINGUI Cancel has "close all other programs"' 'within 60 wait-exit 0' \
    >"$work/start-box.noxdrive"
  rc=0
  (cd "$work" && timeout 180 "$wine" drive/noxdrive.exe start-box.noxdrive) >"$d/drive.txt" 2>&1 || rc=$?
  note $rc "noxdrive on the utility's start box exited $rc: $(tr -d '\r' <"$d/drive.txt" | tail -5)"
  note "$(found png_ok "$work/start-box.png")" "noxdrive's screenshot of the start box is not a PNG of it"
  cp "$work/start-box.png" "$shots/" 2>/dev/null || true
fi

# The utility's own windows with the default interface, driven by noxdrive as a user would:
# an automatic "/p /b" run (the map mid-flash), the interactive window (pages, Save, Open,
# Setup, Flash), the firmware password typed into the password dialog, and the
# unsupported-system dialog. Each run is proven on the simulated machine afterwards.
if [[ -f "$build/tools/noxdrive/noxdrive.exe" && -x "$native/tools/noxsim/noxsim" ]]; then
  u="$work/windows"
  mkdir -p "$u/shots"
  cp "$build/tools/noxdrive/noxdrive.exe" "$(dirname "$0")"/../tests/win32/window-*.noxdrive "$u/"
  cp "$work/driver.sys" "$u/"
  noxsim="$native/tools/noxsim/noxsim"
  for m in m-auto m-ui m-pw m-korv; do "$noxsim" create "$u/$m" --preset legacy-8m >/dev/null; done
  "$noxsim" create "$u/m-sec" --preset secure-16m --set timing.realMicrosPerPiece=20000 >/dev/null
  "$noxsim" rom "$u/m-sec" -o "$u/secure.cap" --capsule >/dev/null
  "$noxsim" rom "$u/m-sec" -o "$u/secure.rom" >/dev/null
  # Slow enough for the map to be caught mid-flash.
  "$noxsim" set "$u/m-auto" timing.realMicrosPerRequest=300 >/dev/null
  "$noxsim" set "$u/m-pw" 'ofbdPassword={"enabled":true,"password":"MiXed-Case9"}' >/dev/null
  "$noxsim" rom "$u/m-auto" -o "$u/new.rom" >/dev/null
  "$noxsim" rom "$u/m-korv" -o "$u/other.rom" --system-id 0x55 >/dev/null
  cp "$u/m-ui/flash.bin" "$u/before-ui.bin"
  cp "$u/m-korv/flash.bin" "$u/before-korv.bin"
  packwin() { (cd "$u" && "$OLDPWD/$native/tools/noxpack/noxpack" build --stub "$OLDPWD/$exe" --driver64 driver.sys "$@" >/dev/null); }
  packwin --rom 0=new.rom --cmd "/p /b" -o auto.exe
  packwin --rom 0=new.rom --cmd "/x" -o interactive.exe
  packwin --rom 0=other.rom --cmd "/p /b" -o other.exe
  packwin --rom 0=secure.cap --cmd "/b" -o secure.exe
  # File dialogs start wherever the last one was left: scripts name files by full path.
  windows_dir="Z:$(tr '/' '\\' <<<"$u")"
  window_run() {  # window_run <name>: the script window-<name>.noxdrive
    local rc=0
    sed "s|@DIR@|${windows_dir//\\/\\\\}|g" "$u/window-$1.noxdrive" >"$u/run-$1.noxdrive"
    (cd "$u" && timeout 600 "$wine" noxdrive.exe "run-$1.noxdrive") >"$u/$1.txt" 2>&1 || rc=$?
    note $rc "the $1 window run failed ($rc): $(tr -d '\r' <"$u/$1.txt" | grep -v '^wine: ' | tail -6)"
  }
  region_equal() { ("$noxsim" diff "$u/$1" "$u/$2" || true) | grep -qE "^$3 .* equal$"; }
  window_run auto
  note "$(found region_equal m-auto new.rom 'main BIOS')" "the automatic run did not write the main BIOS"
  note "$(found region_equal m-auto new.rom 'boot block')" "the automatic run did not write the boot block"
  note "$(found grep -q '"event":"reboot"' "$u/m-auto/journal.jsonl")" "the automatic run did not restart the machine"
  window_run interactive
  note "$(found cmp -s "$u/saved.rom" "$u/before-ui.bin")" "Save in the window did not write the machine's firmware"
  note "$(found region_equal m-ui new.rom 'main BIOS')" "the file opened in the window was not flashed"
  window_run password
  note "$(found region_equal m-pw new.rom 'main BIOS')" "the run with the typed firmware password did not flash"
  window_run secure
  note "$(found region_equal m-sec secure.rom 'boot block')" "the secure-flash session did not write the boot block"
  note "$(found grep -q '"request":"session"' "$u/m-sec/journal.jsonl")" "the secure-flash run started no session"
  window_run korv
  note "$(found cmp -s "$u/m-korv/flash.bin" "$u/before-korv.bin")" "the refused image changed the flash part"
  for png in "$u"/shots/*.png; do
    note "$(found png_ok "$png")" "$png is not a PNG of a window"
    cp "$png" "$shots/" 2>/dev/null || true
  done
fi

# The dialog templates, strings, icon, version and manifest, read back from the built program.
if command -v x86_64-w64-mingw32-windres >/dev/null; then
  rc=0
  python3 "$(dirname "$0")/check-resources.py" "$exe" >"$work/resources.txt" 2>&1 || rc=$?
  note $rc "the program's resources: $(cat "$work/resources.txt")"
fi

# The Windows operating-system services as far as Wine has them, and the Progress page and its
# controls, checked by what they draw.
smoke="$build/src/platform/nox_win32_smoke.exe"
if [[ -f "$smoke" ]]; then
  rc=0
  timeout 120 "$wine" "$smoke" >"$work/smoke.txt" 2>&1 || rc=$?
  note $rc "the Windows smoke program failed: $(tr -d '\r' <"$work/smoke.txt")"
  tr -d '\r' <"$work/smoke.txt" | grep -h '^progress page:' || true
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

# The vendor ME tool as a flash run starts it, with metool.exe standing in: written to a
# temporary directory whose name cmd.exe would split, started through cmd.exe with the
# package's argument text, and cleared away, its failing run's error.log kept in the
# temporary directory; by the Windows services (with a COMSPEC that names no program, so that
# they fall back on cmd.exe), by those of a simulated run, and by the Windows services with a
# temporary directory too long to take, when the files lie in the current directory.
me_smoke="$build/src/platform/nox_metool_smoke.exe"
metool="$build/tools/metool/metool.exe"
if [[ -f "$me_smoke" && -f "$metool" ]]; then
  me_smoke=$(realpath "$me_smoke") metool=$(realpath "$metool")
  winpath() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
  for services in windows sim long; do
    mt="$work/me tool $services" tp="$work/me tool $services/t m&p (x)"
    mkdir -p "$tp" "$mt/cwd"
    head -c 70000 /dev/urandom >"$mt/me.bin"
    echo "last run" >"$tp/error.log"
    wtemp=$(winpath "$tp") at="$(winpath "$tp")\\" kept="$tp/error.log"
    case $services in
      windows) how=(SMOKE_COMSPEC='C:\nowhere\cmd.exe') ;;
      sim) how=(SMOKE_SIM=1) ;;
      long) how=() wtemp="$wtemp\\$(printf 'd%.0s' {1..260})" at="" kept="$mt/cwd/error.log" ;;
    esac
    rc=0
    (cd "$mt/cwd" && env "${how[@]}" SMOKE_TEMP="$wtemp" METOOL_RECORD="$(winpath "$mt/record")" \
      METOOL_ERROR_LOG="ME update failed" METOOL_EXIT=3 timeout 120 "$wine" "$me_smoke" "$(winpath "$metool")" \
      ../me.bin "-k  two") >"$work/metool.txt" 2>&1 || rc=$?
    said="($services) $(tr -d '\r' <"$work/metool.txt")"
    note $rc "the ME tool smoke failed: $said"
    want=$(printf 'argv[0]=%sFWUpd.exe\nargv[1]=-f\nargv[2]=%sUpdTmp.bin\nargv[3]=-k\nargv[4]=two\nimage=%s' \
      "$at" "$at" "$(cksum <"$mt/me.bin")")
    got=$(cat "$mt/record" 2>/dev/null || true)
    note "$(found test "$got" = "$want")" "metool.exe received: $got; expected: $want; $said"
    note "$(found test "$(cat "$kept" 2>/dev/null)" = "ME update failed")" "the ME tool's error.log was not kept: $said"
    note "$(found test ! -e "$mt/cwd/FWUpd.exe" -a ! -e "$mt/cwd/UpdTmp.bin" -a ! -e "$tp/FWUpd.exe" -a \
      ! -e "$tp/UpdTmp.bin")" "the ME tool's files were left behind: $(ls "$mt/cwd" "$tp"); $said"
  done
fi

echo "wine: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
