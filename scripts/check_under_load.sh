#!/usr/bin/env bash
# The fast tests RUNS times in a row (default 10), each time with BURNERS
# processes (default 2) that keep a processor busy beside `ctest -j2`: every
# run must be green. Prints each run's time and the tests that failed, and
# keeps the logs of the failed runs.
# Usage: scripts/check_under_load.sh [-n RUNS] [-b BURNERS] [-p PRESET] [-R REGEX]
#   PRESET  host-fast (default) or host-sanitize, the sanitizer build; the
#           tree is built first, without burners.
#   REGEX   only the tests it matches (ctest -R), to loop one test.
# Example: scripts/check_under_load.sh -n 50 -R ReadsTheSessionItChecked
set -uo pipefail
cd "$(dirname "$0")/.."
runs=10 burners=2 preset=host-fast regex=
while getopts n:b:p:R: option; do
  case $option in
    n) runs=$OPTARG ;;
    b) burners=$OPTARG ;;
    p) preset=$OPTARG ;;
    R) regex=$OPTARG ;;
    *) sed -n '2,11p' "$0" >&2; exit 2 ;;
  esac
done
case $preset in
  host-sanitize) configure=host-sanitize build=host-sanitize ;;
  *) configure=host build=host ;;
esac
cmake --preset "$configure" >/dev/null && cmake --build --preset "$build" >/dev/null || {
  echo "error: the $build tree did not build" >&2
  exit 2
}

logs=$(mktemp -d "${TMPDIR:-/tmp}/check-under-load-XXXXXX")
burner_pids=()
stop_burners() {
  ((${#burner_pids[@]})) && kill "${burner_pids[@]}" 2>/dev/null
  wait "${burner_pids[@]}" 2>/dev/null
  burner_pids=()
}
trap stop_burners EXIT
trap 'exit 130' INT TERM
for ((i = 0; i < burners; i++)); do
  yes >/dev/null &
  burner_pids+=($!)
done

green=0
for ((run = 1; run <= runs; run++)); do
  log="$logs/run-$run.log"
  started=$SECONDS
  # The tests that need neither the real-time run, QEMU nor the cross compilers.
  # (The tree, not the preset: ctest 3.25 drops -LE given beside a preset's filter.)
  if ctest --test-dir "build/$build" -LE 'realtime|emulator|wince' -j2 --output-on-failure \
       ${regex:+-R "$regex"} >"$log" 2>&1; then
    green=$((green + 1))
    echo "run $run of $runs: green in $((SECONDS - started)) s"
    rm -f "$log"
  else
    echo "run $run of $runs: FAILED in $((SECONDS - started)) s: $(grep -E '^ *[0-9]+ - ' "$log" | tr -s ' ' | tr '\n' ';')"
  fi
done
stop_burners
echo "$green of $runs runs green with $burners CPU burners beside ctest -j2 ($preset${regex:+, -R $regex})"
if ((green == runs)); then
  rmdir "$logs" 2>/dev/null
  exit 0
fi
echo "logs of the failed runs: $logs"
exit 1
