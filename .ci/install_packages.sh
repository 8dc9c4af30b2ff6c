#!/usr/bin/env bash
# Installs the given Debian packages (as root) from the machine's own
# package sources, or fails naming each one apt cannot install.
#   install_packages.sh PACKAGE...
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

source "$(dirname "$0")/package_status.sh"

if [[ $(id -u) != 0 ]]; then
  echo "error: installing packages needs root, and this runs as user $(id -un 2>/dev/null || id -u):" \
       "run .ci/run as root, or install them first: sudo apt-get install $*" >&2
  exit 1
fi
# apt exits 0 when a source could not be read and old lists are used: any
# source that fails fails the update (Error-Mode, which apt 2.6 of Debian 12
# knows), and its warning is caught too, for an apt without that option.
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
if ! apt-get -o APT::Update::Error-Mode=any update 2>&1 | tee "$update_log"; then
  echo "error: apt-get update failed: the package lists of this machine's sources could not be read" >&2
  exit 1
fi
if grep -E '^(W|E): .*(Failed to fetch|failed to download|old ones used instead)' "$update_log" >/dev/null; then
  echo "error: apt-get update could not read a package source (see its W:/E: lines above): stale lists would be used" >&2
  exit 1
fi
# A package apt does not know at all (not in any source) is named first, so
# the failure below is not the only word about it.
unknown=()
for package in "$@"; do
  if ! apt-cache show --no-all-versions "$package" >/dev/null 2>&1; then
    unknown+=("$package")
  fi
done
if ((${#unknown[@]})); then
  echo "error: apt cannot install ${unknown[*]}: no package of that name in this machine's package sources" >&2
  exit 1
fi
if ! apt-get install -y --no-install-recommends "$@"; then
  echo "error: apt could not install the packages: $*" >&2
  exit 1
fi
# What apt did install, checked one by one: nothing goes on missing.
failed=()
for package in "$@"; do
  if ! package_installed "$package"; then
    failed+=("$package")
  fi
done
if ((${#failed[@]})); then
  echo "error: not installed after apt-get install: ${failed[*]}" >&2
  exit 1
fi
