# The factory of a 64-bit runtime library, for the tests of the check before
# publishing: NewRuntime returns null in x86-64 code. The mingw toolchain
# makes 32-bit code only, so tests/test_publishing.py links this into a
# PE32+ DLL with the host's binutils.
        .text
        .globl  NewRuntime
NewRuntime:
        xorl    %eax, %eax
        ret
