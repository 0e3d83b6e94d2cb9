#!/usr/bin/env bash
# The utility's command line: accepted words select commands, unknown ones end with exit 1.
set -u
exe=$1
fail=0
expect() {  # expect <exit code> <output pattern> <args...>
  local code=$1 pattern=$2; shift 2
  local out rc
  out=$("$exe" "$@" 2>&1); rc=$?
  if [[ $rc -ne $code ]] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAIL: $* -> exit $rc (want $code), output: $out"
    fail=1
  fi
}
expect 1 '^ - Error: Unknown command$' /mai
expect 0 '^selected: 3 11$' /p /reboot
expect 0 '^selected: 3 10 11$' /q /reboot
expect 150 'Invalid retry count' /p /retry:0
expect 0 '^selected:$'
"$exe" /mai | grep -q selected && { echo "FAIL: /mai printed a selection"; fail=1; }
exit $fail
