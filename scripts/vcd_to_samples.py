#!/usr/bin/env python3
"""Samples a VCD's GPIO33 and GPIO80 at a logic analyser's rate, as raw
bytes on standard output (bit 0 GPIO33, bit 1 GPIO80; z and x read 0), for
`sigrok-cli -i - -I binary:numchannels=2:samplerate=RATE -o capture.sr`.
A VCD's own rate is a power of ten; this gives any other, e.g. 24 MHz.

Usage: vcd_to_samples.py RUN.vcd RATE_HZ
"""
import sys

CHUNK = 1 << 22


def main():
    path, rate = sys.argv[1], int(sys.argv[2])
    tokens = open(path).read().split()
    scale = {"s": 10**12, "ms": 10**9, "us": 10**6, "ns": 10**3, "ps": 1}
    bit_of_id, tick_ps = {}, 10**6
    i = 0
    while tokens[i] != "$enddefinitions":
        if tokens[i] == "$var" and tokens[i + 4] in ("GPIO33", "GPIO80"):
            bit_of_id[tokens[i + 3]] = 0 if tokens[i + 4] == "GPIO33" else 1
        if tokens[i] == "$timescale":
            text = "".join(tokens[i + 1:tokens.index("$end", i)])
            number = text.rstrip("munpfs")
            tick_ps = int(number) * scale[text[len(number):]]
        i += 1
    out = sys.stdout.buffer
    value, sample = 0, 0

    def emit_until(end):  # the current value up to sample `end`
        nonlocal sample
        while sample < end:
            n = min(end - sample, CHUNK)
            out.write(bytes([value]) * n)
            sample += n

    for token in tokens[i + 2:]:
        if token.startswith("#"):
            emit_until(-(-int(token[1:]) * tick_ps * rate // 10**12))  # first sample at or after
        elif token[0] in "01xzXZ" and token[1:] in bit_of_id:
            bit = 1 << bit_of_id[token[1:]]
            value = value | bit if token[0] == "1" else value & ~bit
    out.flush()


main()
