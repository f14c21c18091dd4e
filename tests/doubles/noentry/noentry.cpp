// A library named CVConfig.dll that exports one function, and not CVCInterface.
// Staged instead of the real library by the tests of a library without its entry point.
#include <windows.h>

extern "C" DWORD WINAPI NotTheEntryPoint(void) {
  return 0;
}
