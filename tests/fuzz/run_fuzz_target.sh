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
log=$(mktemp)
trap 'rm -f "$log"' EXIT
set +e
"$target" -max_total_time="$seconds" -timeout="$input_seconds" -rss_limit_mb="$rss_mb" \
  -malloc_limit_mb="$rss_mb" -max_len="$max_len" -print_final_stats=1 "$corpus" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
# The run passes only if it ran its whole time: a stop for any other reason
# (a crash, a leak, a time-out, memory, a signal) fails it, with the reason.
ran=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second(s)$/\1/p' "$log" | tail -n 1)
if ((status != 0)) || [[ -z $ran ]] || ((ran < seconds)); then
  reason=$(grep -m 1 -E '^(==[0-9]+==ERROR|ERROR|SUMMARY|INFO: libFuzzer disabled|MS: .*Crash|\*\*\*)' "$log" || true)
  when=$([[ -n $ran ]] && echo "after $ran s of $seconds" || echo "before its $seconds s were up")
  echo "$(basename "$target") stopped $when (exit status $status)${reason:+: $reason}" >&2
  exit 1
fi
