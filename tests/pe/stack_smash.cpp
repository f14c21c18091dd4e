// Overruns a stack buffer of its own, so that the stack guard of the deliverables ends it; with
// "guard" it ends at once with the low bits of the cookie its start seeded, with "fastfail" by a
// bare fast-fail request (how this platform ends one). Run by stack_guard_test.
#include <windows.h>
#include <string.h>

extern "C" UINT_PTR __stack_chk_guard;

// Fills an 8-byte buffer with count bytes; the pointer passes through an empty asm statement, so
// the compiler cannot see the overrun and drop or shorten it.
static __attribute__((noinline)) int Overrun(size_t count)
{
    char buffer[8];
    char *start = buffer;
    __asm__("" : "+r"(start));
    memset(start, 'x', count);
    return start[0];
}

int main(int argc, char **argv)
{
    if (argc > 1 && !strcmp(argv[1], "guard"))
        return (int)(DWORD)(ULONGLONG)__stack_chk_guard;
    if (argc > 1 && !strcmp(argv[1], "fastfail"))
        __asm__ __volatile__("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    return Overrun(256) == 'x' ? 0 : 2;
}
