#!/usr/bin/env bash
# Builds the Windows CE program for Wine (with the host preset), then times
# making a fresh Wine prefix and whole runs of the program in it against the
# stand-in coredll.dll: the program alone, and the program followed by
# `wineserver -w`, which waits for the server to linger out, as each test does.
# Usage: scripts/measure_wine_run.sh [runs]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
bin=build/host/tests/wince_run/win32/bin
cmake --preset host >/dev/null
cmake --build build/host -j2 --target wine_run_test >/dev/null

prefix=$(mktemp -d)
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; rm -rf "$prefix"' EXIT
rmdir "$prefix"  # wineboot makes it, as the tests' prefix is made
export WINEDEBUG=-all WINEARCH=win32 WINEPREFIX="$prefix" WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

now() { date +%s%N; }
ms() { echo $((($2 - $1) / 1000000)); }
median() { sort -n | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'; }

start=$(now)
wineboot --init 2>/dev/null
wineserver -w
echo "new prefix (wineboot --init, wineserver -w): $(ms "$start" "$(now)") ms"

alone=() whole=()
for ((i = 1; i <= runs; i++)); do
  start=$(now)
  wine "$bin/TolvarGPIOTest.exe" >/dev/null 2>&1
  ran=$(now)
  wineserver -w
  end=$(now)
  alone+=("$(ms "$start" "$ran")") whole+=("$(ms "$start" "$end")")
  echo "run $i: program ${alone[-1]} ms, with wineserver -w ${whole[-1]} ms"
done
echo "median: program $(printf '%s\n' "${alone[@]}" | median) ms," \
     "with wineserver -w $(printf '%s\n' "${whole[@]}" | median) ms"
