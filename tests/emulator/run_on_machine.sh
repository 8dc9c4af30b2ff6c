#!/usr/bin/env bash
# Runs a test that boots QEMU's MACHINE, or skips it (exit 77) where this
# qemu-system-arm no longer has that machine: QEMU 9.2 removed every PXA2xx
# board. With GPIO_REQUIRE_EMULATOR_TESTS=1 a missing machine fails instead.
#
#   run_on_machine.sh QEMU MACHINE COMMAND...
set -euo pipefail
qemu=${1:?usage: run_on_machine.sh QEMU MACHINE COMMAND...}
machine=${2:?usage: run_on_machine.sh QEMU MACHINE COMMAND...}
shift 2

if ! machines=$("$qemu" -machine help 2>&1); then
  echo "FAIL: '$qemu -machine help' failed: $machines" >&2
  exit 1
fi
if ! grep -q "^$machine " <<<"$machines"; then
  version=$("$qemu" --version 2>/dev/null | sed -n '1s/^QEMU emulator version \([^ ]*\).*/\1/p')
  message="QEMU ${version:-of unknown version} ($qemu) has no '$machine' machine: QEMU 9.2 removed the PXA2xx machines (QEMU 9.1 or older runs this test)"
  if [[ "${GPIO_REQUIRE_EMULATOR_TESTS:-0}" == 1 ]]; then
    echo "FAIL: $message" >&2
    exit 1
  fi
  echo "SKIPPED: $message"
  exit 77
fi
exec "$@"
