#!/usr/bin/env bash
# The packager as a user runs it: build a packaged executable, list it, take modules out
# again, and refuse bad command lines and damaged files with the documented exit codes.
# What the writer compresses and how modules are laid out is proven in-process (tests/package).
source "$(dirname "$0")/lib.sh" "$@"
stub=$NOXWINGUI

# noxpack CODE ARGS...: the packager ends with CODE; what it printed is in $OUT.
noxpack() { expect_exit "$1" "$NOXPACK" "${@:2}"; }

head -c 2000000 /dev/urandom >rom0.bin
# a compressible second image: one block repeated within the 8 KiB window
for i in $(seq 256); do head -c 4096 rom0.bin; done >rom1.bin
head -c 4096 /dev/urandom >ec0.bin
printf 'MEFW' >me0.bin
printf 'tool' >metool.exe

noxpack 0 build --stub "$stub" -o tool.exe --rom 0=rom0.bin --rom 1=rom1.bin --ec 0=ec0.bin --me 0=me0.bin \
  --me-tool metool.exe --me-args "-f me.bin" --driver64 "$stub" --cmd "/p /b /n" --info "Test Board"
check "output is executable" test -x tool.exe
expect_no_out "compressing"  # no progress on a non-terminal
check "output starts with the stub" cmp -s -n "$(stat -c %s "$stub")" tool.exe "$stub"

noxpack 0 list tool.exe
offset=$(awk '/^package at offset/ { print $4 }' "$OUT")
r1=$(awk '$1 == "@R01" { print $2 }' "$OUT")
tags=$(awk 'NR > 2 { print $1 }' "$OUT" | tr '\n' ' ')
check "modules in the usual order (got: $tags)" test "$tags" = "@UII @W64 @R00 @R01 @EC0 @CMD @MET @ME0 @MEC "
check "package offset is the stub size" grep -q "^package at offset $(stat -c %s "$stub") " "$OUT"
check "every checksum ok" test "$(grep -c ' ok$' "$OUT")" -eq 9
check "repetitive ROM compressed" grep -qE '^@R01 .* -lh5- ' "$OUT"

for pair in @R00:rom0.bin @R01:rom1.bin @EC0:ec0.bin @ME0:me0.bin @MET:metool.exe; do
  tag=${pair%%:*} file=${pair#*:}
  noxpack 0 extract tool.exe "$tag" -o got.bin
  check "$tag comes back unchanged" cmp -s got.bin "$file"
done
noxpack 0 extract tool.exe @CMD -o cmd.txt
check "script text" test "$(cat cmd.txt)" = "/p /b /n"

# On a terminal a long compression reports its progress (script(1) provides the terminal).
if command -v script >/dev/null; then
  for i in $(seq 40); do cat "$stub"; done | head -c 3000000 >big.bin
  script -qec "'$NOXPACK' build --stub '$stub' -o big.exe --rom 0=big.bin" /dev/null >"$OUT" 2>&1
  expect_out "compressing @R00 100%"
fi

noxpack 0 build --stub "$stub" -o stored.exe --rom 0=rom1.bin --store
noxpack 0 list stored.exe
check "--store keeps data as it is" grep -qE '^@R00 .* stored ' "$OUT"

noxpack 1 extract tool.exe @R07 -o x.bin
expect_out "no valid module @R07"
noxpack 1 list rom0.bin
expect_out "no package in rom0.bin"
noxpack 1 list missing.exe
noxpack 1 build --stub "$stub" -o bad.exe --rom 0=missing.bin
expect_out "cannot read missing.bin"
check "nothing written on failure" test ! -e bad.exe
noxpack 2 build --stub "$stub" -o bad.exe --ec 10=ec0.bin
noxpack 2 build --stub "$stub" -o bad.exe --rom 1=a --rom 1=b
noxpack 2 build -o bad.exe
noxpack 2
noxpack 0 --help
expect_out "extract"

# A damaged ROM module: flip one byte inside it; the listing shows it, extraction refuses it.
printf '\x55' | dd of=tool.exe bs=1 seek="$((offset + r1 + 40))" conv=notrunc status=none
noxpack 0 list tool.exe
check "damaged module shows BAD" grep -qE '^@R01 .* BAD$' "$OUT"
noxpack 1 extract tool.exe @R01 -o x.bin
finish
