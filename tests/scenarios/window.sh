#!/usr/bin/env bash
# The main window driven as a user drives it when the option script selects nothing to flash: Open
# a ROM file, choose regions on the Setup page, Flash, Save the machine's firmware. Files are
# compared with the flash part byte for byte.
source "$(dirname "$0")/lib.sh" "$@"

count_ops() { run_journal | grep -c "\"op\":\"$1\""; }

# Save gives the flash part itself, whatever its size and block table.
for preset in legacy-8m uefi-16m minimal-1m; do
  CASE="Save on $preset"
  machine "m-$preset" "$preset"
  rom new.rom
  pack tool --rom 0=new.rom --cmd "/x"
  rm -f saved.rom
  run tool "s\n$WORK/saved.rom\nexit\n"
  expect_rc 0
  # The window offers its pages and Open; Flash waits for a file the user opens.
  expect_out "================"$'\n'"[Information] [Setup] [Open] (Flash) [Save] [Exit] > "
  same_file saved.rom "$MACHINE/flash.bin"
  expect_out "Done."
done

# The file mirrors the flash addresses: a block table that starts above 0 leaves zeros in front.
CASE="Save with a block table that starts above 0"
machine based minimal-1m --set flash.base=65536 \
  --set 'flash.blocks=[{"start":65536,"size":851968,"type":1},{"start":917504,"size":131072,"type":0}]'
rom new.rom
pack tool --rom 0=new.rom --cmd "/x"
run tool "save\n$WORK/based.rom\nexit\n"
expect_rc 0
same_file <(head -c 65536 based.rom) <(head -c 65536 /dev/zero)
same_file <(tail -c +65537 based.rom) <(tail -c +65537 "$MACHINE/flash.bin")
check "the file ends where the part ends" [ "$(stat -c %s based.rom)" -eq 1048576 ]

# A read that stays unanswered fails the save; Retry writes the file again from the start and
# succeeds once the fault is gone.
CASE="Save fails, Retry succeeds"
machine retry minimal-1m --set 'faults.stuck=[{"address":"0x80000","attempts":6}]'
pack tool --rom 0=new.rom --cmd "/x"
run tool "save\n$WORK/retry.rom\nRetry\nexit\n"
expect_rc 0
expect_out "Unable to save existing BIOS."
expect_out "Failed."
same_file retry.rom "$MACHINE/flash.bin"
check "the second try reads from the first block again" [ "$(run_journal | grep -c '"op":"read","addr":0,')" -eq 2 ]

CASE="Save, Cancel after a failure"
machine cancel minimal-1m --set 'faults.stuck=[{"address":"0x80000","attempts":6}]'
run tool "save\n$WORK/cancel.rom\nCancel\nexit\n"
expect_rc 0
check "one try only" [ "$(run_journal | grep -c '"op":"read","addr":0,')" -eq 1 ]

# A file one byte short fails the size check after the configured tries, each of which asks
# the firmware for its flash information again; Flash stays disabled.
CASE="Open a file one byte short"
machine short legacy-8m
rom new.rom
snapshot before.bin
head -c -1 new.rom >short.rom
pack tool --rom 0=new.rom --cmd "/x"
run tool "open\n$WORK/short.rom\nOK\nflash\nexit\n"
expect_rc 0
expect_out "Firmware file size does not match existing Firmware size."
expect_out "Flash: the button is disabled"
check "five refetches of the flash information" [ "$(count_ops flash-info)" -ge 5 ]
same_file "$MACHINE/flash.bin" before.bin

# The menu takes a button's name in any case and blanks around it, or its first letter; an empty
# line is Flash. Nothing is read after Exit.
CASE="Open a file that is not there, and a directory"
run tool "o\n$WORK/missing.rom\n\n  Open\t\n$WORK\n\n\nbogus\nexit\ns\n$WORK/late.rom\n"
expect_rc 0
expect_out "Cannot open $WORK/missing.rom"
expect_out "Cannot open $WORK"$'\n'
expect_out "Flash: the button is disabled"
expect_out "Please choose one of the buttons."
check "nothing is saved after exit" [ ! -e late.rom ]

# Open, Cancel a second Open, choose main BIOS and boot block, Flash: the machine holds the
# file in those two regions and nothing else changed.
CASE="Open, Setup, Flash"
run tool "INFORMATION\nopen\n$WORK/new.rom\nopen\n\ni\n  SETUP\t\nMain BIOS Image\nboot block\n\nflash\n"
expect_rc 0
expect_out "Bios Size: 8388608 bytes"
expect_out "Project Version: A06"
expect_out "Input Rom File: $WORK/new.rom"
expect_out "File Rom ID: "
expect_out "[x] Main BIOS Image"
expect_out "Done."
region_is "main BIOS" equal new.rom
region_is "boot block" equal new.rom
for other in NVRAM EC; do region_is "$other" equal before.bin; done
journal_lacks '"event":"reboot"'

# A file made for another machine is refused unless the Setup page says not to check the ROM ID.
CASE="Open a file for another machine"
machine other legacy-8m
rom other.rom --system-id 0x55
snapshot before-other.bin
run tool "open\n$WORK/other.rom\nsetup\nMain BIOS Image\n\nflash\nOK\n"
expect_rc 0
expect_out "Korv ID is not match."
same_file "$MACHINE/flash.bin" before-other.bin
# The types typed on the Setup page reach the preservation of the machine's SMBIOS data.
run tool "open\n$WORK/other.rom\nsetup\nMain BIOS Image\nBoot Block\nPreserve SMBIOS Types: 0\nDo Not Check ROM ID\n\nflash\nOK\n"
expect_rc 0
region_is "main BIOS" equal other.rom
expect_out "System doesn't have Type-0 structure to preserve"

finish
