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
//   dpi <window>                   the DPI of the window's monitor (a decimal handle); ends with it
//   tray                           a "Shell_TrayWnd" aware of this process's DPI, which hands every
//                                  Shell_NotifyIcon call on to the next one (a recorder); never ends
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

static int RunWindow(const wchar_t* className, WNDPROC procedure) {
  taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = className;
  if (!RegisterClassW(&windowClass)) return CALL_FAILED;
  if (!CreateWindowExW(0, className, className, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
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

typedef HRESULT(WINAPI* GetDpiForMonitorProc)(HMONITOR, int, UINT*, UINT*);
typedef DPI_AWARENESS_CONTEXT(WINAPI* SetThreadDpiAwarenessContextProc)(DPI_AWARENESS_CONTEXT);

static BOOL SetThreadAwareness(DPI_AWARENESS_CONTEXT context) {
  SetThreadDpiAwarenessContextProc setContext = reinterpret_cast<SetThreadDpiAwarenessContextProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
  return setContext && setContext(context);
}

// The effective DPI of the window's monitor, as a per-monitor-aware program sees it.
static int MonitorDpi(const wchar_t* handle) {
  HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  GetDpiForMonitorProc getDpiForMonitor = shcore ? reinterpret_cast<GetDpiForMonitorProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(shcore, "GetDpiForMonitor"))) : nullptr;
  if (!getDpiForMonitor || !SetThreadAwareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE)) return ENTRY_MISSING;
  HWND window = reinterpret_cast<HWND>(_wcstoui64(handle, nullptr, 10));
  UINT dpi = 0, unused = 0;
  if (getDpiForMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), 0, &dpi, &unused) != S_OK) return CALL_FAILED;
  return static_cast<int>(dpi);
}

static LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA) return DefWindowProcW(window, message, wParam, lParam);
  HWND next = FindWindowExW(nullptr, window, L"Shell_TrayWnd", nullptr);
  return next ? SendMessageW(next, WM_COPYDATA, wParam, lParam) : FALSE;
}

static int Run(int count, wchar_t** words) {
  if (count >= 3 && lstrcmpW(words[1], L"exit") == 0) return _wtoi(words[2]);
  if (count >= 2 && lstrcmpW(words[1], L"hang") == 0) return static_cast<int>(WaitForSingleObject(GetCurrentProcess(), INFINITE));
  if (count >= 5 && lstrcmpW(words[1], L"box") == 0) return ShowBox(words[2], words[3], words[4]);
  if (count >= 2 && lstrcmpW(words[1], L"window") == 0) return RunWindow(L"Corvalent", HelperWindowProc);
  if (count >= 2 && lstrcmpW(words[1], L"query") == 0) return Query();
  if (count >= 2 && lstrcmpW(words[1], L"dialup") == 0) return CountDialUp();
  if (count >= 3 && lstrcmpW(words[1], L"load") == 0) return LoadLibraryW(words[2]) ? 0 : LOAD_FAILED;
  if (count >= 3 && lstrcmpW(words[1], L"dpi") == 0) return MonitorDpi(words[2]);
  if (count >= 2 && lstrcmpW(words[1], L"tray") == 0) {
    return SetThreadAwareness(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE) ? RunWindow(L"Shell_TrayWnd", TrayWindowProc) : CALL_FAILED;
  }
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
