; Instruction forms the trial must count as the emulator runs them: a straight run through, then ret.
bits 64
push rbx
push rsi
push rdi
push rbp
push r12
mov rbp, rsp
sub rsp, 512
mov rbx, rsp
lea rsi, [rbx+64]
lea rdi, [rbx+128]
mov ecx, 4
mov rax, 0x1122334455667788
mov r8, 0x1122334455667788
mov r9d, 0x11223344
mov r10w, 0x1122
mov r11b, 0x11
add rax, 1
add rax, 100000
add r8, [rbx+8]
add qword [rbx+8], 5
add dword [rbx+r8*0+16], 3
sub r9, r10
and r11, 0x0F
or qword [rbx+24], 0x1234567
xor eax, eax
cmp r9d, 5
test rax, 0x12345678
test r8b, 1
imul rax, rcx, 10
imul r12, [rbx], 100000
mul rcx
neg r8
inc qword [rbx+32]
shl r9, 3
sar qword [rbx], 1
shld rax, rdx, 5
bt rax, 40
bts qword [rbx], 7
movzx eax, byte [rbx+3]
movsx r8, word [rbx+6]
movsxd r9, dword [rbx+8]
cmovz rax, rcx
setnz r8b
xchg rax, rdx
lock add qword [rbx+40], 2
lock cmpxchg [rbx+48], rcx
cmpxchg16b [rbx+64]
bswap r8
cdqe
cqo
push 5
push 100000
pop rax
pop rax
lea rax, [rbx+rcx*8+0x12345678]
lea rax, [rel $]
mov eax, [rel $+8]
lea eax, [ebx+esi]
mov eax, [qword 0x7FFE0000]
mov rax, [qword 0x7FFE0000]
mov al, [qword 0x7FFE0004]
mov dword [rbx+56], 0x11223344
mov qword [rbx+72], -5
mov [rbx+80], r8
mov r8, [rbx+rcx*4+88]
cld
rep movsb
mov ecx, 4
rep stosq
lodsb
scasq
mov ecx, 1
loop .l1
.l1: jrcxz .l2
.l2: jz .l3
.l3: jnz near .l4
.l4: jmp .l5
.l5: jmp near .l6
.l6: call .l7
.l7: pop rax
nop dword [rax+rax+0]
pause
fld1
fld qword [rbx+96]
fistp qword [rbx+104]
fstp st0
movd mm0, eax
paddb mm0, mm0
emms
movups xmm8, [rbx+112]
movups [rbx+128], xmm8
addps xmm8, xmm0
shufps xmm9, xmm8, 0x1B
pshufd xmm10, xmm8, 0x4E
psrldq xmm10, 4
pinsrq xmm10, rax, 1
pextrq rax, xmm10, 1
movq r8, xmm10
movq xmm11, r9
pshufb xmm10, xmm8
palignr xmm10, xmm8, 4
crc32 rax, rcx
crc32 eax, byte [rbx]
popcnt r8, r9
lzcnt rax, rcx
tzcnt rdx, rax
movbe rax, [rbx+8]
andn rax, rcx, rdx
blsr r8, r9
bzhi rax, rcx, rdx
pdep rax, rcx, rdx
rorx r8, r9, 7
shlx rax, [rbx], rdx
mulx rax, rdx, rcx
adox rax, rcx
movnti [rbx+136], rax
vzeroupper
mov rsp, rbp
pop r12
pop rbp
pop rdi
pop rsi
pop rbx
ret
