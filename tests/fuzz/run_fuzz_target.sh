#!/usr/bin/env bash
# Runs one libFuzzer target for a while from a corpus kept in the build tree
# and the seeds that match the given globs.
#   run_fuzz_target.sh TARGET CORPUS SEED_DIR SECONDS INPUT_SECONDS RSS_MB MAX_LEN GLOB...
set -euo pipefail
target=$1 corpus=$2 seed_dir=$3 seconds=$4 input_seconds=$5 rss_mb=$6 max_len=$7
shift 7
mkdir -p "$corpus"
shopt -s nullglob
for glob in "$@"; do
  for seed in "$seed_dir"/$glob; do cp -f "$seed" "$corpus/"; done
done
if [[ -z "$(ls -A "$corpus")" ]]; then
  echo "no seeds in $seed_dir match $*" >&2
  exit 1
fi
# Crash inputs land beside the corpus, to be replayed with `TARGET FILE`.
cd "$(dirname "$corpus")"
exec "$target" -max_total_time="$seconds" -timeout="$input_seconds" -rss_limit_mb="$rss_mb" \
  -malloc_limit_mb="$rss_mb" -max_len="$max_len" -print_final_stats=1 "$corpus"
