#!/usr/bin/env bash
# The vendor ME tool as a flash run starts it, with metool standing in: written to the
# temporary directory, started through the shell with paths that hold blanks and quotes,
# and cleared away, its "error.log" kept. The warnings and which files are written and
# deleted are proven in-process (tests/ecme).
# Usage: metool.sh <noxwingui> <noxsim> <noxpack> <metool> <nox_metool_smoke>
METOOL=$(realpath "$4")
SMOKE=$(realpath "$5")
source "$(dirname "$0")/lib.sh" "$@"

# expect_metool_record RECORD TOOL-PATH IMAGE-PATH IMAGE-FILE [ARG]...: metool wrote RECORD
# when it was started as TOOL-PATH -f IMAGE-PATH ARG..., and the image it found there held
# the bytes of IMAGE-FILE.
expect_metool_record() {
  local record=$1 image=$4 want arg
  local -i i=3
  want=$(printf 'argv[0]=%s\nargv[1]=-f\nargv[2]=%s' "$2" "$3")
  for arg in "${@:5}"; do want+=$(printf '\nargv[%d]=%s' $i "$arg"); i+=1; done
  want+=$'\n'"image=$(cksum <"$image")"
  if [[ ! -f $record ]]; then
    fail "metool left no record $record"
  elif [[ $(<"$record") == "$want" ]]; then
    pass
  else
    fail "metool received:"$'\n'"$(<"$record")"$'\n'"expected:"$'\n'"$want"
  fi
}
# expect_metool_cleared DIR: the tool and the image are gone from the temporary directory DIR.
expect_metool_cleared() {
  if [[ -e $1/FWUpd.exe || -e $1/UpdTmp.bin ]]; then fail "left in $1: $(ls "$1")"; else pass; fi
}

head -c 100000 /dev/urandom >me.bin
mkdir -p cwd

CASE="paths with blanks and quotes, the package's argument text"
tmp="$WORK/t m'p \$x"
mkdir -p "$tmp"
(cd cwd && TMPDIR="$tmp" METOOL_RECORD="$WORK/record" "$SMOKE" "$METOOL" ../me.bin "-k  two") >"$OUT" 2>&1
RC=$?
expect_rc 0
expect_no_out "Warning"
expect_metool_record "$WORK/record" "$tmp/FWUpd.exe" "$tmp/UpdTmp.bin" me.bin -k two
expect_metool_cleared "$tmp"

CASE="the tool fails: its log is kept, replacing the last one, on another volume too"
for tmp in "$WORK/tmp" /dev/shm/nox-metool.$$; do
  mkdir -p "$tmp" 2>/dev/null || continue
  echo "last run" >"$tmp/error.log"
  (cd cwd && TMPDIR="$tmp" METOOL_RECORD="$WORK/record" METOOL_ERROR_LOG="ME update failed" METOOL_EXIT=5 \
    "$SMOKE" "$METOOL" ../me.bin) >"$OUT" 2>&1
  RC=$?
  expect_rc 0
  check "the tool's log moved into $tmp" test "$(cat "$tmp/error.log")" = "ME update failed" -a ! -e cwd/error.log
  expect_metool_cleared "$tmp"
  [[ $tmp == /dev/shm/* ]] && rm -rf "$tmp"
done

CASE="a flash run with the vendor ME tool: written at start-up, run after the regions, cleared at the end"
machine mt legacy-8m
rom new.rom
pack withtool --rom 0=new.rom --me 0=me.bin --me-tool "$METOOL" --me-args "-k two" --cmd "/p /mefwupdlcl"
tmp="$WORK/temp dir"
mkdir -p "$tmp"
rm -f "$WORK/record"
TMPDIR="$tmp" METOOL_RECORD="$WORK/record" run withtool ''
expect_rc 0
expect_out "Done."
expect_metool_record "$WORK/record" "$tmp/FWUpd.exe" "$tmp/UpdTmp.bin" me.bin -k two
expect_metool_cleared "$tmp"
journal_has '"event":"pause","ms":5000'
CASE="the package carries no tool: the warning, and the run goes on"
machine mt legacy-8m
pack notool --rom 0=new.rom --me 0=me.bin --cmd "/p /mefwupdlcl"
TMPDIR="$tmp" run notool ''
expect_rc 0
expect_out "- Warning : Intel FwUpdLcl Tool doesn't exist, cancel the ME firmware update process !!"
expect_out "Done."

CASE="metool's own command line"
expect_exit 2 "$METOOL" me.bin
expect_out "usage: metool -f IMAGE [ARGS...]"

finish
