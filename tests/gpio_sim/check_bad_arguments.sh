#!/usr/bin/env bash
# Every bad argument, and every output that cannot be written (a full disk,
# a closed or full standard output): a message saying what is wrong, exit
# code 2, and the output directory exactly as it was: no new file, no
# temporary, an existing output untouched. The same for a run stopped by a
# signal.
set -euo pipefail
sim=$(realpath "$1")  # the cases run in their own directory
source "$(dirname "$0")/require_programs.sh"
make_scratch
failures=0

# $limits runs in the tool's shell first; $stdout redirects its output;
# $launcher, if set, starts the tool.
limits=:
stdout='"$scratch/out"'
launcher=
check() {  # MESSAGE ARGUMENT...
  local message=$1
  shift
  local dir="$scratch/case"
  rm -rf "$dir"
  mkdir -p "$dir/sub"
  echo old >"$dir/keep.vcd"
  ln -s /proc/self/fd/1 "$dir/stdout-link"
  local before status=0
  before=$(ls -A "$dir")
  : >"$scratch/out"
  (cd "$dir" && eval "$limits" && eval "exec $launcher \"\$sim\" --clock simulated \"\$@\" >$stdout 2>\"\$scratch/err\"") ||
    status=$?
  if ((status != 2)); then
    echo "FAIL [$*]: exit $status, expected 2"; failures=$((failures + 1))
  fi
  if ! grep -qF -- "pxa-gpio-sim: $message" "$scratch/err"; then
    echo "FAIL [$*]: stderr lacks '$message':"; cat "$scratch/err"; failures=$((failures + 1))
  fi
  if [[ -s $scratch/out ]]; then
    echo "FAIL [$*]: printed on standard output"; failures=$((failures + 1))
  fi
  if [[ $(ls -A "$dir") != "$before" ]] || [[ -n $(ls -A "$dir/sub") ]] || [[ $(cat "$dir/keep.vcd") != old ]] ||
    [[ ! -L $dir/stdout-link ]]; then
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
check "bad fault 'slow-clock=1111" --fault "slow-clock=$(printf '1%.0s' {1..400})" --trace out.txt
check "bad baud rate '9999" --debug-baud "$(printf '9%.0s' {1..400})" --vcd out.vcd
check "bad sleep tick '1': give the tick with its unit" --sleep-tick 1 --vcd out.vcd
check "unknown option '--bogus'" --bogus --vcd out.vcd
check "unexpected argument 'out.vcd'" out.vcd
check "option '--trace' needs a value" --trace
check "option '--trace' needs a value, not '--vcd'" --trace --vcd out.vcd
check "option '--vcd' given more than once" --vcd out.vcd --vcd keep.vcd
check "option '--clock' given more than once" --clock real
check "--vcd and --svg both name './out.vcd'" --vcd out.vcd --svg ./out.vcd
check "--svg 'out.png': the name says PNG, but --svg writes SVG" --vcd out.vcd --svg out.png
check "cannot write 'missing/run.vcd': No such file or directory" \
  --trace out.txt --access-log out.log --vcd missing/run.vcd --svg out.svg
check "cannot write 'sub': it is a directory" --access-log out.log --svg sub
if ((EUID != 0)); then  # root writes anywhere
  mkdir -p "$scratch/readonly" && chmod 555 "$scratch/readonly"
  check "cannot write '$scratch/readonly/run.vcd': Permission denied" --vcd "$scratch/readonly/run.vcd"
fi

# Standard output is where the trace goes: closed, it is refused before the
# run, not taken by an output file; named as an output, it is written through
# (below), not replaced, and refused while the trace goes there too.
stdout='&-' check "standard output is closed: nowhere to print the trace" --vcd out.vcd
check "'stdout-link' is standard output, where the trace goes: give --trace FILE" --vcd stdout-link
# Standard output that cannot be written: during the run, or the help.
if [[ -w /dev/full ]]; then
  stdout=/dev/full check "cannot write standard output" --access-log out.log
  stdout=/dev/full check "cannot write standard output" --help
fi
# A device or pipe written directly that takes nothing is a failed output
# too: a full device, a pipe whose reader has gone (the tool's broken-pipe
# handler, or EPIPE where SIGPIPE is ignored), a named pipe nobody reads
# (refused, not waited on for ever).
if [[ -w /dev/full ]]; then
  check "cannot write '/dev/full': No space left on device" --trace out.txt --vcd /dev/full
fi
mkfifo "$scratch/pipe"
exec 4<>"$scratch/pipe" 5>"$scratch/pipe"  # a writer, then no reader
exec 4<&-
# (SIGPIPE may have been ignored when this script started.)
stdout='&5' launcher='env --default-signal=PIPE' check "cannot write: broken pipe (its reader went away)" --trace out.txt --vcd /dev/stdout --svg out.svg
stdout='&5' limits="trap '' PIPE" check "cannot write '/dev/stdout': Broken pipe" --trace out.txt --vcd /dev/stdout
exec 5>&-
status=0
(cd "$scratch" && timeout 10 "$sim" --clock simulated --trace trace.txt --vcd pipe 2>err) || status=$?
if ((status != 2)) || ! grep -qF "cannot write 'pipe': no process reads it" "$scratch/err" || [[ -e $scratch/trace.txt ]]; then
  echo "FAIL: a named pipe nobody reads: exit $status"; cat "$scratch/err"; failures=$((failures + 1))
fi
# A full disk (here a file size limit) shows when the outputs are opened and
# leaves none of them, though the trace alone would fit.
limits="ulimit -f 32; trap '' XFSZ"
check "cannot write 'out.log': File too large" --trace out.txt --access-log out.log --vcd keep.vcd --svg out.svg
status=0
timeout 30 bash -c "$limits; exec \"\$0\" --access-log '$scratch/bus.log'" "$sim" >/dev/null 2>&1 || status=$?
if ((status != 2)) || [[ -e $scratch/bus.log ]]; then
  echo "FAIL: a full disk under the real clock: exit $status, expected 2 before the run"; failures=$((failures + 1))
fi
limits=:

# An output that is the file standard output writes to gets written there.
dir="$scratch/through"
mkdir -p "$dir"
ln -s /proc/self/fd/1 "$dir/link"
status=0
(cd "$dir" && "$sim" --clock simulated --trace trace.txt --vcd link >captured.vcd) || status=$?
if ((status != 0)) || [[ ! -L $dir/link ]] || [[ $(head -c 8 "$dir/captured.vcd") != '$version' ]]; then
  echo "FAIL: --vcd to standard output: exit $status, left:"; ls -lA "$dir"; failures=$((failures + 1))
fi

# The trace to /dev/stdout with standard output on a pseudo-terminal's
# master reaches the terminal's reader (opened anew, the path is another
# terminal: nothing arrives, exit 0).
if ! python3 - "$sim" >"$scratch/pty" 2>&1 <<'EOF'; then
import os, pty, select, subprocess, sys, time, tty
master, slave = pty.openpty()
tty.setraw(slave)
sim = subprocess.Popen([sys.argv[1], "--clock", "simulated", "--trace", "/dev/stdout"],
                       stdout=master, stderr=subprocess.PIPE)
got = b""
# Read while it writes (a terminal holds only a few KiB), until it is done
# and nothing more is there. The master stays open here until then: its
# last close would hang the terminal up and drop what was not read yet.
# Writing to a terminal no one reads, it would wait for ever: stopped after
# two minutes.
deadline = time.monotonic() + 120
while time.monotonic() < deadline:
    ready, _, _ = select.select([slave], [], [], 0.2)
    chunk = os.read(slave, 65536) if ready else b""
    got += chunk
    if not chunk and sim.poll() is not None:
        break
os.close(master)
if sim.poll() is None:
    sim.kill()
    print("still writing after 120 s: nothing read it")
status = sim.wait()
if status != 0 or b"mapped to" not in got:
    print("exit %d, %d bytes reached the terminal: %r %s" % (status, len(got), got[:80], sim.stderr.read()))
    sys.exit(1)
EOF
  echo "FAIL: --trace /dev/stdout on a pseudo-terminal: $(cat "$scratch/pty")"; failures=$((failures + 1))
fi

# A session stopped while libzip writes it leaves nothing in $TMPDIR, not
# even libzip's own temporary: stopped at several moments of the run.
mkdir -p "$scratch/tmpdir"
for delay in 0.2 0.4 0.6 0.8 1.0 1.2 1.5 2.0; do
  TMPDIR="$scratch/tmpdir" env --default-signal "$sim" --clock simulated --trace "$scratch/sr-trace.txt" \
    --sr "$scratch/run.sr" 2>/dev/null &
  pid=$!
  sleep "$delay"
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [[ -n $(ls -A "$scratch/tmpdir") ]]; then
    echo "FAIL: --sr stopped by SIGTERM after $delay s left in \$TMPDIR:"; ls -AR "$scratch/tmpdir"
    failures=$((failures + 1))
    rm -rf "${scratch:?}/tmpdir"/*
  fi
done

# A real-clock run stopped half-way, by any signal, leaves nothing behind
# either. A background job starts with SIGQUIT (Ctrl-\) ignored, so env
# gives the tool the default for each; no core file is wanted.
ulimit -c 0
dir="$scratch/stopped"
mkdir -p "$dir"
echo old >"$dir/keep.vcd"
for signal in TERM QUIT USR1 ALRM; do
  env --default-signal "$sim" --vcd "$dir/keep.vcd" --svg "$dir/run.svg" --access-log "$dir/bus.log" \
    --trace "$dir/trace.txt" 2>/dev/null &
  pid=$!
  sleep 0.5
  kill -"$signal" "$pid"
  status=0
  wait "$pid" 2>/dev/null || status=$?
  if ((status != 128 + $(kill -l "$signal"))) || [[ $(ls -A "$dir") != keep.vcd ]] || [[ $(cat "$dir/keep.vcd") != old ]]; then
    echo "FAIL: run stopped by SIG$signal: exit $status, left:"; ls -lA "$dir"; failures=$((failures + 1))
  fi
done
# A reader that goes away is a failure to write, with a message, not a death.
set +o pipefail
env --default-signal "$sim" --vcd "$dir/keep.vcd" --svg "$dir/run.svg" 2>"$scratch/err" | head -c 1 >/dev/null
status=${PIPESTATUS[0]}
set -o pipefail
if ((status != 2)) || ! grep -q "broken pipe" "$scratch/err" || [[ $(ls -A "$dir") != keep.vcd ]]; then
  echo "FAIL: reader gone: exit $status, left:"; ls -lA "$dir"; cat "$scratch/err"; failures=$((failures + 1))
fi

# And --help is no error.
# (Through a file: grep -q leaving early would fail the pipe under pipefail.)
"$sim" --help >"$scratch/help" && grep -q "KIND OFFSET VALUE TIME" "$scratch/help" ||
  { echo "FAIL: --help"; failures=$((failures + 1)); }

((failures == 0)) && echo "every bad argument refused with exit 2, nothing left behind"
exit $((failures > 0))
