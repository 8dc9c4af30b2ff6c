#!/usr/bin/env python3
"""The board after the program's end with no debugger attached (no -semihosting).

The exit trap then does nothing, and the core must idle for good: after the
last message, two readings of the registers a moment apart show the same
stack pointer and the program counter just after the idle instruction
(CP14 power mode write) of the final idle loop, where a stopped core resumes.
A core that spins, or walks its stack through memory, changes one of them or
stands elsewhere. QEMU never ends on its own then; the test stops it.

usage: idle_test.py QEMU OBJDUMP MACHINE IMAGE IDLE_FUNCTION OUTPUT_DIR
IDLE_FUNCTION is the symbol of the final idle loop.
"""

import re
import subprocess
import sys
import time

from qemu_board import BoardError, QemuBoard, require_tool

LAST_MESSAGE = b"\r\n-TolvarGPIOTest\r\n"
APART_S = 0.25


def idle_resume_points(objdump, image, function):
    """Addresses just after each `mcr p14, 0, rN, c7, c0, 0` in `function`."""
    listing = subprocess.run([objdump, "-d", "--disassemble=" + function, image],
                             capture_output=True, text=True, check=True, timeout=30).stdout
    idle = re.compile(r"^\s*([0-9a-f]+):\s+[0-9a-f]{8}\s+mcr\s+14, 0, r\d+, cr7, cr0, \{0\}", re.M)
    points = [int(address, 16) + 4 for address in idle.findall(listing)]
    if not points:
        sys.exit(f"FAILED: no idle instruction in {function} of {image}:\n{listing}")
    return points


def main():
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    qemu, objdump, machine, image, idle_function, output_dir = sys.argv[1:]
    require_tool(qemu, "qemu-system-arm")
    require_tool(objdump, "binutils-arm-none-eabi")
    resume_points = idle_resume_points(objdump, image, idle_function)
    uart_path = f"{output_dir}/idle_{machine}.uart"
    try:
        with QemuBoard(qemu, machine, image, uart_path, semihosting=False, seconds=30) as board:
            board.run()
            board.wait_for_uart(LAST_MESSAGE)
            # The least of several tries: the core may still be on its way out
            # when the last byte reaches the UART, and a loaded host may be slow.
            readings = []
            for _try in range(10):
                first = board.registers()
                time.sleep(APART_S)
                second = board.registers()
                readings.append((first, second))
                if first == second and second["R15"] in resume_points:
                    break
            first, second = readings[-1]
            print(f"{machine}: SP 0x{first['R13']:08x} -> 0x{second['R13']:08x}, "
                  f"PC 0x{first['R15']:08x} -> 0x{second['R15']:08x}, "
                  f"idle in {idle_function} resumes at "
                  f"{', '.join(f'0x{a:08x}' for a in resume_points)}, {len(readings)} tries")
            failures = []
            if first["R13"] != second["R13"]:
                failures.append("the stack pointer moves")
            if first["R15"] != second["R15"] or second["R15"] not in resume_points:
                failures.append(f"the core is not idle in {idle_function}")
            if first != second:
                failures.append("the registers change: "
                                + ", ".join(f"{r} 0x{first[r]:08x} -> 0x{second[r]:08x}"
                                            for r in first if first[r] != second.get(r)))
            if board.process.poll() is not None:
                failures.append(f"QEMU ended by itself with status {board.process.returncode}")
            else:
                board.process.terminate()
                try:
                    board.process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    failures.append("QEMU did not end on SIGTERM")
    except BoardError as error:
        failures = [str(error)]
    for failure in failures:
        print(f"FAILED {machine}: {failure}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
