#!/usr/bin/env python3
"""Sigrok sessions made to hurt a reader that trusts them, for the fuzz
seeds and scripts/measure_session_load.sh.

  make_hostile_session.py formfeed OUT [CHANNELS]
      metadata that says `total probes=2`, then on a line starting with a
      form feed `total probes=CHANNELS` (default 1000000), which GLib's
      key-file parser, and so libsigrok, takes as the last word.
  make_hostile_session.py overlap OUT COPIES BYTES [RATE]
      one deflated member of BYTES zero bytes listed COPIES times in the
      central directory as logic-1-1 ... logic-1-COPIES, at RATE
      (default "1 GHz"): a zip bomb of COPIES * BYTES samples.
  make_hostile_session.py sound OUT SECONDS RATE_HZ
      a whole run's worth of a line toggling every 500 ms, as a sound
      session to time against (one byte a sample).
"""
import struct
import sys
import zipfile

NAMED = "probe1=GPIO33\nprobe2=GPIO80\nunitsize=1\n"


def metadata(device):
    return "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n" + device


def write_members(out, meta, chunks):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("version", "2")
        z.writestr("metadata", meta)
        for name, chunk_source in chunks:
            with z.open(name, "w", force_zip64=True) as member:
                for block in chunk_source:
                    member.write(block)


def zeros(size, block=1 << 24):
    while size > 0:
        yield bytes(min(block, size))
        size -= block


def list_last_member_again(out, copies):
    """Adds central-directory entries logic-1-2 .. logic-1-COPIES that all
    point at the last member's local header and bytes."""
    data = open(out, "rb").read()
    end = data.rfind(b"PK\x05\x06")
    count, size, offset = struct.unpack("<HII", data[end + 10:end + 20])
    directory = data[offset:offset + size]
    entries, at = [], 0
    while at < len(directory):
        name_len, extra_len, comment_len = struct.unpack("<HHH", directory[at + 28:at + 34])
        entries.append(directory[at:at + 46 + name_len + extra_len + comment_len])
        at += 46 + name_len + extra_len + comment_len
    last = entries[-1]
    name_len = struct.unpack("<H", last[28:30])[0]
    for k in range(2, copies + 1):
        name = b"logic-1-%d" % k
        entries.append(last[:28] + struct.pack("<H", len(name)) + last[30:46] + name + last[46 + name_len:])
    new_directory = b"".join(entries)
    tail = data[end:end + 8] + struct.pack("<HHII", len(entries), len(entries), len(new_directory), offset)
    open(out, "wb").write(data[:offset] + new_directory + tail + data[end + 20:end + 22])


def main(argv):
    kind, out = argv[1], argv[2]
    if kind == "formfeed":
        channels = int(argv[3]) if len(argv) > 3 else 1000000
        meta = metadata("total probes=2\n\x0ctotal probes=%d\nsamplerate=1 MHz\n%s" % (channels, NAMED))
        write_members(out, meta, [("logic-1-1", [bytes(64)])])
    elif kind == "overlap":
        copies, size = int(argv[3]), int(argv[4])
        rate = argv[5] if len(argv) > 5 else "1 GHz"
        write_members(out, metadata("total probes=2\nsamplerate=%s\n%s" % (rate, NAMED)),
                      [("logic-1-1", zeros(size))])
        list_last_member_again(out, copies)
    elif kind == "sound":
        seconds, rate = float(argv[3]), int(argv[4])
        half = rate // 2  # samples in 500 ms
        total = int(seconds * rate)

        def toggling():
            level, done = 0, 0
            while done < total:
                n = min(half, total - done)
                for block in zeros(n):
                    yield bytes([level]) * len(block) if level else block
                done += n
                level ^= 3
        meta = metadata("total probes=2\nsamplerate=%d MHz\n%s" % (rate // 1000000, NAMED)) \
            if rate % 1000000 == 0 else metadata("total probes=2\nsamplerate=%d Hz\n%s" % (rate, NAMED))
        write_members(out, meta, [("logic-1-1", toggling())])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
