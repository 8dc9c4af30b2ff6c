##
## TolvarGPIO's exercise of GPIO33 and GPIO80 on a PXA2xx board, as a
## sigrok protocol decoder.
##
## This program is free software: you can redistribute it and/or modify it
## under the terms of the GNU General Public License as published by the Free
## Software Foundation, either version 3 of the License, or (at your option)
## any later version.
##

from collections import deque

import sigrokdecode as srd

GPIO33, GPIO80 = 0, 1
NAMES = ('GPIO33', 'GPIO80')
# The program's 2-bit value: GPIO33 is bit 1, GPIO80 bit 0.
BITS = (2, 1)

# The same limits as pxa-gpio-check, so the two name the same faults.
PERIOD_TOLERANCE = 0.02   # a step within 2 % of its length is on time
GLITCH_FRACTION = 0.1     # a pulse shorter than a tenth of a step is a glitch
READ_SLACK_S = 0.001      # a pin changing within 1 ms of a read may read either way
# A step ends at the first edge within this fraction of a step of where
# it is due; an edge earlier than that is a pulse inside the step.
BOUNDARY_WINDOW = 0.1
MOST_WINDOW = 0.25
# A step's level is the one that holds longest between these fractions of
# it from either end, clear of edges that come early or late.
STEP_MARGIN = 0.1
# Steps seen before deciding which step the first edge starts.
ALIGN_STEPS = 6
# More edges than this on a line within one step: a clock or noise, not
# the exercise. The line is no longer waited on, so the work stays bounded.
BUSY_EDGES = 64

# Readings of a line against the patterns, in the order pxa-gpio-check
# prefers them when several explain the same steps; the last, both lines
# low unless both are asked high, is what lines shorted together show.
FOLLOWS, OTHER, INVERTED, LOW, HIGH, BOTH_HIGH = range(6)

ANN_PHASE, ANN_STEP, ANN_SAMPLE, ANN_PROBLEM = range(4)


def asked(step):
    '''The pattern the program writes in step `step` (from 0).'''
    return step % 4


def bit(pattern, line):
    return 1 if pattern & BITS[line] else 0


def pattern_text(pattern):
    return '%d (%d%d)' % (pattern, bit(pattern, GPIO33), bit(pattern, GPIO80))


def ms(samples, rate):
    return '%.3f ms' % (samples * 1000.0 / rate)


class Readings:
    '''How each line's levels so far relate to the patterns asked.'''

    def __init__(self):
        self.count = [[0] * 6, [0] * 6]
        self.steps = 0
        self.same = True           # both lines at one level in every step
        self.changes = False       # and that level changes
        self.where_differ = set()  # their level where the patterns differ
        self.last_seen = None

    def add(self, step, seen):
        a = asked(step)
        self.steps += 1
        for line in (GPIO33, GPIO80):
            s = bit(seen, line)
            c = self.count[line]
            c[FOLLOWS] += s == bit(a, line)
            c[OTHER] += s == bit(a, 1 - line)
            c[INVERTED] += s != bit(a, line)
            c[LOW] += s == 0
            c[HIGH] += s == 1
            c[BOTH_HIGH] += s == (bit(a, GPIO33) & bit(a, GPIO80))
        s33, s80 = bit(seen, GPIO33), bit(seen, GPIO80)
        self.same = self.same and s33 == s80
        if self.last_seen is not None and bit(self.last_seen, GPIO33) != s33:
            self.changes = True
        if bit(a, GPIO33) != bit(a, GPIO80):
            self.where_differ.add(s33)
        self.last_seen = seen

    def shorted(self):
        return self.same and self.changes and bool(self.where_differ)

    def swapped(self):
        return all(self.count[line][OTHER] == self.steps for line in (GPIO33, GPIO80)) and \
            any(self.count[line][FOLLOWS] < self.steps for line in (GPIO33, GPIO80))

    def fault(self, line):
        '''The line's fault as pxa-gpio-check names it.'''
        name = NAMES[line]
        if self.shorted():
            return 'the two lines are shorted together'
        if self.swapped():
            return 'the two lines are swapped'
        c, n = self.count[line], self.steps
        if c[LOW] == n:
            return name + ' stuck low'
        if c[HIGH] == n:
            return name + ' stuck high'
        if c[INVERTED] == n:
            return name + ' inverted'
        if c[OTHER] == n:
            return '%s carries %s\'s pattern' % (name, NAMES[1 - line])
        return name + ' wrong level'


def predicted_level(reading, line, step):
    '''A line's level in a step, read as `reading`.'''
    a = asked(step)
    return {FOLLOWS: bit(a, line), OTHER: bit(a, 1 - line), INVERTED: 1 - bit(a, line),
            LOW: 0, HIGH: 1, BOTH_HIGH: bit(a, GPIO33) & bit(a, GPIO80)}[reading]


def alignment_score(first_step, before, seen_steps):
    '''How well the steps are explained if the first edge starts step
    `first_step`: per line, the steps its best reading explains less those
    it does not, the steps before the edge included (a placing that leaves
    the capture before the edge unexplained, as the run's, is not
    favoured); then the plainer readings.'''
    steps = [(j, before) for j in range(first_step)]
    steps += [(first_step + r, seen) for r, seen in enumerate(seen_steps)]
    readings = Readings()
    for step, seen in steps:
        readings.add(step, seen)
    score = preference = 0
    for line in (GPIO33, GPIO80):
        c = readings.count[line]
        best = max(c)
        score += best - (readings.steps - best)
        preference += len(c) - c.index(best)
    return (score, preference)


class Decoder(srd.Decoder):
    api_version = 3
    id = 'pxa_gpio_exercise'
    name = 'PXA GPIO exercise'
    longname = 'TolvarGPIO exercise of GPIO33 and GPIO80 (PXA2xx)'
    desc = 'Steps, patterns and samples of the PXA2xx GPIO exercise, and its faults.'
    license = 'gplv3+'
    inputs = ['logic']
    outputs = []
    tags = ['Debug/trace']
    channels = (
        {'id': 'gpio33', 'name': 'GPIO33', 'desc': 'GPIO33, bit 1 of the pattern'},
        {'id': 'gpio80', 'name': 'GPIO80', 'desc': 'GPIO80, bit 0 of the pattern'},
    )
    options = (
        {'id': 'step_ms', 'desc': 'Step length (ms)', 'default': 500},
        {'id': 'steps', 'desc': 'Steps', 'default': 120},
        {'id': 'sample_ms', 'desc': 'Sample period (ms)', 'default': 10},
        {'id': 'samples', 'desc': 'Samples', 'default': 600},
        {'id': 'read_back', 'desc': 'Lines read back as inputs', 'default': 'yes',
         'values': ('yes', 'no')},
    )
    annotations = (
        ('phase', 'Phase'),
        ('step', 'Step'),
        ('sample', 'Sample'),
        ('problem', 'Problem'),
    )
    annotation_rows = (
        ('phases', 'Phases', (ANN_PHASE,)),
        ('steps', 'Steps', (ANN_STEP,)),
        ('samples', 'Samples', (ANN_SAMPLE,)),
        ('problems', 'Problems', (ANN_PROBLEM,)),
    )

    def __init__(self):
        self.reset()

    def reset(self):
        self.samplerate = None

    def metadata(self, key, value):
        if key == srd.SRD_CONF_SAMPLERATE:
            self.samplerate = value

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def put_ann(self, ss, es, kind, texts):
        self.put(int(ss), int(max(ss, es)), self.out_ann, [kind, texts])

    # Waiting: on an edge of a line that is not busy, or for a sample.
    #
    # libsigrokdecode checks every condition of a wait at every sample, so
    # a wait for either edge or a time costs half as much again as one for
    # either edge alone. Where an edge is due anyway, the decoder waits for
    # edges alone (`exact` False); an edge that then comes after the time
    # asked is held back, and the time is reported as reached, as if the
    # wait had had the time in it. `self.now` is where the decoder is,
    # which may be before libsigrokdecode's `self.samplenum`.

    def wait_until(self, target, exact=True):
        '''Waits for an edge on a line not busy or for sample `target`,
        whichever comes first; True if an edge came (at `self.now`).'''
        target = int(target + 0.5)
        if self.replay:
            when, pins = self.replay[0]
            if when > target:
                self.now = max(self.now, target)
                return False
            self.replay.popleft()
            return self.take(when, pins)
        if target <= self.samplenum:
            # Going over what libsigrokdecode has given already: no edge left there.
            self.now = max(self.now, target)
            return False
        conditions = [{line: 'e'} for line in (GPIO33, GPIO80) if not self.busy[line]]
        if exact or not conditions:
            conditions.append({'skip': target - self.samplenum})
        pins = self.wait(conditions)
        if self.samplenum > target:
            self.replay.append((self.samplenum, pins))
            self.now = target
            return False
        return self.take(self.samplenum, pins)

    def take(self, when, pins):
        '''The lines' levels from sample `when` on; True if a line not busy changed.'''
        self.now = when
        if self.journal is not None:
            self.journal.append((when, pins))
        edge = False
        for line in (GPIO33, GPIO80):
            if pins[line] != self.level[line]:
                self.level[line] = pins[line]
                if not self.busy[line]:
                    self.on_edge(line)
                    edge = edge or not self.busy[line]
        return edge

    def on_edge(self, line):
        now = self.now
        # A short pulse: the last two edges of the line close together.
        if self.last_edge[line] is not None and now - self.last_edge[line] < GLITCH_FRACTION * self.step_len:
            self.pulses.append((line, self.last_edge[line], now, 1 - self.level[line]))
            if len(self.pulses) > 4 * BUSY_EDGES:
                del self.pulses[:BUSY_EDGES]
            self.report_pulses()
        self.last_edge[line] = now
        # Busy: too many edges within a step.
        if now - self.window_start[line] > self.step_nominal:
            self.window_start[line] = now
            self.window_edges[line] = 0
        self.window_edges[line] += 1
        if self.window_edges[line] > BUSY_EDGES:
            self.busy[line] = True
            self.put_ann(self.window_start[line], now, ANN_PROBLEM, [
                '%s changes more than %d times within %s: not the exercise (a clock or noise?), no longer followed'
                % (NAMES[line], BUSY_EDGES, ms(self.step_nominal, self.samplerate)),
                '%s busy' % NAMES[line]])

    def report_pulses(self):
        '''Glitches inside the write phase, once it is placed.'''
        if self.write_start is None:
            return
        for line, start, end, level in self.pulses:
            if start < self.write_start:
                continue
            if self.write_end is not None and end > self.write_end:
                continue
            self.put_ann(start, end, ANN_PROBLEM, [
                '%s glitch: a %s %s pulse, shorter than %s' % (
                    NAMES[line], ms(end - start, self.samplerate), 'high' if level else 'low',
                    ms(GLITCH_FRACTION * self.step_len, self.samplerate)),
                '%s glitch' % NAMES[line]])
        self.pulses = []

    def pattern_now(self):
        return BITS[GPIO33] * self.level[GPIO33] + BITS[GPIO80] * self.level[GPIO80]

    # The write phase.

    def next_step(self, start, exact=True):
        '''Follows one step from `start`: the pattern that holds longest in
        its middle, and its end: an edge near where it is due or, without
        one, the due time. Not `exact`: an edge is expected at its end.'''
        seen = self.pattern_over(start + STEP_MARGIN * self.step_len, start + (1 - STEP_MARGIN) * self.step_len,
                                 exact)
        due = start + self.step_len
        # Steps that ended without an edge may each be a little off: the
        # window widens with them.
        window = min(MOST_WINDOW, BOUNDARY_WINDOW * (1 + self.unseen_ends)) * self.step_len
        while True:
            if not self.wait_until(due + window, exact):
                self.unseen_ends += 1
                return seen, due, False
            if self.now >= due - window:
                self.unseen_ends = 0
                return seen, self.now, True

    def pattern_over(self, start, end, exact=True):
        '''The level each line holds longest from `start` to `end`, as
        pxa-gpio-check takes a step's level: a short pulse does not make it.'''
        while self.wait_until(start, exact):
            pass
        high = [0, 0]
        levels, since = list(self.level), max(start, self.now)
        at_start, first_change = list(self.level), None
        while True:
            edge = self.wait_until(end, exact)
            now = min(self.now, end)
            for line in (GPIO33, GPIO80):
                high[line] += (now - since) if levels[line] else 0
            if edge and first_change is None:
                first_change = (now, BITS[GPIO33] * levels[GPIO33] + BITS[GPIO80] * levels[GPIO80])
            levels, since = list(self.level), now
            if not edge:
                break
        # A level that changed in the middle of the step and stayed: where
        # it changed, and the pattern before.
        self.middle_change = first_change if self.level != at_start else None
        return sum(BITS[line] for line in (GPIO33, GPIO80) if 2 * high[line] > end - start)

    def levels_at(self, target):
        '''Both lines' levels at sample `target` (or now, if that is past),
        waiting for nothing else.'''
        target = int(target + 0.5)
        while self.replay and self.replay[0][0] <= target:
            when, pins = self.replay.popleft()
            self.now, self.level = when, [pins[GPIO33], pins[GPIO80]]
        if not self.replay and target > self.samplenum:
            pins = self.wait({'skip': target - self.samplenum})
            self.level = [pins[GPIO33], pins[GPIO80]]
        self.now = max(self.now, target)
        return list(self.level)

    def wait_until_quietly(self, target):
        while self.wait_until(target):
            pass

    def edge_expected(self, step):
        '''Whether a line is to change where step `step` (from 0) ends, as
        the lines have read so far.'''
        for line in (GPIO33, GPIO80):
            c = self.readings.count[line]
            reading = c.index(max(c))
            if predicted_level(reading, line, step) != predicted_level(reading, line, step + 1):
                return True
        return False

    def learn_step_length(self, step, end):
        '''The board's step length, from edges a whole number of steps apart.'''
        if self.last_boundary is not None:
            last_step, last_end = self.last_boundary
            length = (end - last_end) / (step - last_step)
            if abs(length - self.step_nominal) < BOUNDARY_WINDOW * self.step_nominal:
                self.step_len = length
        self.last_boundary = (step, end)

    def emit_step(self, step, start, end, seen, measured):
        number = step + 1
        a = asked(step)
        self.put_ann(start, end, ANN_STEP, [
            'step %d: asked %s, seen %s' % (number, pattern_text(a), pattern_text(seen)),
            'step %d: %d/%d' % (number, a, seen), '%d' % number])
        wrong = [line for line in (GPIO33, GPIO80) if bit(seen, line) != bit(a, line)]
        if wrong:
            faults = []
            for line in wrong:
                fault = self.readings.fault(line)
                if fault not in faults:
                    faults.append(fault)
            self.put_ann(start, end, ANN_PROBLEM, [
                'step %d: %s (asked %s, seen %s)' % (number, '; '.join(faults), pattern_text(a),
                                                    pattern_text(seen)),
                'step %d: %s' % (number, '; '.join(faults))])
        # Only steps between two edges are timed, as by pxa-gpio-check: the
        # first and last carry the program's other messages on a board.
        if measured and 0 < step < self.options['steps'] - 1:
            length = end - start
            off = (length - self.step_nominal) / self.step_nominal
            if abs(off) > PERIOD_TOLERANCE:
                self.put_ann(start, end, ANN_PROBLEM, [
                    'step %d: step period %s, %.1f %% %s than the program asks' % (
                        number, ms(length, self.samplerate), abs(off) * 100, 'longer' if off > 0 else 'less'),
                    'step %d: step period' % number])

    def align(self, first_edge, before, records):
        '''Which step the first edge starts: the one that explains the most
        steps, with step 1 no earlier than the capture's start.'''
        steps = self.options['steps']
        best = None
        for first in range(4):
            if first + len(records) > steps:
                break
            if first_edge - first * self.step_len < -BOUNDARY_WINDOW * self.step_len:
                break
            score = alignment_score(first, before, [r[2] for r in records])
            if best is None or score > best[0]:
                best = (score, first)
        if best is None:
            # The capture starts after the write phase began: counted from the first edge.
            self.put_ann(0, first_edge, ANN_PROBLEM, [
                'the capture starts after the write phase began: steps counted from the first edge',
                'capture starts late'])
            return 0
        return best[1]

    def write_phase(self, first_edge, before):
        steps = self.options['steps']
        records = []  # (start, end, seen, measured) of each step from the first edge
        self.last_boundary = (0, first_edge)
        self.unseen_ends = 0
        start, measured_start = first_edge, True
        # Every edge from here, so that the steps can be followed again
        # from a later one.
        self.journal = [(first_edge, list(self.level))]
        while len(records) < min(ALIGN_STEPS, steps):
            seen, end, measured = self.next_step(start)
            if self.middle_change is not None:
                # The first edge started no step (the lines switched to
                # outputs well before the first step, on a slow debug
                # port): the steps start at the change in this one's middle.
                when, before = self.middle_change
                taken = [event for event in self.journal if event[0] >= when]
                self.journal = None
                self.replay.extendleft(reversed(taken[1:]))
                self.now, self.level = when, list(taken[0][1])
                self.last_edge = [None, None]
                self.window_edges = [0, 0]
                self.pulses = []
                self.restart = (when, before)
                return None
            records.append((start, end, seen, measured_start and measured))
            if measured:
                self.learn_step_length(len(records), end)
            start, measured_start = end, measured
            if any(self.busy):
                return False  # a clock or noise, not the exercise: look for it again
        self.journal = None
        first = self.align(first_edge, before, records)
        self.write_start = max(0, first_edge - first * self.step_len)
        self.readings = Readings()
        # The steps before the first edge show the levels before it.
        steps_so_far = []
        for j in range(first):
            s = max(0, first_edge - (first - j) * self.step_len)
            e = first_edge if j == first - 1 else first_edge - (first - j - 1) * self.step_len
            steps_so_far.append((j, s, e, before, False))
        steps_so_far += [(first + r, s, e, seen, m) for r, (s, e, seen, m) in enumerate(records)]
        for step, _, _, seen, _ in steps_so_far:
            self.readings.add(step, seen)
        for step, s, e, seen, m in steps_so_far:
            self.emit_step(step, s, e, seen, m)
        self.report_pulses()
        step = first + len(records)
        if self.last_boundary is not None:
            self.last_boundary = (first + self.last_boundary[0], self.last_boundary[1])
        while step < steps:
            # Where an edge is due, waiting for edges alone is enough: the
            # last step's end may show none (the inputs may rest at the
            # level the step left).
            exact = step == steps - 1 or not self.edge_expected(step)
            seen, end, measured = self.next_step(start, exact)
            self.readings.add(step, seen)
            self.emit_step(step, start, end, seen, measured_start and measured)
            if measured:
                self.learn_step_length(step + 1, end)
            start, measured_start = end, measured
            step += 1
            self.report_pulses()
        self.write_end = start
        self.report_pulses()
        self.put_ann(self.write_start, self.write_end, ANN_PHASE, [
            'write phase: %d steps' % steps, 'write phase', 'W'])
        return True

    # The read phase.

    def read_phase(self):
        rate = self.samplerate
        start = self.write_end
        slack = READ_SLACK_S * rate
        self.put_ann(start, start + slack, ANN_PHASE, ['switch to inputs', 'inputs', 'I'])
        period = self.options['sample_ms'] * rate / 1000.0
        samples = self.options['samples']
        for i in range(samples):
            read_at = start + i * period
            # Only the levels around each read matter here: waiting for a
            # sample alone costs libsigrokdecode less than also for edges.
            # The first read comes after the switch to inputs.
            before = self.levels_at(max(read_at - slack, start))
            after = self.levels_at(read_at + slack)
            words, value = [], 0
            for line in (GPIO33, GPIO80):
                if self.busy[line] or before[line] != after[line]:
                    words.append(NAMES[line] + ' changing')
                    value = None
                else:
                    words.append('%s %s' % (NAMES[line], 'high' if after[line] else 'low'))
                    if value is not None:
                        value += BITS[line] * after[line]
            shown = pattern_text(value) if value is not None else 'either'
            self.put_ann(read_at, read_at + period, ANN_SAMPLE, [
                'sample %d: %s: %s' % (i + 1, ', '.join(words), shown),
                'sample %d: %s' % (i + 1, shown), '%d' % (i + 1)])
        self.put_ann(start, start + samples * period, ANN_PHASE, [
            'read phase: %d samples every %s' % (samples, ms(period, rate)), 'read phase', 'R'])

    def decode(self):
        if not self.samplerate:
            self.put(0, 0, self.out_ann, [ANN_PROBLEM, [
                'no sample rate: the capture does not say it, so the steps cannot be timed',
                'no sample rate']])
            return
        rate = self.samplerate
        self.step_nominal = self.options['step_ms'] * rate / 1000.0
        if self.step_nominal < 10 or self.options['steps'] < 1 or self.options['samples'] < 0 or \
                self.options['sample_ms'] <= 0:
            self.put(0, 0, self.out_ann, [ANN_PROBLEM, [
                'options out of range: a step of at least 10 samples, one step or more, a sample period above 0',
                'bad options']])
            return
        self.step_len = self.step_nominal
        self.level = [0, 0]
        self.busy = [False, False]
        self.last_edge = [None, None]
        self.window_start = [0, 0]
        self.window_edges = [0, 0]
        self.pulses = []
        self.write_start = self.write_end = None
        self.last_boundary = None
        self.replay = deque()  # edges taken from libsigrokdecode, not yet followed
        self.journal = None    # edges followed while the steps are being placed
        self.middle_change = None
        pins = self.wait({'skip': 0})
        self.level = [pins[GPIO33], pins[GPIO80]]
        self.now = self.samplenum
        while True:
            # Before the run: the first edge of a line not busy starts a step.
            while True:
                before = self.pattern_now()
                if not self.wait_until(self.now + 10 * self.step_nominal, exact=False):
                    continue
                # A pulse starts no step: the level must hold a tenth of one.
                edge_at = self.now
                if not self.wait_until(edge_at + GLITCH_FRACTION * self.step_nominal):
                    self.now = edge_at
                    break
            self.pulses = []
            placed = self.write_phase(self.now, before)
            while placed is None:
                placed = self.write_phase(*self.restart)
            if placed:
                break
        if self.options['read_back'] == 'yes':
            self.read_phase()
        # The run is over: nothing more to follow.
        self.wait({'skip': 1 << 62})
