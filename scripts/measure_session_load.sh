#!/usr/bin/env bash
# Wall time and peak memory (/usr/bin/time -v) of pxa-gpio-check on hostile
# sigrok sessions and on a sound one:
#   formfeed  a 450-byte session whose metadata's last word, on a line that
#             starts with a form feed, is a million channels;
#   bomb      1000 chunk files listed in the archive, all one deflated GiB
#             of zeros, at 1 GHz (1.1 MB);
#   sound     a whole run (66 s) at 24 MHz made by sigrok-cli (1.6 MB).
# Each checker given (default: this tree's) checks each session LOADS times
# (default 3), the checkers in turn, each load stopped after LIMIT seconds
# (default 60).
# Usage: scripts/measure_session_load.sh [-n LOADS] [-t LIMIT] [CHECKER...]
# Needs sigrok-cli and python3; about 1.6 GB of temporary disk for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
loads=3 limit=60
while getopts n:t: option; do
  case $option in
    n) loads=$OPTARG ;;
    t) limit=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if (($# == 0)); then
  cmake --preset host >/dev/null
  cmake --build --preset host --target pxa-gpio-sim pxa-gpio-check >/dev/null
  set -- build/host/tools/gpio_check/pxa-gpio-check
fi
sim=build/host/tools/gpio_sim/pxa-gpio-sim
[[ -x $sim ]] || cmake --build --preset host --target pxa-gpio-sim >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 scripts/make_hostile_session.py formfeed "$work/formfeed.sr"
python3 scripts/make_hostile_session.py overlap "$work/bomb.sr" 1000 $((1 << 30))
"$sim" --clock simulated --vcd "$work/run.vcd" >/dev/null
python3 scripts/vcd_to_samples.py "$work/run.vcd" 24000000 >"$work/run.bin"
sigrok-cli -i "$work/run.bin" -I binary:numchannels=2:samplerate=24000000 -o "$work/sound.sr"
rm "$work/run.bin"

# Loads of the checkers taken in turn, so that a busy machine weighs on each alike.
for session in formfeed bomb sound; do
  echo "$session ($(stat -c %s "$work/$session.sr") bytes):"
  declare -A stopped=()
  for ((i = 1; i <= loads; i++)); do
    for check in "$@"; do
      [[ -n ${stopped[$check]:-} ]] && continue
      status=0
      # time outside timeout: the peak memory of a checker stopped is kept too.
      /usr/bin/time -v timeout -s KILL "$limit" "$check" --capture "$work/$session.sr" \
        --channel GPIO33@0 --channel GPIO80@1 >/dev/null \
        2>"$work/time" || status=$?
      wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
      peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
      if ((status == 137)); then
        echo "  $check, load $i: still running at $wall, stopped, $((peak / 1024)) MB so far (no more loads of it)"
        stopped[$check]=1
        continue
      fi
      said=$(grep -m 1 '^pxa-gpio-check:' "$work/time" | cut -c 1-150 || true)
      echo "  $check, load $i: exit $status, $wall, $((peak / 1024)) MB${said:+; $said}"
    done
  done
  unset stopped
done
