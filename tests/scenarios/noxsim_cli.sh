#!/usr/bin/env bash
# noxsim as a user drives it: make machines, images that fit and images that do not, change
# faults, look at the journal, and the exit codes of each. The machine itself is proven
# in-process (tests/sim).
source "$(dirname "$0")/lib.sh" "$@"

# sim CODE PATTERN ARGS...: noxsim ends with CODE and prints a line matching the extended regex.
sim() {
  expect_exit "$1" "$NOXSIM" "${@:3}"
  [[ -z $2 ]] || check "a line matches $2" grep -qE -- "$2" "$OUT"
}

m=$WORK/legacy
sim 0 'created .* \(legacy-8m, running A06\)' create "$m" --preset legacy-8m
sim 3 'holds a machine already' create "$m" --preset legacy-8m
sim 3 'unknown preset "legacy-4m"; known: legacy-8m uefi-16m secure-16m me-16m minimal-1m' create "$WORK/x" --preset legacy-4m
sim 3 'asf.port: 0xB0, but the FADT.s SMI_CMD names 0xB2' create "$WORK/y" --preset legacy-8m --set asf.port=0xB0
sim 3 'enableAnswr: no such field' create "$WORK/y" --preset minimal-1m --set enableAnswr=1
check "a refused create leaves no machine" test ! -e "$WORK/y/machine.json"
sim 2 'DIR is required|required' create
sim 2 'A subcommand is required' frobnicate "$m"

sim 0 'identity   A06, system ID 0x9A, extended ID 0x1234' show "$m"
expect_out "  0x7E0000  0x020000  boot block 0x00  erased 0"
sim 0 '"replyVersion": 11' show "$m" --json
expect_out '"verdict": "old"'
sim 0 '^old firmware boots \(boot block as booted, main BIOS as booted\)$' verdict "$m"
# An image made for the machine: one version newer, differs in the identity file (its version
# and data checksum) and EC word.
sim 0 'version A07, system ID 0x9A' rom "$m" -o "$WORK/a07.bin"
sim 1 'main BIOS +0x060000-0x7DFFFF  changed: 0x060089-0x060089 0x0600A9-0x0600A9' diff "$m" "$WORK/a07.bin"
check "EC changed" grep -qE 'EC +0x040000-0x05FFFF  changed' "$OUT"
check "boot block equal" grep -qE 'boot block +0x7E0000-0x7FFFFF  equal' "$OUT"
sim 0 '' dump "$m" -o "$WORK/dump.bin"
check "dump is flash.bin" cmp -s "$WORK/dump.bin" "$m/flash.bin"
sim 0 'boot block +0x7E0000-0x7FFFFF  equal' diff "$m" "$WORK/dump.bin"
# Images for another machine.
sim 0 'system ID 0x55' rom "$m" -o "$WORK/other.bin" --system-id 0x55 --name Other
sim 3 'system-id: not a number from 0 to 0xFF' rom "$m" -o "$WORK/bad.bin" --system-id 0x155
sim 0 'running A99' create "$WORK/old" --preset minimal-1m --set identity.version=A99
sim 3 'the running version A99 has no next version; give --version' rom "$WORK/old" -o "$WORK/z.bin"
sim 0 'version A98' rom "$WORK/old" -o "$WORK/z.bin" --version A98
sim 3 'is this a machine directory' show "$WORK"
sim 3 'bytes, the flash part has' diff "$m" "$m/state.json"

# Faults are set on an existing machine and show up in show.
sim 0 '' set "$m" faults.powerLossAfterSmi=40 'faults.fail=[{"op":"erase","start":"0x7E0000","length":4096}]'
sim 0 'erase fails at 0x7E0000\+0x1000; power loss after SMI 40;$' show "$m"
sim 3 'faults.fail\[0\].op: must be' set "$m" 'faults.fail=[{"op":"burn"}]'

sim 0 'rebooted' reboot "$m"
sim 0 'reboot' trace "$m" --tail 1
echo '{"n":"x","smi":33,"addr":"0x10"}' >>"$m/journal.jsonl"
sim 0 '"addr":"0x10"' trace "$m" --tail 1
sim 0 'create preset=legacy-8m' trace "$m"

# A chip with other regions in front of the firmware: images and dumps cover the whole chip,
# with those regions as on the part; diff compares the blocks.
b=$WORK/based
sim 0 'running A01' create "$b" --preset minimal-1m --set flash.base=0x10000 \
  --set flash.blocks.0.start=0x10000 --set flash.blocks.0.size=0xD0000
sim 0 'firmware from 0x10000' show "$b"
sim 0 '^based.rom: 1048576 bytes, version A02' rom "$b" -o based.rom
sim 1 '^main BIOS +0x010000-0x0DFFFF  changed' diff "$b" based.rom
sim 0 '' dump "$b" -o based.bin
check "the regions below the blocks as on the part" cmp -n 65536 based.rom based.bin

# A chip with the flash descriptor and the ME region in front of the firmware's part, and an EC
# with a flash of its own: images of the part, of the whole chip and of the ME region alone,
# EC firmware images, and diff of each.
e=$WORK/me
sim 0 'created .* \(me-16m, running M05\)' create "$e" --preset me-16m
sim 0 '^ME +descriptor 0x000000-0x000FFF, ME region 0x001000-0x7FFFFF, span 0x800000; answers ignition and entire; locked$' show "$e"
expect_out "EC flash   128 KiB (ec.bin)"
sim 0 '"unlocked": null' show "$e" --json
check "flash.bin holds the whole chip" test "$(stat -c %s "$e/flash.bin")" -eq 16777216
sim 0 '^m06.rom: 8388608 bytes, version M06' rom "$e" -o m06.rom
sim 0 '^full.rom: 16777216 bytes, version M06.*, full chip$' rom "$e" -o full.rom --me-full --seed 2
sim 0 'full chip without the "\$FID" marker$' rom "$e" -o nofid.rom --me-full --seed 2 --no-fid
sim 0 '^mereg.rom: 8384512 bytes, ME region \(seed 2\)$' rom "$e" -o mereg.rom --me-region --seed 2
check "the descriptor signature at 16" test "$(od -An -tx1 -j16 -N4 full.rom)" = " 5a a5 f0 0f"
fid=$(grep -obUa '\$FID' full.rom)
check "one \$FID marker, inside the firmware's part" test "$(wc -l <<<"$fid")" -eq 1 -a "${fid%%:*}" -gt $((0x800000 + 1024))
check "no \$FID marker with --no-fid" test -z "$(grep -obUa '\$FID' nofid.rom)"
check "the ME region image is the full image's" cmp -s mereg.rom <(tail -c +4097 full.rom | head -c 8384512)
sim 2 'no-fid leaves the marker out of a full-chip image: it needs --me-full$' rom "$e" -o x.rom --no-fid
sim 2 'me-full and --me-region: choose one$' rom "$e" -o x.rom --me-full --me-region
sim 3 'this machine has no ME region' rom "$m" -o x.rom --me-full
# The machine keeps its own descriptor but for the signature, its ME region is seed 1's.
sim 1 '^descriptor +0x000000-0x000FFF  changed: 0x000014-0x000FFF$' diff "$e" full.rom
check "ME region changed" grep -qE '^ME region +0x001000-0x7FFFFF  changed: 0x001000-0x7FFFFF$' "$OUT"
check "the firmware's part at its chip offsets" grep -qE '^boot block +0xF80000-0xFFFFFF  changed' "$OUT"
sim 1 '^main BIOS +0x060000-0x75FFFF  changed' diff "$e" m06.rom
sim 0 '' rom "$e" -o own.rom --me-region
sim 0 '^ME region +0x000000-0x7FEFFF  equal$' diff "$e" own.rom
sim 0 '^ec.img: 131072 bytes of EC firmware \(seed 2\), the EC flash holds 131072$' ec "$e" -o ec.img
sim 0 ': too large$' ec "$e" -o big.img --size 0x20001
sim 1 '^EC flash +0x000000-0x01FFFF  changed' diff "$e" ec.img --ec
sim 3 'big.img: 131073 bytes, the EC flash has 131072' diff "$e" big.img --ec
sim 0 '' ec "$e" -o own.img --size 1000 --seed 1
sim 0 '^EC flash +0x000000-0x0003E7  equal$' diff "$e" own.img --ec
sim 3 'ecFlash.present is false' ec "$m" -o x.img
sim 3 'ecFlash.size cannot change' set "$e" ecFlash.size=4096
echo '{"n":7,"t":0,"smi":38,"op":"ofbd","class":134217728,"type":84,"subFunction":2,"length":4096,"flags":1,"status":1,"checksumOk":true,"received":4096}' >>"$e/journal.jsonl"
sim 0 'ec data +len 4096 status 1 checksumOk=true received=4096$' trace "$e" --tail 1

u=$WORK/uefi
sim 0 'running B12' create "$u" --preset uefi-16m --set identity.version=B12 --set faults.writeProtected=true
sim 0 'OEM call 99/15' show "$u"
expect_out "write-protected"
# trace --regions: what the last run asked of each region, in the block table's order, told from
# the journal. A "/p" flash erases and writes the main BIOS but for its 4 KiB ROM hole, and only
# reads the boot block; the part then holds the image there but for the hole.
machine mini minimal-1m
sim 0 '^no run in the journal yet$' trace "$MACHINE" --regions
expect_out "main BIOS      0x000000-0x0DFFFF  untouched"
rom mini.rom --seed 2
pack pflash --rom 0=mini.rom --cmd "/p"
run pflash ''
# The restart took the machine down; the next run boots it, and it then runs A02: the second
# run brings A03.
rom mini.rom --seed 3 --version A03
pack pflash --rom 0=mini.rom --cmd "/p"
run pflash ''
journal_has '"event":"boot","after":"reboot"'
erases=$(run_journal | grep -c '"op":"erase"')
writes=$(run_journal | grep -c '"op":"write"')
sim 0 "^main BIOS +0x000000-0x0DFFFF  erased 892 KiB in $erases requests, written 892 KiB in $writes requests, read" \
  trace "$MACHINE" --regions
check "the boot block only read, after the main BIOS" \
  grep -qzP '\nmain BIOS [^\n]+\nboot block +0x0E0000-0x0FFFFF  read \d+ KiB in \d+ requests\n$' "$OUT"
sim 0 '^main BIOS .* erased 1784 KiB' trace "$MACHINE" --regions --all
sim 0 '"bytes": 913408' trace "$MACHINE" --regions --json
sim 1 '^main BIOS +0x000000-0x0DFFFF  changed: 0x001011-0x001FFF \(ROM hole\)$' diff "$MACHINE" "$WORK/mini.rom"
# A secure-flash machine: capsule images in both forms, the combinations that make none, and a
# recovery update (armed here as a run under Wine would record it) applied by the next boot.
s=$WORK/secure
sim 0 'created .* \(secure-16m, running S03\)' create "$s" --preset secure-16m
sim 0 '^secure     capable, signed images only; image memory 0 bytes held; no session; nothing pending$' show "$s"
expect_out "power      running"
sim 0 '16777312 bytes, version S04.*capsule header of 96 bytes in front \(signed\)$' rom "$s" -o s04.cap --capsule
sim 0 '16777216 bytes, version S04.*capsule header inside \(signed\)$' rom "$s" -o S04.ROM --capsule-inside
sim 0 'marker file without a capsule header$' rom "$s" -o marker.rom --marker-only
sim 2 '^noxsim: --capsule and --capsule-inside: choose one$' rom "$s" -o x.rom --capsule --capsule-inside
sim 2 '^noxsim: --unsigned and --damaged need --capsule or --capsule-inside$' rom "$s" -o x.rom --damaged
sim 2 '^noxsim: --damaged spoils a signed image: not with --unsigned$' rom "$s" -o x.rom --capsule --unsigned --damaged
sim 3 'secureFlash.capable: the secure-flash requests travel in OFBD blocks' create "$WORK/z" --preset secure-16m --set ofbdVersion=0
# Z: must be read as the host's root by itself, not through a Wine prefix that happens to be there.
export WINEPREFIX=$WORK/no-wine-prefix
printf '{"pending":{"kind":"recovery","regions":2,"name":"S04.ROM","directories":["Z:%s"]}}' "${WORK//\//\\\\}" >"$s/secure-flash.json"
sim 0 'pending recovery \(main BIOS\) from "S04.ROM"$' show "$s"
sim 0 '"kind": "recovery"' show "$s" --json
sim 0 '^rebooted .* \(running S04\): applied recovery \(main BIOS\)$' reboot "$s"
sim 0 'recovery-applied .*regionNames=main BIOS' trace "$s" --tail 2
sim 0 '\(running S04\): nothing pending$' reboot "$s"
# The firmware wrote the main BIOS from the file as it stands, ROM holes included.
sim 1 '^main BIOS +0x060000-0xF5FFFF  equal$' diff "$s" S04.ROM
finish
