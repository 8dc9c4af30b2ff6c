#!/usr/bin/env bash
# .ci/install_packages.sh against stand-ins for apt-get, apt-cache and
# dpkg-query (first on PATH): package lists that cannot be read, a package
# apt does not know, an install that fails, and one that leaves a package
# uninstalled each stop it with exit 1 and a message (naming the package);
# a sound install exits 0. Nothing real is installed.
#   check_install_packages.sh SOURCE_DIR
set -uo pipefail
script="$1/.ci/install_packages.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# Each stand-in records its call; STANDIN_* say how it answers.
cat >"$work/bin/apt-get" <<'STANDIN'
#!/bin/sh
echo "apt-get $*" >>"$STANDIN_LOG"
[ "$1" = update ] && exit "${STANDIN_UPDATE_STATUS:-0}"
exit "${STANDIN_INSTALL_STATUS:-0}"
STANDIN
cat >"$work/bin/apt-cache" <<'STANDIN'
#!/bin/sh
for name in $STANDIN_UNKNOWN; do [ "$3" = "$name" ] && exit 100; done
echo "Package: $3"
STANDIN
cat >"$work/bin/dpkg-query" <<'STANDIN'
#!/bin/sh
for name in $STANDIN_NOT_INSTALLED; do [ "$3" = "$name" ] && exit 1; done
printf 'install ok installed'
STANDIN
chmod +x "$work/bin/"*

failures=0
# run NAME EXPECTED_STATUS EXPECTED_MESSAGE INSTALL_EXPECTED [VAR=VALUE...]
run() {
  local name=$1 status=$2 message=$3 install=$4
  shift 4
  : >"$work/log"
  env PATH="$work/bin:$PATH" STANDIN_LOG="$work/log" "$@" bash "$script" cmake qemu-system-arm \
    >"$work/out" 2>&1
  local got=$?
  if [[ $got -ne $status ]] || { [[ -n $message ]] && ! grep -qF -- "$message" "$work/out"; }; then
    echo "FAIL  $name: exit $got, output: $(cat "$work/out")"
    failures=$((failures + 1))
  elif [[ $install == no ]] && grep -q "apt-get install" "$work/log"; then
    echo "FAIL  $name: went on to install"
    failures=$((failures + 1))
  else
    echo "ok    $name: exit $got"
  fi
}
run "sound install" 0 "" yes
run "package lists unreadable" 1 "apt-get update failed" no STANDIN_UPDATE_STATUS=100
run "package apt does not know" 1 "apt cannot install qemu-system-arm" no STANDIN_UNKNOWN=qemu-system-arm
run "install that fails" 1 "apt could not install the packages: cmake qemu-system-arm" yes STANDIN_INSTALL_STATUS=100
run "package left uninstalled" 1 "not installed after apt-get install: qemu-system-arm" yes \
  STANDIN_NOT_INSTALLED=qemu-system-arm
exit $((failures != 0))
