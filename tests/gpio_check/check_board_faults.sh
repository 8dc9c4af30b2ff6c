#!/usr/bin/env bash
# Each board fault the simulated board can have, checked as a user would:
# pxa-gpio-sim's trace and VCD of the faulty run, and the VCD converted by
# sigrok-cli to a .sr session, each given to pxa-gpio-check. The captures,
# in either format, alone or with the trace, must name the fault and exit 1;
# the trace alone cannot see the pins: it shows what the inputs read, says
# the pins were not seen and exits 3, board fault or not. The healthy board
# exits 0 from a capture, alone or with the trace.
# Skipped (77) without sigrok-cli, or with a checker built without .sr
# support, unless GPIO_REQUIRE_WAVEFORM_TOOLS=1.
#   check_board_faults.sh CHECK SIM [BOARD]
# BOARD (healthy, stuck-low, ..., or bad-days for the edited runs) checks that board alone: ctest runs one
# test a board, side by side.
set -uo pipefail
check=$1
sim=$2
only=${3:-}
boards_checked=0
if ! command -v sigrok-cli >/dev/null; then
  echo "missing: sigrok-cli (Debian: sigrok-cli)" >&2
  [[ ${GPIO_REQUIRE_WAVEFORM_TOOLS:-0} == 1 ]] && exit 1
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0


# run_check ARGS...: pxa-gpio-check run once for each set of arguments on
# a board; its report in $out, its messages in $err, its exit code in $got.
declare -A runs=()
run_check() {
  local key="$*"
  if [[ -z ${runs[$key]:-} ]]; then
    local n=$(( ${#runs[@]} + 1 ))
    "$check" "$@" >"$dir/run-$n.out" 2>"$dir/run-$n.err"
    echo $? >"$dir/run-$n.code"
    runs[$key]=$n
  fi
  out="$dir/run-${runs[$key]}.out" err="$dir/run-${runs[$key]}.err"
  got=$(cat "$dir/run-${runs[$key]}.code")
}

expect() {  # expect CODE PATTERN ARGS...: the exit code and a line of the report (grep -E)
  local code=$1 pattern=$2
  shift 2
  run_check "$@"
  if [[ $got != "$code" ]] || ! cat "$out" "$err" | grep -qE -- "$pattern"; then
    echo "FAILED [$board]: pxa-gpio-check $* gave $got (wanted $code and /$pattern/):"
    cat "$out" "$err"
    failures=$((failures + 1))
  fi
}

# The same run with --json, to a file and to standard output, read back by
# a JSON parser: the same verdict, lines and checks as the text report, and
# the exit code the process gave.
json_matches() {  # json_matches ARGS...
  run_check "$@"
  cp "$out" "$dir/text"
  local text_code=$got
  "$check" "$@" --json - >"$dir/streamed.json" 2>/dev/null
  local json_code=$?
  rm -f "$dir/filed.json"
  "$check" "$@" --json "$dir/filed.json" >/dev/null 2>&1
  if ! python3 - "$dir/text" "$dir/streamed.json" "$dir/filed.json" "$text_code" "$json_code" <<'EOF'; then
import json, sys
text, streamed, filed, text_code, json_code = sys.argv[1:]
report = open(text).read().splitlines()
verdict = json.load(open(streamed))
assert verdict == json.load(open(filed)), "the file and standard output differ"
assert verdict["format"] == 1 and verdict["tool"] == "pxa-gpio-check" and verdict["version"], verdict
assert verdict["exitCode"] == int(text_code) == int(json_code), (verdict["exitCode"], text_code, json_code)
words = {"ok": "ok", "info": "info", "not seen": "not seen", "incomplete": "cut off", "fault": "FAULT"}
def line(subject, status, summary):
    wanted = "%-24s %-8s %s" % (subject, words[status], summary)
    assert wanted in report, "not in the text report: " + wanted
for entry in verdict["lines"]:
    line(entry["name"], entry["status"], entry["summary"])
    assert (entry["status"] == "fault") == bool(entry["faults"]), entry
for entry in verdict["checks"]:
    line(entry["name"], entry["status"], entry["summary"])
line("verdict", verdict["verdict"]["status"], verdict["verdict"]["text"])
roles = [i["role"] for i in verdict["inputs"]]
assert all(i["name"] and i["kind"] for i in verdict["inputs"]) and len(set(roles)) == len(roles), roles
EOF
    echo "FAILED [$board]: --json does not say what the report says: pxa-gpio-check $*"
    failures=$((failures + 1))
  fi
}

# board FAULT DRIVE CAPTURE-VERDICT BOTH-VERDICT TRACE-VERDICT: the run on
# the board (FAULT and DRIVE are pxa-gpio-sim options, "" for none), what a
# capture alone must report, what the trace with a capture must add, and
# what the trace alone shows. Lines are driven in the read phase so the
# samples tell something.
board() {
  board=$1
  [[ -n $only && $board != "$only" ]] && return
  boards_checked=$((boards_checked + 1))
  runs=()
  rm -f "$dir"/run-*
  local fault=$2 drive=$3 capture=$4 both=$5 trace=$6 code=1
  [[ $board == healthy ]] && code=0
  # shellcheck disable=SC2086  # the options split into words on purpose
  "$sim" --clock simulated $fault $drive --trace "$dir/run.txt" --vcd "$dir/run.vcd" 2>"$dir/sim.err" ||
    { echo "FAILED [$board]: pxa-gpio-sim"; cat "$dir/sim.err"; failures=$((failures + 1)); return; }
  rm -f "$dir/run.sr"
  sigrok-cli -i "$dir/run.vcd" -I vcd -o "$dir/run.sr" 2>/dev/null ||
    { echo "FAILED [$board]: sigrok-cli could not convert the VCD"; failures=$((failures + 1)); return; }
  # A checker built without libsigrok's C++ bindings reads VCD only.
  run_check --capture "$dir/run.sr"
  if grep -q "cannot read sigrok sessions" "$out" "$err"; then
    echo "pxa-gpio-check was built without .sr support (Debian: libsigrokcxx-dev libglibmm-2.4-dev)" >&2
    [[ ${GPIO_REQUIRE_WAVEFORM_TOOLS:-0} == 1 ]] && exit 1
    exit 77
  fi
  for format in vcd sr; do
    expect "$code" "$capture" --capture "$dir/run.$format"
    json_matches --capture "$dir/run.$format"
    expect "$code" "$both" --trace "$dir/run.txt" --capture "$dir/run.$format"
    json_matches --trace "$dir/run.txt" --capture "$dir/run.$format" --svg "$dir/run.svg"
  done
  expect 3 "$trace" --trace "$dir/run.txt"
  json_matches --trace "$dir/run.txt"
  [[ $board == healthy ]] && expect 0 "^verdict +ok +a whole run seen; every check ran and passed \(a capture alone: \
the register reports and what the inputs read need the trace too\)" --capture "$dir/run.vcd"
  expect 3 "^verdict +not seen +no fault found, but not all was seen: pins: not seen: no capture" \
    --trace "$dir/run.txt"
}

# The drive at 62.5 s is sample 250 of the read phase.
board healthy "" "--drive GPIO33=high@62.5 --drive GPIO80=low@60" \
  "^write phase \(capture\) +ok +120 steps found, both lines follow the patterns" \
  "^trace against capture +(ok|info)" \
  "^GPIO33 .*reads high in 350 of 600 samples"
board stuck-low "--fault stuck-low=GPIO80" "--drive GPIO80=high@62.5" \
  "^GPIO80 +FAULT +stuck low" \
  "^write phase \(capture\) +FAULT +GPIO80 stuck low" \
  "^GPIO80 .*reads low in all 600 samples"
board stuck-high "--fault stuck-high=GPIO33" "" \
  "^GPIO33 +FAULT +stuck high" \
  "^write phase \(capture\) +FAULT +GPIO33 stuck high" \
  "^GPIO33 .*reads high in all 600 samples"
board swapped "--fault swapped" "--drive GPIO33=high@62.5" \
  "^write phase \(capture\) +FAULT +the two lines are swapped" \
  "^GPIO33 +FAULT +swapped with the other line, or the probes are: carries GPIO80's pattern$" \
  "^GPIO80 .*reads high in 350 of 600 samples"
# Driven 1 s into the read phase: the 500 samples that read the opposite
# cannot all have come after the capture's end, whatever the sample timing.
board inverted "--fault inverted=GPIO33" "--drive GPIO33=high@61" \
  "^GPIO33 +FAULT +inverted" \
  "^GPIO33 +FAULT +inverted.*the input reads other than the pin" \
  "^GPIO33 .*reads high in 100 of 600 samples"
board shorted "--fault shorted" "--drive GPIO33=high@62.5" \
  "^write phase \(capture\) +FAULT +the two lines are shorted together" \
  "^GPIO80 +FAULT +shorted to GPIO33" \
  "^GPIO80 .*reads high in 350 of 600 samples"
# The write phase ends at 63 s here: no drive, which would land in it.
board slow-clock "--fault slow-clock=0.05" "" \
  "^step period +FAULT +median 525.000 ms" \
  "^step period +FAULT" \
  "^trace +ok"

# A bench's bad day, from small edits of a healthy run's VCD and trace
# (VCD and trace only: the .sr reader feeds the same analysis): the checker
# places what it sees, names what is odd, and calls no healthy board faulty.
# edit_vcd OP: cut=SECONDS (the capture starts later), delay=SECONDS:MS (every change from then on later)
# or restart=SECONDS:GAP[:FIRST-VCD] (the board, running FIRST-VCD's run or this one, resets then, its lines as
# at the start, and runs this run again GAP seconds later)
edit_vcd() {
  python3 - "$dir/run.vcd" "$1" <<'EOF'
import sys
path, op = sys.argv[1], sys.argv[2]
lines = open(path).read().splitlines()
at = next(i for i, l in enumerate(lines) if l.startswith("$enddefinitions")) + 1
head, events, t = lines[:at], [], 0
for l in lines[at:]:
    if l.startswith("#"): t = int(l[1:]); events.append((t, None))
    elif l and not l.startswith("$"): events.append((t, l))
kind, value = op.split("=")
if kind == "cut":
    cut, first = int(float(value) * 1e6), {}
    for t, l in events:
        if l and t <= cut: first[l[1:]] = l[0]
    events = [(0, v + k) for k, v in first.items()] + [(t - cut, l) for t, l in events if t > cut]
elif kind == "restart":
    at, gap = (int(float(x) * 1e6) for x in value.split(":")[:2])
    before = events
    if value.count(":") == 2:  # the same channels in the same order: the same identifiers
        before, t = [], 0
        other = open(value.split(":", 2)[2]).read().splitlines()
        for l in other[next(i for i, l in enumerate(other) if l.startswith("$enddefinitions")) + 1:]:
            if l.startswith("#"): t = int(l[1:])
            elif l and not l.startswith("$"): before.append((t, l))
    first = {l[1:]: l[0] for t, l in events if l and t == 0}
    events = ([(t, l) for t, l in before if t < at] + [(at, v + k) for k, v in first.items()] +
              [(t + at + gap, l) for t, l in events])
else:
    start, by = (float(x) for x in value.split(":"))
    events = [(t + int(by * 1e3) if t >= start * 1e6 else t, l) for t, l in events]
out, last = head + ["#0"], 0
for t, l in events:
    if t != last: out.append("#%d" % t); last = t
    if l: out.append(l)
open(path, "w").write("\n".join(out) + "\n")
EOF
}
edited() {  # edited NAME SIM-OPTIONS VCD-EDIT TRACE-EDIT CODE PATTERN [SVG-PATTERN]
  board=$1
  runs=()
  rm -f "$dir"/run-*
  # shellcheck disable=SC2086  # the options split into words on purpose
  "$sim" --clock simulated $2 --trace "$dir/run.txt" --vcd "$dir/run.vcd" 2>"$dir/sim.err" ||
    { echo "FAILED [$board]: pxa-gpio-sim"; cat "$dir/sim.err"; failures=$((failures + 1)); return; }
  [[ -n $3 ]] && edit_vcd "$3"
  [[ -n $4 ]] && python3 -c "$4" "$dir/run.txt"
  expect "$5" "$6" --trace "$dir/run.txt" --capture "$dir/run.vcd" --svg "$dir/run.svg"
  if [[ -n ${7:-} ]] && ! grep -q -- "$7" "$dir/run.svg"; then
    echo "FAILED [$board]: the picture does not mark /$7/"
    failures=$((failures + 1))
  fi
}
if [[ -z $only || $only == bad-days ]]; then
boards_checked=$((boards_checked + 1))
after_run="--drive GPIO33=high@60 --drive GPIO80=high@60"
# It placed these steps 12 late and called 6 of them wrong (exit 1).
edited "capture from 23.2 s, inputs pulled high" "$after_run" cut=23.2 "" 3 \
  "^write phase \(capture\) +cut off +73 steps found, both lines follow the patterns$"
# Step 42 of 502 ms starts at 20.62 s. It was a step period FAULT.
edited "step 42 late by 19 ms" "--debug-baud 115200 --sleep-tick 1ms $after_run" delay=20.7:19 "" 0 \
  "^step period +info +median 502.000 ms .*; 1 step\(s\) late: step 42 \(521.000 ms\)$" "late step 42"
# It was "not the program's run in order: message 305 is +TolvarGPIOTest" (exit 1).
restart='import sys, re
t = open(sys.argv[1], "rb").read()
cut = [m.end() for m in re.finditer(rb"Read value: 0x..\r", t)][165]
open(sys.argv[1], "wb").write(t[:cut] + t)'
edited "reset at message 305" "$after_run" "" "$restart" 0 \
  "^trace +info +the board restarted \(the run starts again at message 305\); the run from message 305 judged: a whole run in order: 741 messages$"
# The capture shows the restart too (the reset after the 166th read, the
# run again a second later): it held the first run's write phase against
# the second run's samples, "the input reads other than the pin" (exit 1).
edited "reset at message 305, in the capture too" "$after_run" restart=61.665:1 "$restart" 0 \
  "^write phase \(capture\) +info +120 steps found, both lines follow the patterns; the board restarted: the capture's write phase from 62\.665 s judged, the last whole run of 2$"
expect 0 "^trace against capture +ok" --trace "$dir/run.txt" --capture "$dir/run.vcd" --svg "$dir/run.svg"
expect 0 "^write phase \(capture\) +info .*the board restarted" --capture "$dir/run.vcd"
# A fault in the judged run is still found: the first run healthy (from the
# capture above), the second with GPIO80 stuck low.
cp "$dir/run.vcd" "$dir/healthy-first.vcd"
edited "reset at message 305, GPIO80 stuck low after it" "--fault stuck-low=GPIO80 $after_run" \
  "restart=61.665:1:$dir/healthy-first.vcd" "$restart" 1 "^GPIO80 +FAULT +stuck low"
expect 1 "^write phase \(capture\) +FAULT +GPIO80 stuck low; the board restarted" --capture "$dir/run.vcd"
# It refused the trace (exit 2): the noise taken for a UTF-16 byte-order mark.
edited "noise FF FE before the trace" "$after_run" "" \
  'import sys; t = open(sys.argv[1], "rb").read(); open(sys.argv[1], "wb").write(b"\xff\xfe" + t)' 0 \
  "^trace +ok +a whole run in order: 741 messages$"
fi

if ((boards_checked == 0)); then
  echo "FAILED: no board named $only"
  exit 1
fi
[[ -n $only ]] && ((failures == 0)) && echo "board $only: named from the VCD and the .sr session" && exit 0
((failures == 0)) && echo "every board fault named from the VCD and the .sr session; the healthy board passes"
exit $((failures > 0))
