@ The process entry CE's loader calls, with WinMain's four arguments in
@ r0-r3 (instance, previous instance, wide command line, show command).
@ No C run-time here: the image has no static constructors to run (elf2pe
@ refuses one that has), so the entry only aligns the stack, calls WinMain
@ and ends the process with its result. On CE the process ends when its
@ primary thread does, and ExitThread's code becomes the process's exit code.

    .syntax unified
    .arm
    .section .text.WinMainCRTStartup, "ax", %progbits
    .global WinMainCRTStartup
    .type WinMainCRTStartup, %function
    .balign 4
WinMainCRTStartup:
    push {r4, r5, r6, lr}
    mov r4, sp
    bic sp, sp, #7          @ 8-byte aligned at every call from here on
    bl WinMain              @ r0-r3 are still the loader's arguments
    mov r5, r0
    bl ExitThread           @ r0: WinMain's result; does not return on CE
    mov r0, r5              @ a host that returns from it gets the code back
    mov sp, r4
    pop {r4, r5, r6, pc}
    .size WinMainCRTStartup, . - WinMainCRTStartup
