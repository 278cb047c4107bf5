bits 32
; P1 + P2, stdcall: the four parameters are removed by ret 16
        mov     eax, [esp+4]
        add     eax, [esp+8]
        ret     16
