#!/usr/bin/env bash
# Start-up of the packaged program as the system sees it: the exit codes of the early ends,
# the single instance, the files the file-writing modes leave. The stages
# themselves and their texts are proven in-process (tests/app).
source "$(dirname "$0")/lib.sh" "$@"

machine m legacy-8m
rom new.rom
pack tool --rom 0=new.rom --cmd "/p /b"

CASE="no machine"
NOXWINGUI_MACHINE="$WORK/none" ./tool >"$OUT" 2>&1
RC=$?
expect_rc 4
expect_out "noxsim create"

CASE="second instance"
( (sleep 4; printf 'Cancel\n\n') | NOXWINGUI_MACHINE="$MACHINE" ./tool >/dev/null 2>&1) &
first=$!
sleep 1
run_raw tool ''
expect_rc 1
expect_no_out "highly recommended"
wait $first

CASE="driver missing from the package"
"$NOXPACK" build --stub "$NOXWINGUI" -o nodriver --rom 0=new.rom >/dev/null
run nodriver ''
expect_rc 4
expect_out "Error : Unable to load driver."

CASE="writeromfile"
machine m legacy-8m
run_raw tool '' /writeromfile
expect_rc 0
check "tool.rom is the packaged image" cmp -s new.rom tool.rom

CASE="writeromfile without an image"
pack norom --cmd "/p"
run_raw norom '' /writeromfile
expect_rc 51
expect_out "Error: Problem writting file"

CASE="writehdrfile keeps the declared size"
head -c 8192 /dev/zero | cat - new.rom >padded.rom
pack hdr --rom 0=padded.rom
run_raw hdr '' /writehdrfile
expect_rc 0
check "hdr.hdr is the declared-size tail of the image" cmp -s new.rom hdr.hdr

finish
