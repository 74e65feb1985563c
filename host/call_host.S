# vxavs: calls into host callbacks with a stack that survives any callee.
# A stdcall callee removes its own arguments, and hosts disagree on how many words some callbacks
# take, so esp is taken back from the frame pointer after the call instead of trusted.

    .text
    .globl _CallHostCallback
# uint32_t __cdecl CallHostCallback(void *callback, const uint32_t *words, uint32_t count)
_CallHostCallback:
    pushl   %ebp
    movl    %esp, %ebp
    pushl   %esi
    movl    12(%ebp), %esi          # words
    movl    16(%ebp), %ecx          # count
    # Align the stack to 16 bytes at the call, as compilers that assume it expect.
    leal    (,%ecx,4), %eax
    subl    %eax, %esp
    andl    $-16, %esp
    addl    %eax, %esp
1:  testl   %ecx, %ecx
    jz      2f
    pushl   -4(%esi,%ecx,4)         # last word first
    decl    %ecx
    jmp     1b
2:  call    *8(%ebp)
    leal    -4(%ebp), %esp          # our frame as before, whatever the callee removed
    popl    %esi
    popl    %ebp
    ret
