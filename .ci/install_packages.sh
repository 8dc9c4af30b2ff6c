#!/usr/bin/env bash
# Installs the given Debian packages (as root) from the machine's own
# package sources, or fails naming each one apt cannot install.
#   install_packages.sh PACKAGE...
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

if ! apt-get update; then
  echo "error: apt-get update failed: the package lists of this machine's sources could not be read" >&2
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
  if [[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != "install ok installed" ]]; then
    failed+=("$package")
  fi
done
if ((${#failed[@]})); then
  echo "error: not installed after apt-get install: ${failed[*]}" >&2
  exit 1
fi
