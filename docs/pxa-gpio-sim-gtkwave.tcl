# GTKWave script: shows pxa-gpio-sim's four lines over the whole run.
#   pxa-gpio-sim --clock simulated --vcd run.vcd
#   gtkwave -S docs/pxa-gpio-sim-gtkwave.tcl run.vcd
gtkwave::addSignalsFromList {pxa27x_gpio.GPIO33 pxa27x_gpio.GPIO33_output pxa27x_gpio.GPIO80 pxa27x_gpio.GPIO80_output}
gtkwave::/Time/Zoom/Zoom_Full
