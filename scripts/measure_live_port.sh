#!/usr/bin/env bash
# Measures pxa-gpio-check reading the trace from a serial port, a
# pseudo-terminal pair standing for it (tests/gpio_check/live_port_measure):
# the delay from the run's closing message written into the port to the
# checker's exit (median of N, 10 unless given), and the checker's user and
# system CPU seconds over a whole run of pxa-gpio-sim at a real board's pace
# (real clock, 115200 Bd, 1 ms tick: 67.5 s) copied into the port as it prints.
# Usage: scripts/measure_live_port.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset host >/dev/null
cmake --build --preset host --target pxa-gpio-check pxa-gpio-sim live_port_measure >/dev/null
measure=build/host/tests/gpio_check/live_port_measure
check=build/host/tools/gpio_check/pxa-gpio-check
sim=build/host/tools/gpio_sim/pxa-gpio-sim
"$measure" "$check" "$sim" delay "${1:-10}"
"$measure" "$check" "$sim" cpu
