// Tests of the Options dialog and the About box of CVConfig.dll, loaded by path in this process:
// a second thread drives the real dialogs as a user would while the test thread waits in CVCInterface.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "../../config/cvconfig.h"
#include "../../resources/cvconfig_res.h"

using harness::kWaitMs;

static bool operator==(const Settings& left, const Settings& right) {
  return left.options == right.options && left.startupMode == right.startupMode && left.hotKey == right.hotKey &&
         left.delay == right.delay;
}

static void PrintTo(const Settings& settings, std::ostream* out) {
  *out << std::hex << "{options 0x" << settings.options << ", startupMode 0x" << settings.startupMode
       << ", hotKey 0x" << settings.hotKey << ", delay 0x" << settings.delay << "}" << std::dec;
}

namespace {

const wchar_t kOptionsTitle[] = L"Corvalent Options";
const wchar_t kAboutTitle[] = L"About Corvalent";
const wchar_t kSettingsKey[] = L"Software\\Bramlow Software\\Corvalent";
const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell folders";
const wchar_t* const kValueNames[] = {L"Options", L"Startup Mode", L"HotKey", L"Delay"};

// The links of the About box and the texts of its failure boxes.
const wchar_t kMailUrl[] = L"mailto:support@bramlow.example";
const wchar_t kWebUrl[] = L"https://www.bramlow.example/corvalent/";

const WORD kCtrlAltK = MAKEWORD('K', HOTKEYF_CONTROL | HOTKEYF_ALT);
const WORD kCtrlShiftA = MAKEWORD('A', HOTKEYF_CONTROL | HOTKEYF_SHIFT);

// ---- Waiting for the dialog's thread: a marker message seen by a message hook on that thread.

const UINT kMarker = WM_APP + 0x4D;
HANDLE markerSeen = CreateEventW(nullptr, FALSE, FALSE, nullptr);

LRESULT CALLBACK NoticeMarker(int code, WPARAM removed, LPARAM message) {
  const MSG* taken = reinterpret_cast<const MSG*>(message);
  if (code == HC_ACTION && removed == PM_REMOVE && taken->message == kMarker) SetEvent(markerSeen);
  return CallNextHookEx(nullptr, code, removed, message);
}

// True once the dialog's modal loop has taken a message posted now, so everything posted before it
// (a WM_CLOSE included) has been handled. False when the loop has ended.
bool Drain(HWND dialog) {
  DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, NoticeMarker, nullptr, thread);
  if (!hook) return false;
  ResetEvent(markerSeen);
  bool seen = PostMessageW(dialog, kMarker, 0, 0) && WaitForSingleObject(markerSeen, kWaitMs) == WAIT_OBJECT_0;
  UnhookWindowsHookEx(hook);
  return seen;
}

// Still shown after everything sent to it so far has been handled.
bool StaysOpen(HWND dialog) {
  return Drain(dialog) && IsWindowVisible(dialog);
}

// ---- Acting on the controls from the driving thread.

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kWaitMs, &result);
  return static_cast<LRESULT>(result);
}

void Click(HWND dialog, int id) {
  Send(GetDlgItem(dialog, id), BM_CLICK);
}

bool Checked(HWND dialog, int id) {
  return Send(GetDlgItem(dialog, id), BM_GETCHECK) == BST_CHECKED;
}

bool Enabled(HWND dialog, int id) {
  return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

void SetText(HWND dialog, int id, const wchar_t* text) {
  Send(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

std::wstring Text(HWND dialog, int id) {
  wchar_t text[64] = L"";
  Send(GetDlgItem(dialog, id), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text));
  return text;
}

void PressKey(HWND control, WPARAM key) {
  PostMessageW(control, WM_KEYDOWN, key, 1);
  PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

// Context help for one control, as the title bar's help button or F1 produces it; returns once the
// dialog has handled it (a dialog's message result is its DWLP_MSGRESULT, so nothing is learnt from it).
void AskHelp(HWND dialog, int id) {
  HELPINFO help = {};
  help.cbSize = sizeof help;
  help.iContextType = HELPINFO_WINDOW;
  help.iCtrlId = id;
  help.hItemHandle = GetDlgItem(dialog, id);
  DWORD_PTR result = 0;
  SendMessageTimeoutW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help), SMTO_NORMAL, kWaitMs, &result);
}

std::optional<POINT> CentreOf(HWND window) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return std::nullopt;
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// The first box with this title that the watcher records.
std::optional<harness::BoxRecord> WaitForBoxTitled(const harness::BoxWatcher& watcher, const std::wstring& title) {
  for (size_t index = 0;; index++) {
    std::optional<harness::BoxRecord> box = watcher.WaitForBox(index);
    if (!box || box->title == title) return box;
  }
}

// ---- The registry of the test prefix.

void DeleteSettingsKey() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
  RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
}

void WriteSettingsKey(const Settings& settings) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)) return;
  const DWORD* words = &settings.options;
  for (int index = 0; index < 4; index++) {
    RegSetValueExW(key, kValueNames[index], 0, REG_BINARY, reinterpret_cast<const BYTE*>(words + index), 4);
  }
  RegCloseKey(key);
}

// The record in the key when it holds exactly four 4-byte binary values.
std::optional<Settings> StoredSettings() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key)) return std::nullopt;
  Settings settings = {};
  DWORD* words = &settings.options;
  bool whole = true;
  for (int index = 0; index < 4; index++) {
    DWORD type = 0;
    DWORD size = 4;
    if (RegQueryValueExW(key, kValueNames[index], nullptr, &type, reinterpret_cast<BYTE*>(words + index), &size) ||
        type != REG_BINARY || size != 4)
      whole = false;
  }
  RegCloseKey(key);
  if (!whole) return std::nullopt;
  return settings;
}

// One value of the registry, kept to be put back as it was.
struct SavedValue {
  SavedValue(HKEY root, const std::wstring& key, const std::wstring& name) : root(root), key(key), name(name) {
    DWORD size = 0;
    present = RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) ==
              ERROR_SUCCESS;
    data.resize(size);
    if (present)
      RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size);
  }
  void Set(const std::wstring& text) const {
    RegSetKeyValueW(root, key.c_str(), name.c_str(), REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  void Restore() const {
    if (present)
      RegSetKeyValueW(root, key.c_str(), name.c_str(), type, data.data(), static_cast<DWORD>(data.size()));
    else
      RegDeleteKeyValueW(root, key.c_str(), name.c_str());
  }
  HKEY root;
  std::wstring key;
  std::wstring name;
  bool present = false;
  DWORD type = 0;
  std::vector<BYTE> data;
};

// ---- The library and its dialogs.

struct DialogRun {
  LONG result = -1;
  bool appeared = false;        // the dialog was shown, so its modal loop ran
  bool closedByItself = false;  // CVCInterface returned after the driver's actions without help
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    libraryPath_ = harness::JoinPath(harness::BinFolder(), L"CVConfig.dll");
    ASSERT_TRUE(harness::FileExists(libraryPath_)) << "missing library";
    owner_ = CreateWindowExW(0, L"Static", L"Owner", WS_OVERLAPPED | WS_VISIBLE, 40, 40, 200, 100, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_TRUE(owner_);
    DeleteSettingsKey();
    // An OK with "Start with Windows" writes the shortcut: into a folder of this test.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    startupFolder_ = harness::JoinPath(temp, L"cvdialogs-" + std::to_wstring(GetCurrentProcessId()));
    CreateDirectoryW(startupFolder_.c_str(), nullptr);
    startupValue_.Set(startupFolder_);
  }

  void TearDown() override {
    startupValue_.Restore();
    DeleteFileW(harness::JoinPath(startupFolder_, L"Corvalent.lnk").c_str());
    RemoveDirectoryW(startupFolder_.c_str());
    DeleteSettingsKey();
    if (owner_) DestroyWindow(owner_);
  }

  // Calls CVCInterface as the tray program does (library loaded for the one call) while drive acts
  // on the dialog titled title; closes the dialog if drive's actions left it open.
  DialogRun Run(LONG operation, Settings* settings, const wchar_t* title, const std::function<void(HWND)>& drive) {
    DialogRun run;
    HMODULE library = LoadLibraryW(libraryPath_.c_str());
    CVCInterfaceProc entry =
        library ? reinterpret_cast<CVCInterfaceProc>(GetProcAddress(library, "CVCInterface")) : nullptr;
    HANDLE returned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread driver([&] {
      HWND dialog = harness::WaitForShownDialog(GetCurrentProcessId(), title, kWaitMs, returned);
      if (!dialog) return;
      run.appeared = true;
      drive(dialog);
      run.closedByItself = WaitForSingleObject(returned, kWaitMs) == WAIT_OBJECT_0;
      if (!run.closedByItself) PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    if (entry) run.result = entry(owner_, operation, settings);
    SetEvent(returned);
    driver.join();
    CloseHandle(returned);
    if (library) FreeLibrary(library);
    return run;
  }

  DialogRun RunOptions(Settings* settings, const std::function<void(HWND)>& drive) {
    return Run(CFG_OPTIONS, settings, kOptionsTitle, drive);
  }

  std::wstring libraryPath_;
  HWND owner_ = nullptr;
  std::wstring startupFolder_;
  SavedValue startupValue_{HKEY_CURRENT_USER, kShellFolders, L"Startup"};
};

// ---- Options dialog: what it shows.

const int kStartupControls[] = {IDC_STARTUP_MODE, IDC_EXIT_AFTERWARDS, IDC_DELAYED_SETTING, IDC_DELAY};

TEST_F(DialogTest, OptionsShowEveryBitTheListTheDelayAndTheHotKeyOfTheRecord) {
  Settings settings = {OPT_START_WITH_WINDOWS | OPT_EXIT_AFTERWARDS | OPT_AUTOSWITCH | OPT_HOTKEY |
                           OPT_AUTOSWITCH_TOOLTIPS | OPT_DELAYED_SETTING | OPT_METERED_OFFLINE,
                       STARTUP_ONLINE, kCtrlAltK, 1234};
  std::vector<bool> checks;
  std::vector<bool> enabled;
  LRESULT selection = 0;
  std::vector<std::wstring> entries;
  std::wstring delay;
  LRESULT hotKey = 0;
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    for (int id : {IDC_START_WITH_WINDOWS, IDC_EXIT_AFTERWARDS, IDC_DELAYED_SETTING, IDC_AUTOSWITCH,
                   IDC_AUTOSWITCH_TOOLTIPS, IDC_AGGRESSIVE_OFFLINE, IDC_ENABLE_HOTKEY, IDC_METERED_OFFLINE})
      checks.push_back(Checked(dialog, id));
    for (int id : {IDC_STARTUP_MODE, IDC_EXIT_AFTERWARDS, IDC_DELAYED_SETTING, IDC_DELAY, IDC_AGGRESSIVE_OFFLINE,
                   IDC_AUTOSWITCH_TOOLTIPS, IDC_HOTKEY})
      enabled.push_back(Enabled(dialog, id));
    HWND list = GetDlgItem(dialog, IDC_STARTUP_MODE);
    selection = Send(list, CB_GETCURSEL);
    for (LRESULT index = 0; index < Send(list, CB_GETCOUNT); index++) {
      wchar_t entry[64] = L"";
      Send(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(entry));
      entries.push_back(entry);
    }
    delay = Text(dialog, IDC_DELAY);
    hotKey = Send(GetDlgItem(dialog, IDC_HOTKEY), HKM_GETHOTKEY);
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_EQ(checks, (std::vector<bool>{true, true, true, true, true, false, true, true}));
  EXPECT_EQ(enabled, (std::vector<bool>{true, true, true, true, true, true, true}));
  EXPECT_EQ(selection, 2);
  EXPECT_EQ(entries, (std::vector<std::wstring>{L"Leave in the default mode", L"Start in offline mode",
                                                L"Start in online mode", L"Auto start mode"}));
  EXPECT_EQ(delay, L"1234");
  EXPECT_EQ(hotKey, kCtrlAltK);
}

TEST_F(DialogTest, OptionsShowClearedBitsAndNoListSelectionForAnUnknownMode) {
  Settings settings = {OPT_AGGRESSIVE_OFFLINE, 7, 0, 8};
  std::vector<bool> checks;
  LRESULT selection = 0;
  std::wstring delay;
  LRESULT hotKey = -1;
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    for (int id : {IDC_START_WITH_WINDOWS, IDC_EXIT_AFTERWARDS, IDC_DELAYED_SETTING, IDC_AUTOSWITCH,
                   IDC_AUTOSWITCH_TOOLTIPS, IDC_AGGRESSIVE_OFFLINE, IDC_ENABLE_HOTKEY, IDC_METERED_OFFLINE})
      checks.push_back(Checked(dialog, id));
    selection = Send(GetDlgItem(dialog, IDC_STARTUP_MODE), CB_GETCURSEL);
    delay = Text(dialog, IDC_DELAY);
    hotKey = Send(GetDlgItem(dialog, IDC_HOTKEY), HKM_GETHOTKEY);
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_EQ(checks, (std::vector<bool>{false, false, false, false, false, true, false, false}));
  EXPECT_EQ(selection, CB_ERR);
  EXPECT_EQ(delay, L"8");
  EXPECT_EQ(hotKey, 0);
}

TEST_F(DialogTest, StartWithWindowsEnablesTheListExitDelayAndDelayBox) {
  Settings settings = {OPT_EXIT_AFTERWARDS | OPT_DELAYED_SETTING, STARTUP_AUTO, 0, 8};
  std::vector<bool> before, checked, unchecked;
  bool exitStillChecked = false;
  auto states = [](HWND dialog) {
    std::vector<bool> states;
    for (int id : kStartupControls) states.push_back(Enabled(dialog, id));
    return states;
  };
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    before = states(dialog);
    Click(dialog, IDC_START_WITH_WINDOWS);
    checked = states(dialog);
    Click(dialog, IDC_START_WITH_WINDOWS);
    unchecked = states(dialog);
    exitStillChecked = Checked(dialog, IDC_EXIT_AFTERWARDS) && Checked(dialog, IDC_DELAYED_SETTING);
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_EQ(before, (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(checked, (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(unchecked, (std::vector<bool>{false, false, false, false}));
  EXPECT_TRUE(exitStillChecked) << "disabling must keep the check marks";
}

TEST_F(DialogTest, NoDialUpKeepsAggressiveOfflineDisabledWhateverAutoSwitchShows) {
  Settings settings = {OPT_NO_DIALUP | OPT_AUTOSWITCH | OPT_AGGRESSIVE_OFFLINE, 0, 0, 8};
  std::vector<bool> aggressive;
  std::vector<bool> tooltips;
  std::vector<bool> metered;
  bool stillChecked = false;
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    for (int step = 0; step < 3; step++) {
      aggressive.push_back(Enabled(dialog, IDC_AGGRESSIVE_OFFLINE));
      metered.push_back(Enabled(dialog, IDC_METERED_OFFLINE));
      tooltips.push_back(Enabled(dialog, IDC_AUTOSWITCH_TOOLTIPS));
      Click(dialog, IDC_AUTOSWITCH);
    }
    stillChecked = Checked(dialog, IDC_AGGRESSIVE_OFFLINE);
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_EQ(aggressive, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(metered, (std::vector<bool>{true, false, true})) << "the metered box follows AutoSwitch alone";
  EXPECT_EQ(tooltips, (std::vector<bool>{true, true, true}));
  EXPECT_TRUE(stillChecked);
}

TEST_F(DialogTest, AutoStartModeEnablesTheMeteredBoxWithAutoSwitchOff) {
  Settings settings = {0, STARTUP_AUTO, 0, 8};
  std::vector<bool> metered;
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    for (int mode : {STARTUP_ONLINE, STARTUP_AUTO}) {
      metered.push_back(Enabled(dialog, IDC_METERED_OFFLINE));
      Send(GetDlgItem(dialog, IDC_STARTUP_MODE), CB_SETCURSEL, mode);
      Send(dialog, WM_COMMAND, MAKEWPARAM(IDC_STARTUP_MODE, CBN_SELCHANGE), (LPARAM)GetDlgItem(dialog, IDC_STARTUP_MODE));
    }
    metered.push_back(Enabled(dialog, IDC_METERED_OFFLINE));
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_EQ(metered, (std::vector<bool>{true, false, true}));
}

TEST_F(DialogTest, AutoSwitchEnablesAggressiveOfflineButNotTheToolTipsBox) {
  Settings settings = {OPT_AUTOSWITCH, 0, 0, 8};
  std::vector<bool> aggressive;
  std::vector<bool> tooltips;
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    for (int step = 0; step < 3; step++) {
      aggressive.push_back(Enabled(dialog, IDC_AGGRESSIVE_OFFLINE));
      tooltips.push_back(Enabled(dialog, IDC_AUTOSWITCH_TOOLTIPS));
      Click(dialog, IDC_AUTOSWITCH);
    }
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_EQ(aggressive, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(tooltips, (std::vector<bool>{true, true, true}));
}

TEST_F(DialogTest, EnableHotKeyEnablesTheHotKeyControl) {
  Settings settings = {0, 0, kCtrlAltK, 8};
  std::vector<bool> control;
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    for (int step = 0; step < 3; step++) {
      control.push_back(Enabled(dialog, IDC_HOTKEY));
      Click(dialog, IDC_ENABLE_HOTKEY);
    }
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_EQ(control, (std::vector<bool>{false, true, false}));
}

TEST_F(DialogTest, DialogsAreCentredOnTheScreenWhereverTheOwnerIs) {
  POINT screen = {GetSystemMetrics(SM_CXFULLSCREEN) / 2, GetSystemMetrics(SM_CYFULLSCREEN) / 2};
  Settings settings = {0, 0, 0, 8};
  for (POINT ownerAt : {POINT{0, 0}, POINT{900, 700}}) {
    SCOPED_TRACE(testing::Message() << "owner at " << ownerAt.x << "," << ownerAt.y);
    SetWindowPos(owner_, nullptr, ownerAt.x, ownerAt.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    for (const wchar_t* title : {kOptionsTitle, kAboutTitle}) {
      std::optional<POINT> centre;
      DialogRun run = Run(title == kOptionsTitle ? CFG_OPTIONS : CFG_ABOUT, &settings, title, [&](HWND dialog) {
        centre = CentreOf(dialog);
        PostMessageW(dialog, WM_CLOSE, 0, 0);
      });
      ASSERT_TRUE(run.appeared);
      ASSERT_TRUE(centre);
      EXPECT_NEAR(centre->x, screen.x, 2) << title;
      EXPECT_NEAR(centre->y, screen.y, 2) << title;
    }
  }
}

// The window that has the focus on the dialog's thread.
HWND FocusOf(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

TEST_F(DialogTest, DialogsOpenWithTheFocusOnTheirFirstTabStop) {
  Settings settings = {0, 0, 0, 8};
  const struct {
    LONG operation;
    const wchar_t* title;
    int firstTabStop;
  } dialogs[] = {{CFG_OPTIONS, kOptionsTitle, IDC_START_WITH_WINDOWS}, {CFG_ABOUT, kAboutTitle, IDC_ABOUT_OK}};
  for (const auto& expected : dialogs) {
    SCOPED_TRACE(testing::Message() << expected.title);
    HWND focus = nullptr;
    HWND firstTabStop = nullptr;
    DialogRun run = Run(expected.operation, &settings, expected.title, [&](HWND dialog) {
      focus = FocusOf(dialog);
      firstTabStop = GetDlgItem(dialog, expected.firstTabStop);
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_TRUE(firstTabStop);
    EXPECT_EQ(focus, firstTabStop);
  }
}

// Each icon static, by its id, shows its own icon in the frame of the dialog's DPI, and the frame of
// each new DPI that WM_DPICHANGED announces; the About box's online picture stands on the left.
// Set for a run of the test below at another scale than this program's: the DPI its dialogs must have.
// Dialogs at another DPI end that run with kOtherScale: Wine 10 gives them their monitor's DPI,
// which the prefix's LogPixels does not set.
const wchar_t kDpiVariable[] = L"CORVALENT_DIALOG_DPI";
const UINT kOtherScale = 3;

TEST_F(DialogTest, IconStaticsShowTheirOwnIconAtTheDialogsDpiAndAtEachNewOne) {
  using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
  auto getDpiForWindow = reinterpret_cast<GetDpiForWindowProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  ASSERT_TRUE(getDpiForWindow);
  const std::vector<std::pair<int, WORD>> about = {{IDC_ABOUT_ONLINE_ICON, IDI_ONLINE}, {IDC_ABOUT_OFFLINE_ICON, IDI_OFFLINE}};
  const std::vector<std::pair<int, WORD>> options = {
      {IDC_AUTOMATION_ICON, IDI_AUTOMATION}, {IDC_AUTOSWITCH_ICON, IDI_AUTOSWITCH}, {IDC_KEYBOARD_ICON, IDI_KEYBOARD}};
  Settings settings = {0, 0, 0, 8};
  wchar_t wanted[8] = L"";
  UINT wantedDpi = GetEnvironmentVariableW(kDpiVariable, wanted, 8) ? _wtoi(wanted) : 0;
  for (const wchar_t* title : {kAboutTitle, kOptionsTitle}) {
    std::vector<std::optional<harness::IconPicture>> shown, frames;
    std::optional<POINT> online, offline;
    DialogRun run = Run(title == kAboutTitle ? CFG_ABOUT : CFG_OPTIONS, &settings, title, [&](HWND dialog) {
      if (wantedDpi && getDpiForWindow(dialog) != wantedDpi) ExitProcess(kOtherScale);
      for (UINT dpi : {0u, 120u, 168u, 96u}) {
        RECT suggested = {};
        GetWindowRect(dialog, &suggested);
        if (dpi) Send(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        for (const auto& [control, icon] : title == kAboutTitle ? about : options) {
          shown.push_back(harness::PictureOfIcon(reinterpret_cast<HICON>(Send(GetDlgItem(dialog, control), STM_GETICON))));
          frames.push_back(harness::PictureOfResource(libraryPath_, icon, MulDiv(32, dpi ? dpi : getDpiForWindow(dialog), 96)));
        }
      }
      online = CentreOf(GetDlgItem(dialog, IDC_ABOUT_ONLINE_ICON));
      offline = CentreOf(GetDlgItem(dialog, IDC_ABOUT_OFFLINE_ICON));
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(shown, frames) << title;
    if (title == kAboutTitle) EXPECT_TRUE(online && offline && online->x < offline->x);
  }
}

// The same at 150 %: this program once more, started while the prefix's scale is 144 DPI, which
// Wine 8 gives its dialogs as the system's DPI (Wine 10 gives them the monitor's, and skips).
TEST(DialogScaleTest, IconStaticsShowTheirOwnIconAtASecondScale) {
  harness::StageOptions atScale;
  atScale.logPixels = 144;
  harness::Stage stage(atScale);
  ASSERT_TRUE(stage.Ready());
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(path) +
                         L"\" --gtest_filter=DialogTest.IconStaticsShowTheirOwnIconAtTheDialogsDpiAndAtEachNewOne";
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION child = {};
  SetEnvironmentVariableW(kDpiVariable, L"144");
  BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
  SetEnvironmentVariableW(kDpiVariable, nullptr);
  ASSERT_TRUE(started);
  DWORD code = 1;
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  if (code == kOtherScale) GTEST_SKIP() << "this Wine gives dialogs their monitor's DPI, not the prefix's";
  EXPECT_EQ(code, 0u) << "the dialogs' pictures at 144 DPI";
}

// ---- Options dialog: what OK stores.

struct DelayCase {
  const wchar_t* text;
  DWORD stored;
};

void PrintTo(const DelayCase& delayCase, std::ostream* out) {
  *out << '"';
  for (const wchar_t* c = delayCase.text; *c; c++) *out << static_cast<char>(*c);
  *out << "\" -> " << delayCase.stored;
}

class DelayEntryTest : public DialogTest, public ::testing::WithParamInterface<DelayCase> {};

TEST_P(DelayEntryTest, OkStoresTheDelayInRangeOrEight) {
  Settings settings = {0, 0, 0, 55};
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    SetText(dialog, IDC_DELAY, GetParam().text);
    Click(dialog, IDC_OPTIONS_OK);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_TRUE(run.closedByItself);
  EXPECT_EQ(settings.delay, GetParam().stored);
  std::optional<Settings> stored = StoredSettings();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->delay, GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Entries, DelayEntryTest,
                         ::testing::Values(DelayCase{L"0", 8}, DelayCase{L"", 8}, DelayCase{L"301", 8},
                                           DelayCase{L"999", 8}, DelayCase{L"300", 300}, DelayCase{L"1", 1},
                                           DelayCase{L"007", 7}, DelayCase{L"-5", 8},
                                           DelayCase{L"4294967297", 8}));

TEST_F(DialogTest, EnterAcceptsAndAnUntouchedLongDelayAndUnknownModeBecomeEightAndMinusOne) {
  Settings settings = {0, 7, 0, 1234};
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    PressKey(GetDlgItem(dialog, IDC_START_WITH_WINDOWS), VK_RETURN);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_TRUE(run.closedByItself) << "Enter must accept the dialog";
  EXPECT_EQ(settings, (Settings{0, 0xFFFFFFFF, 0, 8}));
  EXPECT_EQ(StoredSettings(), settings);
}

TEST_F(DialogTest, OkStoresEveryControlEvenDisabledOnesAndKeepsTheUnshownBits) {
  const DWORD unshown = OPT_NO_DIALUP | 0x100 | 0x40000;
  Settings settings = {unshown | OPT_EXIT_AFTERWARDS | OPT_DELAYED_SETTING | OPT_AGGRESSIVE_OFFLINE, 7, kCtrlAltK, 5};
  std::vector<bool> disabled;
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    for (int id : {IDC_EXIT_AFTERWARDS, IDC_STARTUP_MODE, IDC_DELAY, IDC_AGGRESSIVE_OFFLINE})
      disabled.push_back(!Enabled(dialog, id));
    // Changes to disabled controls, as another program could make them; OK reads them all the same.
    Send(GetDlgItem(dialog, IDC_EXIT_AFTERWARDS), BM_SETCHECK, BST_UNCHECKED);
    Send(GetDlgItem(dialog, IDC_STARTUP_MODE), CB_SETCURSEL, STARTUP_AUTO);
    SetText(dialog, IDC_DELAY, L"12");
    Click(dialog, IDC_AUTOSWITCH);
    Click(dialog, IDC_AUTOSWITCH_TOOLTIPS);
    Click(dialog, IDC_ENABLE_HOTKEY);
    Click(dialog, IDC_METERED_OFFLINE);
    Send(GetDlgItem(dialog, IDC_HOTKEY), HKM_SETHOTKEY, kCtrlShiftA);
    Click(dialog, IDC_OPTIONS_OK);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_TRUE(run.closedByItself);
  EXPECT_EQ(disabled, (std::vector<bool>{true, true, true, true}));
  Settings expected = {unshown | OPT_DELAYED_SETTING | OPT_AGGRESSIVE_OFFLINE | OPT_AUTOSWITCH |
                           OPT_AUTOSWITCH_TOOLTIPS | OPT_HOTKEY | OPT_METERED_OFFLINE,
                       STARTUP_AUTO, kCtrlShiftA, 12};
  EXPECT_EQ(settings, expected);
  EXPECT_EQ(StoredSettings(), expected);
}

TEST_F(DialogTest, OkClearsTheBitsOfUncheckedBoxes) {
  Settings settings = {0xFF, STARTUP_OFFLINE, kCtrlAltK, 30};
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    for (int id : {IDC_EXIT_AFTERWARDS, IDC_DELAYED_SETTING, IDC_AGGRESSIVE_OFFLINE, IDC_AUTOSWITCH,
                   IDC_AUTOSWITCH_TOOLTIPS, IDC_ENABLE_HOTKEY, IDC_START_WITH_WINDOWS, IDC_METERED_OFFLINE})
      Click(dialog, id);
    Click(dialog, IDC_OPTIONS_OK);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_EQ(settings, (Settings{0, STARTUP_OFFLINE, kCtrlAltK, 30}));
  EXPECT_EQ(StoredSettings(), settings);
}

// ---- Options dialog: the ways out that store nothing.

void ChangeEverything(HWND dialog) {
  Click(dialog, IDC_START_WITH_WINDOWS);
  Click(dialog, IDC_AUTOSWITCH);
  Click(dialog, IDC_ENABLE_HOTKEY);
  Click(dialog, IDC_METERED_OFFLINE);
  Send(GetDlgItem(dialog, IDC_STARTUP_MODE), CB_SETCURSEL, STARTUP_OFFLINE);
  SetText(dialog, IDC_DELAY, L"77");
  Send(GetDlgItem(dialog, IDC_HOTKEY), HKM_SETHOTKEY, kCtrlShiftA);
}

TEST_F(DialogTest, CancelLeavesTheRecordAndStillCreatesTheKeyWithIt) {
  Settings settings = {OPT_NO_DIALUP | OPT_AUTOSWITCH | OPT_METERED_OFFLINE, STARTUP_ONLINE, kCtrlAltK, 9};
  const Settings original = settings;
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    ChangeEverything(dialog);
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_TRUE(run.closedByItself);
  EXPECT_EQ(run.result, CONFIG_OK);
  EXPECT_EQ(settings, original);
  EXPECT_EQ(StoredSettings(), original) << "the key must be created with the unchanged record";
  EXPECT_FALSE(harness::FileExists(harness::JoinPath(startupFolder_, L"Corvalent.lnk")));
}

TEST_F(DialogTest, CloseBoxAndCloseCommandLeaveTheRecordAndSaveIt) {
  for (UINT message : {WM_CLOSE, WM_SYSCOMMAND}) {
    SCOPED_TRACE(message == WM_CLOSE ? "WM_CLOSE" : "SC_CLOSE");
    WriteSettingsKey(Settings{1, 2, 3, 4});
    Settings settings = {OPT_HOTKEY | OPT_DELAYED_SETTING, STARTUP_OFFLINE, kCtrlAltK, 100};
    const Settings original = settings;
    DialogRun run = RunOptions(&settings, [&](HWND dialog) {
      ChangeEverything(dialog);
      PostMessageW(dialog, message, message == WM_CLOSE ? 0 : SC_CLOSE, 0);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_TRUE(run.closedByItself);
    EXPECT_EQ(settings, original);
    EXPECT_EQ(StoredSettings(), original);
  }
}

TEST_F(DialogTest, EscapeLeavesTheOptionsDialogOpen) {
  Settings settings = {OPT_AUTOSWITCH, STARTUP_ONLINE, 0, 8};
  const Settings original = settings;
  bool openAfterCommand = false;
  bool openAfterKey = false;
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    Click(dialog, IDC_ENABLE_HOTKEY);
    Send(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    openAfterCommand = StaysOpen(dialog);
    PressKey(GetDlgItem(dialog, IDC_START_WITH_WINDOWS), VK_ESCAPE);
    openAfterKey = StaysOpen(dialog);
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_TRUE(openAfterCommand);
  EXPECT_TRUE(openAfterKey);
  EXPECT_TRUE(run.closedByItself) << "Cancel must still close it";
  EXPECT_EQ(settings, original);
}

// ---- Options dialog: context help.

const wchar_t kAutoSwitchGroupHelp[] = L"These settings are used to control Corvalent's AutoSwitch feature.";

// Every control with help and its text, in the order of the help table.
const struct {
  int id;
  const wchar_t* text;
} kControlHelp[] = {
    {IDC_AUTOMATION_GROUP, L"These settings are used to automate Corvalent"},
    {IDC_AUTOMATION_ICON, L"These settings are used to automate Corvalent"},
    {IDC_START_WITH_WINDOWS, L"Select this option to have Corvalent start with Windows."},
    {IDC_STARTUP_MODE,
     L"Determine how Corvalent sets Window's offline mode when it starts.\n\nLeave in the default mode\n  Corvalent "
     L"doesn't set the offline mode - it is left as Windows sets it\n\nStart in offline mode\n  Corvalent puts "
     L"Windows into offline mode when it starts\n\nStart in online mode\n  Corvalent puts Windows into online mode "
     L"when it starts\n\nAuto start mode\n  Corvalent puts Windows into online mode if there's a\n  connection to "
     L"the Internet, otherwise offline mode is set.\n\nIf none of these options appear to work for you, try "
     L"checking\nthe \"Delayed Setting\" box"},
    {IDC_EXIT_AFTERWARDS,
     L"Selecting this option will instruct Corvalent to exit after setting the offline/online mode (specified "
     L"above). \n\nThis can be useful if you want Corvalent to set Windows into offline mode, but don't want "
     L"Corvalent running all the time, for example."},
    {IDC_DELAYED_SETTING,
     L"Selecting this option will instruct Corvalent to wait a few seconds\nbefore applying the above settings.\n\n"
     L"This can be useful if you suspect than IE is clobbering Corvalent's\nstartup online/offline mode settings "
     L"when Windows starts."},
    {IDC_DELAY,
     L"You can specify how many seconds after loading Corvalent should wait\nbefore applying the above settings.\n\n"
     L"Because every PC system is different, you may find increasing the default\ndelay improves Corvalent's "
     L"ability to set the starting mode."},
    {IDC_AUTOSWITCH_GROUP, kAutoSwitchGroupHelp},
    {IDC_AUTOSWITCH_ICON, kAutoSwitchGroupHelp},
    {IDC_AUTOSWITCH,
     L"Selecting this option enables Corvalent's AutoSwitch feature.\n\nWhen AutoSwitch is enabled, Corvalent looks "
     L"for an active Internet\nconnection. As soon as one is made, Corvalent switches Windows into\nonline mode. "
     L"Conversely, when an Internet connection is terminated,\nCorvalent switches Windows into offline mode.\n\n"
     L"Enabling AutoSwitch also gives a visual indication of being connected\nto the Internet."},
    {IDC_AUTOSWITCH_TOOLTIPS,
     L"Selecting this options adds AutoSwitch and Internet connection status to the Corvalent tray icon ToolTip."},
    {IDC_AGGRESSIVE_OFFLINE,
     L"When Aggressive Offline is enabled, Corvalent will not leave online mode set if there's no active\n"
     L"connection to the Internet. This feature may help workaround the IE 5.x bug that sets online mode\n"
     L"whenever it is closed down.\n\nAggressive Offline requires dial up networking (DUN) components to be "
     L"installed, so it may\nnot be available if you do not have DUN installed."},
    {IDC_METERED_OFFLINE,
     L"Selecting this option makes AutoSwitch treat a connection that Windows marks as metered\n(a phone's hotspot, "
     L"a mobile broadband modem, a capped data plan) as no connection:\nCorvalent switches Windows into offline mode "
     L"when you join a metered network, and into\nonline mode when you move to one that is not metered, so that "
     L"programs do not quietly\nspend your data.\n\nThe Auto start mode treats it the same way: started with Windows "
     L"on a metered\nconnection, Corvalent puts Windows into offline mode. The option can be set whenever\nAutoSwitch "
     L"or the Auto start mode is selected.\n\nYou can still go online by hand. Aggressive Offline, when "
     L"enabled, undoes that, as it\ndoes without a connection.\n\nWindows tells the cost of a connection from "
     L"Windows 8 on; before that, this option has\nno effect."},
    {IDC_KEYBOARD_GROUP, kAutoSwitchGroupHelp},
    {IDC_KEYBOARD_ICON, L"These settings are used to control Corvalent's hotkey online toggling."},
    {IDC_ENABLE_HOTKEY, L"Select this option to enable offline/online toggling with the keyboard."},
    {IDC_HOTKEY, L"Click here and press the keyboard combination you wish to use for online offline toggling."},
    {IDC_OPTIONS_OK, L"Accept these options and exit"},
    {IDC_OPTIONS_CANCEL, L"Discard these options and exit"},
};

TEST_F(DialogTest, ContextHelpShowsEachControlsTextInAnInformationBox) {
  harness::BoxWatcher watcher;
  Settings settings = {0, 0, 0, 8};
  HWND shownBy = nullptr;
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    shownBy = dialog;
    for (const auto& help : kControlHelp) AskHelp(dialog, help.id);
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  std::vector<harness::BoxRecord> boxes = watcher.Boxes();
  ASSERT_EQ(boxes.size(), std::size(kControlHelp));
  for (size_t index = 0; index < boxes.size(); index++) {
    SCOPED_TRACE(testing::Message() << "control " << kControlHelp[index].id);
    EXPECT_EQ(boxes[index].text, kControlHelp[index].text);
    EXPECT_EQ(boxes[index].title, L"Corvalent Help");
    EXPECT_EQ(boxes[index].icon, harness::BoxIcon::Information);
    EXPECT_TRUE(boxes[index].OnlyOk());
    EXPECT_EQ(boxes[index].owner, shownBy);
  }
}

TEST_F(DialogTest, HelpOnTheSecondsLabelShowsNothing) {
  harness::BoxWatcher watcher;
  Settings settings = {0, 0, 0, 8};
  DialogRun run = RunOptions(&settings, [&](HWND dialog) {
    AskHelp(dialog, IDC_SECONDS_LABEL);
    AskHelp(dialog, IDC_AUTOSWITCH_GROUP);  // a box that shows the watcher is looking
    Click(dialog, IDC_OPTIONS_CANCEL);
  });
  ASSERT_TRUE(run.appeared);
  std::vector<harness::BoxRecord> boxes = watcher.Boxes();
  ASSERT_EQ(boxes.size(), 1u) << "only the AutoSwitch group's help";
  EXPECT_EQ(boxes[0].text, kAutoSwitchGroupHelp);
}

// ---- About box.

// The About box's links go to a program that doesn't exist, so the shell fails them every time.
class AboutTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    for (const wchar_t* scheme : {L"mailto", L"https"}) {
      std::wstring key = std::wstring(L"Software\\Classes\\") + scheme;
      HKEY opened;
      bool existed = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS;
      if (existed) RegCloseKey(opened);
      schemes_.push_back({key, existed, SavedValue(HKEY_LOCAL_MACHINE, key + L"\\shell\\open\\command", L"")});
      schemes_.back().command.Set(L"C:\\nowhere\\no-such-program.exe \"%1\"");
    }
  }

  void TearDown() override {
    for (const Scheme& scheme : schemes_) {
      if (scheme.existed) {
        scheme.command.Restore();
      } else {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, scheme.key.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, scheme.key.c_str());
      }
    }
    DialogTest::TearDown();
  }

  DialogRun RunAbout(const std::function<void(HWND)>& drive) {
    return Run(CFG_ABOUT, nullptr, kAboutTitle, drive);
  }

  struct Scheme {
    std::wstring key;
    bool existed;
    SavedValue command;
  };
  std::vector<Scheme> schemes_;
};

// The text of the static that shows the product and its version.
std::wstring ProductText(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t text[256] = L"";
    Send(child, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    if (lstrcmpiW(harness::WindowClass(child).c_str(), L"Static") == 0 && text[0]) return text;
  }
  return L"";
}

std::wstring FailedVisit(const wchar_t* url) {
  return std::wstring(L"Couldn't visit \"") + url + L"\"";
}

TEST_F(AboutTest, ShowsTheProductAndVersionAndOkClosesIt) {
  harness::BoxWatcher watcher;
  std::wstring product;
  DialogRun run = RunAbout([&](HWND dialog) {
    product = ProductText(dialog);
    Click(dialog, IDC_ABOUT_OK);
  });
  ASSERT_TRUE(run.appeared);
  EXPECT_TRUE(run.closedByItself);
  EXPECT_EQ(run.result, CONFIG_OK);
  size_t lineEnd = product.find(L'\n');
  EXPECT_EQ(product.substr(0, lineEnd), L"Corvalent 2.02");
  ASSERT_NE(lineEnd, std::wstring::npos) << "a copyright line must follow";
  EXPECT_NE(product.substr(lineEnd + 1), L"");
  EXPECT_EQ(watcher.Count(), 0u);
}

TEST_F(AboutTest, EnterClosesTheAboutBox) {
  harness::BoxWatcher watcher;
  DialogRun run = RunAbout([&](HWND dialog) { PressKey(GetDlgItem(dialog, IDC_ABOUT_OK), VK_RETURN); });
  ASSERT_TRUE(run.appeared);
  EXPECT_TRUE(run.closedByItself);
  EXPECT_EQ(run.result, CONFIG_OK);
  EXPECT_EQ(watcher.Count(), 0u) << "Enter must not open a link";
}

TEST_F(AboutTest, CloseBoxClosesTheAboutBoxWithoutALink) {
  harness::BoxWatcher watcher;
  DialogRun run = RunAbout([&](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
  ASSERT_TRUE(run.appeared);
  EXPECT_TRUE(run.closedByItself);
  EXPECT_EQ(run.result, CONFIG_OK);
  EXPECT_EQ(watcher.Count(), 0u);
}

TEST_F(AboutTest, EscapeOpensTheMailLinkEachTimeAndTheBoxStaysOpen) {
  harness::BoxWatcher watcher;
  HWND about = nullptr;
  bool openAfterKey = false;
  bool openAfterCommand = false;
  std::optional<harness::BoxRecord> first;
  std::vector<harness::BoxRecord> boxes;
  DialogRun run = RunAbout([&](HWND dialog) {
    about = dialog;
    PressKey(GetDlgItem(dialog, IDC_ABOUT_OK), VK_ESCAPE);
    first = WaitForBoxTitled(watcher, L"E-mail Bramlow");
    openAfterKey = StaysOpen(dialog);
    Send(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    openAfterCommand = StaysOpen(dialog);
    boxes = watcher.Boxes();
    Click(dialog, IDC_ABOUT_OK);
  });
  ASSERT_TRUE(run.appeared);
  ASSERT_TRUE(first) << "no \"E-mail Bramlow\" box";
  EXPECT_EQ(first->text, FailedVisit(kMailUrl));
  EXPECT_EQ(first->icon, harness::BoxIcon::Warning);
  EXPECT_TRUE(first->OnlyOk());
  EXPECT_EQ(first->owner, about);
  EXPECT_TRUE(openAfterKey);
  EXPECT_TRUE(openAfterCommand);
  size_t mailBoxes = 0;
  for (const harness::BoxRecord& box : boxes) mailBoxes += box.title == L"E-mail Bramlow";
  EXPECT_EQ(mailBoxes, 2u) << "each Escape hands the link to the shell again";
  EXPECT_TRUE(run.closedByItself);
}

// Lines of a text file; none when it can't be read.
std::vector<std::string> LinesOf(const std::wstring& path) {
  std::vector<std::string> lines;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  char buffer[4096];
  DWORD read = 0;
  std::string text;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read) text.append(buffer, read);
  CloseHandle(file);
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Each press of a link button hands its URL to the shell, which starts the scheme's handler: here
// the command processor, which appends its argument to a file. One press at a time, so that no two
// handlers write at once.
TEST_F(AboutTest, EachPressOfALinkButtonHandsItsUrlToTheShell) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring log = harness::JoinPath(temp, L"cvlinks-" + std::to_wstring(GetCurrentProcessId()) + L".txt");
  DeleteFileW(log.c_str());
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  for (const Scheme& scheme : schemes_)
    scheme.command.Set(L"\"" + harness::JoinPath(system, L"cmd.exe") + L"\" /c echo %1>>\"" + log + L"\"");
  harness::BoxWatcher watcher;
  const int presses[] = {IDC_ABOUT_EMAIL, IDC_ABOUT_EMAIL, IDC_ABOUT_WEB, IDC_ABOUT_EMAIL, IDC_ABOUT_WEB};
  std::vector<std::string> lines;
  DialogRun run = RunAbout([&](HWND dialog) {
    for (size_t count = 1; count <= std::size(presses); count++) {
      Click(dialog, presses[count - 1]);
      if (!harness::WaitUntil([&] { return LinesOf(log).size() >= count; })) break;
    }
    lines = LinesOf(log);
    Click(dialog, IDC_ABOUT_OK);
  });
  DeleteFileW(log.c_str());
  ASSERT_TRUE(run.appeared);
  EXPECT_TRUE(run.closedByItself);
  const std::string mail(std::begin(kMailUrl), std::end(kMailUrl) - 1);
  const std::string web(std::begin(kWebUrl), std::end(kWebUrl) - 1);
  EXPECT_EQ(lines, (std::vector<std::string>{mail, mail, web, mail, web}));
  EXPECT_EQ(watcher.Count(), 0u) << "a link the shell could open shows no box";
}

TEST_F(AboutTest, VisitWebShowsVisitBramlowWhenTheLinkFails) {
  harness::BoxWatcher watcher;
  HWND about = nullptr;
  bool open = false;
  std::optional<harness::BoxRecord> box;
  DialogRun run = RunAbout([&](HWND dialog) {
    about = dialog;
    Click(dialog, IDC_ABOUT_WEB);
    box = WaitForBoxTitled(watcher, L"Visit Bramlow");
    open = StaysOpen(dialog);
    Click(dialog, IDC_ABOUT_OK);
  });
  ASSERT_TRUE(run.appeared);
  ASSERT_TRUE(box) << "no \"Visit Bramlow\" box";
  EXPECT_EQ(box->text, FailedVisit(kWebUrl));
  EXPECT_EQ(box->icon, harness::BoxIcon::Warning);
  EXPECT_EQ(box->owner, about);
  EXPECT_TRUE(open);
  EXPECT_TRUE(run.closedByItself);
}

}  // namespace
