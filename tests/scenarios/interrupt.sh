#!/usr/bin/env bash
# Requests to stop the program: SIGINT, SIGTERM and SIGHUP while it writes the main BIOS, and
# while it waits at a prompt. A flash finishes the region being written and then ends as a
# failed one does (the firmware's flash enable, input, lock policy, power buttons and
# keep-awake put back, the driver removed), with the signal's exit code and without a box
# or a key to wait for; elsewhere the program ends at once, the same way.
source "$(dirname "$0")/lib.sh" "$@"

# run_signalled TOOL SIGNAL TEXT ANSWERS: runs the tool against the current machine with
# ANSWERS (printf text) on its input, which stays open, and sends SIGNAL once the output
# holds TEXT. Sets RC, or fails the case when the program has not ended 10 s later.
run_signalled() {
  JOURNAL_FROM=$(wc -l <"$MACHINE/journal.jsonl" 2>/dev/null || echo 0)
  rm -f "$WORK/in" && mkfifo "$WORK/in"
  # A background job of a script starts with SIGINT ignored; a user's program would not.
  NOXWINGUI_MACHINE="$MACHINE" env --default-signal=INT "./$1" <"$WORK/in" >"$OUT" 2>&1 &
  local pid=$! i
  exec 3>"$WORK/in"
  printf "$4" >&3
  for i in $(seq 600); do grep -qF -- "$3" "$OUT" && break; sleep 0.05; done
  sleep 0.2  # into the wait, or on into the region
  kill -"$2" "$pid"
  for i in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    fail "still running 10 s after SIG$2"
  fi
  wait "$pid"
  RC=$?
  exec 3>&-
  journal_lacks '"misuse"'
}
# left_consistent EVENTS: the run let go of everything, these journal events in this order
# (flash writes disabled, the system's settings put back, the driver service removed), and
# the machine's files are whole.
left_consistent() {
  local events
  events=$(run_journal | grep -oE '"op":"disable"|"(lock-workstation|power-buttons)","[a-z]+":false|"driver-service","op":"delete"' |
    uniq | paste -sd' ')
  check "journal: $events" test "$events" = "$1"
  journal_has '"keep-awake","on":false'
  expect_no_out "<Press Any Key....>"
  check "noxsim reads the machine back" "$NOXSIM" show "$MACHINE" >/dev/null
}

for signal in INT:130 TERM:143 HUP:129; do
  CASE="SIG${signal%:*} while the main BIOS is written"
  machine "m-${signal%:*}" minimal-1m --set timing.realMicrosPerRequest=400
  rom new.rom --holes 0 --seed 5
  snapshot before.bin
  pack tool --rom 0=new.rom --cmd "/p /b"
  run_signalled tool "${signal%:*}" "Programming Main Bios." 'OK\nOK\n'
  expect_rc "${signal#*:}"
  expect_out " - Interrupted: the main BIOS region is finished, nothing further is written."
  expect_no_out "Update Failed"
  region_is "main BIOS" equal new.rom
  region_is "boot block" equal before.bin
  left_consistent '"op":"disable" "lock-workstation","disabled":false "power-buttons","saved":false "driver-service","op":"delete"'
done

CASE="SIGTERM at the flash warning"
machine m-prompt minimal-1m
rom new.rom --holes 0 --seed 5
pack tool --rom 0=new.rom --cmd "/p /b"
run_signalled tool TERM "Press OK to continue" 'OK\n'
expect_rc 143
expect_out " - Interrupted: the program stops here."
journal_lacks '"op":"(erase|write)"'
left_consistent '"driver-service","op":"delete"'

finish
