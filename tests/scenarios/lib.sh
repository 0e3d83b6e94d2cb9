# Shared helpers of the scenario scripts: make machines with noxsim, packages with noxpack,
# run the packaged utility with answers on standard input, and check what came out.
# Usage (from a scenario): source lib.sh <noxwingui> <noxsim> <noxpack>
set -u
NOXWINGUI=$(realpath "$1")
NOXSIM=$(realpath "$2")
NOXPACK=$(realpath "$3")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/nox-scenario.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
head -c 4096 /dev/zero | tr '\0' 'D' > "$WORK/driver.sys"
PASSED=0
FAILED=0
RC=0
OUT="$WORK/out.txt"
MACHINE=""
JOURNAL_FROM=0

# machine NAME PRESET [--set k=v]...: a fresh machine; it becomes the current one.
machine() {
  local name=$1 preset=$2
  shift 2
  rm -rf "${WORK:?}/$name"
  "$NOXSIM" create "$WORK/$name" --preset "$preset" "$@" >/dev/null || { echo "cannot create $name"; exit 1; }
  MACHINE="$WORK/$name"
  JOURNAL_FROM=0
}

# rom FILE [noxsim rom options]...: an image for the current machine.
rom() {
  local file=$1
  shift
  "$NOXSIM" rom "$MACHINE" -o "$WORK/$file" "$@" >/dev/null || { echo "cannot make $file"; exit 1; }
}

# pack TOOL [noxpack build options]...: the utility with a package (the driver is always in).
pack() {
  local tool=$1
  shift
  (cd "$WORK" && "$NOXPACK" build --stub "$NOXWINGUI" --driver64 driver.sys -o "$tool" "$@" >/dev/null) ||
    { echo "cannot pack $tool"; exit 1; }
}

# run_raw TOOL ANSWERS [words]...: runs the tool in the work directory against the current
# machine; ANSWERS is printf text fed to standard input. Sets RC and OUT.
run_raw() {
  local tool=$1 answers=$2
  shift 2
  JOURNAL_FROM=$(wc -l <"$MACHINE/journal.jsonl" 2>/dev/null || echo 0)
  (cd "$WORK" && printf "$answers" | NOXWINGUI_MACHINE="$MACHINE" timeout 60 "./$tool" "$@") >"$OUT" 2>&1
  RC=$?
  # Whatever the outcome, the utility never breaks the firmware's rules on the way.
  local misuse
  misuse=$(run_journal | grep -m1 '"misuse"')
  if [[ -n $misuse ]]; then fail "the firmware journaled misuse: $misuse"; fi
}

# run TOOL ANSWERS [words]...: the same after OK to the start box and to the flash warning.
run() {
  local tool=$1 answers=$2
  shift 2
  run_raw "$tool" "OK\nOK\n$answers" "$@"
}

pass() { PASSED=$((PASSED + 1)); }
fail() {
  FAILED=$((FAILED + 1))
  echo "FAIL [$CASE]: $*"
  sed 's/^/    | /' "$OUT" | head -40
}

# expect_rc CODE
expect_rc() { if [[ $RC -eq $1 ]]; then pass; else fail "exit code $RC, expected $1"; fi; }
# expect_out TEXT: the output holds TEXT (fixed string, may span lines via $'...')
expect_out() { if grep -qF -- "$1" "$OUT"; then pass; else fail "output lacks: $1"; fi; }
expect_no_out() { if grep -qF -- "$1" "$OUT"; then fail "output holds: $1"; else pass; fi; }
# expect_count N TEXT: TEXT occurs on N lines of the output
expect_count() {
  local n
  n=$(grep -cF -- "$2" "$OUT")
  if [[ $n -eq $1 ]]; then pass; else fail "\"$2\" on $n lines, expected $1"; fi
}
# The journal lines of the last run (all of them before the first run on a machine).
run_journal() { tail -n +$((JOURNAL_FROM + 1)) "$MACHINE/journal.jsonl"; }
journal_has() { if run_journal | grep -qE -- "$1"; then pass; else fail "journal lacks $1"; fi; }
journal_lacks() { if run_journal | grep -qE -- "$1"; then fail "journal holds $1"; else pass; fi; }

finish() {
  echo "scenarios: $PASSED passed, $FAILED failed"
  [[ $FAILED -eq 0 ]]
}
