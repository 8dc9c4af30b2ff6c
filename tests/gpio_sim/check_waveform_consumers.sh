#!/usr/bin/env bash
# The VCD of a simulated run, read back by sigrok and by GTKWave's vcd2fst:
# both accept it, and the levels sigrok reads match the write phase's
# patterns, the read phase's driven levels and the values the trace reports.
set -euo pipefail
sim=$1
source "$(dirname "$0")/require_programs.sh"
require_programs sigrok-cli vcd2fst
make_scratch

"$sim" --clock simulated --drive GPIO33=high@62.5 --drive GPIO80=high@64 \
  --vcd "$scratch/run.vcd" --trace "$scratch/trace.txt"

vcd2fst "$scratch/run.vcd" "$scratch/run.fst" >"$scratch/vcd2fst.out" 2>&1 ||
  { cat "$scratch/vcd2fst.out"; echo "vcd2fst rejected the VCD" >&2; exit 1; }
[[ -s $scratch/run.fst ]] || { echo "vcd2fst wrote no FST" >&2; exit 1; }

# One row a millisecond: row N+1 is time N ms (row 1 is the sample rate).
sigrok-cli -I vcd:downsample=1000 -i "$scratch/run.vcd" -O csv:header=false:label=off \
  >"$scratch/levels.csv"
# The trace's read values, in order.
tr '\r' '\n' <"$scratch/trace.txt" | sed -n 's/^Read value: 0x//p' >"$scratch/reads.txt"

awk -F, -v reads="$scratch/reads.txt" '
  BEGIN { while ((getline value < reads) > 0) read[n++] = value + 0 }
  NR == 1 { if ($0 != "META samplerate: 1000") { print "unexpected: " $0; bad = 1 }; next }
  { level[NR - 2] = $0 }
  function expect(ms, want, what) {
    if (level[ms] != want) { printf "%s at %d ms: sigrok reads %s, expected %s\n", what, ms, level[ms], want; bad = 1 }
  }
  END {
    if (n != 600) { print "trace has " n " read values, expected 600"; bad = 1 }
    # Columns: GPIO33, GPIO33_output, GPIO80, GPIO80_output. Each write step
    # holds its pattern from its start to the next step.
    for (step = 0; step < 120; step++) {
      pattern = step % 4
      want = int(pattern / 2) ",1," (pattern % 2) ",1"
      expect(step * 500 + 1, want, "write step " step)
      expect(step * 500 + 250, want, "write step " step)
      expect(step * 500 + 499, want, "write step " step)
    }
    # Read phase: inputs, GPIO33 high from 62.5 s, GPIO80 from 64 s; each
    # sample sees what sigrok sees just after it.
    for (sample = 0; sample < 600; sample++) {
      ms = 60000 + 10 * sample
      g33 = ms >= 62500; g80 = ms >= 64000
      expect(ms + 5, g33 ",0," g80 ",0", "read sample " sample)
      if (read[sample] != 2 * g33 + g80) { printf "sample %d: trace reads %d, lines show %d\n", sample, read[sample], 2 * g33 + g80; bad = 1 }
    }
    exit bad
  }' "$scratch/levels.csv"
echo "sigrok and vcd2fst read the VCD; levels match the patterns, the drives and the trace"
