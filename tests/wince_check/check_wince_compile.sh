#!/usr/bin/env bash
# Compiles the Windows CE backend, the driver, the main routine and the
# WinMain entry as a 32-bit Windows program with 2-byte wchar_t, against real
# Windows API headers, then shows that the files under faults/ are rejected.
# Compiles only: nothing is linked and nothing runs.
#
#   check_wince_compile.sh mingw-i686|clang-armv7 [source-dir]
#
# Exits 77 (skipped) when the compiler is missing, unless
# GPIO_REQUIRE_WINCE_CHECK=1, in which case a missing compiler fails.
set -uo pipefail

toolchain=${1:?usage: check_wince_compile.sh mingw-i686|clang-armv7 [source-dir]}
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "${2:-$here/../..}" && pwd)

missing() {
  if [[ "${GPIO_REQUIRE_WINCE_CHECK:-0}" == 1 ]]; then
    echo "FAIL: $1" >&2
    exit 1
  fi
  echo "SKIPPED: $1"
  exit 77
}

mingw=i686-w64-mingw32-g++
command -v "$mingw" >/dev/null || missing "$mingw not found (Debian: apt-get install g++-mingw-w64-i686)"

case "$toolchain" in
  mingw-i686)
    compiler=("$mingw")
    ;;
  clang-armv7)
    command -v clang++ >/dev/null || missing "clang++ not found (Debian: apt-get install clang)"
    # No ARM Windows C++ library in Debian: borrow the C++ headers of the
    # i686 MinGW compiler (target-neutral apart from its c++config.h).
    cxx_headers=$(echo | "$mingw" -x c++ -E -v - 2>&1 | sed -n 's|^ \(/.*/include/c++\)$|\1|p' | head -1)
    [[ -d "$cxx_headers" ]] || missing "C++ headers of $mingw not found"
    compiler=(clang++ --target=armv7-w64-windows-gnu -nostdinc++
              -isystem "$cxx_headers" -isystem "$cxx_headers/i686-w64-mingw32"
              -isystem /usr/share/mingw-w64/include)
    ;;
  *)
    echo "unknown toolchain: $toolchain" >&2
    exit 2
    ;;
esac

flags=(-std=c++17 -D_WIN32_WCE=0x400 -DUNDER_CE -DUNICODE -D_UNICODE
       -Wall -Wextra -Wpedantic -Werror -fno-exceptions -fno-rtti
       -I"$src/platform" -I"$src/platform/wince" -I"$src/platform/hardware/include"
       -I"$src/gpio" -I"$src/app")
compat=(-include "$here/compat/wince_winmain.h")

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failures=0

# Objects are written and thrown away: code generation for the target runs too.
compile() {
  "${compiler[@]}" "${flags[@]}" "$@" -c -o "$out/object.o"
}

echo "== $toolchain: must compile"
must_compile=("$here/target_model.cpp" "$here/platform_declarations.cpp" "$here/own_declarations.cpp"
              "$src"/platform/wince/*.cpp "$src/gpio/TolvarGPIO.cpp" "$src/app/TolvarGPIOTest.cpp")
for file in "${must_compile[@]}"; do
  if compile "$file" 2>"$out/errors"; then
    echo "ok    ${file#"$src"/}"
  else
    echo "FAIL  ${file#"$src"/}"
    cat "$out/errors"
    failures=$((failures + 1))
  fi
done
# Only the entry sees the stand-in for CE's WinMain declaration.
if compile "${compat[@]}" "$src/app/winmain.cpp" 2>"$out/errors"; then
  echo "ok    app/winmain.cpp (with tests/wince_check/compat/wince_winmain.h)"
else
  echo "FAIL  app/winmain.cpp"
  cat "$out/errors"
  failures=$((failures + 1))
fi

# Each fault must be rejected, and for the reason its "expect:" line gives,
# so that a fixture broken some other way does not count as caught.
echo "== $toolchain: must be rejected"
for file in "$here"/faults/*.cpp; do
  only=$(sed -n 's|^// only: *||p' "$file")
  if [[ -n "$only" && "$only" != "$toolchain" ]]; then
    echo "n/a   ${file#"$src"/} (only on $only)"
    continue
  fi
  expect=$(sed -n 's|^// expect: *||p' "$file")
  extra=()
  grep -q '^// compat: yes' "$file" && extra=("${compat[@]}")
  if compile "${extra[@]}" "$file" >"$out/errors" 2>&1; then
    echo "FAIL  ${file#"$src"/} compiled, but should not"
    failures=$((failures + 1))
  elif ! grep -Eq "$expect" "$out/errors"; then
    echo "FAIL  ${file#"$src"/} rejected, but not for: $expect"
    cat "$out/errors"
    failures=$((failures + 1))
  else
    echo "ok    ${file#"$src"/} rejected: $(grep -m1 -E 'error' "$out/errors" | sed 's|^.*error: ||')"
  fi
done

if ((failures)); then
  echo "$toolchain: $failures problem(s)"
  exit 1
fi
echo "$toolchain: all passed"
