#!/usr/bin/env bash
# What the Windows dialogs cost a flash, measured under Wine in one run: an 8 MiB "/p /b /n"
# flash of a simulated machine with the text interface and then with the dialogs (driven by
# noxdrive, which also asks the window for an answer every 20 ms and reports the longest
# wait). The difference of the two run times is the drawing and message handling.
# Usage: bench/wine-ui-figures.sh [mingw build dir] [native build dir]
set -euo pipefail
if [[ -z "${DISPLAY:-}" ]] && command -v xvfb-run >/dev/null; then exec xvfb-run -a "$0" "$@"; fi
build=$(realpath "${1:-build/mingw}")
native=$(realpath "${2:-build/dev}")
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
noxsim="$native/tools/noxsim/noxsim"
"$noxsim" create text --preset legacy-8m >/dev/null
"$noxsim" create dialogs --preset legacy-8m >/dev/null
"$noxsim" rom text -o new.rom >/dev/null
head -c 4096 /dev/zero >driver.sys
"$native/tools/noxpack/noxpack" build --stub "$build/src/platform/NOXWINGUI.exe" --driver64 driver.sys \
  --rom 0=new.rom --cmd "/p /b /n" -o tool.exe >/dev/null
cp "$build/tools/noxdrive/noxdrive.exe" .
"$wine" noxdrive.exe - </dev/null >/dev/null 2>&1 || true  # the Wine session is up before timing

ms() { date +%s%3N; }
# The text run, timed from its start: Wine starts a console program in a few milliseconds
# once its session is up, so this is the flash itself with a little to spare.
start=$(ms)
printf 'OK\nOK\n' | NOXWINGUI_UI=text NOXWINGUI_MACHINE=text "$wine" tool.exe >text.txt 2>&1
text=$(($(ms) - start))
printf '%s\n' 'timeout 60' 'start -env NOXWINGUI_MACHINE=dialogs tool.exe' 'answer NOXWINGUI OK' 'answer WARNING OK' \
  'window class CNOXWINGUIDlg' 'within 600 wait-exit 0 watch' 'timeout 1' >dialogs.noxdrive
"$wine" noxdrive.exe -v dialogs.noxdrive >said.txt 2>&1
# From the window's appearance to the end of the program, less the half second the window
# waits before it starts the flash by itself.
at() { tr -d '\r' <said.txt | sed -n "s/^noxdrive: $1: \[\([0-9]*\) ms\].*/\1/p"; }
dialogs=$(($(at 7) - $(at 5) - 500))
longest=$(tr -d '\r' <said.txt | sed -n 's/^longest answer while waiting: //p')
share=$(( (dialogs - text) * 100 / dialogs ))
grep -q "Done." text.txt || { echo "the text run did not flash:"; tail -5 text.txt; exit 1; }
echo "flash of 8 MiB, /p /b /n: text interface ${text} ms (whole run), dialogs ${dialogs} ms (from the automatic start to the exit)"
echo "drawing and message handling: about ${share}% of the run with the dialogs"
echo "longest the window took to answer during the run: ${longest}"
