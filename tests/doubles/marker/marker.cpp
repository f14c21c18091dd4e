// A library that only tells that it was loaded: it creates "<its own path>.loaded" beside itself.
// Planted as CVConfig.dll or RASAPI32.DLL in folders that a program must never load them from.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  const wchar_t suffix[] = L".loaded";
  wchar_t path[MAX_PATH + sizeof(suffix) / sizeof(wchar_t)];
  DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyW(path + length, suffix);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
