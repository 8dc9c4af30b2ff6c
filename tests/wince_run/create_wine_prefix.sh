#!/usr/bin/env bash
# Creates the Wine prefix the Windows CE program runs in (32-bit, headless,
# without the .NET and HTML engines Wine would offer to download, and without
# desktop menu entries), and waits for its wineserver to go. Later runs find
# it made and return at once.
#
#   create_wine_prefix.sh PREFIX
#
# Exits 77 (skipped) when the MinGW compiler or Wine is missing, unless
# GPIO_REQUIRE_WINE=1, in which case that fails.
set -euo pipefail
prefix=${1:?usage: create_wine_prefix.sh PREFIX}

missing=()
for program in i686-w64-mingw32-g++ wine wineserver; do
  command -v "$program" >/dev/null || missing+=("$program")
done
if ((${#missing[@]})); then
  message="${missing[*]} not found (Debian: dpkg --add-architecture i386; apt-get update;"
  message+=" apt-get install --no-install-recommends g++-mingw-w64-i686 wine wine32:i386)"
  if [[ "${GPIO_REQUIRE_WINE:-0}" == 1 ]]; then echo "FAIL: $message" >&2; exit 1; fi
  echo "SKIPPED: $message"
  exit 77
fi

export WINEDEBUG=-all WINEARCH=win32 WINEPREFIX="$prefix" WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [[ ! -f "$prefix/system.reg" ]]; then
  wineboot --init
fi
wineserver -w
[[ -f "$prefix/system.reg" ]] || {
  echo "FAIL: no Wine prefix made at $prefix (is wine32:i386 installed?)" >&2
  exit 1
}
echo "Wine prefix ready: $prefix"
