#!/usr/bin/env bash
# Creates the Wine prefix the Windows CE program runs in (32-bit, headless,
# without the .NET and HTML engines Wine would offer to download, and without
# desktop menu entries), and waits for its wineserver to go. Later runs find
# it made and return at once.
#
#   create_wine_prefix.sh PREFIX
#
# Exits 77 (skipped) when the MinGW compiler, Wine or its 32-bit loader is
# missing, unless GPIO_REQUIRE_WINE=1, in which case that fails.
set -euo pipefail
prefix=$(realpath -m "${1:?usage: create_wine_prefix.sh PREFIX}")  # Wine takes no relative one

packages="g++-mingw-w64-i686 wine wine32:i386"
missing() {
  local message="$1 (Debian: dpkg --add-architecture i386; apt-get update;"
  message+=" apt-get install --no-install-recommends $packages)"
  if [[ "${GPIO_REQUIRE_WINE:-0}" == 1 ]]; then echo "FAIL: $message" >&2; exit 1; fi
  echo "SKIPPED: $message"
  exit 77
}

absent=()
for program in i686-w64-mingw32-g++ wine wineserver; do
  command -v "$program" >/dev/null || absent+=("$program")
done
((${#absent[@]} == 0)) || missing "${absent[*]} not found"

export WINEDEBUG=-all WINEARCH=win32 WINEPREFIX="$prefix" WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [[ ! -f "$prefix/system.reg" ]]; then
  wineboot --init || true
fi
wineserver -w || true
# Wine without its 32-bit loader makes no 32-bit prefix.
[[ -f "$prefix/system.reg" ]] || missing "no 32-bit Wine prefix could be made at $prefix"
echo "Wine prefix ready: $prefix"
