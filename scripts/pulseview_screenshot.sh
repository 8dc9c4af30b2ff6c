#!/usr/bin/env bash
# PulseView itself opening a session with the exercise decoder stacked, as
# `pulseview -s SETUP -i SESSION` does for a user, under a virtual display
# (xvfb-run), with no hand at the mouse: waits until the decoder has gone
# through every sample of the session, then saves the screen as a PNG.
# Fails, with PulseView's log, when the decoder does not load, reports an
# error or does not get through the session within TIMEOUT seconds.
# Usage: scripts/pulseview_screenshot.sh SESSION.sr SETUP.pvs OUT.png [TIMEOUT]
# The decoder is taken from tools/sigrok_decoder; PulseView's own settings
# go to a private home, removed after it.
set -uo pipefail
session=$(realpath "$1") setup=$(realpath "$2") out=$3 timeout=${4:-120}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
pid=
cleanup() {
  [[ -n $pid ]] && kill -- -"$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/home" "$work/screen"
samples=$(sigrok-cli -i "$session" --show 2>/dev/null | sed -n 's/^Logic sample count: //p')
[[ -n $samples ]] || { echo "sigrok-cli cannot read $session" >&2; exit 1; }

# Its own process group, so the display, PulseView and all end together.
HOME=$work/home XDG_CONFIG_HOME=$work/home/.config SIGROKDECODE_DIR=$here/tools/sigrok_decoder \
  PYTHONDONTWRITEBYTECODE=1 setsid timeout "$timeout" \
  xvfb-run -a -s "-screen 0 1000x720x24 -fbdir $work/screen" \
  pulseview -l 5 -s "$setup" -i "$session" >"$work/log" 2>&1 &
pid=$!

done_line="abs end sample $samples "
for ((waited = 0; waited < timeout; waited++)); do
  sleep 1
  grep -q "Creating new pxa_gpio_exercise instance" "$work/log" && grep -q "$done_line" "$work/log" && break
  kill -0 "$pid" 2>/dev/null || break
done
sleep 3  # the last annotations drawn
problems=$(grep -E 'Traceback|Failed to load decoder pxa_gpio|pxa_gpio_exercise.*(error|Error)|"PXA GPIO exercise": "(One or more|There are no|Decoder)' "$work/log")
if ! grep -q "Creating new pxa_gpio_exercise instance" "$work/log" || ! grep -q "$done_line" "$work/log" ||
  [[ -n $problems ]]; then
  echo "PulseView did not decode the whole session with the exercise decoder within $timeout s:" >&2
  grep -E 'srd:|PXA GPIO|Traceback|rror' "$work/log" | grep -v 'Setting "' | tail -25 >&2
  exit 1
fi
python3 "$here/scripts/xwd_to_png.py" "$work/screen/Xvfb_screen0" "$out"
echo "PulseView decoded $samples samples with the exercise decoder; the screen is in $out"
