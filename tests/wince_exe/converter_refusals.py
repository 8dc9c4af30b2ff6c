#!/usr/bin/env python3
"""elf2pe on small programs linked here with arm-none-eabi-gcc: a good one is
converted, and read by pefile its tables are laid out as the PE format
wants them (it has a page with an odd number of fixups and import names of
odd length); each one with something PE cannot carry, or CE would not run,
and each damaged copy of the good one's ELF, is refused with its reason,
exit status 1, and no executable left behind.

    converter_refusals.py SOURCE_DIR

Exits 77 (skipped) without arm-none-eabi-gcc, 1 when GPIO_REQUIRE_WINCE_CHECK=1.
"""
import os
import re
import resource
import shutil
import stat
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_pe_image import layout_faults  # noqa: E402  the readers' own checks

GOOD = r"""
extern void Sleep(unsigned long);
static const char* volatile kName = "TolvarGPIO";
int WinMain(void* a, void* b, unsigned short* c, int d) {
    (void)a; (void)b; (void)c; (void)d;
    Sleep(5);
    return kName[0];
}
"""
# name: (expected message, extra C source, extra assembly, linker script change).
# Linked without --gc-sections, so that the extra code stays in, and without
# ld's own overlap check, so that elf2pe's is the one tried.
FAULTS = {
    "unknown-relocation": (r"relocation type 4[34] at 0x[0-9a-f]+ in \.text cannot be represented",
                           "", ".arch armv7-a\n.text\n.global Far\nFar: movw r0, #:lower16:WinMain\n", None),
    "undefined-symbol": (r"undefined symbol GetTickCount cannot be bound to COREDLL",
                         "extern void GetTickCount(void) __attribute__((weak));\n"
                         "void Tick(void) { GetTickCount(); }\n", "", None),
    "foreign-import": (r"CreateFileW is not a COREDLL call this program may import", "",
                       ".section .coredll_iat.CreateFileW, \"aw\"\n.global __imp_CreateFileW\n"
                       "__imp_CreateFileW: .word 0\n.text\n.global Open\nOpen: ldr ip, 1f\n"
                       "ldr pc, [ip]\n1: .word __imp_CreateFileW\n", None),
    "section-off-page": (r"section \.rdata at 0x[0-9a-f]+ does not start on a page", "", "",
                         (". = ALIGN(0x1000);\n  .rdata", ". = ALIGN(0x10);\n  .rdata")),
    "section-overlap": (r"section \.rdata at 0x11000 overlaps the headers or the section before it",
                        "", "", (". = ALIGN(0x1000);\n  .rdata", ". = 0x11000;\n  .rdata")),
    "section-over-headers": (r"section \.text at 0x10000 overlaps the headers", "", "",
                             (". = 0x00011000;", ". = 0x00010000;")),
    "static-constructor": (r"\.init_array is not empty: the image has static constructors",
                           "int gProbe;\n"
                           "__attribute__((constructor)) static void Start(void) { gProbe = 1; }\n",
                           "", None),
    # Relocated, it would no longer hold the constant it was meant to.
    "absolute-word-outside-image": (r"the word at 0x[0-9a-f]+ holds 0x[0-9a-f]+, outside the image",
                                    "", ".data\n.global Far\nFar: .word WinMain + 0x1000000\n", None),
}

# Damaged copies of the good program's ELF: (what is changed, expected message).
SHT_REL, SHT_NOBITS, R_ARM_ABS32 = 9, 8, 2


def elf_sections(elf):
    shoff, = struct.unpack_from("<I", elf, 32)
    shnum, shstrndx = struct.unpack_from("<HH", elf, 48)
    headers = [shoff + 40 * i for i in range(shnum)]
    names_at = struct.unpack_from("<I", elf, headers[shstrndx] + 16)[0]
    sections = {}
    for at in headers:
        name, kind, _, _, offset, size, _, info = struct.unpack_from("<IIIIIIII", elf, at)
        text = elf[names_at + name:elf.index(b"\0", names_at + name)].decode()
        sections[text] = dict(header=at, kind=kind, offset=offset, size=size, info=info)
    return sections


def absolute_relocations(elf, sections):
    """(section, [offsets in the file of its R_ARM_ABS32 entries]) of the first
    relocation section of loaded code or data that has two or more."""
    for name, s in sections.items():
        if s["kind"] != SHT_REL or name.startswith((".rel.debug", ".rel.ARM")):
            continue
        entries = [s["offset"] + at for at in range(0, s["size"], 8)
                   if struct.unpack_from("<I", elf, s["offset"] + at + 4)[0] & 0xFF == R_ARM_ABS32]
        if len(entries) >= 2:
            return s, entries
    raise AssertionError("the good program has no relocation section with two absolute words")


def damage(kind, elf):
    elf = bytearray(elf)
    sections = elf_sections(elf)
    rel, entries = absolute_relocations(elf, sections)
    if kind == "symbol-out-of-range":
        info, = struct.unpack_from("<I", elf, entries[0] + 4)
        struct.pack_into("<I", elf, entries[0] + 4, (0xFFFFFF << 8) | (info & 0xFF))
    elif kind == "relocations-of-no-section":
        struct.pack_into("<I", elf, rel["header"] + 28, 0xFFFF)
    elif kind == "one-word-relocated-twice":
        elf[entries[1]:entries[1] + 8] = elf[entries[0]:entries[0] + 8]
    elif kind == "4-GiB-of-zeros":  # the data section made NOBITS of 4 GiB less a page
        data = sections[".data"]["header"]
        struct.pack_into("<I", elf, data + 4, SHT_NOBITS)
        struct.pack_into("<I", elf, data + 20, 0xFFFFF000)
    elif kind == "section-headers-of-no-size":
        struct.pack_into("<H", elf, 46, 0)
    elif kind == "section-past-the-file":
        struct.pack_into("<I", elf, sections[".text"]["header"] + 16, len(elf))
    elif kind == "thumb-entry":
        entry, = struct.unpack_from("<I", elf, 24)
        struct.pack_into("<I", elf, 24, entry | 1)
    return bytes(elf)


DAMAGED = {
    "symbol-out-of-range": r"relocation at 0x[0-9a-f]+ names symbol 16777215; the table has \d+",
    "relocations-of-no-section": r"apply to section 65535, which does not exist",
    "one-word-relocated-twice": r"two relocations of the word at 0x[0-9a-f]+",
    "4-GiB-of-zeros": r"the image would be larger than the 32 MiB of a CE process",
    "section-headers-of-no-size": r"section header size 0 is not 40",
    "section-past-the-file": r"section \d+ \(\.text\) runs past the end of the file",
    # Converted, CE's loader would start Thumb code in ARM state.
    "thumb-entry": r"the entry 0x[0-9a-f]+ is odd: Thumb code",
}
# The converter may take this much memory on any input (address space,
# Python included): a size read from the file must be checked before it is allocated.
CONVERTER_MEMORY = 256 << 20
# 196608 absolute words on 6144 pages (24 MiB): converted in well under this
# bound, about 2 s; when every relocation was sorted again for each page, the
# conversion took about 40 s. Processor time of the conversion alone, which
# a busy machine does not stretch as it does the wall clock (21 s once,
# the link included, beside two other builds).
MANY_RELOCATIONS = ".data\n.global Many\nMany:\n.rept 6144\n.rept 32\n.word WinMain\n.endr\n" \
                   ".balign 4096\n.endr\n"
MANY_RELOCATIONS_SECONDS = 20


def limit_memory():
    resource.setrlimit(resource.RLIMIT_AS, (CONVERTER_MEMORY, CONVERTER_MEMORY))


def missing(message):
    if os.environ.get("GPIO_REQUIRE_WINCE_CHECK") == "1":
        print("FAIL: " + message)
        sys.exit(1)
    print("SKIPPED: " + message)
    sys.exit(77)


def main(argv):
    source = os.path.abspath(argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "../.."))
    gcc = shutil.which("arm-none-eabi-gcc")
    if not gcc:
        missing("arm-none-eabi-gcc not found (Debian: apt-get install gcc-arm-none-eabi)")
    wince = os.path.join(source, "platform", "wince")
    converter = os.path.join(source, "tools", "elf2pe", "elf2pe.py")
    with open(os.path.join(wince, "pe_image.ld")) as f:
        script = f.read()
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        def build_and_convert(name, c_extra, asm_extra, script_change):
            files = {"program.c": GOOD + c_extra, "extra.S": asm_extra,
                     "image.ld": script.replace(*script_change) if script_change else script}
            for file, text in files.items():
                with open(os.path.join(work, file), "w") as f:
                    f.write(text)
            elf, exe = os.path.join(work, name + ".elf"), os.path.join(work, name + ".exe")
            subprocess.run([gcc, "-mcpu=xscale", "-marm", "-mfloat-abi=soft", "-fshort-wchar",
                            "-fno-short-enums", "-Os", "-nostdlib", "-T", os.path.join(work, "image.ld"),
                            "-Wl,--emit-relocs", "-Wl,--no-warn-rwx-segments", "-Wl,--no-check-sections",
                            os.path.join(wince, "entry.S"), os.path.join(wince, "coredll_imports.S"),
                            os.path.join(work, "program.c"), os.path.join(work, "extra.S"),
                            "-o", elf], check=True)
            return convert(elf, exe)

        conversion_seconds = [0.0]

        def convert(elf, exe):
            with open(exe, "wb") as f:
                f.write(b"MZ stale")  # a refused conversion must not leave this behind
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            result = subprocess.run([sys.executable, converter, elf, exe], capture_output=True,
                                    text=True, preexec_fn=limit_memory)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            conversion_seconds[0] = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
            return result, exe

        result, exe = build_and_convert("good", "", "", None)
        if result.returncode != 0 or not open(exe, "rb").read(2) == b"MZ":
            print("FAIL  good program not converted: %s" % result.stderr.strip())
            failures += 1
        else:
            failures += check_layout(exe)
        good_elf = open(os.path.join(work, "good.elf"), "rb").read()
        for name, expected in DAMAGED.items():
            elf = os.path.join(work, name + ".elf")
            with open(elf, "wb") as f:
                f.write(damage(name, good_elf))
            result, exe = convert(elf, os.path.join(work, name + ".exe"))
            failures += judge_refusal(name, expected, result, exe)

        result, exe = build_and_convert("many-relocations", "", MANY_RELOCATIONS, None)
        seconds = conversion_seconds[0]
        if result.returncode != 0 or seconds > MANY_RELOCATIONS_SECONDS:
            print("FAIL  196608 relocations on 6144 pages: status %d in %.1f s, %s"
                  % (result.returncode, seconds, result.stderr.strip()))
            failures += 1
        else:
            print("ok    196608 relocations on 6144 pages converted (%.1f s of processor time)" % seconds)
        for name, (expected, c_extra, asm_extra, script_change) in FAULTS.items():
            result, exe = build_and_convert(name, c_extra, asm_extra, script_change)
            failures += judge_refusal(name, expected, result, exe)
        failures += check_outputs_refused(converter, work)
        # Not the program's kind of ELF at all: the host's own.
        host = subprocess.run([sys.executable, converter, sys.executable, os.path.join(work, "host.exe")],
                              capture_output=True, text=True)
        if host.returncode != 1 or "not a 32-bit little-endian ELF" not in host.stderr:
            print("FAIL  host ELF: status %d, %s" % (host.returncode, host.stderr.strip()))
            failures += 1
        else:
            print("ok    host ELF refused: %s" % host.stderr.strip())
    return 1 if failures else 0


def check_outputs_refused(converter, work):
    """Outputs the converter must neither replace nor remove: each refused
    with a message (no traceback) and left as it was. Faults caught: the
    swapped arguments' ELF deleted, a directory's traceback, a pipe or a
    device replaced or removed."""
    failures = 0
    good_elf, good_exe = os.path.join(work, "good.elf"), os.path.join(work, "good.exe")
    elf_before = open(good_elf, "rb").read()
    directory = os.path.join(work, "out.d")
    os.mkdir(directory)
    fifo = os.path.join(work, "out.fifo")
    os.mkfifo(fifo)
    cases = [("swapped arguments", [good_exe, good_elf], r"arguments are PROGRAM\.elf PROGRAM\.exe",
              lambda: open(good_elf, "rb").read() == elf_before),
             ("same file twice", [good_elf, good_elf], r"is the input itself",
              lambda: open(good_elf, "rb").read() == elf_before),
             ("directory output", [good_elf, directory], r"is a directory",
              lambda: os.path.isdir(directory)),
             ("named pipe output", [good_elf, fifo], r"not a regular file",
              lambda: stat.S_ISFIFO(os.lstat(fifo).st_mode))]
    if os.path.exists("/dev/null"):
        cases.append(("device output", [good_elf, "/dev/null"], r"not a regular file",
                      lambda: stat.S_ISCHR(os.lstat("/dev/null").st_mode)))
    def left_as_it_was(intact):
        try:
            return intact()
        except OSError:
            return False

    for name, arguments, expected, intact in cases:
        with open(good_elf, "wb") as f:  # each case on its own, whatever the one before did
            f.write(elf_before)
        result = subprocess.run([sys.executable, converter] + arguments, capture_output=True,
                                text=True, timeout=60)
        if (result.returncode != 1 or not re.search(expected, result.stderr)
                or "Traceback" in result.stderr or not left_as_it_was(intact)):
            print("FAIL  %s: status %d, %s; left as it was: %s"
                  % (name, result.returncode, result.stderr.strip(), left_as_it_was(intact)))
            failures += 1
        else:
            print("ok    %s refused, nothing touched: %s" % (name, result.stderr.strip()))
    # Converted again over the old one: replaced through a temporary beside
    # it, which is gone after.
    result = subprocess.run([sys.executable, converter, good_elf, good_exe], capture_output=True,
                            text=True, timeout=60)
    left = [n for n in os.listdir(work) if n.startswith((".good.exe", "good.exe."))]
    if result.returncode != 0 or left:
        print("FAIL  converted over the old executable: status %d, %s, left %s"
              % (result.returncode, result.stderr.strip(), left))
        failures += 1
    else:
        print("ok    converted over the old executable, no temporary left")
    return failures


def judge_refusal(name, expected, result, exe):
    if result.returncode != 1 or not re.search(expected, result.stderr):
        print("FAIL  %s: status %d, %s" % (name, result.returncode, result.stderr.strip()))
        return 1
    left = [n for n in os.listdir(os.path.dirname(exe))
            if n.startswith("." + os.path.basename(exe)) or n == os.path.basename(exe) + ".tmp"]
    if os.path.exists(exe) or left:
        print("FAIL  %s: refused, but an executable was left behind" % name)
        return 1
    print("ok    %s refused: %s" % (name, result.stderr.strip()))
    return 0


def check_layout(exe):
    """The good program's tables as pefile reads them, and proof that it has
    what would show a layout fault: an odd number of fixups on a page and a
    hint/name entry of odd length."""
    try:
        import pefile
    except ImportError:
        missing("python3 module pefile for %s (Debian: apt-get install python3-pefile)" % sys.executable)
    pe = pefile.PE(exe)
    faults = layout_faults(pe)
    blocks = getattr(pe, "DIRECTORY_ENTRY_BASERELOC", [])
    if not any(len([e for e in b.entries if e.type != 0]) % 2 for b in blocks):
        faults.append("no page has an odd number of fixups: the block padding goes untried")
    names = [imp.name for library in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) for imp in library.imports]
    if not any(name and len(name) % 2 == 0 for name in names[:-1]):
        faults.append("no hint/name entry of odd length before the last: their alignment goes untried")
    for fault in faults:
        print("FAIL  good program: %s" % fault)
    if not faults:
        print("ok    good program converted; its tables laid out as the PE format wants")
    return len(faults)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
