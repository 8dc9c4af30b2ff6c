@ CE keeps the stack 8-byte aligned at every call, and a program's entry
@ must make it so whatever it is handed. The loader enters the program with
@ sp 4 bytes off that, as the least helpful caller may, and every call the
@ program makes into the loader's COREDLL first checks sp: an entry that
@ does not align the stack shows at the program's first call.

    .syntax unified
    .arm
    .text

@ int CallEntryOffAlignment(entry, a0, a1, a2, a3): entry(a0, a1, a2, a3)
@ entered with sp = 4 (mod 8).
    .global CallEntryOffAlignment
    .type CallEntryOffAlignment, %function
    .balign 4
CallEntryOffAlignment:
    push {r4, lr}
    mov r4, sp
    mov ip, r0
    mov r0, r1
    mov r1, r2
    mov r2, r3
    ldr r3, [r4, #8]        @ the fifth argument, above the two words pushed
    bic sp, sp, #7
    sub sp, sp, #4
    blx ip
    mov sp, r4
    pop {r4, pc}
    .size CallEntryOffAlignment, . - CallEntryOffAlignment

@ Checked<Call>: the export the program is bound to. With sp aligned it
@ goes on to Ce<Call> with the registers untouched; otherwise it ends the
@ program through OnMisalignedStack with the call's name.
    .macro checked_call call
    .global Checked\call
    .type Checked\call, %function
    .balign 4
Checked\call:
    tst sp, #7
    bne 1f
    b Ce\call
1:  adr r0, 2f
    b OnMisalignedStack
2:  .asciz "\call"
    .balign 4
    .size Checked\call, . - Checked\call
    .endm

    checked_call VirtualAlloc
    checked_call VirtualCopy
    checked_call VirtualFree
    checked_call Sleep
    checked_call NKDbgPrintfW
    checked_call LocalAlloc
    checked_call LocalFree
    checked_call ExitThread
