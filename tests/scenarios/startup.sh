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
run tool ''
expect_rc 1
wait $first

CASE="cancel at the start box"
run tool 'Cancel\n\n'
expect_rc 0
expect_out "it is highly recommended to close all other programs before continue."
journal_lacks '"op":"write"'

CASE="unknown word"
run tool 'OK\n\n' /bogus
expect_rc 2
expect_out "Error : Unknown command."

CASE="duplicate word"
run tool 'OK\n\n' /log /LOG
expect_rc 2
expect_out "Command Check Error!"

CASE="driver missing from the package"
(cd "$WORK" && "$NOXPACK" build --stub "$NOXWINGUI" -o nodriver --rom 0=new.rom >/dev/null)
run nodriver 'OK\n\n'
expect_rc 4
expect_out "Error : Unable to load driver."

CASE="driver file removed once loaded"
run tool 'Cancel\n\n'
if [[ -e "$WORK/orufldrv64.sys" ]]; then fail "driver file left behind"; else pass; fi

CASE="firmware without flash support"
machine nosupport legacy-8m --set faults.noSharedBlock=true
run tool 'OK\n\n'
expect_rc 6
expect_out "Error : Firmware does not have flash (NOXWINGUI) support."

CASE="nopause without the firmware's start flag"
machine m legacy-8m
run tool 'Cancel\n\n' /nopause
expect_rc 2
CASE="nopause with lr"
run tool 'Cancel\nCancel\n\n' /lr /nopause
expect_count 0 "highly recommended"

CASE="nopause with the firmware's start flag"
machine flag40 legacy-8m --set ecb1.flags=64
run tool 'Cancel\n\n' /nopause
expect_count 0 "highly recommended"

CASE="writeromfile"
machine m legacy-8m
run tool '' /writeromfile
expect_rc 0
if cmp -s "$WORK/new.rom" "$WORK/tool.rom"; then pass; else fail "tool.rom differs from the packaged image"; fi

CASE="writeromfile without an image"
pack norom --cmd "/p"
run norom '' /writeromfile
expect_rc 51
expect_out "Error: Problem writting file"

finish
