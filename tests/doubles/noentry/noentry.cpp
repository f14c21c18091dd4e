// A CVConfig.dll without the entry point CVCInterface, for the tests of a library that lacks it.
// Staged instead of the real library by the tests of the configuration library binding.
#include <windows.h>

extern "C" DWORD WINAPI CVCVersion(void) {
  return 0x00010002;
}
