#!/usr/bin/env bash
# Builds the ARM image, times whole runs of it on QEMU's mainstone board
# (host wall time, the emulated 66 s of sleep included) and reports the image
# size and the text size of the driver and the main routine alone.
# Usage: scripts/measure_mainstone.sh [runs]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
build=build/mainstone
image=$build/app/TolvarGPIOTest.elf
cmake --preset mainstone >/dev/null
cmake --build --preset mainstone >/dev/null

times=()
for ((i = 1; i <= runs; i++)); do
  start=$(date +%s%N)
  timeout 60 qemu-system-arm -M mainstone -display none -monitor none -serial null \
    -semihosting -icount shift=0,sleep=off -kernel "$image" 2>/dev/null
  end=$(date +%s%N)
  ms=$(( (end - start) / 1000000 ))
  times+=("$ms")
  echo "run $i: ${ms} ms"
done
printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" '
  { t[NR] = $1 }
  END { printf "median host wall time of the emulated run: %d ms\n",
               (n % 2) ? t[(n + 1) / 2] : (t[n / 2] + t[n / 2 + 1]) / 2 }'

echo
echo "image:"
arm-none-eabi-size "$image"
echo
echo "driver and main routine (object files as compiled):"
arm-none-eabi-size -t \
  "$build/gpio/CMakeFiles/gpio_driver.dir/TolvarGPIO.cpp.obj" \
  "$build/app/CMakeFiles/gpio_exercise.dir/TolvarGPIOTest.cpp.obj"
echo
echo "driver and main routine (as linked into the image):"
arm-none-eabi-nm --size-sort -S -C -t d "$image" |
  awk '!seen[$1]++ && / [tT] / && /TolvarGPIO|RunWritePhase|RunReadPhase|MapRegisters|UnmapRegisters|UpdateReported|OrInto/ {
         sum += $2; print }
       END { printf "code total: %d bytes (their messages are read-only data besides)\n", sum }'
