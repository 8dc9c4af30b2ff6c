#!/usr/bin/env bash
# pxa-gpio-check's exit codes and files: 0 for a whole run of a good board,
# 1 for a fault, 2 with a message for bad use or an unreadable input, 3 with
# a verdict saying what is missing for an input cut off or holding no run,
# and no picture left behind, whole or half, when it stops with 2.
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
# A board whose GPDR2 has other outputs set (bit 22): the program keeps them.
sed -e 's/GPDR2 changed from 0x00000000 to 0x00000000/GPDR2 changed from 0x00400000 to 0x00400000/' \
  -e 's/GPDR2 changed from 0x00000000 to 0x00010000/GPDR2 changed from 0x00400000 to 0x00410000/' \
  -e 's/GPDR2 changed from 0x00010000 to 0x00000000/GPDR2 changed from 0x00410000 to 0x00400000/' \
  "$dir/run.txt" >"$dir/other-outputs.txt"
head -c 8000 "$dir/run.txt" >"$dir/cut.txt"
# The capture stopped 3 s into the read phase (it starts at 60 s).
{ sed '/^#66000000/,$d' "$dir/run.vcd" && echo '#63000000'; } >"$dir/cut.vcd"
# 0.1 s of an unrelated bus, two of its channels named as the lines; and
# 70 s of two lines that never change.
{
  printf '$timescale 1 us $end\n$var wire 1 a GPIO33 $end\n$var wire 1 b GPIO80 $end\n$enddefinitions $end\n'
  for ((t = 0; t < 100000; t += 250)); do printf '#%d\n%da\n%db\n' "$t" $((t / 250 % 2)) $((t / 500 % 2)); done
} >"$dir/bus.vcd"
printf '$timescale 1 us $end\n$var wire 1 a GPIO33 $end\n$var wire 1 b GPIO80 $end\n$enddefinitions $end\n#0\n0a\n0b\n#70000000\n' \
  >"$dir/stuck.vcd"
# The run with its last time stamp 208 days on.
{ cat "$dir/run.vcd" && echo '#18000000000000'; } >"$dir/far.vcd"
printf 'login: root\r\n' >"$dir/not-a-trace.txt"
printf 'PK\003\004 not really a session' >"$dir/broken.sr"
# A clock on GPIO33 all through the run: 100 ns a half period, 150000 changes.
awk 'BEGIN { print "$timescale 1 ns $end\n$var wire 1 ! GPIO33 $end\n$var wire 1 \" GPIO80 $end";
             print "$enddefinitions $end\n#0\n0!\n0\""; for (i = 1; i <= 150000; i++) print "#" i * 100 "\n" i % 2 "!" }' \
  >"$dir/clock.vcd"

expect 0 "trace against capture    ok" --trace "$dir/run.txt" --capture "$dir/run.vcd" --svg "$dir/good.svg"
grep -q '</svg>' "$dir/good.svg" || { echo "FAILED: no whole picture"; failures=$((failures + 1)); }
# The picture's title is the verdict, not only "no red boxes".
grep -qF 'class="title">verdict ok: a whole run seen; every check ran and passed</text>' "$dir/good.svg" ||
  { echo "FAILED: the picture's title is not the verdict"; failures=$((failures + 1)); }
expect 0 "verdict                  ok       a whole run seen" --trace "$dir/run.txt" --capture "$dir/run.vcd"
expect 3 "registers                ok" --trace "$dir/other-outputs.txt"
expect 1 "GPIO80 could not be made an output" --trace "$dir/stuck-input.txt"
expect 3 "not a whole run: trace: cut off" --trace "$dir/cut.txt"
expect 3 "read phase (capture): 3.000 s captured" --capture "$dir/cut.vcd"
expect 3 "not a whole run: write phase (capture): no write phase found in 0.100 s" --capture "$dir/bus.vcd"
expect 3 "write phase (capture): no run found" --capture "$dir/stuck.vcd"
expect 1 "stuck low: never changes in the whole capture while the program ran" --trace "$dir/run.txt" \
  --capture "$dir/stuck.vcd"
expect 0 "3   no fault found" --help
# A real board's timing: the debug port at 115200 Bd and a 1 ms tick make
# each step 502 ms and each sample 12 ms; the lines driven low, then GPIO33
# high, in the read phase, which starts at 60.24 s.
"$sim" --clock simulated --debug-baud 115200 --sleep-tick 1ms --drive GPIO33=low@60.5 --drive GPIO33=high@62.5 \
  --drive GPIO80=low@61 --trace "$dir/real.txt" --vcd "$dir/real.vcd" || exit 1
expect 0 "samples every 12.0 ms: 10 ms asked, 2.0 ms more" --trace "$dir/real.txt" --capture "$dir/real.vcd"
# Times from sample numbers at that period, as the pin shows it, not 10 ms a sample (1.850 s).
expect 0 "high from sample 186 (2.218 s into the read phase at the 12.0 ms a sample found)" \
  --trace "$dir/real.txt" --capture "$dir/real.vcd"
# The analyser's probes swapped on a healthy board: named as such, the
# samples held against the channel with each line's pattern, nothing said
# to fall past the end of a capture that covers the run.
expect 1 "the two lines are swapped (or the analyser's probes are)" --trace "$dir/run.txt" \
  --capture "$dir/run.vcd" --channel GPIO33=GPIO80 --channel GPIO80=GPIO33
for wrong in "past the end of the capture" "the input reads other than the pin"; do
  if grep -qF "$wrong" "$dir/out"; then
    echo "FAILED: probes swapped: '$wrong' in the report"
    failures=$((failures + 1))
  fi
done
grep -qF "check which probe is on which pin" "$dir/out" ||
  { echo "FAILED: probes swapped: no word of the probes"; failures=$((failures + 1)); }
# However long the span, the picture stays small (17.6 MB before it was bounded).
expect 0 "verdict                  ok" --capture "$dir/far.vcd" --svg "$dir/far.svg"
size=$(wc -c <"$dir/far.svg")
((size < 100000)) || { echo "FAILED: far.svg has $size bytes"; failures=$((failures + 1)); }
expect 2 "Try 'pxa-gpio-check --help'" --trace
expect 2 "cannot read '$dir/missing.txt'" --trace "$dir/missing.txt"
expect 2 "Is a directory" --trace "$dir"
expect 2 "holds no message of the program" --trace "$dir/not-a-trace.txt"
expect 2 "broken.sr" --capture "$dir/broken.sr" --svg "$dir/bad.svg"
expect 2 "cannot write" --capture "$dir/run.vcd" --svg "$dir/no/such/dir.svg"
expect 2 "$dir: is a directory, not a capture file" --capture "$dir"
# The serial port's options and --json: bad values and paths stop before any file is made.
expect 2 "--baud '12345': not a serial port's speed" --trace "$dir/run.txt" --baud 12345 --json "$dir/made.json"
expect 2 "--baud: '$dir/run.txt' is no terminal" --trace "$dir/run.txt" --baud 115200 --json "$dir/made.json"
expect 2 "--quiet-after: '$dir/run.txt' is no terminal" --trace "$dir/run.txt" --quiet-after 2s
expect 2 "--quiet-after 'soon': expected a time" --trace "$dir/run.txt" --quiet-after soon
expect 2 "cannot write" --trace "$dir/run.txt" --json "$dir/no/such/dir.json"
expect 2 "--json $dir/run.txt would overwrite an input" --trace "$dir/run.txt" --json "$dir/run.txt"
# Line names as pxa-gpio-sim takes them; a channel that is not there named
# with the option that would map it; a trace given as the capture.
expect 0 "trace against capture    ok" --trace "$dir/run.txt" --capture "$dir/run.vcd" --channel gpio33=GPIO33 \
  --channel Gpio80@2
printf '$timescale 1 us $end\n$var wire 1 a D0 $end\n$var wire 1 b D1 $end\n$enddefinitions $end\n#0\n0a\n0b\n' \
  >"$dir/d01.vcd"
expect 2 "no channel GPIO33 (the file has D0, D1): say which carries GPIO33, e.g. --channel GPIO33@0 or --channel GPIO33=D0" \
  --capture "$dir/d01.vcd"
expect 2 "Try 'pxa-gpio-check --help'." --capture "$dir/d01.vcd"
expect 2 "run.txt: not a capture: it looks like the program's trace; give it as --trace" --capture "$dir/run.txt"
# A capture read once, as a stream: a pipe, /dev/stdin from a file or a pipe.
expect 0 "trace against capture    ok" --trace "$dir/run.txt" --capture <(cat "$dir/run.vcd")
expect_from "$dir/run.vcd" 0 "trace against capture    ok" --trace "$dir/run.txt" --capture /dev/stdin
expect_from <(cat "$dir/run.vcd") 0 "trace against capture    ok" --trace "$dir/run.txt" --capture /dev/stdin
# A trace from a pipe with standard error no terminal: the report alone, no progress line.
expect 3 "trace                    ok       a whole run in order" --trace <(cat "$dir/run.txt")
if grep -qE "sample [0-9]+ of 600,|write phase: step" "$dir/out"; then
  echo "FAILED: a progress line where standard error is no terminal"
  failures=$((failures + 1))
fi
# Channels by index; a header and then endless zeros is refused, not read forever.
expect 0 "trace against capture    ok" --trace "$dir/run.txt" --capture "$dir/run.vcd" --channel GPIO80@2 \
  --channel GPIO33@0
expect 2 "not a VCD: a token of more than 4096 bytes: \x00\x00" \
  --capture <(head -n 4 "$dir/run.vcd"; cat /dev/zero)
expect 3 "toggles 150000 times in 0.015 s: a clock or noise, not this exercise" --capture "$dir/clock.vcd"
# A session from a pipe is spooled in a private directory, gone even when a
# signal ends the checker while it reads.
mkdir "$dir/tmp"
mkfifo "$dir/session.fifo"
(printf 'PK\003\004' && head -c 4096 /dev/zero && exec sleep 60) >"$dir/session.fifo" 2>/dev/null &
writer=$!
TMPDIR="$dir/tmp" "$check" --capture "$dir/session.fifo" >/dev/null 2>&1 &
checker=$!
# Up to a minute: a sanitizer build on a busy machine starts slowly.
for _ in $(seq 600); do [[ -n $(ls -A "$dir/tmp") ]] && break; sleep 0.1; done
if [[ -z $(ls -A "$dir/tmp") ]]; then
  echo "FAILED: no spooled session seen in $dir/tmp"
  failures=$((failures + 1))
fi
kill -TERM "$checker"
wait "$checker"
kill "$writer" 2>/dev/null
wait "$writer" 2>/dev/null
if [[ -n $(ls -A "$dir/tmp") ]]; then
  echo "FAILED: a signal left the spooled session behind: $(ls -AR "$dir/tmp")"
  failures=$((failures + 1))
fi
rm -rf "$dir/tmp" "$dir/session.fifo"

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
# So are control characters in a file's name, in the report, in a message
# and in the picture, which stays well-formed XML.
control=$'run\033[2J\001'
cp "$dir/run.vcd" "$dir/$control.vcd"
expect 0 'capture '"$dir"'/run\x1b[2J\x01.vcd' --capture "$dir/$control.vcd" --svg "$dir/control.svg"
cp "$dir/out" "$dir/report"
expect 2 'run\x1b[2J\x01.txt' --trace "$dir/$control.txt"
if grep -q $'[\001\033]' "$dir/report" "$dir/out" "$dir/control.svg" ||
  ! python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' "$dir/control.svg"; then
  echo "FAILED: a control character from a file name reached the report, a message or the picture"
  failures=$((failures + 1))
fi
rm -f "$dir/report"
rm -f "$dir/$control.vcd" "$dir/control.svg"
# Line noise: a byte glued to a message hides nothing; one inside a message
# loses it, and the trace is damaged (3), not the board faulty (1).
LC_ALL=C sed '0,/Writing 0x00/s//\xffWriting 0x00/' "$dir/run.txt" >"$dir/noise.txt"
expect 0 "1 character(s) of line noise" --trace "$dir/noise.txt" --capture "$dir/run.vcd"
LC_ALL=C sed '0,/Writing 0x02/s//Wri\xffting 0x02/' "$dir/run.txt" >"$dir/noise.txt"
expect 3 "damaged by line noise, judged only up to message" --trace "$dir/noise.txt" --capture "$dir/run.vcd"
rm -f "$dir/noise.txt"
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

# Neither the picture nor the JSON verdict replaces an input, or each
# other, however the paths are spelled.
mkdir "$dir/x"
cp "$dir/run.vcd" "$dir/x/in.vcd"
cp "$dir/run.txt" "$dir/x/in.txt"
(
  cd "$dir/x" || exit 1
  expect 2 "is the capture it would be drawn from" --capture ./in.vcd --svg in.vcd
  expect 2 "is the capture it would be drawn from" --capture "$dir/x/in.vcd" --svg ../x/in.vcd
  expect 2 "is the trace it would be drawn from" --trace in.txt --capture ./in.vcd --svg "$dir/x/../x/in.txt"
  expect 2 "is the capture it would be judged from" --trace in.txt --capture ./in.vcd --json ../x/in.vcd
  ln -s in.txt link.txt
  expect 2 "is the trace it would be judged from" --trace in.txt --capture ./in.vcd --json link.txt
  expect 2 "is the --svg picture too" --trace in.txt --capture in.vcd --svg out.svg --json ./out.svg
  [[ ! -e out.svg ]] || { echo "FAILED: a picture was written beside a refused --json"; exit 1; }
  exit $failures
) || failures=$((failures + 1))
cmp -s "$dir/run.vcd" "$dir/x/in.vcd" && cmp -s "$dir/run.txt" "$dir/x/in.txt" ||
  { echo "FAILED: an input was overwritten"; failures=$((failures + 1)); }
rm -rf "$dir/x"
# A report that cannot be written fails the check (2), and no picture is
# published beside it: standard output full, or closed.
expect_report_lost() {  # expect_report_lost REDIRECTION TEXT
  local redirection=$1 text=$2
  rm -f "$dir/lost.svg"
  eval '"$check" --trace "$dir/run.txt" --capture "$dir/run.vcd" --svg "$dir/lost.svg" 2>"$dir/out"' "$redirection"
  local got=$?
  if [[ $got != 2 ]] || ! grep -qF -- "$text" "$dir/out" || [[ -e $dir/lost.svg ]]; then
    echo "FAILED: with standard output $redirection the checker gave $got, $(ls "$dir/lost.svg" 2>/dev/null):"
    head -c 2000 "$dir/out"
    failures=$((failures + 1))
  fi
}
expect_report_lost '>/dev/full' "cannot write standard output"
expect_report_lost '>&-' "standard output is closed: nowhere to print the report"
# The JSON verdict's exit code is the one the process gives, also when the
# picture beside it cannot be written after the checks.
"$check" --trace "$dir/run.txt" --capture "$dir/run.vcd" --svg /dev/full --json - >"$dir/out" 2>"$dir/err"
got=$?
json_code=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["exitCode"])' "$dir/out" 2>&1)
if [[ $got != 2 || $json_code != "$got" ]] || ! grep -qF "/dev/full" "$dir/err"; then
  echo "FAILED: --json - --svg /dev/full exited $got, its JSON says $json_code: $(head -c 500 "$dir/err")"
  failures=$((failures + 1))
fi
rm -f "$dir/err"
# Every input and output looked at before any is read: a capture that is
# not there, or a verdict with no directory, is said before the trace is read.
# (A named pipe nobody writes to: opened, it would wait for ever.)
mkfifo "$dir/silent.fifo"
expect 2 "$dir/missing.sr: No such file or directory" --trace "$dir/silent.fifo" --capture "$dir/missing.sr"
expect 2 "cannot write $dir/no/v.json (--json)" --trace "$dir/silent.fifo" --json "$dir/no/v.json"
rm -f "$dir/silent.fifo"
# A trace read from a pipe is kept as it comes when asked, and the report says where.
expect 3 "kept in $dir/kept.txt" --trace <(cat "$dir/run.txt") --save-trace "$dir/kept.txt"
cmp -s "$dir/run.txt" "$dir/kept.txt" || { echo "FAILED: the kept trace is not what came"; failures=$((failures + 1)); }
rm -f "$dir/kept.txt"
expect 2 "--save-trace keeps a trace read from a port or a pipe" --trace "$dir/run.txt" --save-trace "$dir/kept.txt"

# Nothing half-written: no picture and no temporary file from the runs that stopped.
leftovers=$(ls -A "$dir" | grep -v -x -e run.txt -e run.vcd -e stuck-input.txt -e not-a-trace.txt \
  -e broken.sr -e good.svg -e out -e other-outputs.txt -e cut.txt -e cut.vcd -e bus.vcd -e stuck.vcd \
  -e far.vcd -e far.svg -e real.txt -e real.vcd -e clock.vcd -e cut-reports.txt -e escape.txt \
  -e words.txt -e d01.vcd)
if [[ -n $leftovers ]]; then
  echo "FAILED: left behind: $leftovers"
  failures=$((failures + 1))
fi
exit $((failures > 0))
