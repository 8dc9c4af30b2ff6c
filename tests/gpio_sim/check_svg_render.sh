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

# A thousand drives: the subtitle still fits the picture (its text at most
# 130 characters), the comment lists them all, and it renders.
drives=()
for ((i = 0; i < 1000; i++)); do
  drives+=(--drive "GPIO$(( i % 2 ? 80 : 33 ))=$(( i / 2 % 2 ? 1 : 0 ))@$(( i * 65 ))ms")
done
"$sim" --clock simulated "${drives[@]}" --svg "$scratch/many.svg" >/dev/null 2>&1
subtitle=$(grep 'class="subtitle"' "$scratch/many.svg" | sed 's/<[^>]*>//g')
if ((${#subtitle} > 130)) || [[ $(grep -c '^  GPIO' "$scratch/many.svg") != 1000 ]]; then
  echo "subtitle of ${#subtitle} characters, or the drives not all listed: ${subtitle:0:300}" >&2
  exit 1
fi
rsvg-convert --format png --output "$scratch/many.png" "$scratch/many.svg"

# A faulty board's picture names its faults in the title, as the VCD's
# comment does; with every fault at once the title still fits (at most 120
# characters) and the comment lists them all.
"$sim" --clock simulated --fault stuck-low=GPIO80 --svg "$scratch/stuck.svg" --vcd "$scratch/stuck.vcd" >/dev/null
title=$(grep 'class="title"' "$scratch/stuck.svg" | sed 's/<[^>]*>//g')
[[ $title == *" with GPIO80 stuck low" ]] && grep -q 'board fault: GPIO80 stuck low' "$scratch/stuck.vcd" ||
  { echo "the faulty board's title does not name its fault: $title" >&2; exit 1; }
"$sim" --clock simulated --fault stuck-high=GPIO33 --fault inverted=GPIO80 --fault swapped --fault shorted \
  --fault slow-clock=0.05 --svg "$scratch/faults.svg" >/dev/null 2>&1
title=$(grep 'class="title"' "$scratch/faults.svg" | sed 's/<[^>]*>//g')
listed=$(sed -n '/Board faults:/,/-->/p' "$scratch/faults.svg" | grep -c '^  ')
if ((${#title} > 120)) || [[ $title != *"GPIO33 stuck high"*"more (listed in this file)" ]] || ((listed != 5)); then
  echo "title of ${#title} characters or $listed of 5 faults listed: $title" >&2
  exit 1
fi
rsvg-convert --format png --output "$scratch/faults.png" "$scratch/faults.svg"
echo "rsvg-convert renders the SVG, with a subtitle that fits however many drives and the board's faults named"
