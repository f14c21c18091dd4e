// A stand-in program that the harness self-test stages as Corvalent.exe and starts as a child.
// Each command does one thing and reports through the exit code (see Usage below).
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "ras_records.h"

// Usage: harness_helper <command> [arguments]
//   exit <code>                    end with <code>
//   hang                           never end by itself
//   box <icon> <title> <text>      MessageBoxW with MB_OK and icon warning|information|none; ends with its result
//   window                         a hidden window of class "Corvalent"; ends on the first message below
//   query                          InternetQueryOptionA of wininet.dll; ends with the state word
//   dialup                         RasEnumConnectionsA of RASAPI32.DLL; ends with the connection count
//   load <name>                    LoadLibraryW of the name as given; ends with 0 when it loaded
static const int USAGE = 100;
static const int LOAD_FAILED = 1000;
static const int ENTRY_MISSING = 1001;
static const int CALL_FAILED = 1002;

// Exit codes of "window" for the message that ended it.
static const int EXIT_HOTKEY_BASE = 10000;
static const int EXIT_TIMER_BASE = 20000;
static const int EXIT_TASKBAR_CREATED = 30000;
static UINT taskbarCreated;

static LRESULT CALLBACK HelperWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) {  // 1024, the tray call-back: ends with the mouse message, answers it + 1
    PostQuitMessage(static_cast<int>(lParam));
    return lParam + 1;
  }
  if (message == WM_COMMAND) {
    PostQuitMessage(LOWORD(wParam));
    return 0;
  }
  if (message == WM_HOTKEY) {
    PostQuitMessage(EXIT_HOTKEY_BASE + static_cast<int>(wParam));
    return 0;
  }
  if (message == WM_TIMER) {
    PostQuitMessage(EXIT_TIMER_BASE + static_cast<int>(wParam));
    return 0;
  }
  if (message == taskbarCreated) {
    PostQuitMessage(EXIT_TASKBAR_CREATED);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

static int RunWindow() {
  taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = HelperWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"Corvalent";
  if (!RegisterClassW(&windowClass)) return CALL_FAILED;
  if (!CreateWindowExW(0, L"Corvalent", L"Corvalent", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                       windowClass.hInstance, nullptr)) {
    return CALL_FAILED;
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return static_cast<int>(message.wParam);
}

static int ShowBox(const wchar_t* icon, const wchar_t* title, const wchar_t* text) {
  UINT style = MB_OK;
  if (lstrcmpW(icon, L"warning") == 0) style |= MB_ICONWARNING;
  if (lstrcmpW(icon, L"information") == 0) style |= MB_ICONINFORMATION;
  return MessageBoxW(nullptr, text, title, style);
}

typedef BOOL(WINAPI* QueryOptionProc)(void*, DWORD, void*, DWORD*);

static int Query() {
  HMODULE library = LoadLibraryW(L"wininet.dll");
  if (!library) return LOAD_FAILED;
  QueryOptionProc query = reinterpret_cast<QueryOptionProc>(reinterpret_cast<void (*)()>(GetProcAddress(library, "InternetQueryOptionA")));
  if (!query) return ENTRY_MISSING;
  DWORD state = 0;
  DWORD length = sizeof(state);
  if (!query(nullptr, 50, &state, &length)) return CALL_FAILED;  // INTERNET_OPTION_CONNECTED_STATE
  return static_cast<int>(state);
}

static int CountDialUp() {
  HMODULE library = LoadLibraryW(L"RASAPI32.DLL");
  if (!library) return LOAD_FAILED;
  RasEnumConnectionsAProc enumerate =
      reinterpret_cast<RasEnumConnectionsAProc>(reinterpret_cast<void (*)()>(GetProcAddress(library, "RasEnumConnectionsA")));
  if (!enumerate) return ENTRY_MISSING;
  BYTE entries[4 * RASCONN_V400_SIZE] = {};
  SetRecordWord(entries, 0, RASCONN_V400_SIZE);
  DWORD size = sizeof(entries);
  DWORD count = 0;
  if (enumerate(reinterpret_cast<LPRASCONNA>(entries), &size, &count) != 0) return CALL_FAILED;
  return static_cast<int>(count);
}

static int Run(int count, wchar_t** words) {
  if (count >= 3 && lstrcmpW(words[1], L"exit") == 0) return _wtoi(words[2]);
  if (count >= 2 && lstrcmpW(words[1], L"hang") == 0) return static_cast<int>(WaitForSingleObject(GetCurrentProcess(), INFINITE));
  if (count >= 5 && lstrcmpW(words[1], L"box") == 0) return ShowBox(words[2], words[3], words[4]);
  if (count >= 2 && lstrcmpW(words[1], L"window") == 0) return RunWindow();
  if (count >= 2 && lstrcmpW(words[1], L"query") == 0) return Query();
  if (count >= 2 && lstrcmpW(words[1], L"dialup") == 0) return CountDialUp();
  if (count >= 3 && lstrcmpW(words[1], L"load") == 0) return LoadLibraryW(words[2]) ? 0 : LOAD_FAILED;
  return USAGE;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!words) return USAGE;
  int result = Run(count, words);
  LocalFree(words);
  return result;
}
