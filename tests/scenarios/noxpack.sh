#!/usr/bin/env bash
# The packager as a user runs it: build a packaged executable, list it, take modules out
# again, and refuse bad command lines and damaged files with the documented exit codes.
set -u
noxpack=$1
stub=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() {  # check <description> <condition...>
  local what=$1; shift
  if ! "$@"; then echo "FAIL: $what"; fail=1; fi
}
run() {  # run <expected exit code> <args...>; output in $work/out, errors in $work/err
  local want=$1; shift
  "$noxpack" "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  if [[ $rc -ne $want ]]; then
    echo "FAIL: noxpack $* exited $rc, expected $want: $(cat "$work/err")"
    fail=1
  fi
}

cd "$work"
head -c 2000000 /dev/urandom >rom0.bin
# a compressible second image: one block repeated within the 8 KiB window
for i in $(seq 256); do head -c 4096 rom0.bin; done >rom1.bin
head -c 4096 /dev/urandom >ec0.bin
printf 'MEFW' >me0.bin
printf 'tool' >metool.exe

run 0 build --stub "$stub" -o tool.exe --rom 0=rom0.bin --rom 1=rom1.bin --ec 0=ec0.bin --me 0=me0.bin \
  --me-tool metool.exe --me-args "-f me.bin" --driver64 "$stub" --cmd "/p /b /n" --info "Test Board"
check "output is executable" test -x tool.exe
check "no progress on a non-terminal" test ! -s err
check "output starts with the stub" cmp -n "$(stat -c %s "$stub")" tool.exe "$stub"

run 0 list tool.exe
tags=$(awk 'NR > 2 { print $1 }' out | tr '\n' ' ')
check "modules in the usual order (got: $tags)" test "$tags" = "@UII @W64 @R00 @R01 @EC0 @CMD @MET @ME0 @MEC "
check "package offset is the stub size" grep -q "^package at offset $(stat -c %s "$stub") " out
check "every checksum ok" test "$(grep -c ' ok$' out)" -eq 9
check "repetitive ROM compressed" grep -qE '^@R01 .* -lh5- ' out
check "random ROM stored" grep -qE '^@R00 .* stored ' out

for pair in @R00:rom0.bin @R01:rom1.bin @EC0:ec0.bin @ME0:me0.bin @MET:metool.exe; do
  tag=${pair%%:*} file=${pair#*:}
  run 0 extract tool.exe "$tag" -o got.bin
  check "$tag comes back unchanged" cmp -s got.bin "$file"
done
run 0 extract tool.exe @CMD -o cmd.txt
check "script text" test "$(cat cmd.txt)" = "/p /b /n"

# On a terminal a long compression reports its progress (script(1) provides the terminal).
if command -v script >/dev/null; then
  for i in $(seq 40); do cat "$stub"; done | head -c 3000000 >big.bin
  script -qec "'$noxpack' build --stub '$stub' -o big.exe --rom 0=big.bin" /dev/null >tty.txt 2>&1
  check "progress shown on a terminal" grep -q "compressing @R00 100%" tty.txt
fi

run 0 build --stub "$stub" -o stored.exe --rom 0=rom1.bin --store
run 0 list stored.exe
check "--store keeps data as it is" grep -qE '^@R00 .* stored ' out

run 1 extract tool.exe @R07 -o x.bin
check "missing module named" grep -q "no valid module @R07" err
run 1 list rom0.bin
check "plain file has no package" grep -q "no package in rom0.bin" err
run 1 list missing.exe
run 1 build --stub "$stub" -o bad.exe --rom 0=missing.bin
check "missing input named" grep -q "cannot read missing.bin" err
check "nothing written on failure" test ! -e bad.exe
run 2 build --stub "$stub" -o bad.exe --ec 10=ec0.bin
run 2 build --stub "$stub" -o bad.exe --rom 1=a --rom 1=b
run 2 build -o bad.exe
run 2
run 0 --help
check "help names the commands" grep -q "extract" out

# A damaged ROM module: flip one byte inside it; the listing shows it, extraction refuses it.
offset=$(awk '/^package at offset/ { print $4 }' < <("$noxpack" list tool.exe))
r1=$(awk '$1 == "@R01" { print $2 }' < <("$noxpack" list tool.exe))
pos=$((offset + r1 + 40))
printf '\x55' | dd of=tool.exe bs=1 seek="$pos" conv=notrunc status=none
run 0 list tool.exe
check "damaged module shows BAD" grep -qE '^@R01 .* BAD$' out
run 1 extract tool.exe @R01 -o x.bin
exit $fail
