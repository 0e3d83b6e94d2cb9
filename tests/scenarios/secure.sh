#!/usr/bin/env bash
# Firmware that programs the flash itself: the image handed over in pieces, a session the
# flash run writes into, capsule and recovery updates that the machine applies at its next
# boot, and every refusal on the way. Proven on the flash part, before and after the boot.
source "$(dirname "$0")/lib.sh" "$@"

snapshot() { "$NOXSIM" dump "$MACHINE" -o "$WORK/$1" >/dev/null || { echo "cannot dump"; exit 1; }; }
same_part() { if cmp -s "$MACHINE/flash.bin" "$WORK/$1"; then pass; else fail "the flash part changed ($2)"; fi; }
# region_is NAME equal|changed FILE
region_is() {
  local line
  line=$("$NOXSIM" diff "$MACHINE" "$WORK/$3" | grep -E "^$1 ")
  if [[ $2 == equal && $line == *" equal" ]] || [[ $2 == changed && $line == *"changed"* ]]; then pass
  else fail "$1 against $3: ${line:-no such region} (expected $2)"; fi
}
count_of() { run_journal | grep -cE -- "$1"; }
expect_count() {
  local n
  n=$(count_of "$2")
  if [[ $n -eq $1 ]]; then pass; else fail "$n journal lines match $2, expected $1"; fi
}
reboot() { "$NOXSIM" reboot "$MACHINE" >"$OUT" 2>&1 || fail "noxsim reboot failed"; }
PIECE='"request":"piece"'
SESSION='"request":"session"'

machine sec secure-16m
rom plain.rom
rom front.rom --capsule
rom inside.rom --capsule-inside
rom damaged.rom --capsule --damaged
rom marker.rom --marker-only
snapshot before.bin

CASE="a runtime session: the image goes across, then the regions are written into the session"
pack rt --rom 0=front.rom --cmd "/p /b"
run rt ''
expect_rc 0
journal_has '"flags":1,"request":"capability"'
# 16 MiB and the 96-byte header in front: 512 whole pieces and one of 96 bytes.
expect_count 513 "$PIECE"
journal_has "\"length\":96,\"offset\":16777216,$PIECE"
journal_has "\"flashType\":4,.*\"regions\":3,$SESSION,\"status\":0"
# The upload comes before the session, and the session before the first erase.
order=$(run_journal | grep -nE "$PIECE|$SESSION|\"op\":\"erase\"" | sed -E 's/^([0-9]+):.*"(request|op)":"([a-z]+)".*/\3/' |
  awk '!seen[$0]++' | paste -sd' ')
check "upload, session, erase in that order (got: $order)" test "$order" = "piece session erase"
for region in "main BIOS" "boot block"; do region_is "$region" equal plain.rom; done
region_is NVRAM equal before.bin
expect_out "Loading image into firmware memory: 100%"
expect_out "Version S03 to S04."
expect_no_out "Compare Capsule Header GUID failed."

CASE="the header found inside the image goes ahead of it"
machine sec secure-16m
pack in --rom 0=inside.rom --cmd "/p"
run in ''
expect_rc 0
journal_has "\"offset\":0,$PIECE"
first=$(run_journal | grep -m1 "$PIECE")
check "the first piece is the header alone ($first)" grep -qE '"length":(64|80|96|112|128)[,}]' <<<"$first"
region_is "main BIOS" equal inside.rom

CASE="an image without any capsule header is said so, and still flashed where signing is not required"
machine sec secure-16m --set secureFlash.requireSigned=false
pack raw --rom 0=plain.rom --cmd "/p"
run raw 'OK\n'
expect_rc 0
expect_out "Compare Capsule Header GUID failed."
region_is "main BIOS" equal plain.rom
CASE="a marker without a capsule GUID behind it is no header"
machine sec secure-16m --set secureFlash.requireSigned=false
pack mk --rom 0=marker.rom --cmd "/p"
run mk 'OK\n'
expect_rc 0
expect_count 512 "$PIECE"
expect_out "Compare Capsule Header GUID failed."

CASE="a capsule: the warning of the restart, type 2, the power-off; applied at the next boot"
machine sec secure-16m
snapshot before.bin
pack cap --rom 0=front.rom --cmd "/p /b /capsule"
run cap ''
expect_rc 0
expect_out $'Start to flash ...\nSystem is going to reboot\nPress OK to continue or CANCEL to quit.'
journal_has "\"flashType\":2,.*$SESSION,\"status\":0"
journal_has '"event":"power-off-requested"'
journal_lacks '"op":"(erase|write)"'
same_part before.bin "before the boot"
reboot
for region in "main BIOS" "boot block"; do region_is "$region" equal plain.rom; done
region_is NVRAM equal before.bin
expect_out "S04"

CASE="recovery: no upload, the file next to the program, type 1 with its name, the restart"
machine sec secure-16m
pack rec --rom 0=front.rom --cmd "/p /b /recovery"
run rec ''
expect_rc 0
expect_count 0 "$PIECE"
check "the recovery file holds the package's image" cmp -s rec.hdr front.rom
journal_has "\"flashType\":1,.*$SESSION"
journal_has '"event":"restart-requested"'
same_part before.bin "before the boot"
reboot
region_is "main BIOS" equal plain.rom
CASE="recovery from a file that is gone by the boot applies nothing"
machine sec secure-16m
run rec ''
rm -f rec.hdr
reboot
same_part before.bin "recovery without its file"

CASE="capsule and recovery together: a capsule, and no image goes across"
machine sec secure-16m
pack both --rom 0=front.rom --cmd "/p /capsule /recovery"
run both ''
expect_count 0 "$PIECE"
journal_has "\"flashType\":2,.*$SESSION"
expect_rc 24
expect_out "Error: Unable to start a Secure Flash session. !! (0x2)"

CASE="with no region asked for, nothing goes across: a capsule run names the type, the window opens"
machine sec secure-16m
pack none --rom 0=front.rom --cmd "/capsule"
run none ''
expect_rc 0
expect_out "Error: Chose the wrong FlashOpType !! (0xFF)"
expect_count 0 "$PIECE"
pack window --rom 0=front.rom --cmd "/x"
run window 'Exit\n'
expect_rc 0
expect_out "[Information] [Setup] [Open] (Flash) [Save] [Exit] >"
expect_count 0 "$SESSION"

CASE="a damaged capsule is refused, and nothing is written"
machine sec secure-16m
pack dmg --rom 0=damaged.rom --cmd "/p /b"
run dmg ''
expect_rc 24
expect_out "Error: Unable to start a Secure Flash session. (0x4)"
journal_lacks '"op":"(erase|write)"'
same_part before.bin "damaged capsule"
CASE="an unsigned image is refused where signing is required"
machine sec secure-16m
pack uns --rom 0=plain.rom --cmd "/p"
run uns ''
expect_rc 24
expect_out "(0x5)"
CASE="the firmware refuses the session with its own status"
machine sec secure-16m --set secureFlash.sessionStatus=0x23
run rt ''
expect_rc 24
expect_out "Error: Unable to start a Secure Flash session. (0x23)"
CASE="a piece the firmware does not take ends the run before any session"
machine sec secure-16m --set secureFlash.failPieceAt=5000000
run rt ''
expect_rc 29
expect_out "Error: Failed to load image into memory."
expect_count 0 "$SESSION"
same_part before.bin "failed upload"
CASE="the firmware's refusal of any update ends the run before the upload"
machine sec secure-16m --set oem.updatePermission=0x10
run rt ''
expect_rc 0
expect_out "BIOS can't be updated"
expect_count 0 "$PIECE"

# The machine loses power during the upload, and right before the session; each time the
# part keeps what it held and the same package run again completes.
for cut in upload session; do
  CASE="power lost before the $cut is done, then a rerun"
  machine sec secure-16m
  run rt ''
  at=$(run_journal | grep -m1 -n "$([[ $cut == upload ]] && echo "\"offset\":8388608,$PIECE" || echo "$SESSION")" |
    grep -oE '"n":[0-9]+' | cut -d: -f2)
  machine sec secure-16m --set faults.powerLossAfterSmi=$((at - 1))
  run rt ''
  expect_rc 86
  same_part before.bin "power lost"
  "$NOXSIM" set "$MACHINE" faults.powerLossAfterSmi=0 >/dev/null
  run rt ''
  expect_rc 0
  region_is "main BIOS" equal plain.rom
done

finish
