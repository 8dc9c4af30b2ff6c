#!/usr/bin/env python3
"""Writes the Windows CE executable (PE32, ARM) from the program's linked ELF.

    elf2pe.py PROGRAM.elf PROGRAM.exe

The ELF comes from gcc-arm-none-eabi linked at the image base with
--emit-relocs (platform/wince/pe_image.ld). Each allocated ELF section
becomes a page-aligned PE section; every R_ARM_ABS32 becomes a HIGHLOW base
relocation; the __imp_<name> slots become the import address table of
COREDLL.dll, imported by name. Whatever cannot be represented, and any ELF
that cannot be read whole, is refused with a message and exit status 1, and
no output file is left (an earlier executable of that name is removed). An
output that is not a regular file, or that is an ELF file (the arguments
swapped), is refused and left as it is.
"""
import os
import signal
import stat
import struct
import sys
import tempfile

IMAGE_BASE = 0x10000
SECTION_ALIGNMENT = 0x1000
FILE_ALIGNMENT = 0x200
MACHINE_ARM = 0x01C0
SUBSYSTEM_WINDOWS_CE_GUI = 9
# The version CE's loader compares with its own: the program needs CE 4.0.
OS_VERSION = SUBSYSTEM_VERSION = (4, 0)
DLL_NAME = b"COREDLL.dll"
# The calls COREDLL exports that this program may bind to.
COREDLL_EXPORTS = {"VirtualAlloc", "VirtualCopy", "VirtualFree", "Sleep", "NKDbgPrintfW",
                   "LocalAlloc", "LocalFree", "ExitThread"}
IAT_PREFIX = "__imp_"
# A CE 4.0 process has a 32 MiB slot; an image larger than that cannot run,
# and is refused before any memory is taken for it.
LARGEST_IMAGE = 32 << 20
ELF_SECTION_HEADER_SIZE = 40

SHF_WRITE, SHF_ALLOC, SHF_EXECINSTR = 0x1, 0x2, 0x4
SHT_SYMTAB, SHT_RELA, SHT_NOBITS, SHT_REL = 2, 4, 8, 9
R_ARM_NONE, R_ARM_ABS32 = 0, 2
# Marks a BX instruction (libgcc's, for ARMv4 linkers to rewrite): relocates nothing.
R_ARM_V4BX = 40
# Relative to the place: they hold wherever the image is loaded.
PC_RELATIVE = {1: "R_ARM_PC24", 3: "R_ARM_REL32", 28: "R_ARM_CALL", 29: "R_ARM_JUMP24",
               42: "R_ARM_PREL31"}
STATIC_CONSTRUCTORS = (".init_array", ".preinit_array", ".ctors", ".fini_array", ".dtors")

SCN_CODE, SCN_DATA, SCN_BSS = 0x20, 0x40, 0x80
SCN_DISCARDABLE, SCN_EXECUTE, SCN_READ, SCN_WRITE = 0x02000000, 0x20000000, 0x40000000, 0x80000000


class Refused(Exception):
    pass


def align(value, to):
    return (value + to - 1) // to * to


def read_elf(data):
    if len(data) < 52 or data[:4] != b"\x7fELF" or data[4] != 1 or data[5] != 1:
        raise Refused("not a 32-bit little-endian ELF file")
    (e_type, e_machine, _, e_entry, _, e_shoff, _, _, _, _, e_shentsize, e_shnum,
     e_shstrndx) = struct.unpack_from("<HHIIIIIHHHHHH", data, 16)
    if e_type != 2 or e_machine != 40:
        raise Refused("not an ARM executable (ELF type %d, machine %d)" % (e_type, e_machine))
    if e_shentsize != ELF_SECTION_HEADER_SIZE:
        raise Refused("section header size %d is not %d" % (e_shentsize, ELF_SECTION_HEADER_SIZE))
    if e_shoff + e_shnum * e_shentsize > len(data):
        raise Refused("section headers run past the end of the file")
    if e_shstrndx >= e_shnum:
        raise Refused("section name table %d does not exist" % e_shstrndx)
    view = memoryview(data)  # sections' data as views of the file: nothing is copied
    sections = []
    for i in range(e_shnum):
        fields = struct.unpack_from("<IIIIIIIIII", data, e_shoff + i * e_shentsize)
        sections.append(dict(zip(("name", "type", "flags", "addr", "offset", "size", "link",
                                  "info", "addralign", "entsize"), fields)))
    names = sections[e_shstrndx]
    for i, s in enumerate(sections):
        s["name"] = cstring(data, names["offset"] + s["name"])
        if s["type"] == SHT_NOBITS:
            s["data"] = b""
        elif s["offset"] + s["size"] > len(data):
            raise Refused("section %d (%s) runs past the end of the file" % (i, s["name"]))
        else:
            s["data"] = view[s["offset"]:s["offset"] + s["size"]]
    return e_entry, sections


def cstring(data, at):
    end = data.find(b"\0", at)
    if at >= len(data) or end < 0:
        raise Refused("a name at file offset 0x%x runs past the end of the file" % at)
    return bytes(data[at:end]).decode("ascii", "replace")


def symbols(sections):
    table = next((s for s in sections if s["type"] == SHT_SYMTAB), None)
    if table is None:
        raise Refused("no symbol table: link without stripping")
    if table["link"] >= len(sections):
        raise Refused("the symbol table's names are in section %d, which does not exist"
                      % table["link"])
    strings = bytes(sections[table["link"]]["data"])
    result = []
    for at in range(0, len(table["data"]), 16):
        name, value, _, info, _, shndx = struct.unpack_from("<IIIBBH", table["data"], at)
        result.append((cstring(strings, name), value, info >> 4, shndx))
    return result


def convert(data):
    entry, sections = read_elf(data)
    if entry & 1:
        # CE's loader branches to the entry in ARM state.
        raise Refused("the entry 0x%x is odd: Thumb code, which CE's loader does not start"
                      % entry)
    syms = symbols(sections)
    for s in sections:
        if s["name"] in STATIC_CONSTRUCTORS and s["size"]:
            raise Refused("%s is not empty: the image has static constructors or destructors, "
                          "which nothing on CE would run" % s["name"])
    for name, _, binding, shndx in syms:
        if shndx == 0 and name and binding != 0:
            raise Refused("undefined symbol %s cannot be bound to COREDLL" % name)

    # The image: allocated sections in address order, each on pages of its own.
    loaded = sorted((s for s in sections if s["flags"] & SHF_ALLOC and s["size"]),
                    key=lambda s: s["addr"])
    end = IMAGE_BASE + SECTION_ALIGNMENT  # the headers' page
    for s in loaded:
        if s["addr"] % SECTION_ALIGNMENT:
            raise Refused("section %s at 0x%x does not start on a page" % (s["name"], s["addr"]))
        if s["addr"] < end:
            raise Refused("section %s at 0x%x overlaps the headers or the section before it"
                          % (s["name"], s["addr"]))
        end = align(s["addr"] + s["size"], SECTION_ALIGNMENT)
        # Checked before the image is allocated: a damaged size must not take the memory.
        if end - IMAGE_BASE > LARGEST_IMAGE:
            raise Refused("section %s ends at 0x%x: the image would be larger than the %d MiB "
                          "of a CE process" % (s["name"], end, LARGEST_IMAGE >> 20))
    image = bytearray(end - IMAGE_BASE)
    for s in loaded:
        image[s["addr"] - IMAGE_BASE:s["addr"] - IMAGE_BASE + len(s["data"])] = s["data"]

    def inside(address):
        return any(s["addr"] <= address < s["addr"] + s["size"] for s in loaded)

    # Base relocations: every absolute address the linker wrote into the image.
    fixups = set()
    for rel in sections:
        if rel["type"] not in (SHT_REL, SHT_RELA):
            continue
        if rel["info"] >= len(sections):
            raise Refused("relocations in %s apply to section %d, which does not exist"
                          % (rel["name"], rel["info"]))
        target = sections[rel["info"]]
        if not target["flags"] & SHF_ALLOC:
            continue
        if rel["type"] == SHT_RELA:
            raise Refused("RELA relocations in %s are not ARM's" % rel["name"])
        for at in range(0, len(rel["data"]) - len(rel["data"]) % 8, 8):
            offset, info = struct.unpack_from("<II", rel["data"], at)
            kind, sym = info & 0xFF, info >> 8
            if kind in PC_RELATIVE or kind in (R_ARM_NONE, R_ARM_V4BX):
                continue
            if kind != R_ARM_ABS32:
                raise Refused("relocation type %d at 0x%x in %s cannot be represented in PE"
                              % (kind, offset, target["name"]))
            if sym >= len(syms):
                raise Refused("relocation at 0x%x names symbol %d; the table has %d"
                              % (offset, sym, len(syms)))
            if not inside(offset) or not inside(offset + 3):
                raise Refused("relocation at 0x%x is outside the image" % offset)
            if syms[sym][3] == 0xFFF1:  # against an absolute value: not an image address
                continue
            value = struct.unpack_from("<I", image, offset - IMAGE_BASE)[0]
            if not IMAGE_BASE <= value <= IMAGE_BASE + len(image):
                raise Refused("the word at 0x%x holds 0x%x, outside the image" % (offset, value))
            if offset - IMAGE_BASE in fixups:
                # Two HIGHLOW entries for one word: a loader would add the delta twice.
                raise Refused("two relocations of the word at 0x%x" % offset)
            fixups.add(offset - IMAGE_BASE)

    # The import address table: the __imp_ slots, contiguous, null-terminated.
    slots = sorted((value, name[len(IAT_PREFIX):]) for name, value, _, shndx in syms
                   if name.startswith(IAT_PREFIX) and shndx != 0)
    for _, name in slots:
        if name not in COREDLL_EXPORTS:
            raise Refused("%s is not a COREDLL call this program may import" % name)
    if slots:
        iat = slots[0][0]
        for i, (address, name) in enumerate(slots):
            if address != iat + 4 * i:
                raise Refused("import slot of %s is not next to the one before it" % name)
        terminator = iat + 4 * len(slots)
        if not inside(terminator) or struct.unpack_from("<I", image, terminator - IMAGE_BASE)[0]:
            raise Refused("the import address table does not end with a null slot")

    # New sections after the linked ones: the import directory, then the relocations.
    idata_rva = len(image)
    idata = bytearray(40 * 2 + 4 * (len(slots) + 1))  # two descriptors, the lookup table
    for i, (address, name) in enumerate(slots):
        entry_rva = idata_rva + len(idata)
        idata += struct.pack("<H", 0) + name.encode() + b"\0"
        idata += b"\0" * (len(idata) % 2)
        struct.pack_into("<I", idata, 80 + 4 * i, entry_rva)  # lookup table
        struct.pack_into("<I", image, address - IMAGE_BASE, entry_rva)  # address table
    if slots:
        struct.pack_into("<IIIII", idata, 0, idata_rva + 80, 0, 0, idata_rva + len(idata),
                         slots[0][0] - IMAGE_BASE)
        idata += DLL_NAME + b"\0"
    else:
        idata = bytearray()
    reloc_rva = align(idata_rva + len(idata), SECTION_ALIGNMENT)
    reloc = bytearray()
    pages = {}  # the fixups grouped by page once, in address order
    for f in sorted(fixups):
        pages.setdefault(f & ~0xFFF, []).append(0x3000 | (f & 0xFFF))
    for page, entries in pages.items():
        entries += [0] * (len(entries) % 2)  # blocks end on 4 bytes
        reloc += struct.pack("<II", page, 8 + 2 * len(entries))
        reloc += struct.pack("<%dH" % len(entries), *entries)
    size_of_image = align(reloc_rva + max(len(reloc), 1), SECTION_ALIGNMENT)

    # Section table and file layout.
    table = [(s["name"], s["addr"] - IMAGE_BASE, s["size"],
              bytes(image[s["addr"] - IMAGE_BASE:s["addr"] - IMAGE_BASE + len(s["data"])]),
              section_flags(s)) for s in loaded]
    table.append((".idata", idata_rva, len(idata), bytes(idata), SCN_DATA | SCN_READ))
    table.append((".reloc", reloc_rva, len(reloc), bytes(reloc),
                  SCN_DATA | SCN_READ | SCN_DISCARDABLE))
    table = [t for t in table if t[2]]
    headers_size = align(64 + 4 + 20 + 224 + 40 * len(table), FILE_ALIGNMENT)
    out = bytearray(headers_size)
    section_headers = b""
    for name, rva, vsize, raw, flags in table:
        raw_size = align(len(raw), FILE_ALIGNMENT)
        pointer = len(out) if raw else 0
        out += raw + b"\0" * (raw_size - len(raw))
        section_headers += struct.pack("<8sIIIIIIHHI", name.encode()[:8], vsize, rva, raw_size,
                                       pointer, 0, 0, 0, 0, flags)

    code = [t for t in table if t[4] & SCN_CODE]
    if not any(rva <= entry - IMAGE_BASE < rva + vsize for _, rva, vsize, _, _ in code):
        raise Refused("the entry 0x%x is not in a code section" % entry)
    data_rvas = [t[1] for t in table if not t[4] & SCN_CODE]
    sizes = [sum(align(len(t[3]), FILE_ALIGNMENT) for t in table if t[4] & SCN_CODE),
             sum(align(len(t[3]), FILE_ALIGNMENT) for t in table if t[4] & SCN_DATA),
             sum(t[2] for t in table if t[4] & SCN_BSS)]
    directories = [(0, 0)] * 16
    if slots:
        directories[1] = (idata_rva, 40 * 2)
        directories[12] = (slots[0][0] - IMAGE_BASE, 4 * (len(slots) + 1))
    directories[5] = (reloc_rva, len(reloc))
    optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 2, 40, *sizes,
                           entry - IMAGE_BASE, code[0][1], data_rvas[0] if data_rvas else 0,
                           IMAGE_BASE, SECTION_ALIGNMENT, FILE_ALIGNMENT, *OS_VERSION, 0, 0,
                           *SUBSYSTEM_VERSION, 0, size_of_image, headers_size, 0,
                           SUBSYSTEM_WINDOWS_CE_GUI, 0, 0x10000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += b"".join(struct.pack("<II", *d) for d in directories)
    # Executable, line numbers and local symbols stripped, 32-bit; relocations kept.
    file_header = struct.pack("<HHIIIHH", MACHINE_ARM, len(table), 0, 0, 0, len(optional), 0x010E)
    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 60, 64)
    headers = bytes(dos) + b"PE\0\0" + file_header + optional + section_headers
    out[0:len(headers)] = headers
    return bytes(out)


def section_flags(s):
    if s["type"] == SHT_NOBITS:
        return SCN_BSS | SCN_READ | SCN_WRITE
    if s["flags"] & SHF_EXECINSTR:
        return SCN_CODE | SCN_EXECUTE | SCN_READ
    return SCN_DATA | SCN_READ | (SCN_WRITE if s["flags"] & SHF_WRITE else 0)


def main(argv):
    if len(argv) != 3:
        print("usage: elf2pe.py PROGRAM.elf PROGRAM.exe", file=sys.stderr)
        return 2
    source, output = argv[1], argv[2]
    # Ended by a signal, the temporary goes as on any other way out.
    for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        if signal.getsignal(number) != signal.SIG_IGN:
            signal.signal(number, lambda number, _: sys.exit(128 + number))
    temporary = None
    try:
        check_output(source, output)
        with open(source, "rb") as f:
            pe = convert(f.read())
        # Beside the output, under a name no one else has, then renamed over it.
        handle, temporary = tempfile.mkstemp(dir=os.path.dirname(output) or ".",
                                             prefix="." + os.path.basename(output) + ".")
        with os.fdopen(handle, "wb") as f:
            f.write(pe)
            os.fchmod(f.fileno(), new_file_mode(output))
        os.replace(temporary, output)
        temporary = None
    except (Refused, OSError, MemoryError) as error:
        return refuse(source, output, error)
    except (struct.error, LookupError, ValueError, OverflowError) as error:
        # A field that points past what the file holds, read before a check caught it.
        return refuse(source, output, "damaged ELF file (%s: %s)" % (type(error).__name__, error))
    finally:
        if temporary is not None and os.path.lexists(temporary):
            os.remove(temporary)
    return 0


def check_output(source, output):
    """Refuses an output that is not a regular file, or that holds an ELF
    (the arguments swapped): neither is replaced nor removed."""
    try:
        status = os.lstat(output)
    except FileNotFoundError:
        return
    if stat.S_ISDIR(status.st_mode):
        raise Refused("the output %s is a directory" % output)
    if stat.S_ISLNK(status.st_mode):
        raise Refused("the output %s is a symbolic link: give the file itself" % output)
    if not stat.S_ISREG(status.st_mode):
        raise Refused("the output %s is not a regular file (a device, pipe or socket)" % output)
    if os.path.exists(source) and os.path.samefile(source, output):
        raise Refused("the output %s is the input itself" % output)
    with open(output, "rb") as f:
        if f.read(4) == b"\x7fELF":
            raise Refused("the output %s is an ELF file: the arguments are PROGRAM.elf PROGRAM.exe"
                          % output)


def new_file_mode(output):
    """An executable replaced keeps its permissions; a new one gets the usual ones."""
    try:
        return os.stat(output).st_mode & 0o7777
    except FileNotFoundError:
        mask = os.umask(0)
        os.umask(mask)
        return 0o666 & ~mask


def refuse(source, output, error):
    print("elf2pe: %s: %s" % (source, error), file=sys.stderr)
    # No stale executable left to be taken for this one; only a regular file
    # that is one (as this writes them) is removed, nothing else.
    try:
        status = os.lstat(output)
        if stat.S_ISREG(status.st_mode):
            with open(output, "rb") as f:
                if f.read(2) == b"MZ":
                    os.remove(output)
    except OSError:
        pass
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
