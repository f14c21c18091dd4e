// The yardstick of the resident benchmark: the least a tray program can be, one window and one
// notification-area icon; "exit" ends a running copy. With "wininet" it is the floor of any such
// switch: it also reads WinInet's connected state at start and once a second, as a poll would.
// Built like the deliverables; run by resident_bench.
#include <windows.h>
#include <shellapi.h>
#include <wininet.h>

static const char CLASS_NAME[] = "MinimalTray";
static const UINT ICON_ID = 1;
static const UINT_PTR QUERY_TIMER = 1;

static void SetUpIconData(NOTIFYICONDATAA *icon, HWND window)
{
    ZeroMemory(icon, sizeof *icon);
    icon->cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon->hWnd = window;
    icon->uID = ICON_ID;
}

static void QueryConnectedState(void)
{
    DWORD state = 0;
    DWORD size = sizeof state;
    InternetQueryOptionA(NULL, INTERNET_OPTION_CONNECTED_STATE, &state, &size);
}

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == QUERY_TIMER) {
        QueryConnectedState();
        return 0;
    }
    if (message != WM_DESTROY)
        return DefWindowProcA(window, message, wParam, lParam);
    NOTIFYICONDATAA icon;
    SetUpIconData(&icon, window);
    Shell_NotifyIconA(NIM_DELETE, &icon);
    PostQuitMessage(0);
    return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    if (lstrcmpiA(commandLine, "exit") == 0) {
        HWND running = FindWindowA(CLASS_NAME, NULL);
        if (running)
            SendMessageA(running, WM_CLOSE, 0, 0);
        return 0;
    }
    BOOL queries = lstrcmpiA(commandLine, "wininet") == 0;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = CLASS_NAME;
    if (!RegisterClassA(&windowClass))
        return 1;
    HWND window = CreateWindowA(CLASS_NAME, "", WS_OVERLAPPED, 0, 0, 0, 0, NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    if (queries) {
        QueryConnectedState();
        if (!SetTimer(window, QUERY_TIMER, 1000, NULL))
            return 1;
    }
    NOTIFYICONDATAA icon;
    SetUpIconData(&icon, window);
    icon.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    icon.uCallbackMessage = WM_APP;
    icon.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    lstrcpyA(icon.szTip, "Minimal");
    if (!Shell_NotifyIconA(NIM_ADD, &icon))
        return 1;
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
