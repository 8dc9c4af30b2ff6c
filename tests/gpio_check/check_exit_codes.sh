#!/usr/bin/env bash
# pxa-gpio-check's exit codes and files: 0 for a good board, 1 for a fault,
# 2 with a message for bad use or an unreadable input, and no picture left
# behind, whole or half, when it stops with 2.
set -uo pipefail
check=$1
sim=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0

expect() {  # expect CODE TEXT ARGS...: exit code and a piece of the output
  local code=$1 text=$2
  shift 2
  "$check" "$@" >"$dir/out" 2>&1
  local got=$?
  if [[ $got != "$code" ]] || ! grep -qF -- "$text" "$dir/out"; then
    echo "FAILED: pxa-gpio-check $* gave $got (wanted $code and '$text'):"
    cat "$dir/out"
    failures=$((failures + 1))
  fi
}

# Lines driven in the read phase, so the samples have levels to be held against.
"$sim" --clock simulated --drive GPIO33=high@62.5 --drive GPIO80=low@60 --trace "$dir/run.txt" \
  --vcd "$dir/run.vcd" || exit 1
# GPDR2's bit for GPIO80 does not set when the program makes it an output.
sed 's/GPDR2 changed from 0x00000000 to 0x00010000/GPDR2 changed from 0x00000000 to 0x00000000/' \
  "$dir/run.txt" >"$dir/stuck-input.txt"
printf 'login: root\r\n' >"$dir/not-a-trace.txt"
printf 'PK\003\004 not really a session' >"$dir/broken.sr"

expect 0 "trace against capture    ok" --trace "$dir/run.txt" --capture "$dir/run.vcd" --svg "$dir/good.svg"
grep -q '</svg>' "$dir/good.svg" || { echo "FAILED: no whole picture"; failures=$((failures + 1)); }
expect 1 "GPIO80 could not be made an output" --trace "$dir/stuck-input.txt"
expect 0 "EXIT STATUS" --help
expect 2 "Try 'pxa-gpio-check --help'" --trace
expect 2 "cannot read '$dir/missing.txt'" --trace "$dir/missing.txt"
expect 2 "Is a directory" --trace "$dir"
expect 2 "holds no message of the program" --trace "$dir/not-a-trace.txt"
expect 2 "broken.sr" --capture "$dir/broken.sr" --svg "$dir/bad.svg"
expect 2 "cannot write" --capture "$dir/run.vcd" --svg "$dir/no/such/dir.svg"

# Nothing half-written: no picture and no temporary file from the runs that stopped.
leftovers=$(ls -A "$dir" | grep -v -x -e run.txt -e run.vcd -e stuck-input.txt -e not-a-trace.txt \
  -e broken.sr -e good.svg -e out)
if [[ -n $leftovers ]]; then
  echo "FAILED: left behind: $leftovers"
  failures=$((failures + 1))
fi
exit $((failures > 0))
