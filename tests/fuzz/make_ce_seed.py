#!/usr/bin/env python3
"""A small sound Windows CE ARM executable, a seed for the CE process's reader's fuzz target:
one code section with an address in it, imports of two COREDLL calls by
name, and one HIGHLOW base relocation. Usage: make_ce_seed.py FILE"""
import struct
import sys

f = bytearray(0x800)
f[0:2] = b"MZ"
struct.pack_into("<I", f, 0x3C, 0x40)
f[0x40:0x44] = b"PE\0\0"
struct.pack_into("<HHIIIHH", f, 0x44, 0x01C0, 3, 0, 0, 0, 224, 0x0102)
opt = 0x58
struct.pack_into("<H", f, opt, 0x10B)
struct.pack_into("<I", f, opt + 16, 0x1000)   # entry
struct.pack_into("<III", f, opt + 28, 0x10000, 0x1000, 0x200)
struct.pack_into("<II", f, opt + 56, 0x4000, 0x200)
struct.pack_into("<H", f, opt + 68, 9)
struct.pack_into("<I", f, opt + 92, 16)
struct.pack_into("<II", f, opt + 96 + 8, 0x2000, 40)   # imports
struct.pack_into("<II", f, opt + 96 + 40, 0x3000, 12)  # base relocations
for i, (name, rva, raw, flags) in enumerate([(b".text", 0x1000, 0x200, 0x60000020),
                                              (b".idata", 0x2000, 0x400, 0xC0000040),
                                              (b".reloc", 0x3000, 0x600, 0x42000040)]):
    struct.pack_into("<8sIIII12xI", f, opt + 224 + 40 * i, name, 0x100, rva, 0x200, raw, flags)
struct.pack_into("<I", f, 0x204, 0x12040)
struct.pack_into("<IIIII", f, 0x400, 0x2040, 0, 0, 0x2080, 0x2060)
for table in (0x440, 0x460):
    struct.pack_into("<II", f, table, 0x20A0, 0x20B0)
f[0x480:0x48B] = b"COREDLL.dll"
f[0x4A2:0x4A7] = b"Sleep"
f[0x4B2:0x4BD] = b"VirtualCopy"
struct.pack_into("<IIH", f, 0x600, 0x1000, 12, 0x3004)
with open(sys.argv[1], "wb") as out:
    out.write(f)
