#!/usr/bin/env bash
# Start-up of the packaged program as the system sees it: the exit codes of the early ends,
# the single instance, the files the file-writing modes and "/log" leave. The stages
# themselves are proven in-process (tests/app).
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

CASE="unknown word"
run tool '' /bogus
expect_rc 2
expect_out "Start to flash ..."
expect_out "Error : Unknown command."

CASE="driver missing from the package"
(cd "$WORK" && "$NOXPACK" build --stub "$NOXWINGUI" -o nodriver --rom 0=new.rom >/dev/null)
run nodriver ''
expect_rc 4
expect_out "Error : Unable to load driver."

CASE="firmware without flash support"
machine nosupport legacy-8m --set faults.noSharedBlock=true
run tool ''
expect_rc 6
expect_out "Error : Firmware does not have flash (NOXWINGUI) support."

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

CASE="writehdrfile keeps the declared size"
head -c 8192 /dev/zero >"$WORK/pad.bin"
cat "$WORK/pad.bin" "$WORK/new.rom" >"$WORK/padded.rom"
pack hdr --rom 0=padded.rom
run_raw hdr '' /writehdrfile
expect_rc 0
if cmp -s "$WORK/new.rom" "$WORK/hdr.hdr"; then pass; else fail "hdr.hdr is not the declared-size tail of the image"; fi

CASE="the log names the image that fits"
rom other.rom --system-id 0x55 --ext-id 0x5555 --name Zero
pack three --rom 0=other.rom --rom 3=new.rom
rm -f "$WORK/Flash.log"
run three '' /log
if grep -q "Use @R03 Rom data for BIOS update" "$WORK/Flash.log"; then pass; else fail "Flash.log does not name @R03"; fi

finish
