#!/usr/bin/env python3
"""The program's two lines as the emulated board's GPIO unit sees and drives them.

Every level change of the unit's output lines is recorded through qtest, and
must be exactly the write phase's patterns 0, 1, 2, 3 thirty times over
(GPIO33 carries bit 1 and changes on every second pattern, GPIO80 bit 0 on
every pattern), then both lines let go when they turn into inputs. Boots with
GPIO33, then GPIO33 and GPIO80, held high from outside must read 0x02, then
0x03, in all 600 samples of the read phase.

usage: pin_test.py QEMU MACHINE IMAGE OUTPUT_DIR
"""

import re
import sys
import time

from qemu_board import BoardError, QemuBoard, require_tool

GPIO33, GPIO80 = 33, 80
WRITE_CYCLES, PATTERNS, READ_SAMPLES = 30, 4, 600


def expected_changes():
    levels = {GPIO33: 0, GPIO80: 0}
    changes = []

    def drive(line, level):
        if levels[line] != level:
            levels[line] = level
            changes.append((line, level))

    for _cycle in range(WRITE_CYCLES):
        for pattern in range(PATTERNS):
            drive(GPIO33, pattern >> 1 & 1)  # bank 1 is written before bank 2
            drive(GPIO80, pattern & 1)
    # Inputs again, GPDR1 then GPDR2: the unit no longer drives either line.
    drive(GPIO33, 0)
    drive(GPIO80, 0)
    return changes


def describe(changes):
    rises = {line: sum(1 for l, level in changes if l == line and level) for line in (GPIO33, GPIO80)}
    return f"{len(changes)} changes, rises: GPIO33 {rises[GPIO33]}, GPIO80 {rises[GPIO80]}"


def first_difference(seen, expected):
    for i, (a, b) in enumerate(zip(seen, expected)):
        if a != b:
            return i
    return min(len(seen), len(expected))


def boot(qemu, machine, image, uart_path, held_high):
    """The output-line changes, exit status and UART text of one whole run."""
    with QemuBoard(qemu, machine, image, uart_path, seconds=30) as board:
        gpio = board.find_device("pxa2xx-gpio")
        board.qtest("irq_intercept_out " + gpio)
        for line in held_high:
            board.qtest(f"set_irq_in {gpio} unnamed-gpio-in {line} 1")
        board.run()
        status = board.wait_for_exit()
        changes = board.irq_changes
    with open(uart_path, "rb") as uart:
        return changes, status, uart.read()


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    qemu, machine, image, output_dir = sys.argv[1:]
    require_tool(qemu, "qemu-system-arm")
    expected = expected_changes()
    assert describe(expected) == "180 changes, rises: GPIO33 30, GPIO80 60"
    failures = 0
    for held_high, value in (((), 0x00), ((GPIO33,), 0x02), ((GPIO33, GPIO80), 0x03)):
        name = f"{machine}, held high: {', '.join(f'GPIO{l}' for l in held_high) or 'none'}"
        uart_path = f"{output_dir}/pins_{machine}_{value:02x}.uart"
        started = time.monotonic()
        try:
            changes, status, uart = boot(qemu, machine, image, uart_path, held_high)
        except BoardError as error:
            print(f"FAILED {name}: {error}")
            failures += 1
            continue
        problems = []
        if status != 0:
            problems.append(f"exit status {status}")
        if changes != expected:
            at = first_difference(changes, expected)
            problems.append(f"output lines: {describe(changes)}, expected {describe(expected)}; "
                            f"first difference at change {at}: {changes[at:at + 4]} instead of "
                            f"{expected[at:at + 4]}")
        reads = re.findall(rb"Read value: 0x([0-9a-f]{2})\r", uart)
        if reads != [b"%02x" % value] * READ_SAMPLES:
            problems.append(f"read phase: {len(reads)} samples, values {sorted(set(reads))}, "
                            f"expected {READ_SAMPLES} x 0x{value:02x} (UART in {uart_path})")
        if not uart.endswith(b"\r\n-TolvarGPIOTest\r\n"):
            problems.append(f"UART ends {uart[-40:]!r}")
        for problem in problems:
            print(f"FAILED {name}: {problem}")
        if not problems:
            print(f"ok {name}: {describe(changes)}, {READ_SAMPLES} x 0x{value:02x} "
                  f"({time.monotonic() - started:.2f} s)")
        failures += bool(problems)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
