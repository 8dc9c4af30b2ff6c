#!/usr/bin/env python3
"""elf2pe on small programs linked here with arm-none-eabi-gcc: a good one is
converted; each one with something PE cannot carry, or CE would not run, is
refused with its reason, exit status 1, and no executable left behind.

    converter_refusals.py SOURCE_DIR

Exits 77 (skipped) without arm-none-eabi-gcc, 1 when GPIO_REQUIRE_WINCE_CHECK=1.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

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
}


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
            with open(exe, "wb") as f:
                f.write(b"stale")  # a refused conversion must not leave this behind
            result = subprocess.run([sys.executable, converter, elf, exe], capture_output=True,
                                    text=True)
            return result, exe

        result, exe = build_and_convert("good", "", "", None)
        if result.returncode != 0 or not open(exe, "rb").read(2) == b"MZ":
            print("FAIL  good program not converted: %s" % result.stderr.strip())
            failures += 1
        else:
            print("ok    good program converted")
        for name, (expected, c_extra, asm_extra, script_change) in FAULTS.items():
            result, exe = build_and_convert(name, c_extra, asm_extra, script_change)
            if result.returncode != 1 or not re.search(expected, result.stderr):
                print("FAIL  %s: status %d, %s" % (name, result.returncode, result.stderr.strip()))
                failures += 1
            elif os.path.exists(exe):
                print("FAIL  %s: refused, but an executable was left behind" % name)
                failures += 1
            else:
                print("ok    %s refused: %s" % (name, result.stderr.strip()))
        # Not the program's kind of ELF at all: the host's own.
        host = subprocess.run([sys.executable, converter, sys.executable, os.path.join(work, "host.exe")],
                              capture_output=True, text=True)
        if host.returncode != 1 or "not a 32-bit little-endian ELF" not in host.stderr:
            print("FAIL  host ELF: status %d, %s" % (host.returncode, host.stderr.strip()))
            failures += 1
        else:
            print("ok    host ELF refused: %s" % host.stderr.strip())
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
