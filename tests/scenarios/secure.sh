#!/usr/bin/env bash
# Firmware that programs the flash itself: the image handed over in pieces, a session the
# flash run writes into, capsule and recovery updates that the machine applies at its next
# boot, and the refusals as the user meets them. How the pieces are cut and what the firmware
# refuses is proven in-process (tests/firmware, tests/sim); here, what whole runs do.
source "$(dirname "$0")/lib.sh" "$@"

count_of() { run_journal | grep -cE -- "$1"; }
expect_count() {
  local n
  n=$(count_of "$2")
  if [[ $n -eq $1 ]]; then pass; else fail "$n journal lines match $2, expected $1"; fi
}
reboot() { "$NOXSIM" reboot "$MACHINE" >"$OUT" 2>&1 || fail "noxsim reboot failed"; }
same_part() { same_file "$MACHINE/flash.bin" "$WORK/before.bin"; }
PIECE='"request":"piece"'
SESSION='"request":"session"'

machine sec secure-16m
rom plain.rom
rom front.rom --capsule
rom inside.rom --capsule-inside
rom damaged.rom --capsule --damaged
snapshot before.bin

CASE="a runtime session: the image goes across, then the regions are written into the session"
pack rt --rom 0=front.rom --cmd "/p /b"
run rt ''
expect_rc 0
journal_has '"flags":1,"request":"capability"'
journal_has "\"flashType\":4,.*\"regions\":3,$SESSION,\"status\":0"
for region in "main BIOS" "boot block"; do region_is "$region" equal plain.rom; done
region_is NVRAM equal before.bin
expect_out "Loading image into firmware memory: 100%"
expect_out "Version S03 to S04."
expect_no_out "Compare Capsule Header GUID failed."

CASE="the header found inside the image: the image proper is what is written"
machine sec secure-16m
pack in --rom 0=inside.rom --cmd "/p"
run in ''
expect_rc 0
region_is "main BIOS" equal inside.rom

CASE="an image without any capsule header is said so, and still flashed where signing is not required"
machine sec secure-16m --set secureFlash.requireSigned=false
pack raw --rom 0=plain.rom --cmd "/p"
run raw 'OK\n'
expect_rc 0
expect_out "Compare Capsule Header GUID failed."
region_is "main BIOS" equal plain.rom

CASE="a capsule: the warning of the restart, type 2, the power-off; applied at the next boot"
machine sec secure-16m
pack cap --rom 0=front.rom --cmd "/p /b /capsule"
run cap ''
expect_rc 0
expect_out $'Start to flash ...\nSystem is going to reboot\nPress OK to continue or CANCEL to quit.'
journal_has "\"flashType\":2,.*$SESSION,\"status\":0"
journal_has '"event":"power-off-requested"'
journal_lacks '"op":"(erase|write)"'
same_part
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
same_part
reboot
region_is "main BIOS" equal plain.rom

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

# Refusals: the machine's setting, the image, the exit code, the text, and what the journal of
# the run must lack; the flash part keeps what it held.
pack dmg --rom 0=damaged.rom --cmd "/p /b"
while IFS='|' read -r -u 3 setting tool rc text lacks; do
  CASE="refused: $tool ${setting:-as made}"
  machine sec secure-16m ${setting:+--set "$setting"}
  run "$tool" ''
  expect_rc "$rc"
  expect_out "$text"
  journal_lacks "$lacks"
  same_part
done 3<<'EOF'
|dmg|24|Error: Unable to start a Secure Flash session. (0x4)|"op":"(erase|write)"
secureFlash.sessionStatus=0x23|rt|24|Error: Unable to start a Secure Flash session. (0x23)|"op":"(erase|write)"
secureFlash.failPieceAt=5000000|rt|29|Error: Failed to load image into memory.|"request":"session"
oem.updatePermission=0x10|rt|0|BIOS can't be updated|"request":"piece"
EOF

# The machine loses power halfway through the upload: the part keeps what it held, the
# firmware's memory is lost, and the same package run again completes.
CASE="power lost during the upload, then a rerun"
machine sec secure-16m
run rt ''
at=$(run_journal | grep -m1 "\"offset\":8388608,$PIECE" | grep -oE '"n":[0-9]+' | cut -d: -f2)
machine sec secure-16m --set faults.powerLossAfterSmi=$((at - 1))
run rt ''
expect_rc 86
same_part
"$NOXSIM" set "$MACHINE" faults.powerLossAfterSmi=0 >/dev/null
run rt ''
expect_rc 0
region_is "main BIOS" equal plain.rom
finish
