#!/usr/bin/env bash
# The user's word options, the package's option script and the firmware's default options,
# seen through what the firmware is told.
source "$(dirname "$0")/lib.sh" "$@"

machine m legacy-8m
rom fit.rom

CASE="wipeall with a script that adds options"
pack tool --rom 0=fit.rom --cmd "/p /b /caf /sysext"
run tool '\n' /wipeall
expect_out "NOXWINGUI v.1.05"
# Main BIOS, boot block, NVRAM, reboot and no-ROM-ID-check are selected when the firmware is asked.
journal_has '"type":81.*"selectedMask":199|"selectedMask":199.*"type":81|"offMask":0,"selectedMask":199'

CASE="the script's vendor ME tool is not run by this version"
pack metool --rom 0=fit.rom --cmd "/p /mefwupdlcl"
run metool '\n'
expect_rc 8
expect_out "The vendor ME update tool is not supported by this version."

CASE="cfgbhv:1 declares every option to the firmware"
pack cfg1 --rom 0=fit.rom --cmd "/cfgbhv:1 /p"
run cfg1 '\n'
journal_has '"offMask":6143'

CASE="a script of cfgbhv:0 alone changes nothing"
pack cfg0 --rom 0=fit.rom --cmd "/cfgbhv:0"
run cfg0 '\n'
journal_has '"offMask":0,'
expect_out "NOXWINGUI v.1.05"

CASE="factory needs no confirmation"
run_raw tool 'OK\n\n' /factory
expect_no_out "Start to flash"
expect_out "NOXWINGUI v.1.05"

CASE="a word the utility does not know"
run tool '' /p
expect_rc 2
expect_out "Error : Unknown command."

finish
