# Shared helpers of the scenario scripts: make machines with noxsim, packages with noxpack,
# run the built programs, and check what came out.
# Usage (from a scenario): source lib.sh <noxwingui> <noxsim> <noxpack>
# The scripts run in their own work directory.
set -u
NOXWINGUI=$(realpath "$1")
NOXSIM=$(realpath "$2")
NOXPACK=$(realpath "$3")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/nox-scenario.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
head -c 4096 /dev/zero | tr '\0' 'D' >driver.sys
declare -i PASSED=0 FAILED=0 RC=0 JOURNAL_FROM=0
OUT="$WORK/out.txt"
CASE=""
MACHINE=""

# machine NAME PRESET [--set k=v]...: a fresh machine; it becomes the current one.
machine() {
  rm -rf "${WORK:?}/$1"
  "$NOXSIM" create "$WORK/$1" --preset "$2" "${@:3}" >/dev/null || { echo "cannot create $1"; exit 1; }
  MACHINE="$WORK/$1"
  JOURNAL_FROM=0
}
# rom FILE [noxsim rom options]...: an image for the current machine.
rom() { "$NOXSIM" rom "$MACHINE" -o "$WORK/$1" "${@:2}" >/dev/null || { echo "cannot make $1"; exit 1; }; }
# pack TOOL [noxpack build options]...: the utility with a package (the driver is always in).
pack() {
  "$NOXPACK" build --stub "$NOXWINGUI" --driver64 driver.sys -o "$1" "${@:2}" >/dev/null ||
    { echo "cannot pack $1"; exit 1; }
}

# run_raw TOOL ANSWERS [words]...: runs the tool against the current machine; ANSWERS is
# printf text fed to standard input. Sets RC and OUT.
run_raw() {
  JOURNAL_FROM=$(wc -l <"$MACHINE/journal.jsonl" 2>/dev/null || echo 0)
  printf "$2" | NOXWINGUI_MACHINE="$MACHINE" timeout 60 "./$1" "${@:3}" >"$OUT" 2>&1
  RC=$?
  # Whatever the outcome, the utility never breaks the firmware's rules on the way.
  journal_lacks '"misuse"'
}
# run TOOL ANSWERS [words]...: the same after OK to the start box and to the flash warning.
run() { run_raw "$1" "OK\nOK\n$2" "${@:3}"; }
# expect_exit CODE PROGRAM [ARGS]...: the program ends with CODE; what it printed is in $OUT.
expect_exit() {
  CASE="${2##*/} ${*:3}"
  "${@:2}" >"$OUT" 2>&1
  RC=$?
  expect_rc "$1"
}

# snapshot FILE: the current machine's flash part as it is now.
snapshot() { "$NOXSIM" dump "$MACHINE" -o "$WORK/$1" >/dev/null || { echo "cannot dump"; exit 1; }; }
# region_is NAME equal|changed FILE: the region of the flash part compared with FILE.
region_is() {
  local line
  line=$("$NOXSIM" diff "$MACHINE" "$WORK/$3" | grep -E "^$1 ")
  if [[ -n $line && ( ($2 == equal && $line == *" equal") || ($2 == changed && $line == *"changed"*) ) ]]; then pass
  else fail "$1 against $3: ${line:-no such region} (expected $2)"; fi
}
same_file() { if cmp -s "$1" "$2"; then pass; else fail "$1 differs from $2"; fi; }

pass() { PASSED=$((PASSED + 1)); }
fail() {
  FAILED=$((FAILED + 1))
  echo "FAIL [$CASE]: $*"
  sed 's/^/    | /' "$OUT" | head -40
}
# check WHAT COMMAND...: the command succeeds; WHAT says what is expected.
check() { if "${@:2}"; then pass; else fail "$1"; fi; }
expect_rc() { if [[ $RC -eq $1 ]]; then pass; else fail "exit code $RC, expected $1"; fi; }
# expect_out TEXT: the output holds TEXT (fixed text, may span lines via $'...')
expect_out() { if [[ $(<"$OUT") == *"$1"* ]]; then pass; else fail "output lacks: $1"; fi; }
expect_no_out() { if [[ $(<"$OUT") == *"$1"* ]]; then fail "output holds: $1"; else pass; fi; }
# The journal lines of the last run (all of them before the first run on a machine).
run_journal() { tail -n +$((JOURNAL_FROM + 1)) "$MACHINE/journal.jsonl"; }
journal_has() { if run_journal | grep -qE -- "$1"; then pass; else fail "journal lacks $1"; fi; }
journal_lacks() {
  local hit
  hit=$(run_journal | grep -m1 -E -- "$1")
  if [[ -n $hit ]]; then fail "journal holds $hit"; else pass; fi
}

finish() {
  echo "scenarios: $PASSED passed, $FAILED failed"
  [[ $FAILED -eq 0 ]]
}
