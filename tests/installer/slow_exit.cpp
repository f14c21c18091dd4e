// A stand-in for a running Corvalent that is slow to end: a window of class "Corvalent" that goes
// at once on the message "exit" sends, in a process that ends only a while later; started with
// "stay", one that does not end at all; with "linger", one whose process stays once its window has gone.
// Used by installer_test.
#include <windows.h>

static const UINT MSG_EXIT = 1026;        // what a copy started with "exit" sends to the running one
static const DWORD LINGER_MS = 2000;      // from the end of the window to the end of the process

static bool stays;
static bool lingers;

static LRESULT CALLBACK StandInWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == MSG_EXIT && !stays) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR words, int) {
  stays = lstrcmpW(words, L"stay") == 0;
  lingers = lstrcmpW(words, L"linger") == 0;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = StandInWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"Corvalent";
  if (!RegisterClassW(&windowClass)) return 1;
  if (!CreateWindowExW(0, L"Corvalent", L"Corvalent", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                       instance, nullptr)) {
    return 1;
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  Sleep(lingers ? INFINITE : LINGER_MS);  // the slow end under test, not a wait for anything
  return 0;
}
