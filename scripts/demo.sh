#!/usr/bin/env bash
# The main job on a simulated machine: builds the tools, makes a machine running A06 and an
# A07 image that fits it, packages the utility with the image and an option script that
# selects main BIOS and boot block, runs it (the two start-up boxes are answered OK), and
# then proves on the flash part that exactly the selected regions were replaced.
#
#   scripts/demo.sh            the map fills in at a pace you can watch
#   DEMO_PACE_US=0 scripts/demo.sh   as fast as the machine allows
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc 2>/dev/null || echo 2)" --target noxwingui noxsim noxpack

bin=$PWD/build/dev
noxsim=$bin/tools/noxsim/noxsim
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"

echo
echo "== 1. A simulated machine with an 8 MiB flash part, running firmware A06"
"$noxsim" create machine --preset legacy-8m --set "timing.realMicrosPerRequest=${DEMO_PACE_US:-150}"
"$noxsim" dump machine -o before.bin >/dev/null

echo "== 2. A newer image for it, built from other filler so that it differs from the running"
echo "      firmware throughout, and the utility packaged with that image and \"/p /b\""
"$noxsim" rom machine -o A07.rom --seed 2
head -c 4096 /dev/zero | tr '\0' 'D' >driver.sys
"$bin/tools/noxpack/noxpack" build --stub "$bin/src/platform/noxwingui" --driver64 driver.sys \
  --rom 0=A07.rom --cmd "/p /b" -o NOXWINGUI >/dev/null

echo "== 3. Running ./NOXWINGUI against the machine (both boxes answered OK)"
echo
rc=0
printf 'OK\nOK\n' | NOXWINGUI_MACHINE=machine ./NOXWINGUI "$@" || rc=$?
echo
echo "== NOXWINGUI ended with exit code $rc; the machine's last events:"
"$noxsim" trace machine --tail 4

echo
echo "== What the run asked the firmware to do, region by region (from the machine's journal):"
regions=$("$noxsim" trace machine --regions)
echo "$regions"
echo "  (each ROM hole, 4 KiB, keeps the machine's own data and is neither erased nor written)"
echo
echo "== 4. The flash part now, against the A07 image (main BIOS and boot block must be equal but"
echo "      for their ROM holes):"
after_image=$("$noxsim" diff machine A07.rom || true)
echo "$after_image"
echo
echo "== 5. The flash part now, against its contents before the run (those two must have changed,"
echo "      but not in their ROM holes; the rest must be equal):"
after_before=$("$noxsim" diff machine before.bin || true)
echo "$after_before"

# region TEXT NAME REGEX: the line of region NAME in TEXT matches REGEX.
region() { grep -E "^$2 " <<<"$1" | grep -qE "$3"; }
hole_ranges='( 0x[0-9A-F]+-0x[0-9A-F]+ \(ROM hole\))+'
ok=1
for written in "main BIOS" "boot block"; do
  region "$after_image" "$written" " (equal|changed:$hole_ranges)\$" || ok=0
  region "$after_before" "$written" ' changed: [^(]*$' || ok=0
  region "$regions" "$written" ' erased .*, written ' || ok=0
done
for other in "NCB 0x80" "NCB 0x81" NVRAM EC; do
  region "$after_before" "$other" ' equal$' || ok=0
  region "$regions" "$other" ' (erased|written) ' && ok=0
done
echo
if [[ $rc -eq 0 && $ok -eq 1 ]]; then
  echo "demo: PASS - main BIOS and boot block hold A07 around the machine's own ROM holes; NVRAM, EC and the non-critical blocks are untouched"
else
  echo "demo: FAIL - see the comparison above"
  exit 1
fi
