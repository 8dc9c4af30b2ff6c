#!/usr/bin/env python3
"""The Windows CE executable read by readers that share no code with elf2pe.

    check_pe_image.py pefile|llvm-readobj|file PROGRAM.exe PROGRAM.elf READELF

pefile (Debian's python3-pefile, so run by /usr/bin/python3) reads the
headers, sections, imports and base relocations and checks each relocated
word; llvm-readobj must read the same; file(1) must call it a CE ARM
executable. The ELF, read by binutils' readelf, says which words the linker
wrote absolute addresses into and where the entry is.

Exits 77 (skipped) when the reader is missing, 1 when GPIO_REQUIRE_WINCE_CHECK=1.
"""
import os
import re
import shutil
import struct
import subprocess
import sys

COREDLL_CALLS = {"VirtualAlloc", "VirtualCopy", "VirtualFree", "Sleep", "NKDbgPrintfW",
                 "LocalAlloc", "LocalFree", "ExitThread"}
IMAGE_BASE = 0x10000
# Each section in order, with its characteristics: code execute+read, read-only
# data, read-write data, the import directory, the discardable relocations.
SECTION_KINDS = {".text": 0x60000020, ".rdata": 0x40000040, ".data": 0xC0000040,
                 ".idata": 0x40000040, ".reloc": 0x42000040}
TRACE_TEXT = "+TolvarGPIOTest\r\n"

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def missing(what, package):
    message = "%s not found (Debian: apt-get install %s)" % (what, package)
    if os.environ.get("GPIO_REQUIRE_WINCE_CHECK") == "1":
        print("FAIL: " + message)
        sys.exit(1)
    print("SKIPPED: " + message)
    sys.exit(77)


def linker_view(elf, readelf):
    """The ELF's absolute relocations in loaded sections, and its entry."""
    relocs = subprocess.run([readelf, "--relocs", "--wide", elf], check=True,
                            capture_output=True, text=True).stdout
    absolute, section = set(), None
    for line in relocs.splitlines():
        heading = re.match(r"Relocation section '\.rel(\.\S+)'", line)
        if heading:
            section = heading.group(1)
            continue
        fields = line.split()
        if (section and not section.startswith((".debug", ".ARM.")) and len(fields) >= 3
                and fields[2] == "R_ARM_ABS32"):
            absolute.add(int(fields[0], 16) - IMAGE_BASE)
    header = subprocess.run([readelf, "--file-header", elf], check=True, capture_output=True,
                            text=True).stdout
    entry = int(re.search(r"Entry point address:\s+0x([0-9a-f]+)", header).group(1), 16)
    return absolute, entry - IMAGE_BASE


def layout_faults(pe):
    """What a loader reading the tables by the PE format's rules would trip
    on, though pefile itself reads past it: relocation blocks that do not
    end on 4 bytes (a block with an odd number of fixups needs a padding
    entry), hint/name entries not on 2 bytes, and an import address table
    directory that does not cover the table's null slot."""
    faults = []
    reloc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[5]
    at, end = reloc.VirtualAddress, reloc.VirtualAddress + reloc.Size
    while at + 8 <= end:
        page, size = struct.unpack("<II", pe.get_data(at, 8))
        if size < 8 or size % 4:
            faults.append("relocation block of page 0x%x is %d bytes, not a multiple of 4" % (page, size))
            break
        at += size
    for library in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        for imp in library.imports:
            if imp.hint_name_table_rva is not None and imp.hint_name_table_rva % 2:
                faults.append("hint/name entry of %s at odd address 0x%x"
                              % (imp.name.decode(), imp.hint_name_table_rva))
    iat = pe.OPTIONAL_HEADER.DATA_DIRECTORY[12]
    slots = sum(len(library.imports) for library in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    if slots and iat.Size != 4 * (slots + 1):
        faults.append("import address table directory is %d bytes; %d slots and the null one take %d"
                      % (iat.Size, slots, 4 * (slots + 1)))
    elif slots and struct.unpack("<I", pe.get_data(iat.VirtualAddress + 4 * slots, 4))[0] != 0:
        faults.append("import address table does not end with a null slot")
    return faults


def check_with_pefile(exe, elf, readelf):
    try:
        import pefile
    except ImportError:
        missing("python3 module pefile for %s" % sys.executable, "python3-pefile")
    pe = pefile.PE(exe)
    absolute, entry = linker_view(elf, readelf)
    check(pe.FILE_HEADER.Machine == 0x01C0, "machine 0x%x, not ARM (0x1c0)" % pe.FILE_HEADER.Machine)
    opt = pe.OPTIONAL_HEADER
    check(opt.Magic == 0x10B, "not PE32")
    check(opt.Subsystem == 9, "subsystem %d, not Windows CE GUI (9)" % opt.Subsystem)
    check((opt.MajorOperatingSystemVersion, opt.MinorOperatingSystemVersion) == (4, 0),
          "operating system version is not 4.0")
    check((opt.MajorSubsystemVersion, opt.MinorSubsystemVersion) == (4, 0),
          "subsystem version is not 4.0")
    check(opt.ImageBase == IMAGE_BASE, "image base 0x%x" % opt.ImageBase)
    check((opt.SectionAlignment, opt.FileAlignment) == (0x1000, 0x200), "alignments")
    check(opt.AddressOfEntryPoint == entry, "entry 0x%x, the ELF's is 0x%x"
          % (opt.AddressOfEntryPoint, entry))

    # Sections: the expected ones, page-aligned, apart, inside the image, with their rights.
    names = [s.Name.rstrip(b"\0").decode() for s in pe.sections]
    check(names == list(SECTION_KINDS), "sections %s" % names)
    end = opt.SizeOfHeaders
    for s, name in zip(pe.sections, names):
        check(s.Characteristics == SECTION_KINDS.get(name), "%s flags 0x%x" % (name, s.Characteristics))
        check(s.VirtualAddress % 0x1000 == 0 and s.VirtualAddress >= end, "%s placement" % name)
        check(s.PointerToRawData % 0x200 == 0, "%s file offset" % name)
        end = s.VirtualAddress + s.Misc_VirtualSize
    check(end <= opt.SizeOfImage, "sections run past SizeOfImage")
    entry_section = pe.get_section_by_rva(opt.AddressOfEntryPoint)
    check(entry_section is not None and entry_section.Characteristics & 0x20000000,
          "entry not in executable code")

    # Imports: COREDLL.dll only, by name, exactly the calls the program makes.
    imports = getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    check([i.dll for i in imports] == [b"COREDLL.dll"], "imported modules %s" % [i.dll for i in imports])
    names = [imp.name.decode() if imp.name else "ordinal %s" % imp.ordinal
             for i in imports for imp in i.imports]
    check(sorted(names) == sorted(COREDLL_CALLS), "imported calls %s" % sorted(names))

    # Base relocations: exactly the linker's absolute words, each holding an image address.
    image = pe.get_memory_mapped_image()
    fixups = []
    for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
        for r in block.entries:
            if r.type == 0:  # padding
                continue
            check(r.type == 3, "relocation type %d at 0x%x, not HIGHLOW" % (r.type, r.rva))
            fixups.append(r.rva)
            value = struct.unpack_from("<I", image, r.rva)[0]
            check(IMAGE_BASE <= value < IMAGE_BASE + opt.SizeOfImage,
                  "relocated word at 0x%x holds 0x%x, outside the image" % (r.rva, value))
    check(absolute and set(fixups) == absolute and len(fixups) == len(absolute),
          "%d base relocations, the linker wrote %d absolute addresses; missing %s"
          % (len(fixups), len(absolute), sorted(hex(a) for a in absolute - set(fixups))[:5]))

    for fault in layout_faults(pe):
        check(False, fault)

    # The trace text is CE's: UTF-16.
    check(TRACE_TEXT.encode("utf-16-le") in image, "no UTF-16 trace text in the image")
    return "%d sections, %d imports, %d base relocations" % (len(pe.sections), len(names), len(fixups))


def check_with_llvm_readobj(exe, elf, readelf):
    tool = shutil.which("llvm-readobj")
    if not tool:
        missing("llvm-readobj", "llvm")
    out = subprocess.run([tool, "--file-headers", "--coff-imports", "--coff-basereloc",
                          "--sections", exe], check=True, capture_output=True, text=True).stdout
    for expected in (r"Machine: IMAGE_FILE_MACHINE_ARM \(0x1C0\)",
                     r"Subsystem: IMAGE_SUBSYSTEM_WINDOWS_CE_GUI \(0x9\)",
                     r"MajorOperatingSystemVersion: 4\n\s*MinorOperatingSystemVersion: 0",
                     r"MajorSubsystemVersion: 4\n\s*MinorSubsystemVersion: 0",
                     r"ImageBase: 0x10000\n"):
        check(re.search(expected, out), "llvm-readobj shows no %s" % expected)
    sections = re.findall(r"Name: (\S+) \(.*\)\n(?:.*\n)*?\s*Characteristics \[ \((0x[0-9A-F]+)\)", out)
    check({n: int(f, 16) for n, f in sections} == SECTION_KINDS, "sections %s" % sections)
    check(re.findall(r"^\s*Name: (\S+)$", out, re.M) == ["COREDLL.dll"], "imported modules")
    calls = re.findall(r"Symbol: (\S+) \(", out)
    check(sorted(calls) == sorted(COREDLL_CALLS), "imported calls %s" % sorted(calls))
    fixups = re.findall(r"Type: (\S+)\n\s*Address: 0x([0-9A-F]+)", out)
    absolute, _ = linker_view(elf, readelf)
    check({int(a, 16) for t, a in fixups if t == "HIGHLOW"} == absolute,
          "base relocations differ from the linker's absolute words")
    check(all(t in ("HIGHLOW", "ABSOLUTE") for t, _ in fixups), "relocation types %s"
          % sorted({t for t, _ in fixups}))
    return "%d sections, %d imports, %d base relocations" % (len(sections), len(calls), len(fixups))


def check_with_file(exe, elf, readelf):
    tool = shutil.which("file")
    if not tool:
        missing("file", "file")
    for words, wrong in FILE_PHRASINGS:
        check(bool(file_misreads(words)) == wrong, "file_misreads misjudges: %s" % words)
    out = subprocess.run([tool, "-b", exe], check=True, capture_output=True, text=True).stdout.strip()
    check(not file_misreads(out), "file says: %s (%s)" % (out, file_misreads(out)))
    return out


# file(1)'s words for this .exe and for near misses, and whether each is wrong.
FILE_PHRASINGS = [
    ("PE32 executable (Windows CE) ARM, for MS Windows, 5 sections", False),  # file 5.44
    ("PE32 executable for MS Windows CE 4.00 (EXE), ARMv4, 5 sections", False),  # file 5.46
    ("PE32 executable (Windows CE) ARM Thumb, for MS Windows, 5 sections", True),
    ("PE32 executable for MS Windows CE 4.00 (EXE), ARMv4T, 5 sections", True),
    ("PE32+ executable (Windows CE) ARM64, for MS Windows, 5 sections", True),
    ("PE32+ executable (Windows CE) ARM, for MS Windows, 5 sections", True),
    ("PE32 executable for MS Windows CE 4.00 (DLL), ARMv4, 5 sections", True),
    ("PE32 executable for MS Windows CE 5.00 (EXE), ARMv4, 5 sections", True),
    ("PE32 executable (GUI) Intel 80386, for MS Windows, 5 sections", True),
    ("PE32 executable (Windows CE) ARM, for MS Windows, 4 sections", True),
]


def file_misreads(words):
    """What file(1)'s description of the .exe gets wrong, or "". Its words
    change between versions: 5.44 says "PE32 executable (Windows CE) ARM, for
    MS Windows, 5 sections", 5.46 "PE32 executable for MS Windows CE 4.00
    (EXE), ARMv4, 5 sections"; either must pass, a Thumb, 64-bit or DLL
    image or another system must not."""
    if not re.match(r"PE32 executable\b", words):
        return "not a 32-bit PE executable"
    if "(DLL)" in words:
        return "a DLL"
    if not re.search(r"\bWindows CE\b", words):
        return "not for Windows CE"
    version = re.search(r"\bWindows CE (\d+\.\d+)", words)
    if version and version.group(1) != "4.00":
        return "CE %s, not 4.00" % version.group(1)
    machines = re.findall(r"\b(ARM\w*|Thumb|[Aa]arch64|Intel \d+|x86-64)\b", words)
    if machines not in (["ARM"], ["ARMv4"]):
        return "machine %s, not ARM" % (" ".join(machines) or "not named")
    if not re.search(r"\b%d sections\b" % len(SECTION_KINDS), words):
        return "not %d sections" % len(SECTION_KINDS)
    return ""


def main(argv):
    if len(argv) != 5 or argv[1] not in ("pefile", "llvm-readobj", "file"):
        print(__doc__, file=sys.stderr)
        return 2
    reader, exe, elf, readelf = argv[1:]
    summary = {"pefile": check_with_pefile, "llvm-readobj": check_with_llvm_readobj,
               "file": check_with_file}[reader](exe, elf, readelf)
    for message in failures:
        print("FAIL (%s): %s" % (reader, message))
    if failures:
        return 1
    print("%s: %s" % (reader, summary))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
