#!/usr/bin/env bash
# The main job on a simulated machine: build the tools, make a machine and a ROM image that
# fits it, package the utility with the image, and run it. Answers come from the terminal
# (type OK or press Enter at each box).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc 2>/dev/null || echo 2)" --target noxwingui noxsim noxpack

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
bin=$PWD/build/dev
"$bin/tools/noxsim/noxsim" create "$demo/machine" --preset legacy-8m
"$bin/tools/noxsim/noxsim" rom "$demo/machine" -o "$demo/A07.rom"
head -c 4096 /dev/zero | tr '\0' 'D' >"$demo/driver.sys"
(cd "$demo" && "$bin/tools/noxpack/noxpack" build --stub "$bin/src/platform/noxwingui" --driver64 driver.sys \
    --rom 0=A07.rom --cmd "/p /b" -o NOXWINGUI >/dev/null)
echo "== running $demo/NOXWINGUI against $demo/machine"
cd "$demo"
rc=0
NOXWINGUI_MACHINE=machine ./NOXWINGUI "$@" || rc=$?
echo "== exit code $rc; what the machine saw:"
"$bin/tools/noxsim/noxsim" trace machine --tail 25
exit $rc
