#!/usr/bin/env bash
# noxsim as a user drives it: make machines, images that fit and images that do not, change
# faults, look at the journal, and the exit codes of each.
set -u
noxsim=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

expect() {  # expect <exit code> <output pattern> <args...>
  local code=$1 pattern=$2; shift 2
  local out rc
  out=$("$noxsim" "$@" 2>&1); rc=$?
  if [[ $rc -ne $code ]] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAIL: noxsim $* -> exit $rc (want $code), output: $out"
    fail=1
  fi
}

m=$work/legacy
expect 0 'created .* \(legacy-8m, running A06\)' create "$m" --preset legacy-8m
for f in machine.json flash.bin state.json journal.jsonl; do
  [[ -f $m/$f ]] || { echo "FAIL: create did not write $f"; fail=1; }
done
[[ $(stat -c %s "$m/flash.bin") -eq 8388608 ]] || { echo "FAIL: flash.bin is not 8 MiB"; fail=1; }
expect 3 'holds a machine already' create "$m" --preset legacy-8m
expect 3 'unknown preset "legacy-4m"; known: legacy-8m uefi-16m minimal-1m' create "$work/x" --preset legacy-4m
expect 3 'asf.port: 0xB0, but the FADT.s SMI_CMD names 0xB2' create "$work/y" --preset legacy-8m --set asf.port=0xB0
expect 3 'enableAnswr: no such field' create "$work/y" --preset minimal-1m --set enableAnswr=1
[[ -e $work/y/machine.json ]] && { echo "FAIL: a refused create left a machine"; fail=1; }
expect 2 'DIR is required|required' create
expect 2 'A subcommand is required' frobnicate "$m"

expect 0 'identity   A06, system ID 0x9A, extended ID 0x1234' show "$m"
expect 0 '0x7E0000  0x020000  boot block 0x00  erased 0' show "$m"
expect 0 '"replyVersion": 11' show "$m" --json

# An image made for the machine: one version newer, differs in the identity file and EC word.
expect 0 'version A07, system ID 0x9A' rom "$m" -o "$work/a07.bin"
expect 1 'main BIOS +0x060000-0x7DFFFF  changed: 0x060079-0x060079' diff "$m" "$work/a07.bin"
expect 1 'EC +0x040000-0x05FFFF  changed' diff "$m" "$work/a07.bin"
expect 1 'boot block +0x7E0000-0x7FFFFF  equal' diff "$m" "$work/a07.bin"
expect 0 '' dump "$m" -o "$work/dump.bin"
cmp -s "$work/dump.bin" "$m/flash.bin" || { echo "FAIL: dump differs from flash.bin"; fail=1; }
expect 0 'boot block +0x7E0000-0x7FFFFF  equal' diff "$m" "$work/dump.bin"
# Images for another machine.
expect 0 'system ID 0x55' rom "$m" -o "$work/other.bin" --system-id 0x55 --name Other
expect 3 'system-id: not a number from 0 to 0xFF' rom "$m" -o "$work/bad.bin" --system-id 0x155
expect 0 'running A99' create "$work/old" --preset minimal-1m --set identity.version=A99
expect 3 'the running version A99 has no next version; give --version' rom "$work/old" -o "$work/z.bin"
expect 0 'version A98' rom "$work/old" -o "$work/z.bin" --version A98
expect 3 'is this a machine directory' show "$work"
expect 3 'bytes, the flash part has' diff "$m" "$work/legacy/state.json"

# Faults are set on an existing machine and show up in show.
expect 0 '' set "$m" faults.powerLossAfterSmi=40 'faults.fail=[{"op":"erase","start":"0x7E0000","length":4096}]'
expect 0 'power loss after SMI 40; *$|erase fails at 0x7E0000' show "$m"
expect 3 'faults.fail\[0\].op: must be' set "$m" 'faults.fail=[{"op":"burn"}]'

expect 0 'rebooted' reboot "$m"
expect 0 'reboot' trace "$m" --tail 1
expect 0 'create preset=legacy-8m' trace "$m"

u=$work/uefi
expect 0 'running B12' create "$u" --preset uefi-16m --set identity.version=B12 --set faults.writeProtected=true
expect 0 'OEM call 99/15' show "$u"
expect 0 'write-protected' show "$u"
expect 0 'version B13' rom "$u" -o "$work/b13.bin"
exit $fail
