#!/usr/bin/env bash
# Whole flashes of the packaged program: picked regions, ROM holes, a power cut and Flash.log.
# Results are proven on the flash part itself, against the image and against a copy of the part
# taken before the run. The regions and their order, the console, refusals and failing parts
# are proven in-process (tests/app).
source "$(dirname "$0")/lib.sh" "$@"

CASE="a picked ROM hole or non-critical block is written"
# Numbered after the two non-critical blocks, the main BIOS's hole is number 2.
machine mach-holes2 legacy-8m
rom other.rom --seed 5
pack hole2 --rom 0=other.rom --cmd "/p /b /k2"
run hole2 ''
expect_rc 0
region_is "main BIOS" equal other.rom
region_is "boot block" changed other.rom
# A non-critical block on its own.
machine mach-ncb0 legacy-8m
rom other.rom --seed 5
snapshot before-ncb0.bin
pack ncb0 --rom 0=other.rom --cmd "/k0"
run ncb0 ''
expect_rc 0
region_is "NCB 0x80" equal other.rom
region_is "NCB 0x81" equal before-ncb0.bin
region_is "main BIOS" equal before-ncb0.bin

CASE="ROM holes back to back are never erased or written, so a power cut cannot lose them"
# The legacy-8m table as a firmware may list it: boot block first, the main BIOS halves and
# the non-critical blocks in falling order.
FIRMWARE_ORDER='flash.blocks=[{"start":8257536,"size":131072,"type":0},{"start":4325376,"size":3932160,"type":1},
{"start":393216,"size":3932160,"type":1},{"start":131072,"size":131072,"type":2},{"start":262144,"size":131072,"type":3},
{"start":65536,"size":65536,"type":129},{"start":0,"size":65536,"type":128}]'
# holes_machine NAME [--set k=v]...: a machine whose own firmware (A06, EC 0x10200) carries
# five ROM holes: three back to back in the main BIOS, two in the boot block.
holes_machine() {
  machine "$@"
  "$NOXSIM" rom "$MACHINE" -o "$MACHINE/flash.bin" --version A06 --ec-version 0x10200 --holes 5 >/dev/null ||
    { echo "cannot load $1"; exit 1; }
}
# holes_untouched: no erase or write request of the last run reaches into a hole's sector.
holes_untouched() {
  local bad
  bad=$(run_journal | grep -E '"op":"(erase|write)"' | sed -E 's/.*"addr":([0-9]+),"len":([0-9]+).*/\1 \2/' |
    awk -v holes="$HOLES" 'BEGIN { n = split(holes, h, " ") }
      { for (i = 1; i <= n; i++) if ($1 < h[i] + 4096 && h[i] < $1 + $2) { print $1; exit } }')
  if [[ -z $bad ]]; then pass; else fail "the request at $bad reaches into a hole"; fi
}
# holes_run NAME CMD [--set k=v]...: a holes machine, an image of other filler for it and a run
# of CMD; the part must then hold the image's main BIOS and boot block but for the holes, which
# keep the machine's bytes, and everything below the main BIOS (sector 96, 0x60000) untouched.
holes_run() {
  holes_machine "mach-$1" legacy-8m "${@:3}"
  snapshot before-h5.bin
  rom new-h5.rom --holes 5 --seed 5
  # Each hole is a file of one 4 KiB sector; its name ends in the bytes searched for.
  HOLES=$(LC_ALL=C grep -obUaP '\xC1\x0F\xDC\x11\x90\x11\x00\x17\x31\x53\xEB\xA8' "$WORK/before-h5.bin" |
    cut -d: -f1 | while read -r at; do echo $((at - 4)); done | paste -sd' ')
  if [[ $(wc -w <<<"$HOLES") -eq 5 ]]; then pass; else fail "holes of the machine: $HOLES"; fi
  cp "$WORK/before-h5.bin" "$WORK/expected-h5.bin"
  dd if="$WORK/new-h5.rom" of="$WORK/expected-h5.bin" bs=4096 skip=96 seek=96 conv=notrunc 2>/dev/null
  for h in $HOLES; do
    dd if="$WORK/before-h5.bin" of="$WORK/expected-h5.bin" bs=4096 skip=$((h / 4096)) seek=$((h / 4096)) count=1 \
      conv=notrunc 2>/dev/null
  done
  pack "$1" --rom 0=new-h5.rom --cmd "$2"
  run "$1" ''
  expect_rc 0
  expect_out "Done."
  same_file "$MACHINE/flash.bin" "$WORK/expected-h5.bin"
  holes_untouched
}
holes_run h5fw "/p /b" --set "$FIRMWARE_ORDER"
# Compare first rewrites the pieces that differ, and must step around the holes as well.
holes_run h5fwc "/p /b /caf" --set "$FIRMWARE_ORDER"
holes_run h5 "/p /b /caf"
# The power fails after the last request before the first write: the main BIOS is erased,
# the holes still hold the machine's data.
first_write=$(run_journal | grep -m1 '"op":"write"' | grep -oE '"n":[0-9]+' | cut -d: -f2)
holes_machine mach-h5cut legacy-8m --set faults.powerLossAfterSmi=$((first_write - 1))
run h5 ''
expect_rc 86
journal_has '"event":"power-loss"'
journal_lacks '"op":"write"'
region_is "main BIOS" changed before-h5.bin
for h in $HOLES; do
  same_file <(dd if="$MACHINE/flash.bin" bs=4096 skip=$((h / 4096)) count=1 2>/dev/null) \
    <(dd if="$WORK/before-h5.bin" bs=4096 skip=$((h / 4096)) count=1 2>/dev/null)
done
check "the cut leaves a machine the next power-on cannot boot into its main BIOS" \
  grep -q "^boot-block recovery" <("$NOXSIM" verdict "$MACHINE")
# The same package run again finds the holes behind the erased volume headers, keeps them,
# and completes the update.
"$NOXSIM" set "$MACHINE" faults.powerLossAfterSmi=0 >/dev/null
run h5 ''
expect_rc 0
expect_out "Done."
same_file "$MACHINE/flash.bin" "$WORK/expected-h5.bin"
check "the new firmware boots" grep -q "^new firmware boots" <("$NOXSIM" verdict "$MACHINE")

# The package's first image is made for another machine: the log names the one that fits.
CASE="Flash.log of a small part, byte for byte"
machine mach-mini minimal-1m
rom mini.rom --holes 0
rom other.rom --system-id 0x55 --ext-id 0x5555 --name Zero
pack mini --rom 0=other.rom --rom 3=mini.rom --cmd "/p /b"
rm -f "$WORK/Flash.log"
run mini '' /log
expect_rc 0
{
  printf ' Use @R03 Rom data for BIOS update ...\r\n'
  printf ' Start to update MainBios region.\r\n'
  printf ' Main BIOS Region 0x00000000 - 0x000E0000\r\n'
  printf ' [Erase]  Addr : 0x00000000, Size : 0x000E0000\r\n'
  for _ in $(seq 14); do printf ' [Update] Addr : 0x00000000, Size : 0x000E0000\r\n'; done
  printf ' Start to update BootBlock region.\r\n'
  printf ' Boot Block Region 0x000E0000 - 0x00100000\r\n'
  printf ' [Erase]  Addr : 0x000E0000, Size : 0x00020000\r\n'
  for _ in 1 2; do printf ' [Update] Addr : 0x000E0000, Size : 0x00020000\r\n'; done
} >"$WORK/expected.log"
if cmp -s "$WORK/expected.log" "$WORK/Flash.log"; then pass; else
  fail "Flash.log differs: $(cmp "$WORK/expected.log" "$WORK/Flash.log" 2>&1)"
fi
region_is "main BIOS" equal mini.rom
region_is "boot block" equal mini.rom

finish
