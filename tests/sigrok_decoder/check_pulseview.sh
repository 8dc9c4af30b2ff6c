#!/usr/bin/env bash
# PulseView itself loads the exercise decoder: pxa-gpio-sim's session of a
# board with GPIO80 stuck low, opened with the project's set-up file under
# a virtual display, is decoded whole with the decoder stacked and its
# channels assigned, and the screen saved as a PNG. Bounded in time.
# Usage: check_pulseview.sh PROJECT-DIR PXA-GPIO-SIM
set -euo pipefail
project=$1 sim=$2
source "$(dirname "$0")/../gpio_sim/require_programs.sh"
required_packages="pulseview xvfb xauth sigrok-cli" require_programs pulseview xvfb-run xauth sigrok-cli python3
make_scratch
"$sim" --clock simulated --fault stuck-low=GPIO80 --drive GPIO33=high@62.5 --sr "$scratch/run.sr" >/dev/null
bash "$project/scripts/pulseview_screenshot.sh" "$scratch/run.sr" "$project/docs/pulseview-exercise.pvs" \
  "$scratch/screen.png" 120
header=$(od -An -tx1 -N24 "$scratch/screen.png" | tr -d ' \n')
[[ $header == 89504e470d0a1a0a* && ${header:32:16} == 000003e8000002d0 ]] ||
  { echo "no 1000x720 PNG of the screen: $header" >&2; exit 1; }
