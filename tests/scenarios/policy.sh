#!/usr/bin/env bash
# Choosing the image that fits the machine, the version rules, the power source and the
# administrator password, as a user meets them.
source "$(dirname "$0")/lib.sh" "$@"

machine m legacy-8m
rom fit.rom
rom other.rom --system-id 0x55 --ext-id 0x5555 --name Zero
rom other2.rom --system-id 0x56 --ext-id 0x5656 --name Two
rom older.rom --version A05
rom same.rom --version A06

CASE="only image 3 fits"
pack tool --rom 0=other.rom --rom 1=other2.rom --rom 3=fit.rom --cmd "/p /b"
run tool '\n' /log
expect_rc 0
expect_out "NOXWINGUI v.1.05"
journal_count 3 '"select":31'
if grep -q "Use @R03 Rom data for BIOS update" "$WORK/Flash.log"; then pass; else fail "Flash.log does not name @R03"; fi

CASE="no image fits: the first one is shown"
pack none --rom 0=other.rom --rom 1=other2.rom --rom 9=other2.rom --cmd "/p /b"
run none '\n\n'
expect_rc 0
expect_out "Zero 5555"
expect_out "Korv 9A 1234"
expect_no_out "NOXWINGUI v.1.05"

CASE="rom= with a misfit"
pack pick --rom 0=fit.rom --rom 1=other.rom --cmd "/p /b"
run pick '\n\n' /rom=1
expect_rc 0
expect_out "Running on an unsupport system."
journal_lacks '"op":"write"'

CASE="no ROM image in the package"
pack empty --cmd "/p /b"
run empty 'OK\n\n'
expect_rc 0
expect_out "Can't find the number 00 ROM file ..."

CASE="older image refused"
pack older --rom 0=older.rom --cmd "/p /b"
run older 'OK\n\n'
expect_rc 0
expect_out "You are about to flash your bios to an older Bios version."
expect_no_out "NOXWINGUI v.1.05"

CASE="older image with forceit and lr"
run_raw older '\n' /forceit /lr
expect_rc 0
expect_out "NOXWINGUI v.1.05"

CASE="same version refused"
pack same --rom 0=same.rom --cmd "/p /b"
run same 'OK\n\n'
expect_out "Can't flash to the same Bios version."
expect_no_out "NOXWINGUI v.1.05"

CASE="older image confirmed with the downgrade bit"
machine down legacy-8m --set ecb1.flags=128
run older 'OK\n\n'
expect_out "Press the \"OK\" button to continue the flash process."
expect_out "NOXWINGUI v.1.05"
run older 'Cancel\n\n'
expect_no_out "NOXWINGUI v.1.05"

CASE="same version confirmed with the downgrade bit"
machine same8 legacy-8m --set ecb1.flags=256
run same 'OK\n\n'
expect_out "== Korv 9A BIOS Flash A06 =="
expect_out "Confirm - Replace \"A06\" BIOS wilth \"A06\" BIOS?"
expect_out "NOXWINGUI v.1.05"

CASE="notaver= protects a version below it"
machine m legacy-8m
pack prot --rom 0=fit.rom --cmd "/p /b /notaver=A10"
run prot 'OK\n\n'
expect_out "A06 version is protected,can't to be flashed."
expect_no_out "NOXWINGUI v.1.05"
pack prot2 --rom 0=fit.rom --cmd "/p /b /ndwaver=A10"
run prot2 '\n'
expect_out "NOXWINGUI v.1.05"
pack prot3 --rom 0=fit.rom --cmd "/p /b /notxver=A10"
run prot3 '\n'
expect_out "NOXWINGUI v.1.05"

CASE="power source: AC missing, then fixed, then low battery"
machine power legacy-8m --set ecb1.flags=1 --set ecb1.refreshesUntilChange=4 --set ecb1.flagsAfter=4
pack fit --rom 0=fit.rom --cmd "/p /b"
run fit 'OK\nOK\nCancel\n\n'
expect_count 2 "The AC adapter and Battery must be plugged in"
expect_count 1 "The Battery must be charged above 10 percent"
expect_no_out "NOXWINGUI v.1.05"
expect_rc 0

CASE="administrator password"
machine uefi uefi-16m --set oem.password=secret --set oem.passwordMaxLength=8
rom ufit.rom
pack ufit --rom 0=ufit.rom --cmd "/p /b"
run ufit '\n' /p=SECRET
expect_out "NOXWINGUI v.1.05"
expect_no_out "secret"
run ufit '\n\n\n'
expect_out "Admin password is not correct."
expect_no_out "NOXWINGUI v.1.05"
run ufit '\n\n' /p=secret123
expect_out "Error : Password maximum length is 8."
run ufit 'secret\n\n'
expect_out "NOXWINGUI v.1.05"

CASE="no administrator password set"
machine uefi uefi-16m
run ufit '\n'
expect_no_out "Enter Admin Password"
expect_out "NOXWINGUI v.1.05"

CASE="writehdrfile keeps the declared size"
machine m legacy-8m
head -c 8192 /dev/zero > "$WORK/pad.bin"
cat "$WORK/pad.bin" "$WORK/fit.rom" > "$WORK/padded.rom"
pack hdr --rom 0=padded.rom
run_raw hdr '' /writehdrfile
expect_rc 0
if cmp -s "$WORK/fit.rom" "$WORK/hdr.hdr"; then pass; else fail "hdr.hdr is not the declared-size tail of the image"; fi

finish
