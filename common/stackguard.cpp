// The stack cookie that GCC's protected functions check on return, and the end of a process whose
// cookie was overwritten. Linked into both deliverables and the programs that test their code.
#include <windows.h>

// What the cookie holds until start-up seeds it (a value no seed is allowed to give).
static const UINT_PTR UNSEEDED_GUARD = (UINT_PTR)0x2B992DDFA232BB40ULL;

extern "C" {

UINT_PTR __stack_chk_guard = UNSEEDED_GUARD;

// Ends the process at once, without unwinding or running anything of its own on a smashed stack:
// the fast-fail request where Windows has it (8 and later), else the same status by termination.
__attribute__((noreturn)) void __stack_chk_fail(void)
{
    if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE))
        __asm__ __volatile__("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    for (;;)
        WaitForSingleObject(GetCurrentProcess(), INFINITE);
}

}

// A new cookie for each load of the image: the time, the process and thread ids, the tick count,
// the performance counter and where the stack and the image lie. Loads no library.
static int SeedStackGuard(void)
{
    FILETIME now;
    LARGE_INTEGER counter;
    GetSystemTimeAsFileTime(&now);
    QueryPerformanceCounter(&counter);
    ULONGLONG seed = ((ULONGLONG)now.dwHighDateTime << 32 | now.dwLowDateTime) ^ (ULONGLONG)counter.QuadPart
                     ^ (ULONGLONG)counter.QuadPart << 32 ^ (ULONGLONG)GetCurrentProcessId() << 32
                     ^ (ULONGLONG)GetCurrentThreadId() << 16 ^ GetTickCount() ^ (ULONGLONG)(UINT_PTR)&now
                     ^ (ULONGLONG)(UINT_PTR)&__stack_chk_guard << 24;
    UINT_PTR guard = (UINT_PTR)(seed ^ seed >> 29);
    __stack_chk_guard = guard == UNSEEDED_GUARD ? ~guard : guard;
    return 0;
}

// The C runtime calls the entries of this table from the image's entry point, before the C++
// constructors, WinMain or DllMain: no protected function is on the stack when the cookie changes.
// An entry of this table returns 0 for success, as runtimes that check it expect.
__attribute__((section(".CRT$XIB"), used)) static int (*seedAtStart)(void) = SeedStackGuard;
