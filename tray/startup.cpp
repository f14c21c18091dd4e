// WinMain: reads the command words, hands requests to a running copy, runs the
// one-shot jobs, or builds the tray instance and runs its message loop.
#include "startup.h"
#include "window.h"
#include "online.h"
#include "trayicon.h"
#include "autoswitch.h"
#include "hotkey.h"
#include "binding.h"
#include "corvalent_res.h"

Settings settings;
HWND mainWindow;

int cmdOptions;
int cmdExit;
int cmdUninstall;
int cmdStartup;

#define CMD_END       (-1)
#define CMD_OPTIONS   0
#define CMD_EXIT      1
#define CMD_UNINSTALL 2
#define CMD_STARTUP   3

struct CommandWord {
    const char *word;
    int code;
};

static const CommandWord commandWords[] = {
    { "options",   CMD_OPTIONS },
    { "exit",      CMD_EXIT },
    { "uninstall", CMD_UNINSTALL },
    { "startup",   CMD_STARTUP },
    { "",          CMD_END },
};

// The flag of each command code, indexed by the code.
static int *const commandFlags[] = { &cmdOptions, &cmdExit, &cmdUninstall, &cmdStartup };

// How long a copy that asked the running one to end waits for its process to end.
#define COPY_END_TIMEOUT 5000

#define WORD_SIZE    256
#define MESSAGE_SIZE 256

static const char unknownWordFormat[] = "Corvalent doesn't know what \"%s\" means.";
static const char cutMark[] = "...";

// The longest word that fits the message buffer with the text around it.
#define SHOWN_WORD_MAX (MESSAGE_SIZE - sizeof unknownWordFormat + 2)

static int FindCommandWord(const char *word)
{
    const CommandWord *entry = commandWords;
    while (entry->code != CMD_END && lstrcmpiA(word, entry->word) != 0)
        entry++;
    return entry->code;
}

// Shows the unknown word; one too long for the message is cut and marked.
static void ReportUnknownWord(HWND owner, char *word, int wordWasCut)
{
    char message[MESSAGE_SIZE];
    if (wordWasCut || lstrlenA(word) > (int)SHOWN_WORD_MAX)
        lstrcpyA(word + SHOWN_WORD_MAX - (sizeof cutMark - 1), cutMark);
    wsprintfA(message, unknownWordFormat, word);
    MessageBoxA(owner, message, "Corvalent Bad Command", MB_ICONWARNING);
}

int ParseCommandLine(HWND owner, const char *text)
{
    char word[WORD_SIZE];
    if (!text || !*text)
        return 0;
    while (*text) {
        while (*text == ' ')
            text++;
        int length = 0;
        int wordWasCut = 0;
        for (; *text && *text != ' '; text++) {
            if (length < WORD_SIZE - 1)
                word[length++] = *text;
            else
                wordWasCut = 1;
        }
        word[length] = 0;
        int code = FindCommandWord(word);
        if (code == CMD_END) {
            ReportUnknownWord(owner, word, wordWasCut);
            return 1;
        }
        *commandFlags[code] = 1;
    }
    return 0;
}

// delay seconds as timer milliseconds, capped at the longest period a timer takes.
static UINT DelayedSettingPeriod()
{
    if (settings.delay > USER_TIMER_MAXIMUM / 1000)
        return USER_TIMER_MAXIMUM;
    return settings.delay * 1000;
}

typedef UINT_PTR (WINAPI *SetCoalescableTimerProc)(HWND window, UINT_PTR id, UINT elapse, TIMERPROC function,
                                                    ULONG tolerance);

#define POLL_PERIOD    1000
#define POLL_TOLERANCE 250

// The poll needs no precision: where the system can, its tick may join other wake-ups.
static UINT_PTR StartPollTimer()
{
    SetCoalescableTimerProc setCoalescableTimer = (SetCoalescableTimerProc)(void (*)())
        GetProcAddress(GetModuleHandleA("user32.dll"), "SetCoalescableTimer");
    if (setCoalescableTimer)
        return setCoalescableTimer(mainWindow, TIMER_POLL, POLL_PERIOD, NULL, POLL_TOLERANCE);
    return SetTimer(mainWindow, TIMER_POLL, POLL_PERIOD, NULL);
}

static int CreateMainWindow(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    if (!LoadTrayIcons(instance)) {
        ReportStartupFailure("Couldn't load tray icons.");
        return 0;
    }
    if (!RegisterClassExA(&windowClass)) {
        ReportStartupFailure("Couldn't register the Corvalent window class.");
        return 0;
    }
    HWND window = CreateWindowExA(0, MAIN_WINDOW_CLASS, "Corvalent Invisible Window",
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, instance, NULL);
    if (!window) {
        ReportStartupFailure("Couldn't create the Corvalent window.");
        return 0;
    }
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    if (!menu) {
        ReportStartupFailure("Couldn't load the Corvalent menu.");
        return 0;
    }
    mainWindow = window;
    trayMenu = GetSubMenu(menu, 0);
    return 1;
}

// A box of the running tray: a close that comes while it is open ends it and follows it.
static void ReportTrayFailure(const char *text)
{
    BeginModalCall();
    MessageBoxA(mainWindow, text, "Corvalent", MB_ICONWARNING);
    EndModalCall();
}

static int RunTrayInstance(HINSTANCE instance)
{
    if (!CreateMainWindow(instance))
        return 1;
    ForgetTrayIcon();
    AddTrayIcon();
    LoadDialUpApi();
    UpdateHotKey();
    if (!StartPollTimer()) {
        ReportTrayFailure("Couldn't create a timer");
        // Take the icon and the hot key away with the window before ending.
        CloseMainWindow(mainWindow);
        CleanUp();
        return 0;
    }
    if (cmdOptions)
        ShowOptions();
    if (cmdStartup && !windowClosing && (settings.options & OPT_DELAYED_SETTING)
        && !SetTimer(mainWindow, TIMER_DELAYED_SETTING, DelayedSettingPeriod(), NULL))
        ReportTrayFailure("Couldn't create a timer for the delayed setting.");
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    CleanUp();
    return 0;
}

typedef BOOL (WINAPI *SetDefaultDllDirectoriesProc)(DWORD flags);

// Libraries loaded by name come from the program's folder or the system's, never from the
// current directory nor, where the system can say so, from PATH.
static void RestrictLibrarySearch()
{
    SetDllDirectoryA("");
    SetDefaultDllDirectoriesProc setDefaultDllDirectories = (SetDefaultDllDirectoriesProc)(void (*)())
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefaultDllDirectories)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

// The exit code of a copy whose request the running copy refused: that copy runs elevated and its
// message filter lets the request of an unelevated copy through only for "exit" (none at all in
// one of an older Corvalent).
#define EXIT_REQUEST_REFUSED ERROR_ACCESS_DENIED

// Says why "options" went nowhere, where there is a desktop to show it on. "exit" and "uninstall"
// say it by their exit code alone: Setup and the uninstaller wait for them, silent ones too.
static int ReportRefusedRequest()
{
    USEROBJECTFLAGS flags = {};
    if (GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, NULL)
        && (flags.dwFlags & WSF_VISIBLE))
        MessageBoxA(GetDesktopWindow(), "The running Corvalent was started as administrator and refuses "
                    "requests from here. Exit it from its menu, or ask again as administrator.",
                    "Corvalent", MB_ICONWARNING);
    return EXIT_REQUEST_REFUSED;
}

// Hands the request to the running copy and waits for its process to end: 0 when it ended,
// EXIT_REQUEST_REFUSED when it refused the request, 1 when it could not be opened, did not take the
// request in time (it hangs) or did not end in time. A copy that ends on another copy's request
// before it takes this one never answers, but its window is gone and its end is waited for all the same.
static int RequestEnd(HWND runningCopy, UINT message)
{
    DWORD processId = 0;
    DWORD_PTR answer = 0;
    GetWindowThreadProcessId(runningCopy, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    LRESULT sent = SendMessageTimeoutA(runningCopy, message, 0, 0, SMTO_NORMAL, COPY_END_TIMEOUT, &answer);
    int refused = !sent && GetLastError() == ERROR_ACCESS_DENIED;
    int taken = sent || !IsWindow(runningCopy);
    DWORD waited = process && taken ? WaitForSingleObject(process, COPY_END_TIMEOUT) : WAIT_TIMEOUT;
    if (process)
        CloseHandle(process);
    if (refused && !taken)
        return EXIT_REQUEST_REFUSED;
    return waited == WAIT_OBJECT_0 ? 0 : 1;
}

int UninstallAfterAnswer(HWND runningCopy, int answer)
{
    if (answer != EXIT_REQUEST_REFUSED)
        return answer;
    int ended = RequestEnd(runningCopy, MSG_EXIT);
    if (ended == 0)
        CallConfig(CFG_UNINSTALL, NULL);
    return ended;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    RestrictLibrarySearch();
    settings.delay = 8;
    if (ParseCommandLine(mainWindow, commandLine))
        return 1;
    HWND runningCopy = FindWindowA(MAIN_WINDOW_CLASS, NULL);
    if (cmdOptions && runningCopy) {
        if (!PostMessageA(runningCopy, MSG_SHOW_OPTIONS, 0, 0) && GetLastError() == ERROR_ACCESS_DENIED)
            return ReportRefusedRequest();
        return 0;
    }
    if (cmdExit)
        return runningCopy ? RequestEnd(runningCopy, MSG_EXIT) : 0;
    // Nothing is left afterwards to switch the state back, so every uninstall goes online first;
    // with a running copy again once it has ended, since its AutoSwitch may go offline meanwhile.
    if (cmdUninstall)
        SetOffline(0);  // before any request
    if (cmdUninstall && runningCopy) {
        int ended = RequestEnd(runningCopy, MSG_UNINSTALL);
        ended = UninstallAfterAnswer(runningCopy, ended);
        SetOffline(0);
        return ended;
    }
    if (runningCopy && !cmdStartup) {
        MessageBoxA(GetDesktopWindow(), "Corvalent is already running.\n", "Corvalent", MB_ICONWARNING);
        return 1;
    }
    if (cmdUninstall) {
        CallConfig(CFG_UNINSTALL, NULL);
        return 0;
    }
    CallConfig(CFG_LOAD, &settings);
    if (cmdStartup) {
        ApplyStartupMode();
        if (!(settings.options & OPT_DELAYED_SETTING) && (settings.options & OPT_EXIT_AFTERWARDS)) {
            CleanUp();
            return 0;
        }
    }
    return RunTrayInstance(instance);
}
