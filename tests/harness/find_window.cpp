// Finds top-level and message-only windows by owning process, class and title, with a timeout.
// Used by Program (the main window), BoxWatcher (message boxes) and tests (the library's dialogs).
#include "harness.h"

#include "wait.h"

namespace harness {

static const DWORD POLL_MS = 20;

std::wstring WindowText(HWND window) {
  wchar_t text[1024];
  int length = GetWindowTextW(window, text, 1024);
  return std::wstring(text, length > 0 ? length : 0);
}

std::wstring WindowClass(HWND window) {
  wchar_t name[256];
  int length = GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? length : 0);
}

namespace {

struct Query {
  DWORD processId;
  const wchar_t* className;
  const wchar_t* title;
  std::vector<HWND>* found;
};

bool Matches(const Query& query, HWND window) {
  if (query.processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != query.processId) return false;
  }
  if (query.className && lstrcmpiW(WindowClass(window).c_str(), query.className) != 0) return false;
  if (query.title && WindowText(window) != query.title) return false;
  return true;
}

BOOL CALLBACK Collect(HWND window, LPARAM parameter) {
  Query* query = reinterpret_cast<Query*>(parameter);
  if (Matches(*query, window)) query->found->push_back(window);
  return TRUE;
}

std::vector<HWND> Windows(DWORD processId, const wchar_t* className, const wchar_t* title) {
  std::vector<HWND> found;
  Query query = {processId, className, title, &found};
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&query));
  // Message-only windows are not top-level windows; look at them too.
  for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, className, nullptr); window;
       window = FindWindowExW(HWND_MESSAGE, window, className, nullptr)) {
    if (Matches(query, window)) found.push_back(window);
  }
  return found;
}

}  // namespace

std::vector<HWND> TopWindows(DWORD processId, const wchar_t* className) {
  return Windows(processId, className, nullptr);
}

HWND FindTopWindow(DWORD processId, const wchar_t* className, const wchar_t* title) {
  std::vector<HWND> found = Windows(processId, className, title);
  return found.empty() ? nullptr : found.front();
}

HWND WaitForTopWindow(DWORD processId, const wchar_t* className, const wchar_t* title, DWORD timeoutMs,
                      HANDLE stopWhenSignalled) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    HWND window = FindTopWindow(processId, className, title);
    if (window) return window;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return nullptr;
    DWORD step = static_cast<DWORD>(deadline - now < POLL_MS ? deadline - now : POLL_MS);
    // No event exists for a window of another process appearing: look again every POLL_MS,
    // and stop at once when the caller's handle (say, the process) is signalled.
    if (WaitPumpingSent(stopWhenSignalled, step) == WAIT_OBJECT_0) {
      return FindTopWindow(processId, className, title);
    }
  }
}

}  // namespace harness
