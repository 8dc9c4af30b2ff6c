#!/usr/bin/env bash
# Seeds for the fuzz targets: what the simulator writes for a healthy run and
# for a faulty board, cut down where a whole file would only slow the fuzzer;
# a small Windows CE executable; with sigrok-cli, small sessions of the run
# and of sigrok's demo device and the metadata of one, and hostile sessions.
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
# A small sound Windows CE executable for the CE process's reader.
python3 "$(dirname "$0")/make_ce_seed.py" "$dir/minimal.exe"
if command -v sigrok-cli >/dev/null; then
  # The run at 1 kHz, and 1000 samples of the demo device's 12 logic and 2
  # analog channels: two bytes a sample, analog chunks beside.
  sigrok-cli -i "$dir/healthy.vcd" -I vcd:downsample=1000 -o "$dir/healthy.sr"
  sigrok-cli -d demo:logic_channels=12:analog_channels=2 --config samplerate=1m --samples 1000 -o "$dir/demo.sr"
  /usr/bin/python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read("metadata"))' \
    "$dir/demo.sr" > "$dir/demo-metadata.ini"
  # The sessions' parts: metadata, a NUL, then the first 4 KB of logic samples.
  for session in healthy demo; do
    /usr/bin/python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1])
sys.stdout.buffer.write(z.read("metadata") + b"\0" + z.read("logic-1-1")[:4096])' "$dir/$session.sr" >"$dir/$session-parts.ini"
  done
  # Sessions the checker refuses before libsigrok sees them: metadata whose
  # last word on the channels is a line starting with a form feed, and a
  # zip bomb's members that all share one compressed chunk.
  hostile="$(dirname "$0")/../../scripts/make_hostile_session.py"
  python3 "$hostile" formfeed "$dir/formfeed.sr" 300
  python3 "$hostile" overlap "$dir/overlap.sr" 3 4096 "1 MHz"
  printf '[device 1]\ncapturefile=logic-1\ntotal probes=2\n\ftotal probes=300\nsamplerate=1 MHz\nunitsize=1\n\0\001\002' \
    >"$dir/formfeed-parts.ini"
  # Two devices, the first naming a chunk file the archive lacks: libsigrok
  # leaves the session's archive open (its own leak, suppressed), as the
  # fuzzer found it.
  printf '[device 7]\nfile=og-1\ntotal probes=4\nsamplerate=1 kHz\ntota=G\nprobe3=G 1]\ncapturefile==0.5.2\n\n[device 1]\ncapturefile=l-1\ntotal probes=4\nsampal og=0\n\nprobe2=GI\004\000\n' >"$dir/two-devices-parts.ini"
elif [[ ${GPIO_REQUIRE_WAVEFORM_TOOLS:-} == 1 ]]; then
  echo "sigrok-cli missing: no session seeds" >&2
  exit 1
fi
