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

echo "== 2. A newer image for it, and the utility packaged with that image and \"/p /b\""
"$noxsim" rom machine -o A07.rom
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
grep -E '"op":"(erase|write)"' machine/journal.jsonl | sed -E 's/.*"op":"([a-z]+)","addr":([0-9]+),"len":([0-9]+).*/\1 \2 \3/' |
  awk '{ r = $2 < 131072 ? "non-critical" : $2 < 262144 ? "NVRAM" : $2 < 393216 ? "EC" : $2 < 8257536 ? "main BIOS" : "boot block"
         bytes[r " " $1] += $3; seen[r] = 1 }
       END { for (r in seen) printf "  %-12s erased %5d KiB, written %5d KiB\n", r, bytes[r " erase"] / 1024, bytes[r " write"] / 1024 }' |
  sort
echo "  (each ROM hole, 4 KiB, keeps the machine's own data and is skipped)"
echo
echo "== 4. The flash part now, against the A07 image (main BIOS and boot block must be equal):"
after_image=$("$noxsim" diff machine A07.rom || true)
echo "$after_image"
echo
echo "== 5. The flash part now, against its contents before the run (only those two may differ):"
after_before=$("$noxsim" diff machine before.bin || true)
echo "$after_before"

region() { grep -E "^$2 " <<<"$1" | grep -qE "$3"; }
ok=1
region "$after_image" "main BIOS" ' equal$' || ok=0
region "$after_image" "boot block" ' equal$' || ok=0
for other in "NCB 0x80" "NCB 0x81" NVRAM EC; do
  region "$after_before" "$other" ' equal$' || ok=0
done
echo
if [[ $rc -eq 0 && $ok -eq 1 ]]; then
  echo "demo: PASS - main BIOS and boot block hold A07; NVRAM, EC and the non-critical blocks are untouched"
else
  echo "demo: FAIL - see the comparison above"
  exit 1
fi
