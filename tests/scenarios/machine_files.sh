#!/usr/bin/env bash
# The machine directory and the files the programs are given, as they meet them on disk: a run
# killed mid-flash leaves the part as a real one, one process at a time holds a machine, a
# machine that could not be saved is said so and changes the exit code, and a broken or
# read-only machine directory or a directory, FIFO or device where a file belongs is refused in
# one line naming the path, never with an abort or a hang. Every program runs under a deadline.
source "$(dirname "$0")/lib.sh" "$@"

machine good minimal-1m
rom mini.rom --seed 2
pack tool --rom 0=mini.rom --cmd "/p"
# tool [WRAPPER...]: one run of the packaged utility against the current machine, OK to both
# boxes; no journal is looked at, since it may be a FIFO here.
tool() {
  printf 'OK\nOK\n' | (export NOXWINGUI_MACHINE=$MACHINE && "$@" timeout 20 ./tool) >"$OUT" 2>&1
  RC=$?
}
# bounded CODE PROGRAM ARGS...: like expect_exit, under the deadline.
bounded() { expect_exit "$1" timeout 20 "${@:2}"; }
one_line() { check "one line: $1" test "$(cat "$OUT")" = "$1"; }

# A file of the machine that is something else: both programs name it and why, in one line.
while read -r file how why; do
  machine broken minimal-1m --set ecFlash.present=true
  rm -rf "${MACHINE:?}/$file"
  case $how in
    dir) mkdir "$MACHINE/$file" ;;
    fifo) mkfifo "$MACHINE/$file" ;;
    device) ln -s /dev/zero "$MACHINE/$file" ;;
  esac
  CASE="$file as a $how"
  bounded 3 "$NOXSIM" show "$MACHINE"
  one_line "noxsim: $MACHINE/$file: cannot be read: $why"
  CASE="the utility on $file as a $how"
  tool
  expect_rc 4
  one_line "noxwingui: the simulated machine in $MACHINE cannot be used: $MACHINE/$file: cannot be read: $why"
done <<'EOF'
machine.json      dir     Is a directory
flash.bin         fifo    not a regular file
state.json        device  not a regular file
journal.jsonl     fifo    not a regular file
ec.bin            dir     Is a directory
secure-flash.json dir     Is a directory
EOF

# A read-only machine directory, made so in a mount namespace of its own where one can be had
# (chmod alone does not stop root): looking works, changing is refused before anything starts.
readonly_run() {
  unshare -rm sh -c 'mount --bind "$1" "$1" && mount -o remount,ro,bind "$1" "$1" && shift && exec "$@"' \
    sh "$MACHINE" "$@"
}
machine ro minimal-1m
if readonly_run true 2>/dev/null; then
  CASE="read-only machine directory"
  tool readonly_run
  expect_rc 4
  one_line "noxwingui: the simulated machine in $MACHINE cannot be used: $MACHINE: cannot be written: Read-only file system"
  expect_exit 0 readonly_run timeout 20 "$NOXSIM" show "$MACHINE"
  expect_exit 3 readonly_run timeout 20 "$NOXSIM" set "$MACHINE" faults.writeProtected=true
  one_line "noxsim: $MACHINE: cannot be written: Read-only file system"
else
  echo "no mount namespace here: the read-only machine directory is not tried"
fi

# Files given on the command line that are no files.
mkdir adir
mkfifo afifo
while IFS='|' read -r code line args; do
  # shellcheck disable=SC2086  # the arguments are words
  set -- $args
  bounded "$code" "$@"
  one_line "$line"
done <<EOF
1|noxpack: cannot read stub adir: a directory|$NOXPACK build --stub adir -o x.exe
1|noxpack: cannot read afifo (for @R00): not a regular file|$NOXPACK build --stub $NOXWINGUI -o x.exe --rom 0=afifo
1|noxpack: cannot read afifo|$NOXPACK list afifo
3|noxsim: adir: cannot be read: Is a directory|$NOXSIM diff $WORK/good adir
EOF

# Another process holds the machine: each program says once that it waits, then does its work.
# hold: flock(1) holds the current machine's lock for two seconds; back once it holds it.
hold() {
  flock "$MACHINE" sleep 2 &
  until ! flock -n "$MACHINE" true; do sleep 0.05; done
}
machine held minimal-1m
CASE="noxsim waits for a held machine"
hold
bounded 0 "$NOXSIM" show "$MACHINE"
expect_out "noxsim: waiting for $MACHINE (in use)"$'\n'"machine    $MACHINE"
CASE="the utility waits for a held machine"
hold
tool
expect_rc 0
expect_out "noxwingui: waiting for $MACHINE (in use)"
expect_out "Done."
wait

# Killed mid-flash: the part holds every write the journal lists, and the lock is gone with the
# process.
CASE="killed mid-flash"
machine killed minimal-1m --set timing.realMicrosPerRequest=1000
printf 'OK\nOK\n' | NOXWINGUI_MACHINE="$MACHINE" ./tool >/dev/null 2>&1 &
for _ in $(seq 600); do grep -q '"op":"write"' "$MACHINE/journal.jsonl" && break; sleep 0.05; done
{ kill -9 $! && wait; } 2>/dev/null
at=$(grep '"op":"write"' "$MACHINE/journal.jsonl" | tail -1 | sed -E 's/.*"addr":([0-9]+).*/\1/')
same_file <(dd if="$MACHINE/flash.bin" bs=1024 skip=$((at / 1024)) count=1 2>/dev/null) \
  <(dd if=mini.rom bs=1024 skip=$((at / 1024)) count=1 2>/dev/null)
bounded 0 "$NOXSIM" show "$MACHINE"
expect_no_out "waiting"

# A machine that cannot be saved: the files stay as they are, but a file may not grow past a
# size limit, as on a full disk (the journal grows by a line a request). A run that would have
# ended with 0 ends with 87, others keep their code; the line names the file and the reason.
limited() { (trap '' XFSZ; ulimit -f "$1" && "${@:2}"); }
machine full minimal-1m
for CASE in "the journal cannot be saved:0" "then the power goes:86"; do
  code=${CASE##*:}
  [[ $code == 0 ]] || machine cut minimal-1m --set faults.powerLossAfterSmi=$((smis - 2))
  tool limited 64
  expect_rc $((code == 0 ? 87 : code))
  expect_out "the simulated machine in $MACHINE could not be saved: $MACHINE/journal.jsonl: cannot be written: File too large"
  smis=$(grep -oE '"smiCount": [0-9]+' "$MACHINE/state.json" | cut -d' ' -f2)
done
CASE="noxsim cannot save the journal"
expect_exit 3 limited 8 timeout 20 "$NOXSIM" set "$MACHINE" faults.writeProtected=true
one_line "noxsim: $MACHINE/journal.jsonl: cannot be written: File too large"
finish
