// Finds top-level and message-only windows by owning process, class and title, with a timeout.
// Used by Program (the main window), BoxWatcher (message boxes) and tests (the library's dialogs).
#include "harness.h"

namespace harness {

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
  HWND window = nullptr;
  WaitUntil([&] { return (window = FindTopWindow(processId, className, title)) != nullptr; }, stopWhenSignalled,
            timeoutMs);
  return window;
}

HWND WaitForShownDialog(DWORD processId, const wchar_t* title, DWORD timeoutMs, HANDLE stopWhenSignalled) {
  HWND dialog = nullptr;
  bool shown = WaitUntil(
      [&] {
        dialog = FindTopWindow(processId, L"#32770", title);
        return dialog && IsWindowVisible(dialog);
      },
      stopWhenSignalled, timeoutMs);
  return shown ? dialog : nullptr;
}

}  // namespace harness
