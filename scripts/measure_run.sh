#!/usr/bin/env bash
# Times whole runs of the program on the simulated board with real sleeps and
# reports the median wall time and its overhead over the 66 s it sleeps.
# Usage: scripts/measure_run.sh [runs]   (default 3; about 66 s a run)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-3}
program=build/host/app/TolvarGPIOTest
cmake --preset host >/dev/null
cmake --build --preset host --target TolvarGPIOTest >/dev/null

sleep_ms=66000  # 120 x 500 ms + 600 x 10 ms
times=()
for ((i = 1; i <= runs; i++)); do
  start=$(date +%s%N)
  "$program" >/dev/null
  end=$(date +%s%N)
  ms=$(( (end - start) / 1000000 ))
  times+=("$ms")
  echo "run $i: ${ms} ms"
done

printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" -v sleep="$sleep_ms" '
  { t[NR] = $1 }
  END {
    median = (n % 2) ? t[(n + 1) / 2] : (t[n / 2] + t[n / 2 + 1]) / 2
    printf "median: %.0f ms; overhead over %d ms of sleep: %.0f ms (%.3f %%)\n",
           median, sleep, median - sleep, (median - sleep) * 100 / sleep
  }'
