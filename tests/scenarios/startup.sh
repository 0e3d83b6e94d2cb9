#!/usr/bin/env bash
# Start-up as a user meets it: single instance, the command line, the driver, the firmware,
# the start box and the file-writing modes.
source "$(dirname "$0")/lib.sh" "$@"

machine m legacy-8m
rom new.rom
pack tool --rom 0=new.rom --cmd "/p /b"

CASE="no machine"
(cd "$WORK" && NOXWINGUI_MACHINE="$WORK/none" ./tool) >"$OUT" 2>&1; RC=$?
expect_rc 4
expect_out "noxsim create"

CASE="second instance"
( (sleep 4; printf 'Cancel\n\n') | NOXWINGUI_MACHINE="$MACHINE" "$WORK/tool" >/dev/null 2>&1) &
first=$!
sleep 1
run_raw tool ''
expect_rc 1
expect_no_out "highly recommended"
wait $first

CASE="cancel at the start box"
run_raw tool 'Cancel\n\n'
expect_rc 0
expect_out "it is highly recommended to close all other programs before continue."
journal_lacks '"op":"write"'

CASE="unknown word"
run tool '' /bogus
expect_rc 2
expect_out "Start to flash ..."
expect_out "Error : Unknown command."

CASE="duplicate word"
run tool '' /log /LOG
expect_rc 2
expect_out "Command Check Error!"

CASE="driver missing from the package"
(cd "$WORK" && "$NOXPACK" build --stub "$NOXWINGUI" -o nodriver --rom 0=new.rom >/dev/null)
run nodriver ''
expect_rc 4
expect_out "Error : Unable to load driver."

CASE="cancel at the flash warning"
run_raw tool 'OK\nCancel\n\n'
expect_rc 0
expect_out "Press OK to continue or CANCEL to quit."
expect_no_out "NOXWINGUI v.1.05"

CASE="driver file removed once loaded"
run_raw tool 'Cancel\n\n'
if [[ -e "$WORK/orufldrv64.sys" ]]; then fail "driver file left behind"; else pass; fi

CASE="firmware without flash support"
machine nosupport legacy-8m --set faults.noSharedBlock=true
run tool ''
expect_rc 6
expect_out "Error : Firmware does not have flash (NOXWINGUI) support."

CASE="nopause without the firmware's start flag"
machine m legacy-8m
run tool '' /nopause
expect_rc 2
expect_out "highly recommended"
expect_no_out "Start to flash"
CASE="nopause with lr"
run_raw tool '\n' /lr /nopause
expect_count 0 "highly recommended"
expect_count 0 "Start to flash"
expect_out "NOXWINGUI v.1.05"
expect_rc 0

CASE="nopause with the firmware's start flag"
machine flag40 legacy-8m --set ecb1.flags=64
run_raw tool '\n' /nopause
expect_count 0 "highly recommended"
expect_count 0 "Start to flash"
expect_out "NOXWINGUI v.1.05"

CASE="writeromfile"
machine m legacy-8m
run_raw tool '' /writeromfile
expect_rc 0
if cmp -s "$WORK/new.rom" "$WORK/tool.rom"; then pass; else fail "tool.rom differs from the packaged image"; fi

CASE="writeromfile without an image"
pack norom --cmd "/p"
run_raw norom '' /writeromfile
expect_rc 51
expect_out "Error: Problem writting file"

finish
