#!/usr/bin/env bash
# The timing diagram renders with a real SVG renderer, without complaint.
set -euo pipefail
sim=$1
source "$(dirname "$0")/require_programs.sh"
require_programs rsvg-convert
make_scratch

"$sim" --clock simulated --drive GPIO33=high@62.5 --drive GPIO80=none@64 --drive GPIO80=low@65 \
  --svg "$scratch/run.svg" >/dev/null
rsvg-convert --format png --output "$scratch/run.png" "$scratch/run.svg" 2>"$scratch/rsvg.err"
if [[ -s $scratch/rsvg.err ]]; then
  cat "$scratch/rsvg.err" >&2
  exit 1
fi
# A PNG of the diagram's size: the signature, then the IHDR width and height.
header=$(od -An -tx1 -N24 "$scratch/run.png" | tr -d ' \n')
[[ $header == 89504e470d0a1a0a* ]] || { echo "rsvg-convert wrote no PNG" >&2; exit 1; }
[[ ${header:32:16} == 000004b000000140 ]] || { echo "unexpected PNG size: ${header:32:16}" >&2; exit 1; }
echo "rsvg-convert renders the SVG"
