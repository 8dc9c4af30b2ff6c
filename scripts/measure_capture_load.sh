#!/usr/bin/env bash
# Makes a sigrok session of a whole run (66 s) sampled at RATE (default
# 24 MHz, the fastest rate of the cheap analysers) and measures loading it
# as the board checker does: wall time and peak memory of `read_capture`,
# each of several loads, with /usr/bin/time -v.
# Usage: scripts/measure_capture_load.sh [RATE_HZ [LOADS]]
# Needs sigrok-cli and about 1.6 GB of temporary disk at 24 MHz; making the
# session takes about a minute, loading it a few seconds.
#
# With `clock`, a line busier than any run instead: a 1.3 s session at
# RATE_HZ (default 50 MHz) with a 12.288 MHz clock on channel 0, checked by
# pxa-gpio-check, whose memory stays bounded by the changes it keeps.
# Usage: scripts/measure_capture_load.sh clock [RATE_HZ [LOADS]]
set -euo pipefail
cd "$(dirname "$0")/.."

mode=run
if [[ ${1:-} == clock ]]; then
  mode=clock
  shift
fi
rate=${1:-$([[ $mode == clock ]] && echo 50000000 || echo 24000000)}
loads=${2:-3}
cmake --preset host >/dev/null
cmake --build --preset host --target pxa-gpio-sim pxa-gpio-check read_capture >/dev/null
sim=build/host/tools/gpio_sim/pxa-gpio-sim
reader=build/host/tests/gpio_check/read_capture
check=build/host/tools/gpio_check/pxa-gpio-check

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ $mode == clock ]]; then
  python3 scripts/clock_samples.py "$rate" 12288000 1.3 >"$work/clock.bin"
  sigrok-cli -i "$work/clock.bin" -I "binary:numchannels=2:samplerate=$rate" -o "$work/clock.sr"
  rm "$work/clock.bin"
  for ((i = 1; i <= loads; i++)); do
    /usr/bin/time -v "$check" --capture "$work/clock.sr" --channel GPIO33@0 --channel GPIO80@1 2>"$work/time" |
      grep toggles | sed "s/^/load $i: /" || true
    grep -E "Elapsed|Maximum resident" "$work/time" | sed "s/^\s*/load $i: /"
  done
  exit 0
fi
"$sim" --clock simulated --vcd "$work/run.vcd" >/dev/null
# Raw samples from a file, not a pipe: sigrok-cli then adds the session's
# chunks a few MB at a time instead of 64 KB at a time (minutes, not half
# an hour).
python3 scripts/vcd_to_samples.py "$work/run.vcd" "$rate" >"$work/run.bin"
start=$(date +%s)
sigrok-cli -i "$work/run.bin" -I "binary:numchannels=2:samplerate=$rate" -o "$work/run.sr"
echo "session: $(stat -c %s "$work/run.sr") bytes for $(stat -c %s "$work/run.bin") samples, made in $(($(date +%s) - start)) s"
rm "$work/run.bin"

for ((i = 1; i <= loads; i++)); do
  /usr/bin/time -v "$reader" "$work/run.sr" 0 1 2>"$work/time" | sed "s/^/load $i: /"
  grep -E "Elapsed|Maximum resident" "$work/time" | sed "s/^\s*/load $i: /"
done
