#!/usr/bin/env bash
# .ci/install_packages.sh against stand-ins for apt-get, apt-cache,
# dpkg-query and id (first on PATH): not being root, package lists that
# cannot be read (apt's own exit status, or its exit 0 with a source it
# could not read), a package apt does not know, an install that fails, and
# one that leaves a package uninstalled each stop it with exit 1 and a
# message (naming the package); a sound install exits 0, also of a held
# package and of one installed for two architectures. Nothing real is
# installed.
#   check_install_packages.sh SOURCE_DIR
set -uo pipefail
script="$1/.ci/install_packages.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# Each stand-in records its call; STANDIN_* say how it answers.
# apt-get update with a source it cannot read behaves as apt 2.6 does:
# a warning and exit 0, unless APT::Update::Error-Mode=any makes it an
# error (STANDIN_NO_ERROR_MODE: an apt that does not know the option).
cat >"$work/bin/apt-get" <<'STANDIN'
#!/bin/sh
echo "apt-get $*" >>"$STANDIN_LOG"
case " $* " in
*" update "*)
  if [ -n "${STANDIN_SOURCE_UNREACHABLE:-}" ]; then
    case " $* " in
    *" APT::Update::Error-Mode=any "*)
      if [ -z "${STANDIN_NO_ERROR_MODE:-}" ]; then
        echo "E: Failed to fetch http://source.invalid/dists/bookworm/InRelease  Could not resolve 'source.invalid'" >&2
        exit 100
      fi ;;
    esac
    echo "W: Failed to fetch http://source.invalid/dists/bookworm/InRelease  Could not resolve 'source.invalid'" >&2
    echo "W: Some index files failed to download. They have been ignored, or old ones used instead." >&2
  fi
  exit "${STANDIN_UPDATE_STATUS:-0}" ;;
esac
exit "${STANDIN_INSTALL_STATUS:-0}"
STANDIN
cat >"$work/bin/apt-cache" <<'STANDIN'
#!/bin/sh
for name in $STANDIN_UNKNOWN; do [ "$3" = "$name" ] && exit 100; done
echo "Package: $3"
STANDIN
# dpkg-query -W -f=FORMAT PACKAGE prints FORMAT once an architecture the
# package has, as dpkg does: STANDIN_STATUS holds their statuses, split by |.
cat >"$work/bin/dpkg-query" <<'STANDIN'
#!/bin/sh
for name in $STANDIN_NOT_INSTALLED; do [ "$3" = "$name" ] && exit 1; done
format=${2#-f=}
echo "${STANDIN_STATUS:-install ok installed}" | tr '|' '\n' | while IFS= read -r status; do
  printf "$(printf '%s' "$format" | sed "s/\${Status}/$status/")"
done
STANDIN
cat >"$work/bin/id" <<'STANDIN'
#!/bin/sh
[ "$1" = -u ] && echo "${STANDIN_UID:-0}"
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
  elif [[ $name == "not root" ]] && [[ -s $work/log ]]; then
    echo "FAIL  $name: called apt: $(cat "$work/log")"
    failures=$((failures + 1))
  elif false; then
    echo "FAIL  $name: went on to install"
    failures=$((failures + 1))
  else
    echo "ok    $name: exit $got"
  fi
}
run "sound install" 0 "" yes
run "held package (hold ok installed)" 0 "" yes "STANDIN_STATUS=hold ok installed"
run "installed for two architectures" 0 "" yes "STANDIN_STATUS=install ok installed|install ok installed"
run "not root" 1 "installing packages needs root" no STANDIN_UID=1000
run "package lists unreadable" 1 "apt-get update failed" no STANDIN_UPDATE_STATUS=100
run "a source unreachable, old lists used" 1 "apt-get update failed" no STANDIN_SOURCE_UNREACHABLE=1
run "a source unreachable, apt without Error-Mode" 1 "could not read a package source" no \
  STANDIN_SOURCE_UNREACHABLE=1 STANDIN_NO_ERROR_MODE=1
run "package half installed" 1 "not installed after apt-get install: cmake qemu-system-arm" yes \
  "STANDIN_STATUS=install reinstreq half-installed"
run "package removed, its configuration kept" 1 "not installed after apt-get install" yes \
  "STANDIN_STATUS=deinstall ok config-files"
run "package apt does not know" 1 "apt cannot install qemu-system-arm" no STANDIN_UNKNOWN=qemu-system-arm
run "install that fails" 1 "apt could not install the packages: cmake qemu-system-arm" yes STANDIN_INSTALL_STATUS=100
run "package left uninstalled" 1 "not installed after apt-get install: qemu-system-arm" yes \
  STANDIN_NOT_INSTALLED=qemu-system-arm
exit $((failures != 0))
