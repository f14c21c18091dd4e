// End-to-end tests of requests that must not get lost: a copy that asks the running one to end
// waits for its end, and every close meeting the menu or an open dialog. Program e2e_requests.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "harness.h"
#include "../../config/cvconfig.h"
#include "../../resources/corvalent_res.h"
#include "../../tray/window.h"

using namespace harness;

namespace {

// Controls of the library's dialogs that these tests press or flip.
const int IDC_EXIT_AFTERWARDS = 1003;
const int IDC_OPTIONS_OK = 1006;
const int IDC_AUTOSWITCH_TOOLTIPS = 1008;
const int IDC_ABOUT_OK = 1019;


class RequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doubles.Ready());
    ASSERT_TRUE(tray.Ready());
    ASSERT_TRUE(stage.Ready());
    DeleteSettingsKey();
  }
  void TearDown() override { DeleteSettingsKey(); }

  // Starts the program with the words and waits for its window and tray icon.
  void Start(Program* program, const std::wstring& words) {
    ASSERT_TRUE(program->Start(words)) << std::string(program->Error().begin(), program->Error().end());
    boxes.emplace(program->ProcessId());
    HWND main = program->WaitForMainWindow();
    ASSERT_TRUE(main);
    ASSERT_TRUE(tray.WaitForMatch([&](const TrayRecord& r) { return r.message == NIM_ADD && r.window == main; }));
  }

  // Posts a poll tick and waits until it has been handled: everything posted before it has been too.
  bool Flush(const Program& program) {
    LONG queries = doubles.WinInet().queryCount;
    return program.Post(Timer(TIMER_POLL)) &&
           doubles.WaitFor([&](const DoubleStateBlock& block) { return block.wininet.queryCount > queries; });
  }

  DoubleState doubles;
  TrayRecorder tray;
  Stage stage;
  std::optional<BoxWatcher> boxes;
};

HWND WaitForDialog(const Program& program, const wchar_t* title) {
  HWND dialog = WaitForShownDialog(program.ProcessId(), title, kWaitMs, program.Process());
  if (dialog && !WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; }, program.Process())) return nullptr;
  return dialog;
}

// ---- A copy that asks the running one to end returns only once that copy's process has ended.

// A window of class "Corvalent" on the test's thread: a running copy whose process (this test)
// never ends. It answers requests whenever the thread waits in WaitPumpingSent.
class StandInCopy {
 public:
  StandInCopy() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Corvalent";
    RegisterClassW(&windowClass);
    received_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    window_ = CreateWindowExW(0, L"Corvalent", L"stand-in", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                              windowClass.hInstance, nullptr);
  }
  ~StandInCopy() {
    DestroyWindow(window_);
    UnregisterClassW(L"Corvalent", GetModuleHandleW(nullptr));
    CloseHandle(received_);
  }
  bool Ready() const { return window_ && received_; }
  // The request that another copy sent, once it has come; 0 on timeout.
  UINT WaitForRequest() { return WaitPumpingSent(received_, kWaitMs) == WAIT_OBJECT_0 ? request_ : 0; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == MSG_EXIT || message == MSG_UNINSTALL) {
      request_ = message;
      SetEvent(received_);
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
  static UINT request_;
  static HANDLE received_;
  HWND window_ = nullptr;
};
UINT StandInCopy::request_ = 0;
HANDLE StandInCopy::received_ = nullptr;

TEST_F(RequestsTest, CopyAskingToEndWaitsForTheRunningCopyAndEndsWithOneWhenItDoesNotEnd) {
  const struct {
    const wchar_t* word;
    UINT request;
    bool offlineAfter;  // at the end, when the copy asked went offline (its AutoSwitch) meanwhile
  } cases[] = {{L"exit", MSG_EXIT, true}, {L"uninstall", MSG_UNINSTALL, false}};
  for (const auto& row : cases) {
    SCOPED_TRACE(std::string(row.word, row.word + lstrlenW(row.word)));
    StandInCopy running;
    ASSERT_TRUE(running.Ready());
    Program asking(stage);
    ASSERT_TRUE(asking.Start(row.word));
    BoxWatcher askingBoxes(asking.ProcessId());
    EXPECT_EQ(running.WaitForRequest(), row.request);
    doubles.SetWorkingOffline(true);
    ULONGLONG handled = GetTickCount64();
    EXPECT_FALSE(asking.WaitForExit(2000)) << "ended while the copy it asked still runs";
    EXPECT_EQ(asking.WaitForExit(10000), std::optional<DWORD>(1)) << "the wait is not bounded";
    EXPECT_GE(GetTickCount64() - handled, 2000u);
    EXPECT_EQ(doubles.WorkingOffline(), row.offlineAfter) << "online again only after an uninstall's wait";
    EXPECT_EQ(askingBoxes.Count(), 0u) << "a setup waiting for this copy would wait for a click";
  }
}

// A running copy that hangs: this thread does not pump while it waits, so the stand-in never
// takes the request. The asking copy gives up after five seconds.
TEST_F(RequestsTest, CopyAskingAHungCopyToEndEndsWithOneWithinFiveSeconds) {
  StandInCopy hung;
  ASSERT_TRUE(hung.Ready());
  Program asking(stage);
  ASSERT_TRUE(asking.Start(L"exit"));
  BoxWatcher askingBoxes(asking.ProcessId());
  ULONGLONG started = GetTickCount64();
  ASSERT_EQ(WaitForSingleObject(asking.Process(), 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << "waits for ever";
  EXPECT_LT(GetTickCount64() - started, 8000u);
  EXPECT_EQ(asking.WaitForExit(), std::optional<DWORD>(1));
  EXPECT_EQ(askingBoxes.Count(), 0u);
}

// A running copy that ends on another copy's request before it takes this one: the window's
// thread waits, without pumping, until the request is pending and ends with it unanswered.
DWORD WINAPI EndWithARequestPending(void* created) {
  HWND window = CreateWindowExW(0, L"Corvalent", L"ending", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (!window || !SetEvent(created)) return 1;
  return MsgWaitForMultipleObjectsEx(0, nullptr, kWaitMs, QS_SENDMESSAGE, 0) == WAIT_OBJECT_0 ? 0 : 1;
}

TEST_F(RequestsTest, CopyWhoseRequestIsLeftUnansweredByAnEndingCopyStillWaitsForItsProcess) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"Corvalent";
  ASSERT_TRUE(RegisterClassW(&windowClass));
  HANDLE created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE ending = CreateThread(nullptr, 0, EndWithARequestPending, created, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(created, kWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  Program asking(stage);
  ASSERT_TRUE(asking.Start(L"exit"));
  DWORD pending = 1;
  EXPECT_EQ(WaitForSingleObject(ending, kWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(GetExitCodeThread(ending, &pending) && pending == 0) << "the request never came";
  EXPECT_FALSE(asking.WaitForExit(2000)) << "gave up while the copy it asked still runs";
  EXPECT_EQ(asking.WaitForExit(10000), std::optional<DWORD>(1));
  CloseHandle(ending);
  CloseHandle(created);
  UnregisterClassW(L"Corvalent", GetModuleHandleW(nullptr));
}

TEST_F(RequestsTest, CopyAskingToEndEndsWithZeroOnlyAfterTheRunningCopysProcess) {
  for (const wchar_t* word : {L"exit", L"uninstall"}) {
    SCOPED_TRACE(std::string(word, word + lstrlenW(word)));
    Program running(stage);
    ASSERT_TRUE(running.Start());
    ASSERT_TRUE(running.WaitForMainWindow());
    Program asking(stage);
    ASSERT_TRUE(asking.Start(word));
    EXPECT_EQ(asking.WaitForExit(), std::optional<DWORD>(0));
    EXPECT_FALSE(running.Running()) << "the asking copy ended before the running one";
    EXPECT_EQ(running.WaitForExit(), std::optional<DWORD>(0));
  }
}

// ---- The delayed setting with Exit afterwards fires while a dialog of the library is open.

// Far enough away that only the tick the test posts runs the delayed setting.
const DWORD kLongDelay = 100000;
const DWORD kDelayedExit = OPT_DELAYED_SETTING | OPT_EXIT_AFTERWARDS;

TEST_F(RequestsTest, DelayedSettingDuringADialogAppliesTheModeAndClosesOnlyAfterItKeepingItsEdits) {
  const struct {
    const char* name;
    WORD command;
    const wchar_t* title;
    int okButton;
    std::vector<int> toggled;  // check boxes the user flips before OK
    DWORD stored;              // "Options" afterwards
    bool ends;
  } cases[] = {
      {"Options, Exit afterwards kept", IDM_OPTIONS, L"Corvalent Options", IDC_OPTIONS_OK, {IDC_AUTOSWITCH_TOOLTIPS},
       kDelayedExit | OPT_AUTOSWITCH_TOOLTIPS, true},
      {"Options, Exit afterwards cleared", IDM_OPTIONS, L"Corvalent Options", IDC_OPTIONS_OK,
       {IDC_AUTOSWITCH_TOOLTIPS, IDC_EXIT_AFTERWARDS}, OPT_DELAYED_SETTING | OPT_AUTOSWITCH_TOOLTIPS, false},
      {"About", IDM_ABOUT, L"About Corvalent", IDC_ABOUT_OK, {}, kDelayedExit, true},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    doubles.Reset();
    ASSERT_TRUE(WriteSettingsKey(kDelayedExit, STARTUP_OFFLINE, 0, kLongDelay));
    Program program(stage);
    Start(&program, L"startup");
    EXPECT_EQ(doubles.WinInet().setCount, 1) << "the mode was not applied at start";
    ASSERT_TRUE(program.Post(Command(row.command)));
    HWND dialog = WaitForDialog(program, row.title);
    ASSERT_TRUE(dialog);

    doubles.SetWorkingOffline(false);
    ASSERT_TRUE(program.Post(Timer(TIMER_DELAYED_SETTING)));
    ASSERT_TRUE(Flush(program)) << "the program ended with the dialog open";
    EXPECT_EQ(doubles.WinInet().setCount, 2) << "the mode was not applied on time";
    EXPECT_TRUE(doubles.WorkingOffline());
    EXPECT_TRUE(IsWindow(dialog));

    for (int id : row.toggled) {
      HWND box = GetDlgItem(dialog, id);
      SendMessageW(box, BM_SETCHECK, SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
    }
    ASSERT_TRUE(PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(row.okButton, BN_CLICKED), 0));
    if (row.ends) {
      EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0)) << "did not close after the dialog";
    } else {
      EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, program.Process()));
      EXPECT_TRUE(Flush(program)) << "closed although Exit afterwards was cleared";
      ASSERT_TRUE(program.Post(Command(IDM_EXIT)));
      EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
    }
    EXPECT_EQ(ReadSettingsWord(L"Options"), std::optional<DWORD>(row.stored)) << "the dialog's edits were lost";
    EXPECT_EQ(doubles.WinInet().setCount, 2);
    EXPECT_EQ(boxes->Count(), 0u);
  }
}

// ---- "options startup" with the delayed setting: another copy ends the program while the
// Options dialog of the start is open.

TEST_F(RequestsTest, EndDuringTheOptionsDialogOfTheStartSetsNoDelayedTimerAndShowsNothing) {
  ASSERT_TRUE(WriteSettingsKey(kDelayedExit, STARTUP_OFFLINE, 0, 1));
  Program program(stage);
  Start(&program, L"options startup");
  ASSERT_TRUE(WaitForDialog(program, L"Corvalent Options"));

  Program asking(stage);
  ASSERT_TRUE(asking.Start(L"exit"));
  EXPECT_EQ(asking.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(boxes->Count(), 0u) << ::testing::PrintToString(boxes->Boxes());
  EXPECT_EQ(doubles.WinInet().setCount, 1) << "the delayed setting ran";
}

// ---- Every close meets every modal state: it ends the state first (the delayed close waits for a
// dialog, whose user may be editing, until the user closes it), and the process ends.
enum State { MENU, ABOUT, OPTIONS, HELP };
enum Close { EXIT, UNINSTALL, DELAYED, SESSION_END, WINDOW_CLOSE };
const char* const kStates[] = {"Menu", "About", "Options", "Help"};
const char* const kCloses[] = {"Exit", "Uninstall", "DelayedClose", "SessionEnd", "WindowClose"};

class ModalCloseTest : public RequestsTest, public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(ModalCloseTest, CloseEndsTheStateFirstAndTheProcessWithinFiveSeconds) {
  const auto [state, close] = GetParam();
  wchar_t folder[MAX_PATH] = L"";
  DWORD size = sizeof folder;
  RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell folders", L"Startup",
               RRF_RT_REG_SZ, nullptr, folder, &size);
  const std::wstring shortcut = JoinPath(folder, L"Corvalent.lnk");
  CloseHandle(CreateFileW(shortcut.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(WriteSettingsKey(kDelayedExit, STARTUP_OFFLINE, 0, kLongDelay) && FileExists(shortcut));
  Program program(stage), asking(stage);
  Start(&program, L"startup");
  HWND opened = nullptr;
  if (state == MENU && program.Post(TrayCallback(WM_RBUTTONDOWN))) {
    WaitUntil([&] { return (opened = FindTopWindow(program.ProcessId(), L"#32768", nullptr)) && IsWindowVisible(opened); },
              program.Process());
  } else if (state != MENU && program.Post(Command(state == ABOUT ? IDM_ABOUT : IDM_OPTIONS))) {
    opened = WaitForDialog(program, state == ABOUT ? L"About Corvalent" : L"Corvalent Options");
  }
  ASSERT_TRUE(opened) << "the state did not open";
  if (state == HELP) {  // the help box of a check box, shown before the send's short wait ends
    boxes->Hold();
    HELPINFO help = {sizeof help, HELPINFO_WINDOW, IDC_EXIT_AFTERWARDS, GetDlgItem(opened, IDC_EXIT_AFTERWARDS)};
    DWORD_PTR result;
    SendMessageTimeoutW(opened, WM_HELP, 0, reinterpret_cast<LPARAM>(&help), SMTO_NORMAL, 100, &result);
    ASSERT_TRUE(boxes->WaitForBox(0).has_value());
  }

  if (close <= UNINSTALL) ASSERT_TRUE(asking.Start(close == EXIT ? L"exit" : L"uninstall"));
  if (close == SESSION_END) EXPECT_TRUE(program.Send(Message{WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP}));
  if (close == DELAYED || close == WINDOW_CLOSE)  // WM_CLOSE as taskkill sends it
    ASSERT_TRUE(program.Post(close == DELAYED ? Timer(TIMER_DELAYED_SETTING) : Message{WM_CLOSE, 0, 0}));
  if (close == DELAYED && state != MENU) {
    ASSERT_TRUE(Flush(program)) << "the delayed close did not wait for the dialog";
    boxes->Release();
    PostMessageW(opened, WM_CLOSE, 0, 0);
  }
  EXPECT_EQ(program.WaitForExit(kWaitMs), std::optional<DWORD>(0)) << "the process stays";
  if (close <= UNINSTALL) EXPECT_EQ(asking.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(ReadSettingsWord(L"Options").has_value(), close != UNINSTALL);
  EXPECT_EQ(FileExists(shortcut), close != UNINSTALL);
  EXPECT_EQ(boxes->Count(), state == HELP ? 1u : 0u) << ::testing::PrintToString(boxes->Boxes());
  DeleteFileW(shortcut.c_str());
}

INSTANTIATE_TEST_SUITE_P(States, ModalCloseTest, ::testing::Combine(::testing::Range(0, 4), ::testing::Range(0, 5)),
                         [](const auto& info) {
                           return std::string(kStates[std::get<0>(info.param)]) + kCloses[std::get<1>(info.param)];
                         });

}  // namespace
