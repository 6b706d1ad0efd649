// The machine-level call behind DllManager stubs (32-bit x86 only).
#include "qvrdllcall.h"

#if !defined(__i386__)
#error "QvrCallWords is written for 32-bit x86"
#endif

// Frame layout while the callee runs (addresses grow upwards):
//
//   ebp+16  count          ebp+12  words          ebp+8  fn
//   ebp+4   return address ebp     saved ebp
//   ebp-4   saved ebx      ebp-8   saved esi      ebp-12 saved edi
//   ...     pad of at least 256 bytes
//   esp     words[0] ... words[count-1], esp 16-byte aligned at the call
//
// A stdcall callee removes its own arguments, a cdecl callee leaves them; one
// that removes more than was pushed (a script passed too few arguments) only
// moves the stack pointer into the pad. Either way the stack pointer is then
// taken back from ebp, so no convention or count can unbalance the caller.
//
// The x87 stack is empty at a call (both conventions agree on that). A callee
// returning float or double leaves one value in st(0); unpopped, eight such
// calls would overflow the register stack and make later floating-point work
// of the interpreter produce NaN. The TOP field of the status word is compared
// before and after the call and the extra value dropped.
asm(R"(
    .text
    .p2align 4
    .globl _QvrCallWords
    .def _QvrCallWords; .scl 2; .type 32; .endef
_QvrCallWords:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl  12(%ebp), %esi
    movl  16(%ebp), %ecx
    leal  0(,%ecx,4), %edx
    movl  %esp, %eax
    subl  $256, %eax
    subl  %edx, %eax
    andl  $-16, %eax
    addl  %edx, %eax
    movl  %eax, %esp
1:
    testl %ecx, %ecx
    jz    2f
    decl  %ecx
    pushl (%esi,%ecx,4)
    jmp   1b
2:
    fnstsw %ax
    movzwl %ax, %ebx
    movl  8(%ebp), %eax
    call  *%eax
    movl  %eax, %esi
    fnstsw %ax
    xorw  %bx, %ax
    testw $0x3800, %ax
    jz    3f
    fstp  %st(0)
3:
    movl  %esi, %eax
    leal  -12(%ebp), %esp
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
)");
