bits 64
; P1 + P2 + P3 + P4: RCX, EDX, R8 и R9, как их передаёт CallWindowProcW
        mov     rax, rcx
        movsxd  rdx, edx
        add     rax, rdx
        add     rax, r8
        add     rax, r9
        ret
        align   16, db 0xCC
; таблица за кодом: 2048 байт
table:
%assign i 0
%rep 2048
        db      (i * 37 + 11) & 0xFF
%assign i i + 1
%endrep
