// A library built and linked like CVConfig.dll that tells the stack cookie its load seeded; loaded
// and freed twice by stack_guard_test.
#include <windows.h>

extern "C" UINT_PTR __stack_chk_guard;

extern "C" __declspec(dllexport) UINT_PTR StackGuard(void)
{
    return __stack_chk_guard;
}
