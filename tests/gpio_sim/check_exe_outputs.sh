#!/usr/bin/env bash
# pxa-gpio-sim --exe: the device's own .exe against the host-built program,
# on the healthy board and with every board fault, a real board's timing and
# outside drives. Each output (exit code, trace, access log, VCD, SVG, and
# the .sr session where this build writes them) must be the same byte for
# byte (the .sr archive member by member). Then a file that is not a CE
# program is refused, and said why.
# Skipped (77) without the .exe's compiler or the emulated core, unless
# GPIO_REQUIRE_WINCE_CHECK=1.
set -uo pipefail
sim=$1
exe=$2
skip() {
  echo "SKIPPED: $1" >&2
  [[ ${GPIO_REQUIRE_WINCE_CHECK:-0} == 1 ]] && exit 1
  exit 77
}
[[ -s $exe ]] || skip "no $exe: sudo apt-get install gcc-arm-none-eabi libstdc++-arm-none-eabi-dev libnewlib-dev"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
if "$sim" --clock simulated --exe /dev/null --trace "$dir/probe.txt" 2>&1 | grep -q "without an emulated XScale core"; then
  skip "pxa-gpio-sim was built without an emulated core: sudo apt-get install libunicorn-dev pkg-config"
fi
failures=0
# A build without libsigrok says so and writes no .sr; one that crashes
# writing it (libunicorn's stand-ins for GLib's names taken by libsigrok) fails.
sr=(--sr)
"$sim" --clock simulated --sr "$dir/probe.sr" --trace "$dir/probe.txt" >/dev/null 2>"$dir/probe.err"
code=$?
if ((code >= 128)); then
  echo "FAILED: pxa-gpio-sim --sr died (status $code)"
  failures=$((failures + 1))
fi
((code == 0)) || sr=()

# case NAME CORES OPTIONS...: the same run host-built and as the .exe on
# each of CORES (pxa270, pxa255 or both, comma-separated).
case_() {
  local name=$1 cores=${2//,/ }
  shift 2
  for program in host $cores; do
    local with=()
    [[ $program != host ]] && with=(--exe "$exe" --exe-core "$program")
    local out=$dir/$name-$program
    local extra=()
    ((${#sr[@]})) && extra=(--sr "$out.sr")
    "$sim" --clock simulated "${with[@]}" "$@" --trace "$out.txt" --access-log "$out.log" --vcd "$out.vcd" \
      --svg "$out.svg" "${extra[@]}" 2>"$out.err"
    echo $? >"$out.code"
  done
  for core in $cores; do
    for kind in code txt log vcd svg err ${sr:+sr}; do
      if [[ $kind == sr ]]; then
        # A zip archive: each member the same, whatever time the archive took.
        python3 -c '
import sys, zipfile
a, b = (zipfile.ZipFile(p) for p in sys.argv[1:3])
sys.exit(a.namelist() != b.namelist() or any(a.read(n) != b.read(n) for n in a.namelist()))
' "$dir/$name-host.sr" "$dir/$name-$core.sr" && continue
        echo "FAILED [$name]: the .exe's .sr session on the $core differs from the host-built program's"
        failures=$((failures + 1))
        continue
      fi
      if ! cmp -s "$dir/$name-host.$kind" "$dir/$name-$core.$kind"; then
        echo "FAILED [$name]: the .exe's $kind on the $core differs from the host-built program's:"
        diff <(head -c 2000 "$dir/$name-host.$kind") <(head -c 2000 "$dir/$name-$core.$kind") | head -20
        failures=$((failures + 1))
      fi
    done
  done
  [[ -s $dir/$name-host.log ]] || { echo "FAILED [$name]: no access log"; failures=$((failures + 1)); }
}

case_ healthy pxa270,pxa255 --drive GPIO33=high@62.5 --drive GPIO80=low@60
case_ stuck-low pxa270 --fault stuck-low=GPIO80 --drive GPIO80=high@62.5
case_ stuck-high pxa270 --fault stuck-high=GPIO33
case_ swapped pxa270 --fault swapped --drive GPIO33=high@62.5
case_ inverted pxa270 --fault inverted=GPIO33 --drive GPIO33=high@61
case_ shorted pxa270 --fault shorted --drive GPIO33=high@62.5
case_ slow-clock pxa270 --fault slow-clock=0.05
case_ real-board-timing pxa270 --debug-baud 115200 --sleep-tick 1ms --drive GPIO80=high@63

# Not a CE program: refused by the process's reader, with its reason.
printf 'MZ not a program' >"$dir/bad.exe"
"$sim" --clock simulated --exe "$dir/bad.exe" --trace "$dir/bad.txt" 2>"$dir/bad.err"
code=$?
if [[ $code != 5 ]] || ! grep -q "the executable is refused: no MZ header" "$dir/bad.err"; then
  echo "FAILED [refused]: exit $code, wanted 5 and the reason:"
  cat "$dir/bad.err"
  failures=$((failures + 1))
fi

((failures == 0)) && echo "the .exe's outputs are the host-built program's, byte for byte, on every board"
exit $((failures > 0))
