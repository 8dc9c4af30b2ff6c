#!/usr/bin/env bash
# Builds the ARM image and runs it on each of QEMU's PXA machines: the host
# wall time of whole runs (the emulated 66 s of sleep included, no tracing),
# then one traced run for the board time the OS timer's counter spans and
# the accesses that reached the GPIO unit. Then the Windows CE executable as
# a CE process on Unicorn's PXA255 and PXA270 cores (pxa-gpio-sim --exe):
# the host wall time of whole runs, the process's start included. Last the
# sizes: the image, the .exe, and the text of the driver and the main
# routine alone.
# Usage: scripts/measure_emulated.sh [runs] [machine...]   (default 5, all nine)
# (the .exe's runs: scripts/measure_emulated.sh 11 none, to leave QEMU out)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
shift || true
machines=("$@")
((${#machines[@]})) || machines=(mainstone akita spitz borzoi terrier z2 verdex tosa connex)
build=build/mainstone
image=$build/app/TolvarGPIOTest.elf
exe=build/wince-arm/app/TolvarGPIOTest.exe
sim=build/host/tools/gpio_sim/pxa-gpio-sim
cmake --preset mainstone >/dev/null
cmake --build --preset mainstone >/dev/null
cmake --preset wince-arm -DWINCE_SDK_DIR= >/dev/null
cmake --build --preset wince-arm >/dev/null
cmake --preset host >/dev/null
cmake --build --preset host --target pxa-gpio-sim >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

boot() {  # machine, then extra QEMU options; boots $image
  local machine=$1
  shift
  local how=(-kernel "$image")
  case $machine in
    verdex | connex)
      local size=32M
      [[ $machine == connex ]] && size=16M
      truncate -s "$size" "$scratch/flash.bin"
      how=(-drive "file=$scratch/flash.bin,if=pflash,format=raw" -device "loader,file=$image,cpu-num=0") ;;
  esac
  timeout 60 qemu-system-arm -M "$machine" -display none -monitor none -serial null \
    -semihosting -icount shift=0,sleep=off -audiodev none,id=silence \
    -global wm8750.audiodev=silence "$@" "${how[@]}"
}

measure() {  # heading, then extra QEMU options for every run
  echo "$1"
  shift
  printf '%-10s %-7s %-22s %-26s %s\n' machine core "host wall (median)" "board time (OSCR0 span)" "GPIO accesses"
  for machine in "${machines[@]}"; do
    core=PXA270 hz=3250000
    [[ $machine == tosa || $machine == connex ]] && core=PXA255 hz=3686400
    times=()
    for ((i = 1; i <= runs; i++)); do
      start=$(date +%s%N)
      boot "$machine" "$@"
      end=$(date +%s%N)
      times+=($(((end - start) / 1000000)))
    done
    sorted=($(printf '%s\n' "${times[@]}" | sort -n))
    median=${sorted[$((runs / 2))]}
    ((runs % 2)) || median=$(((sorted[runs / 2 - 1] + sorted[runs / 2]) / 2))

    boot "$machine" "$@" -trace 'memory_region_ops_*' -D "$scratch/bus.log"
    read -r span accesses < <(python3 - "$scratch/bus.log" "$hz" <<'PY'
import re, sys
counts, gpio = [], 0
for line in open(sys.argv[1]):
    if "'pxa2xx-gpio'" in line:
        gpio += 1
    elif "ops_read" in line and "addr 0x40a00010 " in line:
        counts.append(int(re.search(r"value (0x[0-9a-f]+)", line).group(1), 16))
print(f"{(counts[-1] - counts[0]) / int(sys.argv[2]):.6f} {gpio}")
PY
)
    printf '%-10s %-7s %-22s %-26s %s\n' "$machine" "$core" "${median} ms (${sorted[0]}-${sorted[runs - 1]})" \
      "${span} s" "$accesses"
  done
}

if [[ ${machines[0]} != none ]]; then
  measure "the bare-board image ($image):"
  echo
fi
echo "the Windows CE executable as a CE process on Unicorn ($sim --exe $exe),"
echo "beside the host-built program on the same board; wall and CPU (user+system) of the whole command:"
printf '%-12s %-24s %-24s %s\n' program "host wall (median)" "CPU (median)" "exit status"
for program in host-built pxa255 pxa270; do
  walls=() cpus=()
  with=()
  [[ $program != host-built ]] && with=(--exe "$exe" --exe-core "$program")
  for ((i = 1; i <= runs; i++)); do
    /usr/bin/time -f '%e %U %S' -o "$scratch/time" "$sim" --clock simulated "${with[@]}" --trace "$scratch/exe.txt" &&
      status=0 || status=$?
    read -r wall user system <"$scratch/time"
    walls+=($(awk -v w="$wall" 'BEGIN { printf "%d", w * 1000 }'))
    cpus+=($(awk -v u="$user" -v s="$system" 'BEGIN { printf "%d", (u + s) * 1000 }'))
  done
  row=()
  for name in walls cpus; do
    declare -n values=$name
    sorted=($(printf '%s\n' "${values[@]}" | sort -n))
    median=${sorted[$((runs / 2))]}
    ((runs % 2)) || median=$(((sorted[runs / 2 - 1] + sorted[runs / 2]) / 2))
    row+=("${median} ms (${sorted[0]}-${sorted[runs - 1]})")
  done
  printf '%-12s %-24s %-24s %s\n' "$program" "${row[0]}" "${row[1]}" "$status"
done
echo
echo "image:"
arm-none-eabi-size "$image"
echo
echo "Windows CE executable: $(stat -c %s "$exe") bytes ($exe)"
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
