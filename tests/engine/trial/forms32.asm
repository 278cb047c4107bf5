; Instruction forms the trial must count as the emulator runs them: a straight run through, then ret.
bits 32
push ebx
push esi
push edi
push ebp
mov ebp, esp
sub esp, 512
mov ebx, esp
lea esi, [ebx+64]
lea edi, [ebx+128]
mov ecx, 4
add eax, 1
add eax, 1000
add al, 5
add ax, 1000
add byte [ebx+1], 7
add dword [ebx+8], 100000
add dword [ebx+ecx*2+4], 3
adc ecx, [ebx+0x100]
sub word [ebx+2], 9
and dword [ebx+4*ecx], 0x0F0F0F0F
or edx, edx
xor eax, [ebx]
cmp ecx, 5
test eax, 0x12345678
test byte [ebx], 1
test word [ebx], 0x1234
test al, 3
imul eax, ecx, 10
imul eax, [ebx], 100000
imul edx, eax
mul ecx
not dword [ebx+12]
neg eax
inc dword [ebx+16]
dec word [ebx+18]
shl eax, 3
sar dword [ebx], 1
rol word [ebx+2], cl
shld eax, edx, 5
shrd [ebx], edx, cl
bt eax, 3
bts dword [ebx], 7
bsr ecx, eax
movzx eax, byte [ebx+3]
movsx edx, word [ebx+6]
movzx ax, bl
cmovz eax, ecx
setnz al
xchg eax, edx
xchg [ebx+20], ecx
lock add dword [ebx+24], 2
lock cmpxchg [ebx+28], ecx
lock xadd [ebx+32], edx
bswap eax
cwde
cdq
cbw
push 5
push 100000
push word 7
pop ax
pop eax
pop eax
lea eax, [ebx+ecx*8+0x12345678]
lea ax, [bx+si+4]
mov eax, [0x7FFE0000]
mov al, [0x7FFE0004]
mov dword [ebx+36], 0x11223344
mov word [ebx+40], 0x1122
mov byte [ebx+42], 0x11
mov eax, 0x12345678
mov ax, 0x1234
mov [ebx+44], eax
mov eax, [ebx+ecx*4+48]
enter 16, 0
leave
cld
rep movsb
mov ecx, 4
rep stosd
lodsb
scasb
cmpsd
mov ecx, 1
loop .l1
.l1: jecxz .l2
.l2: jz .l3
.l3: jnz near .l4
.l4: jmp .l5
.l5: jmp near .l6
.l6: call .l7
.l7: pop eax
nop
nop dword [eax+eax+0]
pause
lfence
fld1
fldz
fadd st0, st1
fld dword [ebx+64]
fistp dword [ebx+68]
fstp st0
fstp st0
fnstcw [ebx+72]
fldcw [ebx+72]
movd mm0, eax
paddb mm0, mm0
psrlq mm0, 3
emms
movups xmm0, [ebx+80]
movups [ebx+96], xmm0
addps xmm0, xmm0
shufps xmm0, xmm0, 0x1B
pshufd xmm1, xmm0, 0x4E
psrldq xmm1, 4
pinsrw xmm1, eax, 3
pextrw eax, xmm1, 2
cmpps xmm0, xmm1, 1
movdqu xmm2, [ebx+112]
pshufb xmm2, xmm1
palignr xmm2, xmm1, 4
pblendw xmm2, xmm1, 0x0F
pmaxsd xmm2, xmm1
pextrd eax, xmm2, 1
pinsrd xmm2, ecx, 2
aesenc xmm2, xmm1
movq xmm3, [ebx+120]
movq [ebx+128], xmm3
cvtsi2sd xmm4, eax
cvttsd2si eax, xmm4
sqrtsd xmm4, xmm4
crc32 eax, ecx
crc32 eax, byte [ebx]
popcnt eax, ecx
lzcnt eax, ecx
tzcnt edx, eax
movbe eax, [ebx+4]
andn eax, ecx, edx
bextr eax, ecx, edx
blsr eax, ecx
bzhi eax, ecx, edx
pdep eax, ecx, edx
pext eax, ecx, edx
rorx eax, ecx, 7
sarx eax, ecx, edx
shlx eax, [ebx], edx
mulx eax, edx, ecx
adcx eax, ecx
movnti [ebx+136], eax
prefetcht0 [ebx]
clflush [ebx]
sfence
mov esp, ebp
pop ebp
pop edi
pop esi
pop ebx
ret 16
