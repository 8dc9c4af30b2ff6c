#!/usr/bin/env bash
# The exercise's decoder run by sigrok-cli, as a user runs it, on
# pxa-gpio-sim's sigrok session and VCD of each board: every step with the
# pattern asked (0, 1, 2, 3 in turn) and the pattern seen, every read sample,
# and a problem row that names each board fault where it happens, as
# pxa-gpio-check names it on the same capture; none on a healthy board,
# also with a real board's timing. Then captures that are no whole run (cut
# short, a clock on one line, no sample rate): the decoder ends cleanly with
# what it saw, never with a Python traceback.
# Usage: check_decoder_annotations.sh DECODER-DIR PXA-GPIO-SIM PXA-GPIO-CHECK CLOCK-SAMPLES-PY
set -uo pipefail
decoders=$1 sim=$2 check=$3 clock_samples=$4
source "$(dirname "$0")/../gpio_sim/require_programs.sh"
require_programs sigrok-cli python3
make_scratch
export SIGROKDECODE_DIR=$decoders PYTHONDONTWRITEBYTECODE=1
failures=0
fail() {
  echo "FAILED [$board]: $*"
  failures=$((failures + 1))
}

# decode CAPTURE [INPUT-FORMAT [CHANNEL33 CHANNEL80]]: the annotations in $scratch/ann.txt, split
# by row into steps.txt, samples.txt, phases.txt and problems.txt; with
# their first and last sample in placed.txt. $decoder_options: more decoder options (":read_back=no").
decode() {
  local input=()
  [[ -n ${2:-} ]] && input=(-I "$2")
  sigrok-cli "${input[@]}" -i "$1" -P "pxa_gpio_exercise:gpio33=${3:-GPIO33}:gpio80=${4:-GPIO80}${decoder_options:-}" \
    -A pxa_gpio_exercise --protocol-decoder-samplenum >"$scratch/ann.raw" 2>"$scratch/decode.err"
  local status=$?
  if ((status != 0)) || grep -qiE "traceback|error|exception" "$scratch/decode.err"; then
    fail "sigrok-cli exit $status on $1:"
    cat "$scratch/decode.err"
  fi
  sed 's/^[0-9]*-[0-9]* pxa_gpio_exercise-1: //' "$scratch/ann.raw" >"$scratch/ann.txt"
  sed 's/ pxa_gpio_exercise-1: / /' "$scratch/ann.raw" >"$scratch/placed.txt"
  grep -E '^step [0-9]+: asked' "$scratch/ann.txt" >"$scratch/steps.txt"
  grep -E '^sample [0-9]+:' "$scratch/ann.txt" >"$scratch/samples.txt"
  grep -E '^(write phase|switch to inputs|read phase)' "$scratch/ann.txt" >"$scratch/phases.txt"
  grep -vE '^(step [0-9]+: asked|sample [0-9]+:|write phase|switch to inputs|read phase)' \
    "$scratch/ann.txt" >"$scratch/problems.txt"
}

# The whole run: 120 steps asking 0, 1, 2, 3 in turn, the phases, 600 samples.
expect_whole_run() {
  awk '{ n++; if ($2 != n ":" || $4 != (n - 1) % 4) { print "line " n ": " $0; bad = 1; exit } }
       END { if (n != 120) { print n " steps"; bad = 1 }; exit bad }' "$scratch/steps.txt" ||
    fail "steps not 1 to 120 asking 0, 1, 2, 3 in turn"
  awk '{ n++; if ($2 != n ":") bad = 1 } END { exit bad || n != 600 }' "$scratch/samples.txt" ||
    fail "$(wc -l <"$scratch/samples.txt") samples, not 1 to 600"
  [[ $(cat "$scratch/phases.txt") == $'write phase: 120 steps\nswitch to inputs\nread phase: 600 samples every 10.000 ms' ]] ||
    fail "phases: $(cat "$scratch/phases.txt")"
}

# board NAME SIM-OPTIONS PROBLEM CHECKER [SAMPLE]: pxa-gpio-sim's run with
# SIM-OPTIONS, decoded from its session and its VCD (the same annotations
# from both). PROBLEM (grep -E) is what every problem annotation says, ""
# for none; CHECKER is what pxa-gpio-check reports on the VCD (grep -E);
# SAMPLE, if given, a sample annotation that must be there.
board() {
  board=$1
  local options=$2 problem=$3 checker=$4 sample=${5:-}
  # shellcheck disable=SC2086  # the options split into words on purpose
  "$sim" --clock simulated $options --sr "$scratch/run.sr" --vcd "$scratch/run.vcd" \
    --trace "$scratch/run.txt" 2>"$scratch/sim.err" >/dev/null || { fail "pxa-gpio-sim: $(cat "$scratch/sim.err")"; return; }
  decode "$scratch/run.sr"
  cp "$scratch/ann.txt" "$scratch/from-session.txt"
  decode "$scratch/run.vcd" vcd
  cmp -s "$scratch/ann.txt" "$scratch/from-session.txt" || fail "the session and the VCD decode differently"
  judge "$problem" "$checker" "$sample" "$scratch/run.vcd"
}

# judge PROBLEM CHECKER SAMPLE CAPTURE: the decoded run against the checker's verdict.
judge() {
  local problem=$1 checker=$2 sample=$3 capture=$4
  expect_whole_run
  if [[ -z $problem ]]; then
    [[ -s $scratch/problems.txt ]] && fail "problems on a good board: $(head -3 "$scratch/problems.txt")"
  else
    [[ -s $scratch/problems.txt ]] || fail "no problem annotated, expected /$problem/"
    grep -vqE -- "$problem" "$scratch/problems.txt" &&
      fail "a problem other than /$problem/: $(grep -vE -- "$problem" "$scratch/problems.txt" | head -2)"
  fi
  [[ -z $sample ]] || grep -qxF -- "$sample" "$scratch/samples.txt" ||
    fail "no sample annotation '$sample': $(grep -E "^${sample%%:*}:" "$scratch/samples.txt")"
  "$check" --capture "$capture" >"$scratch/check.out" 2>&1
  local code=$?
  if [[ -z $problem ]]; then
    ((code == 0)) || { fail "pxa-gpio-check exit $code on a board the decoder finds good:"; cat "$scratch/check.out"; }
    # Not where the capture was changed by hand: the trace is of another run then.
    [[ ${trace_of_capture:-1} == 1 ]] || return
    "$check" --trace "$scratch/run.txt" --capture "$capture" >"$scratch/check.out" 2>&1 ||
      { fail "pxa-gpio-check with the trace exit $? on a board the decoder finds good:"; cat "$scratch/check.out"; }
  elif ((code != 1)) || ! grep -qE -- "$checker" "$scratch/check.out"; then
    fail "pxa-gpio-check exit $code, wanted 1 and /$checker/:"
    cat "$scratch/check.out"
  fi
}

real_timing="--debug-baud 115200 --sleep-tick 1ms"
# Good boards have both inputs driven in the read phase: a pin left
# floating is one the checker cannot hold a sample against.
board healthy "--drive GPIO33=high@62.5 --drive GPIO80=low@60" "" "" "sample 250: GPIO33 low, GPIO80 low: 0 (00)"
# The first read comes after the switch to inputs: the lines' fall there is no change for it.
grep -qx "sample 1: GPIO33 low, GPIO80 low: 0 (00)" "$scratch/samples.txt" ||
  fail "sample 1: $(grep '^sample 1:' "$scratch/samples.txt")"
# Where the annotations are (1 MHz): the write phase from 0 to 60 s, step 2
# from 0.5 to 1 s, each sample period from its read at 60 s + 10 ms a sample.
placed() { grep -qE "^$1 $2" "$scratch/placed.txt" || fail "not at $1: $(grep -E "^[0-9]+-[0-9]+ $2" "$scratch/placed.txt" | head -1)"; }
placed 0-60000000 "write phase: 120 steps"
placed 500000-1000000 "step 2: asked"
placed 60000000-60010000 "sample 1:"
placed 65990000-66000000 "sample 600:"
# Not read back: no read phase.
decoder_options=:read_back=no decode "$scratch/run.sr"
[[ $(cat "$scratch/phases.txt") == "write phase: 120 steps" && ! -s $scratch/samples.txt && $(wc -l <"$scratch/steps.txt") == 120 ]] ||
  fail "read_back=no: $(cat "$scratch/phases.txt") and $(wc -l <"$scratch/samples.txt") samples"
# Options no run can have are refused with a message, and nothing else is shown.
for refused in "step_ms=1e17" "step_ms=0.005" "steps=0" "steps=100000000" "samples=-1" "sample_ms=0" "read_back=maybe"; do
  board="option $refused"
  decoder_options=:$refused decode "$scratch/run.sr"
  [[ $(cat "$scratch/ann.txt") == "options out of range: ${refused%%=*}="* ]] || fail "$(cat "$scratch/ann.txt" | head -2)"
done
board "healthy, a real board's timing" "$real_timing --drive GPIO80=high@63 --drive GPIO33=low@60.5" "" ""
cp "$scratch/run.vcd" "$scratch/real.vcd"
board "stuck low" "--fault stuck-low=GPIO80" "GPIO80 stuck low" "^GPIO80 +FAULT +stuck low"
cp "$scratch/run.vcd" "$scratch/stuck-low.vcd"
board "stuck high" "--fault stuck-high=GPIO33 $real_timing" "GPIO33 stuck high" "^GPIO33 +FAULT +stuck high"
board "GPIO33 inverted" "--fault inverted=GPIO33" "GPIO33 inverted" "^write phase \(capture\) +FAULT +GPIO33 inverted"
board "GPIO80 inverted" "--fault inverted=GPIO80 $real_timing" "GPIO80 inverted" \
  "^write phase \(capture\) +FAULT +GPIO80 inverted"
# At 9600 Bd the lines become outputs 0.1 s before the first step: GPIO33
# rises there, an edge that starts no step. Its steps take 520 ms, too long.
board "GPIO33 inverted, a slow debug port" "--fault inverted=GPIO33 --debug-baud 9600 --sleep-tick 10ms" \
  "GPIO33 inverted|^step [0-9]+: step period 520.000 ms, 4.0 % longer" "^write phase \(capture\) +FAULT +GPIO33 inverted"
board swapped "--fault swapped" "the two lines are swapped" "^write phase \(capture\) +FAULT +the two lines are swapped"
board shorted "--fault shorted $real_timing" "the two lines are shorted together" \
  "^write phase \(capture\) +FAULT +the two lines are shorted together"
board "slow clock" "--fault slow-clock=0.05" "^step [0-9]+: step period 525.000 ms, 5.0 % longer than the program asks" \
  "^step period +FAULT +median 525.000 ms"
cp "$scratch/run.vcd" "$scratch/slow-0.05.vcd"
# The read sample and a pin's edge: within the checker's 1 ms either level
# may be read, 2.5 ms before the sample only the new one.
board "an edge 0.5 ms before sample 251" "--drive GPIO33=high@62.4995 --drive GPIO80=low@60" "" "" "sample 251: GPIO33 changing, GPIO80 low: either"
board "an edge 2.5 ms before sample 251" "--drive GPIO33=high@62.4975 --drive GPIO80=low@60" "" "" "sample 251: GPIO33 high, GPIO80 low: 2 (10)"

# Captures pxa-gpio-sim does not make, from its healthy VCD.
"$sim" --clock simulated --drive GPIO33=high@62.5 --drive GPIO80=low@60 --vcd "$scratch/healthy.vcd" \
  --trace "$scratch/run.txt" >/dev/null
"$sim" --clock simulated --vcd "$scratch/floating.vcd" >/dev/null
# edit NAME AWK: the healthy VCD (or $from) through AWK, decoded and judged like a board.
edited() {
  board=$1
  awk "$2" "${from:-$scratch/healthy.vcd}" >"$scratch/edited.vcd"
  decode "$scratch/edited.vcd" vcd
  judge "$3" "$4" "" "$scratch/edited.vcd"
}
# GPIO33 pulses high in step 21 (10.0 to 10.5 s, pattern 0), clear of its middle's level.
pulse() { echo "/^#10500000\$/ { print \"#10200000\"; print \"1!\"; print \"#$((10200000 + $1))\"; print \"0!\" } { print }"; }
edited "a 45 ms pulse inside a step" "$(pulse 45000)" "^GPIO33 glitch: a 45.000 ms high pulse, shorter than 50.000 ms" \
  "^glitches +FAULT +1 pulse\(s\) far shorter than a step"
edited "a 1 ms pulse inside a step" "$(pulse 1000)" "^GPIO33 glitch: a 1.000 ms high pulse" "^glitches +FAULT"
edited "a 60 ms pulse inside a step is no glitch" "$(pulse 60000)" "" ""
# Inputs left undriven and pulled up: the lines rest high from the switch
# to inputs, the last step's level (3), so its end shows no edge.
from=$scratch/floating.vcd trace_of_capture=0 edited "inputs pulled high" '/^z[!#]$/ { sub(/^z/, "1") } { print }' "" ""
grep -qx "sample 600: GPIO33 high, GPIO80 high: 3 (11)" "$scratch/samples.txt" || fail "the read phase is not high"
# The analyser started 2.345678 s before the run.
edited "capture started before the run" '/^#[0-9]+$/ && !/^#0$/ { print "#" substr($0, 2) + 2345678; next } { print }' "" ""
placed 2345678-62345678 "write phase: 120 steps"
# ... with a 5 ms pulse on GPIO80 1 s before the run, which starts no step.
edited "a pulse before the run" '/^#[0-9]+$/ && !/^#0$/ {
    if (!pulsed) { print "#1000000"; print "1#"; print "#1005000"; print "0#"; pulsed = 1 }
    print "#" substr($0, 2) + 2345678; next } { print }' "" ""

# A board's bad day: one table of boards, each through the decoder and
# pxa-gpio-check. Each row: the capture (made once, by pxa-gpio-sim or an
# edit of its VCD), the steps the decoder shows, what its problems say, and
# what the checker says on it (a healthy board is never a FAULT, steps
# placed late are none, a restart is named). Rows where today's checker
# says otherwise, until its fixes are merged (take a row out once it agrees;
# the table fails on a row listed here that agrees):
checker_differs=()
calc() { python3 -c "print($1)"; }
percent() { python3 -c "print(round($1 * 100))"; }
edit_vcd() { python3 "$(dirname "$0")/edit_vcd.py" "$@"; }

# Steps FIRST to 120 asking 0, 1, 2, 3 in turn, each seen as asked (unless $seen_as_asked is 0),
# the phases and 600 samples.
expect_steps_from() {
  awk -v first="$1" -v as_asked="${seen_as_asked:-1}" '{ n = first + NR - 1
         if ($2 != n ":" || $4 != (n - 1) % 4 || (as_asked && $7 != $4)) { print "line " NR ": " $0; bad = 1; exit } }
       END { if (first + NR - 1 != 120) { print NR " steps"; bad = 1 }; exit bad }' "$scratch/steps.txt" ||
    fail "steps not $1 to 120 each seen as asked"
  awk '{ n++; if ($2 != n ":") bad = 1 } END { exit bad || n != 600 }' "$scratch/samples.txt" ||
    fail "$(wc -l <"$scratch/samples.txt") samples, not 1 to 600"
  [[ $(cat "$scratch/phases.txt") =~ ^write\ phase:\ 120\ steps$'\n'switch\ to\ inputs$'\n'read\ phase:\ 600\ samples\ every\ [0-9.]+\ ms$ ]] ||
    fail "phases: $(cat "$scratch/phases.txt")"
}

# row NAME CAPTURE STEPS PROBLEMS CHECKER-EXITS CHECKER-SAYS [TRACE]
#   STEPS: the first step shown (1..120 in turn, the phases, 600 samples), none (no step, no sample), or
#     any (checked after)
#   PROBLEMS: what every problem annotation says (grep -E), at least one unless ""
#   CHECKER-EXITS: the exit codes pxa-gpio-check may give ("0 3"); CHECKER-SAYS: its report has it (grep -E)
row() {
  board=$1
  local capture=$2 first=$3 problem=$4 exits=$5 says=$6 trace=${7:-}
  # The checker runs beside the decoder: two cores.
  local options=(--capture "$capture")
  [[ -n $trace ]] && options+=(--trace "$trace")
  "$check" "${options[@]}" >"$scratch/check.out" 2>&1 &
  local checker=$!
  decode "$capture" vcd
  if [[ $first == any ]]; then
    :
  elif [[ $first == none ]]; then
    [[ -s $scratch/steps.txt || -s $scratch/samples.txt ]] && fail "steps or samples: $(head -1 "$scratch/steps.txt")"
  else
    expect_steps_from "$first"
  fi
  if [[ -z $problem ]]; then
    [[ -s $scratch/problems.txt ]] && fail "problems: $(head -3 "$scratch/problems.txt")"
  else
    [[ -s $scratch/problems.txt ]] || fail "no problem annotated, expected /$problem/"
    grep -vqE -- "$problem" "$scratch/problems.txt" &&
      fail "a problem other than /$problem/: $(grep -vE -- "$problem" "$scratch/problems.txt" | head -2)"
  fi
  wait "$checker"
  local code=$? agrees=0
  [[ " $exits " == *" $code "* ]] && grep -qE -- "$says" "$scratch/check.out" && agrees=1
  local listed=0 name
  for name in "${checker_differs[@]}"; do [[ $name == "$board" ]] && listed=1; done
  if ((listed && agrees)); then
    fail "pxa-gpio-check agrees now (exit $code): take the row out of checker_differs"
  elif ((!listed && !agrees)); then
    fail "pxa-gpio-check exit $code, wanted ${exits// / or } and /$says/:"
    cat "$scratch/check.out"
  fi
  printf 'row %-36s decoder: %3d steps, %3d samples, %3d problems %-44.44s | checker: exit %d %s%s\n' "[$board]" \
    "$(wc -l <"$scratch/steps.txt")" "$(wc -l <"$scratch/samples.txt")" "$(wc -l <"$scratch/problems.txt")" \
    "$(head -1 "$scratch/problems.txt")" "$code" "$({ grep -m1 '^verdict' "$scratch/check.out" || tail -1 "$scratch/check.out"; } | tr -s ' ' | cut -c1-70)" \
    "$( ((listed)) && echo ' (expected to differ)')"
}

healthy=$scratch/healthy.vcd
period="^step [0-9]+: step period [0-9.]+ ms, [0-9.]+ % "
for fraction in 0.10 0.15 0.20; do
  "$sim" --clock simulated --fault slow-clock=$fraction --vcd "$scratch/slow-$fraction.vcd" >/dev/null
  row "clock $(percent $fraction) % slow" "$scratch/slow-$fraction.vcd" 1 "${period}longer" 1 "^step period +FAULT"
done
row "clock 5 % slow" "$scratch/slow-0.05.vcd" 1 "${period}longer" 1 "^step period +FAULT +median 525.000 ms"
for fraction in 0.05 0.10 0.15 0.20; do
  edit_vcd "$healthy" "$scratch/fast.vcd" scale:"$(calc "1 - $fraction")"
  # The read phase's samples are as much shorter: the decoder is told them.
  decoder_options=:sample_ms=$(calc "10 * (1 - $fraction)") \
    row "clock $(percent $fraction) % fast" "$scratch/fast.vcd" 1 "${period}less" 1 "^step period +FAULT"
done
# 80 changes of GPIO80 1 ms apart 1.5 s before the run; a 7 ms burst in step 51.
busy="^GPIO80 (changes more than 64 times within|busy from)"
edit_vcd "$healthy" "$scratch/busy.vcd" delay:2000000 toggle:GPIO80:500000:1000:80
row "GPIO80 busy before the run" "$scratch/busy.vcd" 1 "$busy" 0 ""
edit_vcd "$healthy" "$scratch/busy.vcd" toggle:GPIO80:25200000:88:80
row "GPIO80 busy for 7 ms in step 51" "$scratch/busy.vcd" 1 "$busy" "0 1" ""
grep -qx "sample 250: GPIO33 low, GPIO80 low: 0 (00)" "$scratch/samples.txt" || fail "the samples after the burst: $(grep '^sample 250:' "$scratch/samples.txt")"
# A 1 ms pulse on GPIO33 in step 21 (10.0 to 10.5 s, pattern 0; GPIO33 falls at its start):
# 3 ms and 40 ms after its start, in its middle, 40 ms and 3 ms before its end.
for at in 3 40 250 460 497; do
  edit_vcd "$healthy" "$scratch/glitch.vcd" toggle:GPIO33:$((10000000 + at * 1000)):1000:2
  row "a 1 ms glitch ${at} ms into step 21" "$scratch/glitch.vcd" 1 "^GPIO33 glitch: a 1.000 ms high pulse" 1 \
    "^glitches +FAULT +1 pulse\(s\)"
  [[ $(wc -l <"$scratch/problems.txt") == 1 ]] || fail "$(wc -l <"$scratch/problems.txt") problems, not the one glitch"
done
# Captures started late: in step 1, step 2, step 47, and in the read phase;
# then in step 47 with the inputs floating, and pulled high after the run.
late="^the capture starts after the write phase began"
"$sim" --clock simulated --drive GPIO33=high@60 --drive GPIO80=high@60 --vcd "$scratch/pulled.vcd" >/dev/null
for start in "1 200000 healthy" "2 700000 healthy" "47 23200000 healthy" "none 61000000 healthy" \
             "47 23200000 floating" "47 23200000 pulled"; do
  read -r step at from <<<"$start"
  edit_vcd "$scratch/$from.vcd" "$scratch/late.vcd" start:"$at"
  row "capture from $((at / 1000)) ms, $from" "$scratch/late.vcd" "$step" "$([[ $step == none ]] || echo "$late")" "0 3" ""
  [[ $step == none ]] || grep -q "^step $step: asked" "$scratch/steps.txt" || fail "no step $step"
done
# A real board's timing with step 93 (from 46.22 s) 19 ms late: a thread preempted once.
edit_vcd "$scratch/real.vcd" "$scratch/late-step.vcd" stretch:46500000:19000
row "step 93 19 ms late" "$scratch/late-step.vcd" 1 "^step 93: step period 521\.[0-9]+ ms" 0 "93"
# GPIO80 stuck low and step 93 60 ms late: its end and the next step's
# start show no edge; the steps after are found again where they are, and
# the one late step teaches no step length.
edit_vcd "$scratch/stuck-low.vcd" "$scratch/late-step.vcd" stretch:46100000:60000
seen_as_asked=0 row "GPIO80 stuck low, step 93 60 ms late" "$scratch/late-step.vcd" 1 "GPIO80 stuck low" 1 "^GPIO80 +FAULT +stuck low"
placed 49060000-[0-9]+ "step 99: asked"
placed 0-60060000 "write phase: 120 steps"
# The board resets at message 305 (sample 174 of the read phase, 61.735 s)
# and runs again from the start a second later: two runs, the second whole.
edit_vcd "$healthy" "$scratch/restart.vcd" restart:61735000:1000000:"$healthy"
python3 -c 'import re, sys
messages = lambda path: re.findall(r"[^\r\n]*(?:\r\n|\r|\n)", open(path, newline="").read())
sys.stdout.write("".join(messages(sys.argv[1])[:304] + messages(sys.argv[1])))' "$scratch/run.txt" >"$scratch/restart.txt"
row "reset at message 305" "$scratch/restart.vcd" any "^a run started before the last one's read phase ended" 0 "restart" \
  "$scratch/restart.txt"
# The first run whole; the second from the step after the first one's read
# phase (step 7 from 65.735 s, the first edge it shows starts step 8) to 120.
[[ $(grep -c "^write phase: 120 steps" "$scratch/phases.txt") == 2 && $(wc -l <"$scratch/samples.txt") == 1200 &&
   $(sed -n 121p "$scratch/steps.txt") == "step 7: asked 2 (10), seen 2 (10)" && $(wc -l <"$scratch/steps.txt") == 234 ]] ||
  fail "two runs, the second from step 7: $(sed -n 121p "$scratch/steps.txt"), $(wc -l <"$scratch/steps.txt") steps"

# No whole run: the decoder ends cleanly with what it saw.
board="capture cut at 30.3 s"
awk '/^#/ && substr($0, 2) + 0 > 30300000 { print "#30300000"; exit } { print }' "$scratch/healthy.vcd" >"$scratch/cut.vcd"
decode "$scratch/cut.vcd" vcd
[[ $(wc -l <"$scratch/steps.txt") == 60 && $(tail -1 "$scratch/steps.txt") == "step 60: asked 3 (11), seen 3 (11)" ]] ||
  fail "steps up to the cut: $(wc -l <"$scratch/steps.txt"), the last $(tail -1 "$scratch/steps.txt")"
[[ -s $scratch/problems.txt || -s $scratch/samples.txt ]] && fail "problems or samples in a cut write phase"

board="a 1 kHz clock on GPIO33 for 5 s"
python3 "$clock_samples" 1000000 1000 5 >"$scratch/clock.bin"
decode "$scratch/clock.bin" binary:numchannels=2:samplerate=1000000 0 1
[[ -s $scratch/steps.txt ]] && fail "steps found in a clock: $(head -2 "$scratch/steps.txt")"
grep -q "^GPIO33 changes more than 64 times within 500.000 ms: not the exercise" "$scratch/problems.txt" ||
  fail "the clock is not named: $(cat "$scratch/ann.txt")"

board="no sample rate"
decode "$scratch/clock.bin" binary:numchannels=2 0 1
[[ $(cat "$scratch/ann.txt") == "no sample rate: the capture does not say it, so the steps cannot be timed" ]] ||
  fail "$(cat "$scratch/ann.txt")"

((failures == 0)) && echo "the decoder annotates every board's run and names each fault as pxa-gpio-check does"
exit $((failures > 0))
