#!/usr/bin/env bash
# Machines with a management engine and packages with EC firmware: the ME region written
# between the firmware's begin and end requests (and nothing else), full-flash images narrowed
# to their firmware region, the EC's own flash rewritten, and the power-off that follows.
source "$(dirname "$0")/lib.sh" "$@"

begin_end() { run_journal | grep -oE '"selector":[0-9]+' | cut -d: -f2 | paste -sd' '; }
expect_selectors() {
  local got
  got=$(begin_end)
  if [[ $got == "$1" ]]; then pass; else fail "ME region requests \"$got\", expected \"$1\""; fi
}
expect_count() {
  local n
  n=$(run_journal | grep -cE -- "$2")
  if [[ $n -eq $1 ]]; then pass; else fail "$n journal lines match $2, expected $1"; fi
}
# Bytes of the chip from OFFSET, LENGTH long, of the machine against FILE at FILE-OFFSET.
chip_equal() {
  if cmp -s <(tail -c +$(($2 + 1)) "$MACHINE/flash.bin" | head -c "$3") <(tail -c +$(($4 + 1)) "$WORK/$1" | head -c "$3")
  then pass; else fail "chip 0x$(printf %X "$2")+0x$(printf %X "$3") differs from $1"; fi
}

machine me me-16m --set ecFlash.present=true
rom bios.rom
rom bios3.rom --seed 3
rom full.rom --me-full --seed 3
rom region.rom --me-region --seed 3
rom nofid.rom --me-full --no-fid --seed 3
snapshot before.bin
SPAN=$((0x800000)); ME_START=$((0x1000)); ME_SIZE=$((0x7FF000))

CASE="a BIOS flash on an ME machine leaves the descriptor and the ME region alone"
pack plain --rom 0=bios.rom --cmd "/p"
run plain ''
expect_rc 0
expect_selectors "0 3"
region_is "main BIOS" equal bios.rom
chip_equal before.bin 0 "$SPAN" 0
expect_out "BIOS Map with ME Block(Each Block is 64K)"

CASE="meuf with a bare ME region: exactly the ME region, between begin and end"
machine me me-16m
pack ign --rom 0=region.rom --cmd "/meuf"
run ign ''
expect_rc 0
expect_out " - ME Data Size checking . ok"
expect_selectors "0 3 1 2"
expect_out "Programming ME Ignition."
chip_equal region.rom "$ME_START" "$ME_SIZE" 0
chip_equal before.bin 0 "$ME_START" 0
chip_equal before.bin "$SPAN" "$SPAN" "$SPAN"
# Erases and writes are in 64 KiB pieces from the ME start, the last one shorter.
first=$(run_journal | grep -m1 '"op":"erase"')
check "the first erase is at the ME start ($first)" grep -q "\"addr\":$ME_START,\"len\":65536" <<<"$first"

CASE="me with a full-flash image: everything in front of the span but the descriptor, then its firmware region"
machine me me-16m
pack ent --rom 0=full.rom --cmd "/p /me"
run ent ''
expect_rc 0
expect_selectors "0 3 4 5"
expect_out "Programming ME Entire."
chip_equal full.rom "$ME_START" $((SPAN - ME_START)) "$ME_START"
chip_equal before.bin 0 "$ME_START" 0
# The main BIOS of the narrowed image, but for the machine's ROM holes, which it keeps.
line=$("$NOXSIM" diff "$MACHINE" "$WORK/bios3.rom" | grep '^main BIOS')
check "main BIOS equals the image's firmware region but for ROM holes ($line)" \
  test "$(sed 's/.*changed://' <<<"$line" | grep -oE '0x[0-9A-F]+-0x[0-9A-F]+( \(ROM hole\))?' | grep -vc 'ROM hole')" -eq 0
erases=$(run_journal | sed -n '/"selector":4/,$p' | grep '"op":"erase"' | grep -oE '"addr":[0-9]+,"len":[0-9]+' | head -2 |
  paste -sd' ')
check "the first two erases skip the descriptor ($erases)" test "$erases" = "\"addr\":4096,\"len\":61440 \"addr\":65536,\"len\":65536"

CASE="a write in the ME region fails: the range is locked again, and the same package run again completes"
machine me me-16m --set 'faults.fail=[{"op":"write","start":"0x400000","length":1024}]'
run ent ''
expect_out "Programming ME Entire Firmware Block error."
expect_selectors "0 3 4 5"
"$NOXSIM" set "$MACHINE" 'faults.fail=[]' >/dev/null
run ent ''
expect_rc 0
chip_equal full.rom "$ME_START" $((SPAN - ME_START)) "$ME_START"

CASE="a full-flash image without \"\$FID\" is bad; with rom= the unsupported-system dialog ends the run"
machine me me-16m
pack nofid --rom 0=nofid.rom --cmd "/p /me"
run nofid '' /rom=0
expect_rc 0
expect_out " - ME Data Size checking . bad"
expect_out "Running on an unsupport system."
expect_selectors "0 3"
same_file "$MACHINE/flash.bin" "$WORK/before.bin"

CASE="the firmware refuses the begin request: the ME error, nothing written"
machine me me-16m --set me.failSelectors=[1]
run ign ''
expect_rc 0
expect_out "Programming ME Ignition Firmware Block error."
journal_lacks '"op":"(erase|write)"'

# EC firmware of the package: the controller's own flash, then a power-off in place of the restart.
"$NOXSIM" create "$WORK/ecm" --preset me-16m --set ecFlash.present=true >/dev/null
MACHINE="$WORK/ecm"
"$NOXSIM" ec "$MACHINE" -o ec.img --seed 7 >/dev/null
head -c 1000 ec.img >ec1000.img
head -c 6144 ec.img >ec6k.img
pack ecp --rom 0=bios.rom --ec 0=ec.img --cmd "/p"
pack ec1000 --rom 0=bios.rom --ec 0=ec1000.img --cmd "/p"
pack ec6k --rom 0=bios.rom --ec 0=ec6k.img --cmd "/p"

CASE="EC firmware: ec.bin holds the image, and the machine powers off instead of restarting"
run ecp ''
expect_rc 0
check "ec.bin equals the EC image" cmp -s "$MACHINE/ec.bin" ec.img
expect_out " - Flash completely !!! Successful."
journal_has '"event":"power-off-requested"'
journal_lacks '"event":"restart-requested"'

CASE="the power lost during the EC transfer: the machine runs the new version, and the same package run again delivers it"
at=$(run_journal | grep -m1 '"subFunction":2' | grep -oE '"n":[0-9]+' | cut -d: -f2)
machine ec me-16m --set ecFlash.present=true --set faults.powerLossAfterSmi=$((at + 1))
run ecp ''
expect_rc 86
"$NOXSIM" set "$MACHINE" faults.powerLossAfterSmi=0 >/dev/null
run ecp ''
expect_rc 0
check "ec.bin equals the EC image" cmp -s "$MACHINE/ec.bin" ec.img

CASE="a 1000-byte EC image goes as one padded 1024-byte request"
machine ec me-16m --set ecFlash.present=true
run ec1000 ''
expect_rc 0
expect_count 1 '"length":1024.*"subFunction":2'
check "ec.bin starts with the image and 24 zeros" cmp -s <(head -c 1024 "$MACHINE/ec.bin") <(cat ec1000.img; head -c 24 /dev/zero)

CASE="a 6 KiB EC image: two pieces, the console line rewritten in place, the bar at 32 and 48 of 48"
machine ec me-16m --set ecFlash.present=true
run ec6k ''
expect_rc 0
expect_out $' - Writing EC Flash ........ 0x00001000 (66%) \r'
expect_out $' - Writing EC Flash ........ 0x00001800 (100%) \r'
expect_out $' - Writing EC Flash ........ done              \r\n'
expect_out "Percent: 66%"

CASE="an EC that does not answer: 173, nothing written to the EC"
machine ec me-16m --set ecFlash.present=false
run ecp ''
expect_rc 0
expect_out "Programming EC error."
journal_lacks '"subFunction":2'
journal_lacks '"event":"(restart|power-off)-requested"'

CASE="twenty-one failed data requests end the loop, even with successes between them"
machine ec me-16m --set ecFlash.present=true \
  --set 'ecFlash.faults=[{"request":"data","nth":1,"status":8,"times":10},{"request":"data","nth":12,"status":8,"times":11}]'
run ecp ''
expect_rc 0
expect_out "Programming EC error."
expect_out $' - Writing EC Flash ........ failed            \r\n'
expect_count 22 '"subFunction":2'

finish
