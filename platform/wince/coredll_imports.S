@ The calls into COREDLL, the one library on a CE device. Each is a thunk
@ that jumps through its slot in the import address table; the loader fills
@ the slots in by name. tools/elf2pe builds the PE import directory from the
@ __imp_<name> slots, and binds only names it knows COREDLL to export.
@ The literal holding a slot's address is relocated like any other pointer.

    .syntax unified
    .arm

    .macro coredll_import name
    .section .text.\name, "ax", %progbits
    .global \name
    .type \name, %function
    .balign 4
\name:
    ldr ip, 1f
    ldr pc, [ip]
1:  .word __imp_\name
    .size \name, . - \name

    @ One section a slot: the linker drops the slots of calls nobody makes.
    .section .coredll_iat.\name, "aw", %progbits
    .global __imp_\name
    .type __imp_\name, %object
    .balign 4
__imp_\name:
    .word 0
    .size __imp_\name, 4
    .endm

    coredll_import VirtualAlloc
    coredll_import VirtualCopy
    coredll_import VirtualFree
    coredll_import Sleep
    coredll_import NKDbgPrintfW
    coredll_import LocalAlloc
    coredll_import LocalFree
    coredll_import ExitThread

    @ The table ends with a null slot.
    .section .coredll_iat_end, "aw", %progbits
    .balign 4
    .word 0
