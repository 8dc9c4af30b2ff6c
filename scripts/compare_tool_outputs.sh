#!/usr/bin/env bash
# Whether two builds' pxa-gpio-sim and pxa-gpio-check give the same outputs,
# byte for byte: for a change that should move code and nothing else.
#
#   scripts/compare_tool_outputs.sh BEFORE_BUILD AFTER_BUILD [EXE]
#
# BEFORE_BUILD and AFTER_BUILD are host build trees (build/host). Each
# simulator case runs on both builds' pxa-gpio-sim: exit code, standard
# output and error, trace, access log, VCD, SVG and sigrok session (member
# by member: the archive's own times differ). Each checker case runs both
# pxa-gpio-check builds on the captures and traces of the BEFORE build's
# simulator, some of them edited into a bad day's board: exit code,
# report, standard error, JSON and SVG. With EXE, the device's .exe runs on
# both cores too. Prints each difference and a count; exits 1 on any.
set -u
before=$(cd "$1" && pwd) after=$(cd "$2" && pwd) exe=${3:+$(realpath "$3")}
here=$(cd "$(dirname "$0")" && pwd)
edit_vcd="$here/../tests/sigrok_decoder/edit_vcd.py"
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT; echo "work: $work"
cases=0 differences=0

differ() { echo "DIFFERS: $*"; differences=$((differences + 1)); }

same_session() {  # same members with the same bytes
  python3 - "$1" "$2" <<'EOF'
import sys, zipfile
a, b = (zipfile.ZipFile(p) for p in sys.argv[1:3])
names = sorted(a.namelist())
sys.exit(0 if names == sorted(b.namelist()) and all(a.read(n) == b.read(n) for n in names) else 1)
EOF
}

# run_both TOOL NAME ARGS...: ARGS with @OUT@ for the case's own output folder.
run_both() {
  local tool=$1 name=$2
  shift 2
  cases=$((cases + 1))
  for side in before after; do
    local build=$before
    [ "$side" = after ] && build=$after
    local out="$work/$side/$name"
    mkdir -p "$out"
    local args=("${@//@OUT@/$out}")
    local binary="$build/tools/gpio_sim/pxa-gpio-sim"
    [ "$tool" = check ] && binary="$build/tools/gpio_check/pxa-gpio-check"
    (cd "$out" && "$binary" "${args[@]}" >stdout 2>stderr; echo $? >exit)
  done
  local file
  for file in "$work/before/$name"/*; do
    local other="$work/after/$name/${file##*/}"
    if [ ! -e "$other" ]; then
      differ "$name: ${file##*/} only before"
    elif [[ $file == *.sr ]]; then
      same_session "$file" "$other" || differ "$name: ${file##*/}"
    elif ! cmp -s "$file" "$other"; then
      differ "$name: ${file##*/}"
    fi
  done
  for file in "$work/after/$name"/*; do
    [ -e "$work/before/$name/${file##*/}" ] || differ "$name: ${file##*/} only after"
  done
}

sim_case() {  # NAME SIM-OPTIONS...
  local name=$1
  shift
  run_both sim "sim-$name" --clock simulated "$@" --trace @OUT@/run.txt --access-log @OUT@/run.log \
    --vcd @OUT@/run.vcd --svg @OUT@/run.svg --sr @OUT@/run.sr
}

check_case() {  # NAME CHECK-OPTIONS...
  local name=$1
  shift
  local svg=()
  [[ " $* " == *" --capture "* ]] && svg=(--svg @OUT@/verdict.svg)  # the capture's picture
  run_both check "check-$name" "$@" --json @OUT@/verdict.json "${svg[@]}"
}

real="--debug-baud 115200 --sleep-tick 1ms"
boards=(
  "healthy|"
  "stuck-low|--fault stuck-low=GPIO33"
  "stuck-high|--fault stuck-high=GPIO80"
  "inverted|--fault inverted=GPIO33"
  "swapped|--fault swapped"
  "shorted|--fault shorted"
  "slow-clock|--fault slow-clock=0.05"
  "very-slow|--fault slow-clock=0.3"
  "real-timing|$real"
  "stuck-real|--fault stuck-low=GPIO80 $real"
  "driven|--drive GPIO33=high@62.5 --drive GPIO80=low@60"
  "contention|--drive GPIO33=low@10"
  "pulled|--drive GPIO33=high@60 --drive GPIO80=high@60"
)
for row in "${boards[@]}"; do
  name=${row%%|*} options=${row#*|}
  # shellcheck disable=SC2086  # the options are words
  sim_case "$name" $options
done
if [ -n "$exe" ]; then
  for core in pxa255 pxa270; do sim_case "exe-$core" --exe "$exe" --exe-core "$core"; done
fi
# Refused options and files: the messages must not change either.
run_both sim sim-refused-fault --clock simulated --fault stuck-low=GPIO34
run_both sim sim-refused-drive --clock simulated --drive GPIO33=high@99
run_both sim sim-help --help

# The checker on the BEFORE simulator's outputs, then on bad days.
for row in "${boards[@]}"; do
  name=${row%%|*}
  made="$work/before/sim-$name"
  check_case "$name-vcd" --capture "$made/run.vcd"
  check_case "$name-sr" --capture "$made/run.sr"
  check_case "$name-trace" --trace "$made/run.txt"
  check_case "$name-both" --trace "$made/run.txt" --capture "$made/run.vcd"
done
healthy="$work/before/sim-healthy"
edits=(
  "fast-10|scale:0.9"
  "slow-15|scale:1.15"
  "busy-before|delay:2000000 toggle:GPIO80:500000:1000:80"
  "busy-step|toggle:GPIO80:25200000:88:80"
  "glitch|toggle:GPIO33:10460000:1000:2"
  "late-start|start:23200000"
  "read-phase-start|start:62000000"
  "late-step|stretch:46500000:19000"
  "very-late-step|stretch:46500000:250000"
)
for row in "${edits[@]}"; do
  name=${row%%|*} edit=${row#*|}
  # shellcheck disable=SC2086
  python3 "$edit_vcd" "$healthy/run.vcd" "$work/$name.vcd" $edit
  check_case "edit-$name" --capture "$work/$name.vcd"
  check_case "edit-$name-trace" --trace "$healthy/run.txt" --capture "$work/$name.vcd"
done
python3 "$edit_vcd" "$healthy/run.vcd" "$work/restart.vcd" restart:61735000:1000000:"$healthy/run.vcd"
check_case restart --capture "$work/restart.vcd"
head -c 3000 "$healthy/run.txt" >"$work/cut.txt"
check_case cut-trace --trace "$work/cut.txt"
printf '\xff\xfe' | cat - "$healthy/run.txt" >"$work/noise.txt"
check_case noise-trace --trace "$work/noise.txt"
check_case channels --capture "$healthy/run.vcd" --channel GPIO33=GPIO80 --channel GPIO80=GPIO33
check_case missing --capture "$work/none.vcd"
check_case empty --capture /dev/null
run_both check check-help --help

echo "$cases cases, $differences difference(s)"
[ "$differences" -eq 0 ]
