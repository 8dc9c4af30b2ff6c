#!/usr/bin/env python3
# Raw samples for sigrok-cli's binary input, one byte a sample: a clock of
# CLOCK_HZ on channel 0 and channel 1 low, sampled at RATE_HZ for SECONDS.
# Usage: clock_samples.py RATE_HZ CLOCK_HZ SECONDS > samples.bin
import sys
from math import gcd

rate, clock, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
period = rate // gcd(rate, clock)  # samples after which the pattern repeats: a whole clock cycle
block = bytes((2 * s * clock // rate) % 2 for s in range(period))
total = int(rate * seconds)
out = sys.stdout.buffer
for _ in range(total // period):
    out.write(block)
out.write(block[: total % period])
