@ Reset entry and exception vectors of the bare board.
@
@ QEMU (or a boot loader) starts the image at _start in a privileged mode,
@ normally with the MMU and caches off. A boot loader that leaves them on
@ must map the image flat (virtual = physical): the start-up then cleans the
@ image's lines out of the data cache and switches the MMU and caches off
@ before it writes anything, so nothing it writes later can sit in a cache
@ that the MMU set-up then invalidates. The vector page is mapped at
@ 0xFFFF0000 once the MMU is on; every exception saves the interrupted
@ registers and hands a frame to the C++ handlers in exceptions.cpp.

    .syntax unified
    .arm

    .equ MODE_FIQ, 0x11
    .equ MODE_IRQ, 0x12
    .equ MODE_SVC, 0x13
    .equ MODE_ABT, 0x17
    .equ MODE_UND, 0x1B
    .equ NO_INTERRUPTS, 0xC0

    .section .vectors, "ax"
    .global __vector_page
    .balign 4096
__vector_page:
    ldr pc, reset_address
    ldr pc, undefined_address
    ldr pc, swi_address
    ldr pc, prefetch_abort_address
    ldr pc, data_abort_address
    ldr pc, reserved_address
    ldr pc, irq_address
    ldr pc, fiq_address
reset_address:          .word _start
undefined_address:      .word undefined_entry
swi_address:            .word swi_entry
prefetch_abort_address: .word prefetch_abort_entry
data_abort_address:     .word data_abort_entry
reserved_address:       .word reserved_entry
irq_address:            .word irq_entry
fiq_address:            .word fiq_entry

    .equ CONTROL_MMU, 1 << 0
    .equ CONTROL_DCACHE, 1 << 2
    .equ CONTROL_BTB, 1 << 11
    .equ CONTROL_ICACHE, 1 << 12
    .equ CACHE_LINE, 32

    .text
    .global _start
_start:
    msr cpsr_c, #(MODE_SVC | NO_INTERRUPTS)   @ no interrupt into a boot loader's vectors
    mrc p15, 0, r0, c1, c0, 0
    tst r0, #(CONTROL_MMU | CONTROL_DCACHE)
    beq caches_off
    @ Whatever the boot loader wrote into the image (the image itself, when
    @ it copied it) goes to memory; dirty lines elsewhere are not ours.
    ldr r1, =__image_start
    ldr r2, =__image_end
2:  mcr p15, 0, r1, c7, c10, 1      @ clean data cache line
    add r1, r1, #CACHE_LINE
    cmp r1, r2
    blo 2b
    mcr p15, 0, r1, c7, c10, 4      @ drain the write buffer
    bic r0, r0, #(CONTROL_MMU | CONTROL_DCACHE)
    bic r0, r0, #(CONTROL_ICACHE | CONTROL_BTB)
    mcr p15, 0, r0, c1, c0, 0
    mrc p15, 0, r0, c2, c0, 0       @ CPWAIT: the change takes effect
    mov r0, r0
    sub pc, pc, #4
    mcr p15, 0, r0, c7, c7, 0       @ invalidate both caches and the BTB
    mcr p15, 0, r0, c8, c7, 0       @ invalidate the TLBs
caches_off:
    @ One stack per exception mode, interrupts masked in each.
    msr cpsr_c, #(MODE_FIQ | NO_INTERRUPTS)
    ldr sp, =__fiq_stack_top
    msr cpsr_c, #(MODE_IRQ | NO_INTERRUPTS)
    ldr sp, =__irq_stack_top
    msr cpsr_c, #(MODE_ABT | NO_INTERRUPTS)
    ldr sp, =__abt_stack_top
    msr cpsr_c, #(MODE_UND | NO_INTERRUPTS)
    ldr sp, =__und_stack_top
    msr cpsr_c, #(MODE_SVC | NO_INTERRUPTS)
    ldr sp, =__svc_stack_top

    ldr r0, =__bss_start
    ldr r1, =__bss_end
    mov r2, #0
1:  cmp r0, r1
    strlo r2, [r0], #4
    blo 1b

    bl BoardInit            @ MMU, UART, timer, static constructors
    bl main
    bl BoardExit            @ main's result is the exit status; no return

@ Each entry pushes r0-r12 and the return address, so r0 points at an
@ ExceptionFrame { r[13], pc } where pc is the address of the instruction
@ the exception concerns.
    .macro exception_entry name, pc_adjust, handler
\name:
    sub lr, lr, #\pc_adjust
    stmfd sp!, {r0-r12, lr}
    mov r0, sp
    bl \handler
    .endm

@ A data abort may be survived: the handler returns only when the faulting
@ access is to be skipped, so resume at the instruction after it.
    exception_entry data_abort_entry, 8, OnDataAbort
    ldmfd sp!, {r0-r12, lr}
    add lr, lr, #4
    movs pc, lr

@ An SVC that returns here was not taken by a debugger: carry on after it.
    exception_entry swi_entry, 4, OnSupervisorCall
    ldmfd sp!, {r0-r12, lr}
    add lr, lr, #4
    movs pc, lr

@ The rest are reported and end the program; their handlers never return.
    exception_entry undefined_entry, 4, OnUndefinedInstruction
    exception_entry prefetch_abort_entry, 4, OnPrefetchAbort
    exception_entry reserved_entry, 0, OnUnexpectedException
    exception_entry irq_entry, 4, OnUnexpectedInterrupt
    exception_entry fiq_entry, 4, OnUnexpectedInterrupt
