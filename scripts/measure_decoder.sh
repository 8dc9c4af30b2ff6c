#!/usr/bin/env bash
# The exercise decoder's cost against libsigrokdecode's own floor: sigrok-cli
# running the decoder on a whole run (66 s), and running a decoder that does
# nothing but wait for an edge on either line, on the same session, at 1 MHz
# (pxa-gpio-sim's own .sr) and at 24 MHz (the fastest rate of the cheap
# analysers), in turn, TRIES times each (default 3). Prints the least wall
# time of each and their ratio; sigrok-cli reading the session with no
# decoder (-O null) is shown too.
# Usage: scripts/measure_decoder.sh [TRIES]
# DECODER=DIR measures the decoder in DIR instead (another version, to compare).
# Needs sigrok-cli, python3 and about 1.6 GB of temporary disk while the
# 24 MHz session is made (a minute or two).
set -euo pipefail
cd "$(dirname "$0")/.."
tries=${1:-3}
cmake --preset host >/dev/null
cmake --build --preset host --target pxa-gpio-sim >/dev/null
sim=build/host/tools/gpio_sim/pxa-gpio-sim

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The floor: a decoder that only waits for an edge on either line.
mkdir -p "$work/decoders/edges_only"
echo "from .pd import Decoder" >"$work/decoders/edges_only/__init__.py"
cat >"$work/decoders/edges_only/pd.py" <<'EOF'
import sigrokdecode as srd

class Decoder(srd.Decoder):
    api_version = 3
    id = 'edges_only'
    name = 'Edges only'
    longname = 'Waits for an edge on either line and does nothing'
    desc = 'The floor of any decoder that follows two lines.'
    license = 'gplv3+'
    inputs = ['logic']
    outputs = []
    channels = ({'id': 'gpio33', 'name': 'GPIO33', 'desc': 'a line'},
                {'id': 'gpio80', 'name': 'GPIO80', 'desc': 'the other line'})
    annotations = ()

    def reset(self):
        pass

    def start(self):
        pass

    def decode(self):
        while True:
            self.wait([{0: 'e'}, {1: 'e'}])
EOF
ln -s "${DECODER:-$PWD/tools/sigrok_decoder/pxa_gpio_exercise}" "$work/decoders/pxa_gpio_exercise"
export SIGROKDECODE_DIR=$work/decoders

"$sim" --clock simulated --sr "$work/run-1MHz.sr" --vcd "$work/run.vcd" >/dev/null
python3 scripts/vcd_to_samples.py "$work/run.vcd" 24000000 >"$work/run.bin"
sigrok-cli -i "$work/run.bin" -I binary:numchannels=2:samplerate=24000000 -o "$work/run-24MHz.sr"
rm "$work/run.bin"

# least TRIES COMMAND...: the least wall time of TRIES runs, in seconds.
least() {
  local best="" start end took
  for ((i = 0; i < tries; i++)); do
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    took=$(echo "$end - $start" | bc)
    if [[ -z $best ]] || (($(echo "$took < $best" | bc))); then best=$took; fi
  done
  printf '%.3f' "$best"
}

printf '%-7s %10s %12s %16s %16s %6s\n' rate session "-O null" "edges only" "the decoder" ratio
for rate in 1MHz 24MHz; do
  session=$work/run-$rate.sr
  if [[ $rate == 1MHz ]]; then channels=gpio33=GPIO33:gpio80=GPIO80; else channels=gpio33=0:gpio80=1; fi
  read_only=$(least sigrok-cli -i "$session" -O null)
  floor=$(least sigrok-cli -i "$session" -P "edges_only:$channels")
  ours=$(least sigrok-cli -i "$session" -P "pxa_gpio_exercise:$channels" -A pxa_gpio_exercise)
  # The decoder must have annotated the run, or the figure means nothing.
  steps=$(sigrok-cli -i "$session" -P "pxa_gpio_exercise:$channels" -A pxa_gpio_exercise=steps | wc -l)
  ((steps == 120)) || { echo "the decoder annotated $steps steps at $rate, not 120" >&2; exit 1; }
  printf '%-7s %9sK %11s s %15s s %15s s %5.2fx\n' "$rate" "$(($(stat -c %s "$session") / 1024))" \
    "$read_only" "$floor" "$ours" "$(echo "$ours / $floor" | bc -l)"
done
