##
## TolvarGPIO's exercise of GPIO33 and GPIO80 on a PXA2xx board, as a
## sigrok protocol decoder.
##
## This program is free software: you can redistribute it and/or modify it
## under the terms of the GNU General Public License as published by the Free
## Software Foundation, either version 3 of the License, or (at your option)
## any later version.
##

'''
The GPIO exercise of TolvarGPIOTest on a PXA2xx board, seen on GPIO33 and
GPIO80: the write phase (the four 2-bit patterns, one a step), the switch
of both lines to inputs, and the read phase (one sample a period).

Each step shows the pattern the program asked for and the one the pins
show; each sample period the levels on the pins when it is read. The
problem row names what pxa-gpio-check names: a line stuck low or high,
inverted, the two lines swapped or shorted together, a glitch (a pulse
shorter than a tenth of a step) and a step whose length is off by more
than 2 %.

GPIO33 is bit 1 of the pattern, GPIO80 bit 0. The capture must say its
sample rate. Steps up to a quarter longer or shorter than asked are
followed (and each flagged past 2 %); a line busy for a while (a UART or
PWM before the program takes it) is named and followed again once it
calms; a capture that starts after the first step has its steps numbered
back from the end of the write phase. The decoder cannot see when the
program samples: the sample periods are laid from the switch to inputs at
the period given.
'''

from .pd import Decoder
