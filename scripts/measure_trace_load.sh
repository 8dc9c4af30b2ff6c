#!/usr/bin/env bash
# Measures pxa-gpio-check reading traces of growing size: wall time and
# peak memory (/usr/bin/time -v) for a whole run's trace alone, the same
# followed by 1, 16 and 60 MiB of other text (a terminal log left running),
# the most messages it keeps (100000 samples), and 1 GiB of text or zeros
# through a pipe, which it refuses after 64 MiB or 16 MiB.
# Usage: scripts/measure_trace_load.sh
set -eu  # no pipefail: `yes | head` ends yes with SIGPIPE
cd "$(dirname "$0")/.."
cmake --preset host >/dev/null
cmake --build --preset host --target pxa-gpio-check pxa-gpio-sim >/dev/null
sim=build/host/tools/gpio_sim/pxa-gpio-sim
check=build/host/tools/gpio_check/pxa-gpio-check

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$sim" --clock simulated --trace "$work/run.txt" >/dev/null
for mib in 1 16 60; do
  { cat "$work/run.txt"; yes 'login: root  Password: ******  Last login: Wed Dec  9' | head -c "${mib}M"; } \
    >"$work/run+$mib.txt"
done
yes 'Read value: 0x00' | head -n 100000 >"$work/samples.txt"

measure() {  # measure NAME FILE
  /usr/bin/time -v "$check" --trace "$2" >/dev/null 2>"$work/time" || true
  printf '%-34s %10s bytes  %8s s  %7s KB peak\n' "$1" "$([[ -f $2 ]] && stat -c %s "$2" || echo pipe)" \
    "$(grep Elapsed "$work/time" | sed 's/.*: //')" "$(grep 'Maximum resident' "$work/time" | sed 's/.*: //')"
  grep '^pxa-gpio-check: ' "$work/time" | sed 's/^/    /' || true
}
measure "a whole run" "$work/run.txt"
for mib in 1 16 60; do measure "a run and $mib MiB of other text" "$work/run+$mib.txt"; done
measure "100000 samples" "$work/samples.txt"
measure "a run and 1 GiB of text, piped" <(cat "$work/run.txt"; yes 'login: root' | head -c 1G)
measure "1 GiB of zeros, piped" <(head -c 1G /dev/zero)
