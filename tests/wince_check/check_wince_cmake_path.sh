#!/usr/bin/env bash
# Configures the tree through cmake/toolchains/wince-arm.cmake with the i686
# MinGW compiler standing in for the Windows CE one, and builds the backend,
# driver and main routine libraries: proves that the toolchain file and
# GPIO_PLATFORM=wince pick the CE backend and its flags. The entry and the
# link need the real toolchain and are not attempted.
#
#   check_wince_cmake_path.sh [source-dir] [cmake] [werror ON|OFF]
#
# Exits 77 (skipped) when the compiler is missing, unless GPIO_REQUIRE_WINCE_CHECK=1.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "${1:-$here/../..}" && pwd)
cmake=${2:-cmake}
werror=${3:-ON}  # the host build's GPIO_WERROR, passed on
mingw=$(command -v i686-w64-mingw32-g++ || true)
if [[ -z "$mingw" ]]; then
  message="i686-w64-mingw32-g++ not found (Debian: apt-get install g++-mingw-w64-i686)"
  if [[ "${GPIO_REQUIRE_WINCE_CHECK:-0}" == 1 ]]; then echo "FAIL: $message" >&2; exit 1; fi
  echo "SKIPPED: $message"
  exit 77
fi

build=$(mktemp -d)
trap 'rm -rf "$build"' EXIT
"$cmake" -S "$src" -B "$build" --toolchain "$src/cmake/toolchains/wince-arm.cmake" \
  -DWINCE_SDK_DIR="$(dirname "$(dirname "$mingw")")" -DWINCE_TARGET=i686-w64-mingw32 \
  -DWINCE_ARCH_FLAGS= -DGPIO_PLATFORM=wince -DGPIO_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DGPIO_WERROR="$werror"
"$cmake" --build "$build" --target gpio_exercise -j2 -- VERBOSE=1 | tee "$build/build.log"

# The CE flags reached every compile, and the host backend was not built.
ce_flags="-D_WIN32_WCE=0x400 .*-Wpedantic"
[[ "$werror" == ON ]] && ce_flags+=" .*-Werror"
for file in platform/wince/virtual_memory.cpp gpio/TolvarGPIO.cpp app/TolvarGPIOTest.cpp; do
  grep -E -- "$ce_flags .*$src/$file" "$build/build.log" >/dev/null ||
    { echo "FAIL: $file not compiled with the CE flags"; exit 1; }
done
if grep -q "platform/host/" "$build/build.log"; then
  echo "FAIL: the host backend was built"; exit 1
fi
echo "cmake path: CE backend, driver and routine built through the toolchain file"
