/* SPLASH_EXE: the splash program, embedded in the starter at build time. */
    .section .rodata.zolm_splash_exe, "a"
    .balign 16
    .globl zolm_splash_exe_begin
    .hidden zolm_splash_exe_begin
zolm_splash_exe_begin:
    .incbin ZOLM_SPLASH_PROGRAM_PATH
    .globl zolm_splash_exe_end
    .hidden zolm_splash_exe_end
zolm_splash_exe_end:
    .section .note.GNU-stack, "", @progbits
