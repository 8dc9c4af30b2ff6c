#!/usr/bin/env bash
# Every bad argument: a message saying what is wrong, exit code 2, and the
# output directory exactly as it was: no new file, no temporary, an
# existing output untouched. The same for a run stopped by a signal.
set -euo pipefail
sim=$(realpath "$1")  # the cases run in their own directory
source "$(dirname "$0")/require_programs.sh"
make_scratch
failures=0

check() {  # MESSAGE ARGUMENT...
  local message=$1
  shift
  local dir="$scratch/case"
  rm -rf "$dir"
  mkdir -p "$dir/sub"
  echo old >"$dir/keep.vcd"
  local before status=0
  before=$(ls -A "$dir")
  (cd "$dir" && "$sim" --clock simulated "$@" >"$scratch/out" 2>"$scratch/err") || status=$?
  if ((status != 2)); then
    echo "FAIL [$*]: exit $status, expected 2"; failures=$((failures + 1))
  fi
  if ! grep -qF -- "pxa-gpio-sim: $message" "$scratch/err"; then
    echo "FAIL [$*]: stderr lacks '$message':"; cat "$scratch/err"; failures=$((failures + 1))
  fi
  if [[ -s $scratch/out ]]; then
    echo "FAIL [$*]: printed on standard output"; failures=$((failures + 1))
  fi
  if [[ $(ls -A "$dir") != "$before" ]] || [[ -n $(ls -A "$dir/sub") ]] || [[ $(cat "$dir/keep.vcd") != old ]]; then
    echo "FAIL [$*]: files changed:"; ls -lA "$dir"; failures=$((failures + 1))
  fi
}

check "unknown line 'GPIO34': the exercise uses GPIO33 and GPIO80" --drive GPIO34=high --vcd out.vcd
check "bad level 'up' for GPIO33: expected high, low or none" --drive GPIO33=up --vcd out.vcd
check "time '66' is outside the run, which lasts from 0 to 66 s" --drive GPIO33=high@66 --vcd keep.vcd
check "bad time '-1'" --drive GPIO80=low@-1 --svg out.svg
check "two drives for GPIO80 at 1 s" --drive GPIO80=low@1 --drive GPIO80=high@1000ms --vcd out.vcd
check "bad clock 'fast': expected real or simulated" --clock fast --vcd out.vcd
check "unknown fault 'open=GPIO33': expected stuck-low=LINE" --fault open=GPIO33 --vcd out.vcd
check "bad fault 'slow-clock=-1'" --fault=slow-clock=-1 --trace out.txt
check "unknown option '--bogus'" --bogus --vcd out.vcd
check "unexpected argument 'out.vcd'" out.vcd
check "option '--trace' needs a value" --trace
check "option '--trace' needs a value, not '--vcd'" --trace --vcd out.vcd
check "option '--vcd' given more than once" --vcd out.vcd --vcd keep.vcd
check "option '--clock' given more than once" --clock real
check "--vcd and --svg both name './out.vcd'" --vcd out.vcd --svg ./out.vcd
check "cannot write 'missing/run.vcd': No such file or directory" \
  --trace out.txt --access-log out.log --vcd missing/run.vcd --svg out.svg
check "cannot write 'sub': it is a directory" --access-log out.log --svg sub
if ((EUID != 0)); then  # root writes anywhere
  mkdir -p "$scratch/readonly" && chmod 555 "$scratch/readonly"
  check "cannot write '$scratch/readonly/run.vcd': Permission denied" --vcd "$scratch/readonly/run.vcd"
fi

# A real-clock run stopped half-way leaves nothing behind either.
dir="$scratch/stopped"
mkdir -p "$dir"
echo old >"$dir/keep.vcd"
"$sim" --vcd "$dir/keep.vcd" --svg "$dir/run.svg" --access-log "$dir/bus.log" --trace "$dir/trace.txt" &
pid=$!
sleep 0.5
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
if ((status != 143)) || [[ $(ls -A "$dir") != keep.vcd ]] || [[ $(cat "$dir/keep.vcd") != old ]]; then
  echo "FAIL: stopped run: exit $status, left:"; ls -lA "$dir"; failures=$((failures + 1))
fi

# And --help is no error.
# (Through a file: grep -q leaving early would fail the pipe under pipefail.)
"$sim" --help >"$scratch/help" && grep -q "KIND OFFSET VALUE TIME" "$scratch/help" ||
  { echo "FAIL: --help"; failures=$((failures + 1)); }

((failures == 0)) && echo "every bad argument refused with exit 2, nothing left behind"
exit $((failures > 0))
