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
# A step ends at the first lasting edge within this fraction of a step of
# where it is due; an edge earlier than that is a pulse inside the step.
BOUNDARY_WINDOW = 0.1
MOST_WINDOW = 0.25
# A board's clock may be this far off: a PXA25x's timer rate taken for a
# PXA27x's is 13 %. The step length is fitted to the first edges within it.
CLOCK_ERROR = 0.25
# An edge is where the steps change only if its line holds the new level
# most of this many glitch lengths after it and held the old one before:
# a glitch, shorter than one, cannot.
LASTING_GLITCHES = 2
# Edges on the fitted grid of steps, within this fraction of a step.
GRID_TOLERANCE = 0.03
# Fewer edges than this on a grid of steps: not the exercise.
GRID_EDGES = 3
# The exercise's edges are at most 3 steps apart (lines shorted together);
# no edge on the grid for longer: the write phase is over.
RUN_GAP_STEPS = 3.6
# A step's level is the one that holds longest between these fractions of
# it from either end, clear of edges that come early or late.
STEP_MARGIN = 0.1
# Steps seen before deciding which step the first edge starts.
ALIGN_STEPS = 6
# More edges than this on a line within one step: a clock or noise, not
# the exercise. The line is not waited on for a glitch length, then looked
# at again, so the work stays bounded and a line that calms is followed.
BUSY_EDGES = 64

# Options: what a board can ask.
OPTION_LIMITS = {
    'step_ms': (0.001, 3600000.0),
    'steps': (1, 100000),
    'sample_ms': (0.001, 3600000.0),
    'samples': (0, 10000000),
}

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


def seconds(samples, rate):
    return '%.3f s' % (samples / float(rate))


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


def alignment_score(first_step, before, seen_steps, before_steps=None):
    '''How well the steps are explained if the first edge starts step
    `first_step`: per line, the steps its best reading explains less those
    it does not, the `before_steps` steps before the edge included (all,
    unless given: a placing that leaves the capture before the edge
    unexplained, as the run's, is not favoured); then the plainer readings.'''
    if before_steps is None:
        before_steps = first_step
    steps = [(j, before) for j in range(first_step - before_steps, first_step)]
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
        {'id': 'step_ms', 'desc': 'Step length (ms)', 'default': 500.0},
        {'id': 'steps', 'desc': 'Steps', 'default': 120},
        {'id': 'sample_ms', 'desc': 'Sample period (ms)', 'default': 10.0},
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

    def glitch_len(self):
        return GLITCH_FRACTION * self.step_len

    # Waiting: on an edge of a line that is not busy, or for a sample.
    #
    # libsigrokdecode checks every condition of a wait at every sample, so
    # a wait for either edge or a time costs half as much again as one for
    # either edge alone. Where an edge is due anyway, the decoder waits for
    # edges alone (`exact` False); an edge that then comes after the time
    # asked is held back, and the time is reported as reached, as if the
    # wait had had the time in it. Edges looked at ahead (`peek`) are held
    # back the same way. `self.now` is where the decoder is, which may be
    # before libsigrokdecode's `self.samplenum`.

    def wait_until(self, target, exact=True):
        """Waits for an edge on a line not busy or for sample `target`,
        whichever comes first; True if an edge came (at `self.now`). A busy
        line is looked at again on the way."""
        target = int(target + 0.5)
        while True:
            timers = [t for t in self.timer if t is not None]
            timer = int(min(timers) + 0.5) if timers else None
            if timer is None or timer > target:
                edge = self.wait_raw(target, exact)
                if edge is not None:
                    return edge
                continue
            edge = self.wait_raw(timer, True)
            if edge:
                return True
            if edge is None:
                continue
            # A line looked at again may have changed unseen: as an edge
            # for the levels, but no line's lasting change.
            self.changed = []
            self.fire_timers()
            return True

    def wait_raw(self, target, exact):
        """As wait_until, without the busy lines' timers; None where a line
        got busy on the way (the wait is to be made again)."""
        while True:
            if self.replay:
                when, pins = self.replay[0]
                if when > target:
                    self.now = max(self.now, target)
                    return False
                self.replay.popleft()
                if self.take(when, pins):
                    return True
                if any(self.busy):
                    return None
                continue
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
            if self.take(self.samplenum, pins):
                return True
            if self.samplenum >= target:
                return False
            return None

    def peek(self, target):
        """Brings the edges up to sample `target` into the replay, unfollowed."""
        target = int(target + 0.5)
        while self.samplenum < target:
            last = self.replay[-1][1] if self.replay else self.level
            followed = [line for line in (GPIO33, GPIO80) if not self.busy[line]]
            conditions = [{line: 'e'} for line in followed]
            conditions.append({'skip': target - self.samplenum})
            pins = self.wait(conditions)
            if any(pins[line] != last[line] for line in followed):
                self.replay.append((self.samplenum, pins))

    def take(self, when, pins):
        """The lines' levels from sample `when` on; True if a line not busy changed."""
        self.now = when
        if self.journal is not None:
            self.journal.append((when, pins))
        edge = False
        self.changed = []
        for line in (GPIO33, GPIO80):
            if pins[line] != self.level[line]:
                self.level[line] = pins[line]
                if not self.busy[line]:
                    self.changed.append(line)
                    self.on_edge(line)
                    edge = edge or not self.busy[line]
        return edge

    def on_edge(self, line):
        now = self.now
        glitch = self.glitch_len()
        last = self.last_edge[line]
        # A short pulse: the last two edges of the line close together.
        if last is not None and now - last < glitch:
            self.pulses.append((line, last, now, 1 - self.level[line]))
            if len(self.pulses) > 4 * BUSY_EDGES:
                del self.pulses[:BUSY_EDGES]
        if last is None or now - last >= glitch:
            self.run_start[line] = now
        self.last_edge[line] = now
        self.history[line].append(now)
        # Busy: too many edges within a step.
        if now - self.window_start[line] > self.step_nominal:
            self.window_start[line] = now
            self.window_edges[line] = 0
        self.window_edges[line] += 1
        burst = self.burst[line]
        if burst is not None:
            burst[1] = now
            self.timer[line] = now + glitch
        if self.window_edges[line] > BUSY_EDGES:
            self.busy[line] = True
            self.timer[line] = now + glitch
            if burst is None:
                self.burst[line] = [self.run_start[line], now]
                self.put_ann(self.run_start[line], now, ANN_PROBLEM, [
                    '%s changes more than %d times within %s: not the exercise (a clock or noise?), '
                    'not followed until it calms' % (NAMES[line], BUSY_EDGES, ms(self.step_nominal, self.samplerate)),
                    '%s busy' % NAMES[line]])

    def fire_timers(self):
        """A busy line looked at again; a line quiet for a glitch length
        after a burst: the burst is over."""
        now = self.now
        for line in (GPIO33, GPIO80):
            if self.timer[line] is None or self.timer[line] > now:
                continue
            if self.busy[line]:
                self.busy[line] = False
                self.window_start[line], self.window_edges[line] = now, 0
                self.last_edge[line] = None
                self.timer[line] = now + self.glitch_len()
                continue
            self.timer[line] = None
            start, end = self.burst[line]
            self.burst[line] = None
            self.put_ann(start, end, ANN_PROBLEM, [
                '%s busy from %s to %s: not the exercise, followed again after it' % (
                    NAMES[line], seconds(start, self.samplerate), seconds(end, self.samplerate)),
                '%s busy' % NAMES[line]])
            # Its pulses were the burst.
            self.pulses = [p for p in self.pulses if p[0] != line or p[2] < start or p[1] > end]

    def report_pulses(self):
        """Glitches inside the write phase, once it is placed; a pulse that
        shares an edge with a shorter one is that one's edge."""
        if self.write_start is None:
            return
        kept, held = [], []
        for pulse in self.pulses:
            line, start, end, level = pulse
            if self.burst[line] is not None:
                held.append(pulse)
                continue
            if kept and kept[-1][0] == line and kept[-1][2] == start:
                if end - start < kept[-1][2] - kept[-1][1]:
                    kept[-1] = pulse
                continue
            kept.append(pulse)
        for line, start, end, level in kept:
            if start < self.write_start:
                continue
            if self.write_end is not None and end > self.write_end:
                continue
            self.put_ann(start, end, ANN_PROBLEM, [
                '%s glitch: a %s %s pulse, shorter than %s' % (
                    NAMES[line], ms(end - start, self.samplerate), 'high' if level else 'low',
                    ms(self.glitch_len(), self.samplerate)),
                '%s glitch' % NAMES[line]])
        self.pulses = held

    def pattern_now(self):
        return BITS[GPIO33] * self.level[GPIO33] + BITS[GPIO80] * self.level[GPIO80]

    # The write phase.

    def next_step(self, start, exact=True):
        """Follows one step from `start`: the pattern that holds longest in
        its middle, and its end: a lasting edge near where it is due or,
        without one, the due time. Not `exact`: an edge is expected at its end."""
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
            if self.now >= due - window and self.lasting():
                self.unseen_ends = 0
                return seen, self.now, True

    def lasting(self):
        """Whether a line that changed now holds its new level most of the
        time after, and held the old one most of the time before."""
        now, span = self.now, LASTING_GLITCHES * self.glitch_len()
        self.peek(now + span)
        for line in self.changed:
            if self.held_before(line, now, span) != self.level[line] and \
                    self.held_after(line, now, span) == self.level[line]:
                return True
        return False

    def held_before(self, line, now, span):
        level, end, high = 1 - self.level[line], now, 0
        history = self.history[line]
        for i in range(len(history) - 2, -1, -1):
            edge = history[i]
            if edge <= now - span:
                break
            high += (end - edge) if level else 0
            end, level = edge, 1 - level
        high += (end - (now - span)) if level else 0
        return 1 if 2 * high > span else 0

    def held_after(self, line, now, span):
        level, since, high = self.level[line], now, 0
        for when, pins in self.replay:
            if when > now + span:
                break
            if pins[line] != level:
                high += (when - since) if level else 0
                since, level = when, pins[line]
        high += (now + span - since) if level else 0
        return 1 if 2 * high > span else 0

    def pattern_over(self, start, end, exact=True):
        """The level each line holds longest from `start` to `end`, as
        pxa-gpio-check takes a step's level: a short pulse does not make it."""
        while self.wait_until(start, exact):
            pass
        high = [0, 0]
        levels, since = list(self.level), max(start, self.now)
        while True:
            edge = self.wait_until(end, exact)
            now = min(self.now, end)
            for line in (GPIO33, GPIO80):
                high[line] += (now - since) if levels[line] else 0
            levels, since = list(self.level), now
            if not edge:
                break
        return sum(BITS[line] for line in (GPIO33, GPIO80) if 2 * high[line] > end - start)

    def levels_at(self, target):
        """Both lines' levels at sample `target` (or now, if that is past),
        waiting for nothing else."""
        target = int(target + 0.5)
        while self.replay and self.replay[0][0] <= target:
            when, pins = self.replay.popleft()
            self.now, self.level = when, [pins[GPIO33], pins[GPIO80]]
        if not self.replay and target > self.samplenum:
            pins = self.wait({'skip': target - self.samplenum})
            self.level = [pins[GPIO33], pins[GPIO80]]
        self.now = max(self.now, target)
        return list(self.level)

    def edge_expected(self, step):
        """Whether a line is to change where step `step` (from 0) ends, as
        the lines have read so far."""
        for line in (GPIO33, GPIO80):
            c = self.readings.count[line]
            reading = c.index(max(c))
            if predicted_level(reading, line, step) != predicted_level(reading, line, step + 1):
                return True
        return False

    def learn_step_length(self, step, end):
        """The board's step length, from the first edge followed and this
        one, a whole number of steps apart: one step a preempted thread
        made longer moves the length by its share of all of them."""
        if self.first_boundary is not None:
            first_step, first_end = self.first_boundary
            if step > first_step:
                length = (end - first_end) / (step - first_step)
                if abs(length - self.step_fit) < GRID_TOLERANCE * self.step_fit:
                    self.step_len = length
                return
        self.first_boundary = (step, end)

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

    def fit_grid(self, events, before):
        """The step length and the first edge on its grid that explain the
        most lasting edges of `events` (sample, pins; the pattern `before`
        them), a length no more than CLOCK_ERROR off the one asked; None if
        too few edges fit any."""
        nominal, glitch = self.step_nominal, GLITCH_FRACTION * self.step_nominal
        edges = [[], []]
        previous = [bit(before, GPIO33), bit(before, GPIO80)]
        for when, pins in events:
            for line in (GPIO33, GPIO80):
                if pins[line] != previous[line]:
                    edges[line].append(when)
            previous = list(pins)
        times = []
        for line in (GPIO33, GPIO80):
            e = edges[line]
            for i, t in enumerate(e):
                if (i == 0 or t - e[i - 1] >= glitch) and (i + 1 == len(e) or e[i + 1] - t >= glitch):
                    times.append(t)
        times.sort()
        # The two lines' edges of one step change are one edge.
        merged = []
        for t in times:
            if not merged or t - merged[-1] > GRID_TOLERANCE * nominal:
                merged.append(t)
        if len(merged) < GRID_EDGES:
            return None
        best = None
        candidates = int(2 * CLOCK_ERROR / 0.002)
        for c in range(candidates + 1):
            length = nominal * (1 - CLOCK_ERROR + 0.002 * c)
            tolerance = GRID_TOLERANCE * length
            for anchor in merged[:4]:
                count, residue = 0, 0.0
                for t in merged:
                    if t < anchor:
                        continue
                    k = int((t - anchor) / length + 0.5)
                    r = abs(t - anchor - k * length)
                    if r <= tolerance:
                        count += 1
                        residue += r
                key = (count, -anchor, -abs(length - nominal), -residue)
                if best is None or key > best[0]:
                    best = (key, length, anchor)
        (count, _, _, _), length, anchor = best
        if count < GRID_EDGES:
            return None
        # The length through the edges on the grid, by least squares.
        points = [(int((t - anchor) / length + 0.5), t) for t in merged
                  if t >= anchor and abs(t - anchor - int((t - anchor) / length + 0.5) * length) <= GRID_TOLERANCE * length]
        n = len(points)
        mk = sum(k for k, _ in points) / n
        mt = sum(t for _, t in points) / n
        var = sum((k - mk) ** 2 for k, _ in points)
        if var > 0:
            length = sum((k - mk) * (t - mt) for k, t in points) / var
        return length, anchor

    def restart_at(self, events, when):
        """Follows the lines again from sample `when` of `events`, the edges
        already taken: the level there, the edges after it replayed."""
        taken = [event for event in events if event[0] >= when]
        self.replay.extendleft(reversed(taken[1:]))
        self.now, self.level = when, [taken[0][1][GPIO33], taken[0][1][GPIO80]]
        self.last_edge = [None, None]
        self.history = [deque(maxlen=2 * BUSY_EDGES), deque(maxlen=2 * BUSY_EDGES)]
        self.window_edges = [0, 0]
        self.pulses = []

    def run_end(self, start):
        """The last edge on the grid of steps from sample `start`, looked
        at ahead: where the edges stop, the write phase is over."""
        last, length = start, self.step_len
        while True:
            self.peek(last + RUN_GAP_STEPS * length)
            found, previous = None, list(self.level)
            for when, pins in self.replay:
                changed = any(pins[line] != previous[line] for line in (GPIO33, GPIO80))
                previous = list(pins)
                if not changed or when <= last + (1 - BOUNDARY_WINDOW) * length:
                    continue
                if when > last + RUN_GAP_STEPS * length:
                    break
                k = int((when - last) / length + 0.5)
                if abs(when - last - k * length) <= BOUNDARY_WINDOW * length:
                    found = when
                    break
            if found is None:
                return last
            last = found

    def align(self, first_edge, before, records):
        """Which step the first edge starts: the one that explains the most
        steps, with step 1 no earlier than where the run was looked for. A
        placing with step 1 earlier (the capture started late, within two
        steps of the first edge) is taken only if it explains more, or as
        much with plainer readings: its steps are then numbered back from
        the end of the write phase. Returns the step and whether it is late."""
        steps = self.options['steps']
        seen = [r[2] for r in records]
        on_time = late = None
        for first in range(4):
            if first + len(records) > steps:
                break
            if first_edge - first * self.step_len >= self.search_start - BOUNDARY_WINDOW * self.step_len:
                score = alignment_score(first, before, seen)
                if on_time is None or score > on_time[0]:
                    on_time = (score, first)
            score = alignment_score(first, before, seen, 0)
            if late is None or score > late[0]:
                late = (score, first)
        # A capture that starts late shows an edge within two steps (a line
        # changes every step or every other one).
        if first_edge - self.search_start > (2 + BOUNDARY_WINDOW) * self.step_len:
            late = None
        if on_time is not None and (late is None or on_time[0] >= late[0]):
            return on_time[1], False
        if late is None:
            return 0, True
        # The last step is asked what step `steps` - 1 is; the grid's step
        # whose end is the last edge, or the first such after it.
        phase = late[1]
        last_edge = self.run_end(records[-1][1])
        j = int((last_edge - first_edge) / self.step_len + 0.5)
        last = j - 1 + (asked(steps - 1) - asked(phase + j - 1)) % 4
        first = steps - 1 - last
        if first < phase:
            first = phase
        return first, True

    def write_phase(self, first_edge, before):
        steps = self.options['steps']
        # The edges of the first steps, to fit the board's step length.
        self.journal = [(first_edge, [self.level[GPIO33], self.level[GPIO80]])]
        span = (ALIGN_STEPS + 2) * self.step_nominal * (1 + CLOCK_ERROR)
        while self.wait_until(first_edge + span):
            pass
        journal, self.journal = self.journal, None
        grid = self.fit_grid(journal, before)
        if grid is None:
            # Not the exercise: looked for again from the next edge.
            if len(journal) > 1:
                self.restart_at(journal, journal[1][0])
            return False
        self.step_len = self.step_fit = grid[0]
        first_edge = grid[1]
        earlier = [event for event in journal if event[0] < first_edge]
        if earlier:
            pins = earlier[-1][1]
            before = BITS[GPIO33] * pins[GPIO33] + BITS[GPIO80] * pins[GPIO80]
        self.restart_at(journal, first_edge)
        records = []  # (start, end, seen, measured) of each step from the first edge
        self.first_boundary = (0, first_edge)
        self.unseen_ends = 0
        start, measured_start = first_edge, True
        while len(records) < min(ALIGN_STEPS, steps):
            seen, end, measured = self.next_step(start)
            records.append((start, end, seen, measured_start and measured))
            if measured:
                self.learn_step_length(len(records), end)
            start, measured_start = end, measured
        first, late = self.align(first_edge, before, records)
        if late and self.runs:
            self.put_ann(self.search_start, first_edge, ANN_PROBLEM, [
                'a run started before the last one\'s read phase ended (the board reset?): '
                'steps numbered back from its end', 'run restarted'])
        elif late:
            self.put_ann(self.search_start, first_edge, ANN_PROBLEM, [
                'the capture starts after the write phase began: steps numbered back from its end',
                'capture starts late'])
        self.write_start = max(self.search_start, first_edge - (1 if late else first) * self.step_len)
        self.readings = Readings()
        # The steps before the first edge show the levels before it.
        steps_so_far = []
        for j in range(first - 1 if late and first else 0, first):
            s = max(self.search_start, first_edge - (first - j) * self.step_len)
            e = first_edge if j == first - 1 else first_edge - (first - j - 1) * self.step_len
            steps_so_far.append((j, s, e, before, False))
        steps_so_far += [(first + r, s, e, seen, m) for r, (s, e, seen, m) in enumerate(records)]
        for step, _, _, seen, _ in steps_so_far:
            self.readings.add(step, seen)
        for step, s, e, seen, m in steps_so_far:
            self.emit_step(step, s, e, seen, m)
        self.report_pulses()
        step = first + len(records)
        if self.first_boundary is not None:
            self.first_boundary = (first + self.first_boundary[0], self.first_boundary[1])
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

    def options_refused(self):
        """Why the options cannot describe a run, or None."""
        o = self.options
        for key, (low, high) in sorted(OPTION_LIMITS.items()):
            value = o[key]
            if isinstance(value, bool) or not isinstance(value, (int, float)) or \
                    value != value or not low <= value <= high:
                return '%s=%s: it must be from %s to %s' % (key, value, low, high)
            if isinstance(low, int) and value != int(value):
                return '%s=%s: it must be a whole number' % (key, value)
        if o['read_back'] not in ('yes', 'no'):
            return 'read_back=%s: it must be yes or no' % o['read_back']
        if o['step_ms'] * self.samplerate / 1000.0 < 10:
            return 'step_ms=%s: a step must last at least 10 samples' % o['step_ms']
        if o['sample_ms'] * self.samplerate / 1000.0 < 1:
            return 'sample_ms=%s: a sample period must last at least one sample' % o['sample_ms']
        return None

    def decode(self):
        if not self.samplerate:
            self.put(0, 0, self.out_ann, [ANN_PROBLEM, [
                'no sample rate: the capture does not say it, so the steps cannot be timed',
                'no sample rate']])
            return
        rate = self.samplerate
        refused = self.options_refused()
        if refused is not None:
            self.put(0, 0, self.out_ann, [ANN_PROBLEM, [
                'options out of range: ' + refused, 'bad options']])
            return
        self.step_nominal = self.options['step_ms'] * rate / 1000.0
        self.step_len = self.step_fit = self.step_nominal
        self.level = [0, 0]
        self.busy = [False, False]
        self.timer = [None, None]   # when a busy line is looked at again, or a burst is over
        self.burst = [None, None]   # a burst's first and last edge, while it lasts
        self.run_start = [0, 0]
        self.last_edge = [None, None]
        self.history = [deque(maxlen=2 * BUSY_EDGES), deque(maxlen=2 * BUSY_EDGES)]
        self.window_start = [0, 0]
        self.window_edges = [0, 0]
        self.changed = []
        self.pulses = []
        self.write_start = self.write_end = None
        self.first_boundary = None
        self.runs = 0
        self.replay = deque()  # edges taken from libsigrokdecode, not yet followed
        self.journal = None    # edges followed while the steps are being placed
        pins = self.wait({'skip': 0})
        self.level = [pins[GPIO33], pins[GPIO80]]
        self.now = self.search_start = self.samplenum
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
            self.step_len = self.step_fit = self.step_nominal
            if not self.write_phase(self.now, before):
                continue
            if self.options['read_back'] == 'yes':
                self.read_phase()
            # A board that starts again (a reset) is another run.
            self.runs += 1
            self.write_start = self.write_end = None
            self.first_boundary = None
            self.search_start = self.now
