#!/usr/bin/env python3
"""Small edits of pxa-gpio-sim's VCD (times in its microseconds), for the
boards it does not make: a clock off either way, a capture started late,
pulses and bursts on a line, a board that starts again.

Usage: edit_vcd.py IN.vcd OUT.vcd EDIT...
  scale:FACTOR            every time times FACTOR (0.9: a clock 10 % fast)
  delay:US                everything after the start US later
  start:US                the capture starts at US: what came before is gone
  toggle:LINE:US:GAP:N    N changes of LINE (GPIO33 or GPIO80) from US, GAP apart
  stretch:US:BY           everything after US, BY later (one late step)
  restart:US:GAP:OTHER    at US the board resets (its lines as at power-up);
                          OTHER's run starts GAP after it
"""
import sys


def parse(path):
    header, initial, changes = [], {}, []
    ids = {}
    with open(path) as f:
        lines = f.read().splitlines()
    i = 0
    while not lines[i].startswith('$enddefinitions'):
        words = lines[i].split()
        if words[0] == '$var':
            ids[words[4]] = words[3]
        header.append(lines[i])
        i += 1
    header.append(lines[i])
    now = 0
    for line in lines[i + 1:]:
        if line.startswith('#'):
            now = int(line[1:])
        elif line and line[0] in '01xzXZ' and len(line) > 1:
            if now == 0 and line[1:] not in initial:
                initial[line[1:]] = line[0]
            else:
                changes.append((now, line[1:], line[0]))
    return header, ids, initial, changes, now


def write(path, header, initial, changes, end):
    out = list(header)
    out += ['#0', '$dumpvars'] + ['%s%s' % (v, k) for k, v in initial.items()] + ['$end']
    last = 0
    for when, key, value in sorted(changes, key=lambda c: c[0]):
        if when != last:
            out.append('#%d' % when)
            last = when
        out.append(value + key)
    if end > last:
        out.append('#%d' % end)
    with open(path, 'w') as f:
        f.write('\n'.join(out) + '\n')


def main():
    header, ids, initial, changes, end = parse(sys.argv[1])
    for edit in sys.argv[3:]:
        name, *args = edit.split(':')
        if name == 'scale':
            factor = float(args[0])
            changes = [(int(w * factor + 0.5), k, v) for w, k, v in changes]
            end = int(end * factor + 0.5)
        elif name == 'delay':
            changes = [(w + int(args[0]), k, v) for w, k, v in changes]
            end += int(args[0])
        elif name == 'stretch':
            at, by = int(args[0]), int(args[1])
            changes = [(w + by if w > at else w, k, v) for w, k, v in changes]
            end += by
        elif name == 'start':
            at = int(args[0])
            state = dict(initial)
            for w, k, v in changes:
                if w <= at:
                    state[k] = v
            initial = state
            changes = [(w - at, k, v) for w, k, v in changes if w > at]
            end -= at
        elif name == 'toggle':
            key, at, gap, count = ids[args[0]], int(args[1]), int(args[2]), int(args[3])
            level = initial[key]
            for w, k, v in changes:
                if k == key and w <= at:
                    level = v
            for n in range(count):
                level = '1' if level == '0' else '0'
                changes.append((at + n * gap, key, level))
        elif name == 'restart':
            at, gap = int(args[0]), int(args[1])
            _, _, other_initial, other_changes, other_end = parse(args[2])
            changes = [c for c in changes if c[0] < at]
            changes += [(at, k, v) for k, v in other_initial.items()]
            changes += [(w + at + gap, k, v) for w, k, v in other_changes]
            end = other_end + at + gap
        else:
            sys.exit('unknown edit ' + edit)
    write(sys.argv[2], header, initial, changes, end)


if __name__ == '__main__':
    main()
