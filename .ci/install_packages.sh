#!/usr/bin/env bash
# Installs the given Debian packages (as root), riding out a mirror whose
# i386 index is mid-sync: apt then rejects that one index, the i386 lists
# lack the security versions of libraries already installed for amd64, and
# wine32:i386 cannot be planned. The mirror's current i386 index is then
# placed where apt keeps it; the .debs are still checked against it, and
# apt replaces it with its own once the mirror is whole again.
#   install_packages.sh PACKAGE...
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if [[ " $*" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update 2>&1 | tee "$log" || true
apt-get install -y --no-install-recommends "$@" && exit 0
[[ " $*" == *:i386* ]] || exit 1

echo "Installing again with the mirror's current i386 index" >&2
# A failed index makes apt drop that repository's whole update: fetch the
# signed release files and the native indexes alone, keeping the i386 lists.
apt-get update -o APT::Architectures="$(dpkg --print-architecture)" -o APT::Get::List-Cleanup=false || true
apt-get indextargets -o APT::Get::IndexTargets::ReleaseInfo=false \
    --format '$(URI) $(FILENAME)' 'Identifier: Packages' 'Architecture: i386' |
while read -r uri file; do
  if compgen -G "$file*" >/dev/null && ! grep -qF "$uri" "$log"; then continue; fi
  tmp=$(mktemp -d)
  chown _apt "$tmp" 2>/dev/null || true
  if /usr/lib/apt/apt-helper download-file "${uri/#http:\/\/deb.debian.org/https://deb.debian.org}.xz" "$tmp/P.xz" >/dev/null &&
     /usr/lib/apt/apt-helper cat-file "$tmp/P.xz" | grep -q '^Package: '; then
    rm -f "$file" "$file".*
    install -m 644 "$tmp/P.xz" "$file.xz"
    echo "Using $uri.xz as served (the mirror is out of sync)" >&2
  fi
  rm -rf "$tmp"
done
apt-get install -y --no-install-recommends "$@"
