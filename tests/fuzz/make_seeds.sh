#!/usr/bin/env bash
# Seeds for the fuzz targets: what the simulator writes for a healthy run and
# for a faulty board, cut down where a whole file would only slow the fuzzer.
#   make_seeds.sh PXA_GPIO_SIM DIR
set -euo pipefail
sim=$1 dir=$2
mkdir -p "$dir"
"$sim" --clock simulated --trace "$dir/healthy-trace.txt" --vcd "$dir/healthy.vcd" >/dev/null
"$sim" --clock simulated --fault stuck-low=GPIO33 --trace "$dir/stuck-trace.txt" --vcd "$dir/stuck.vcd" >/dev/null
# The start of a trace and of a VCD: the fuzzer mutates small inputs faster.
head -c 4096 "$dir/healthy-trace.txt" > "$dir/head-trace.txt"
head -c 4096 "$dir/healthy.vcd" > "$dir/head.vcd"
# The trace as a debugger window on Windows saves it: UTF-16 with a byte-order mark.
iconv -f UTF-8 -t UTF-16 "$dir/head-trace.txt" >"$dir/head-trace-utf16.txt"
# A small sound Windows CE executable for the loader's reader.
python3 "$(dirname "$0")/make_ce_seed.py" "$dir/minimal.exe"
