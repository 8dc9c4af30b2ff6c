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

expect() {  # expect CODE TEXT ARGS...: exit code ("any": not 2) and a piece of the output
  expect_from /dev/null "$@"
}

expect_from() {  # expect_from INPUT CODE TEXT ARGS...: the same with INPUT as standard input
  local input=$1 code=$2 text=$3
  shift 3
  "$check" "$@" <"$input" >"$dir/out" 2>&1
  local got=$?
  if [[ $code == any && $got == 2 ]] || [[ $code != any && $got != "$code" ]] || ! grep -qF -- "$text" "$dir/out"; then
    echo "FAILED: pxa-gpio-check $* gave $got (wanted $code and '$text'):"
    head -c 2000 "$dir/out"
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
# A clock on GPIO33 all through the run: 100 ns a half period, 150000 changes.
awk 'BEGIN { print "$timescale 1 ns $end\n$var wire 1 ! GPIO33 $end\n$var wire 1 \" GPIO80 $end";
             print "$enddefinitions $end\n#0\n0!\n0\""; for (i = 1; i <= 150000; i++) print "#" i * 100 "\n" i % 2 "!" }' \
  >"$dir/clock.vcd"

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
expect 2 "$dir: is a directory, not a capture file" --capture "$dir"
# A capture read once, as a stream: a pipe, /dev/stdin from a file or a pipe.
expect 0 "trace against capture    ok" --trace "$dir/run.txt" --capture <(cat "$dir/run.vcd")
expect_from "$dir/run.vcd" 0 "trace against capture    ok" --trace "$dir/run.txt" --capture /dev/stdin
expect_from <(cat "$dir/run.vcd") 0 "trace against capture    ok" --trace "$dir/run.txt" --capture /dev/stdin
# Channels by index; a header and then endless zeros is refused, not read forever.
expect 0 "trace against capture    ok" --trace "$dir/run.txt" --capture "$dir/run.vcd" --channel GPIO80@2 \
  --channel GPIO33@0
expect 2 "not a VCD: a token of more than 4096 bytes: \x00\x00" \
  --capture <(head -n 4 "$dir/run.vcd"; cat /dev/zero)
expect any "toggles 150000 times in 0.015 s: a clock or noise, not this exercise" --capture "$dir/clock.vcd"

# Hostile traces. 36 000 register reports cut off before their "to" half (1 MB),
# each read on its own rather than one inside the next.
yes 'GPDR1 changed from 0x00000000' | head -n 36000 >"$dir/cut-reports.txt"
expect 1 "not the program's run in order" --trace "$dir/cut-reports.txt"
# A call name with a terminal's control sequence is shown escaped.
printf '+TolvarGPIOTest\r\n+TolvarGPIO(3)\r\nError! at Virtual\033[2JCopy()\r\n' >"$dir/escape.txt"
expect 1 'Error! at Virtual\x1b[2JCopy()' --trace "$dir/escape.txt"
if grep -q $'\033' "$dir/out"; then
  echo "FAILED: a control character from the trace reached the output"
  failures=$((failures + 1))
fi
# Pipes are read once and only as far as needed: endless zeros, and a trace
# far larger than any run's.
expect 2 "has no message of the program in its first 16 MiB" --trace <(head -c 20M /dev/zero)
expect 2 "is larger than 64 MiB" --trace <(printf '+TolvarGPIOTest\r\n'; head -c 65M /dev/zero)
# Other text costs no memory word by word: 8 MB of one-letter words.
yes x | head -c 8M >"$dir/words.txt"
peak_mb=$(python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024)' "$check" --trace "$dir/words.txt")
if ((peak_mb > 100)); then
  echo "FAILED: reading 8 MB of words took $peak_mb MB"
  failures=$((failures + 1))
fi

# Nothing half-written: no picture and no temporary file from the runs that stopped.
leftovers=$(ls -A "$dir" | grep -v -x -e run.txt -e run.vcd -e stuck-input.txt -e not-a-trace.txt \
  -e broken.sr -e good.svg -e out -e clock.vcd -e cut-reports.txt -e escape.txt -e words.txt)
if [[ -n $leftovers ]]; then
  echo "FAILED: left behind: $leftovers"
  failures=$((failures + 1))
fi
exit $((failures > 0))
