// End-to-end tests of start-up: every command word with and without a running copy, the requests
// between copies, the start-up run with its delayed setting, and a start without the library.
#include <gtest/gtest.h>

#include "harness.h"

#include <shellapi.h>
#include <tlhelp32.h>
#include <wininet.h>
#include <netlistmgr.h>

#include <memory>
#include <vector>

namespace {

// The tray program's values that these tests drive; fixed by its command line and its store.
const WORD IDM_EXIT = 40006;
const int IDC_OPTIONS_CANCEL = 1007;
const DWORD OPT_EXIT_AFTERWARDS = 0x00000002;
const DWORD OPT_AUTOSWITCH = 0x00000004;
const UINT MSG_EXIT = WM_USER + 2;
const DWORD OPT_DELAYED_SETTING = 0x00000040;
const DWORD STARTUP_OFFLINE = 1;
const UINT_PTR TIMER_POLL = 101;

const wchar_t kSettingsKey[] = L"Software\\Bramlow Software\\Corvalent";
const wchar_t kOptionsTitle[] = L"Corvalent Options";

// Writes the four settings words as 4-byte binary values, as the configuration library keeps them.
bool WriteSettings(DWORD options, DWORD startupMode, DWORD hotKey, DWORD delay) {
  return harness::WriteSettingsKey(options, startupMode, hotKey, delay);
}

bool SettingsKeyExists() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void DeleteSettingsKey() {
  harness::DeleteSettingsKey();
}

// Window handles as the notification area gets them: 32 bits wide.
bool SameWindow(HWND recorded, HWND window) {
  return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(recorded)) ==
         static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window));
}

std::function<bool(const harness::TrayRecord&)> Call(DWORD message, HWND window) {
  return [message, window](const harness::TrayRecord& record) {
    return record.message == message && SameWindow(record.window, window);
  };
}

size_t CountOf(const harness::TrayRecorder& tray, DWORD message) {
  size_t count = 0;
  for (const harness::TrayRecord& record : tray.Records()) count += record.message == message;
  return count;
}

// Whether the process has ole32.dll loaded; nothing when its modules cannot be listed.
std::optional<bool> HasCom(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
  if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
  MODULEENTRY32W module = {sizeof module};
  bool found = false;
  for (BOOL more = Module32FirstW(snapshot, &module); more && !found; more = Module32NextW(snapshot, &module))
    found = lstrcmpiW(module.szModule, L"ole32.dll") == 0;
  CloseHandle(snapshot);
  return found;
}

// A stand-in running copy, whose window reads the modules of the copy that sends it "exit".
DWORD exitCopyId;
std::optional<bool> exitCopyHasCom;
LRESULT CALLBACK StandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == MSG_EXIT) exitCopyHasCom = HasCom(exitCopyId);
  return DefWindowProcW(window, message, wParam, lParam);
}

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettingsKey();
    ASSERT_TRUE(doubles_.Ready());
    ASSERT_TRUE(tray_.Ready());
  }

  void TearDown() override { DeleteSettingsKey(); }

  // Starts a tray instance with the words and waits for its window and its tray icon.
  static void StartTrayInstance(harness::Program& program, harness::TrayRecorder& tray, const std::wstring& words) {
    ASSERT_TRUE(program.Start(words)) << ::testing::PrintToString(program.Error());
    ASSERT_NE(nullptr, program.WaitForMainWindow()) << "no window of class \"Corvalent\"";
    ASSERT_TRUE(tray.WaitForMatch(Call(NIM_ADD, program.MainWindow())).has_value()) << "no NIM_ADD";
  }

  // Runs the program with the words to its end; its exit code, nothing if it did not end in time.
  static std::optional<DWORD> RunToEnd(const harness::Stage& stage, const std::wstring& words) {
    harness::Program program(stage);
    if (!program.Start(words)) return std::nullopt;
    return program.WaitForExit();
  }

  // Ends a tray instance from its menu's "&Exit Corvalent" and checks that it ends with 0.
  static void EndFromMenu(harness::Program& program) {
    if (!program.Running()) return;
    EXPECT_TRUE(program.Post(harness::Command(IDM_EXIT)));
    EXPECT_EQ(std::optional<DWORD>(0), program.WaitForExit());
  }

  static HWND WaitForOptionsDialog(const harness::Program& program) {
    return harness::WaitForShownDialog(program.ProcessId(), kOptionsTitle, harness::kWaitMs,
                                     program.Process());
  }

  static void CancelOptionsDialog(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OPTIONS_CANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_OPTIONS_CANCEL)));
    EXPECT_TRUE(harness::WaitUntil([&] { return !IsWindow(dialog); })) << "the Options dialog did not close on Cancel";
  }

  harness::DoubleState doubles_;
  harness::TrayRecorder tray_;
};

TEST_F(Startup, NoWordsWithoutCopyRunTrayInstanceThatExitWordEndsWithZero) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready()) << ::testing::PrintToString(stage.Error());
  harness::Program running(stage);
  StartTrayInstance(running, tray_, L"");
  EXPECT_TRUE(running.Running());

  EXPECT_EQ(std::optional<DWORD>(0), RunToEnd(stage, L"exit"));
  EXPECT_EQ(std::optional<DWORD>(0), running.WaitForExit()) << "the running copy did not end";
  EXPECT_TRUE(tray_.WaitForMatch(Call(NIM_DELETE, running.MainWindow())).has_value()) << "no NIM_DELETE";
}

// COM only where the connection is asked for: not in a copy that passes "exit" on, nor in a tray
// instance with AutoSwitch off; a tray instance with AutoSwitch on has it.
TEST_F(Startup, OnlyACopyThatAsksForTheConnectionLoadsCom) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  WNDCLASSW standInClass = {0, StandInProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr,
                            L"Corvalent"};
  ASSERT_TRUE(RegisterClassW(&standInClass));
  HWND standIn = CreateWindowW(L"Corvalent", L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  harness::Program exitCopy(stage);
  ASSERT_TRUE(exitCopy.Start(L"exit"));
  exitCopyId = exitCopy.ProcessId();
  // It then waits for the stand-in's process to end, which it does not.
  EXPECT_TRUE(harness::WaitUntil([] { return exitCopyHasCom.has_value(); }, exitCopy.Process()));
  exitCopy.Kill();
  DestroyWindow(standIn);
  UnregisterClassW(L"Corvalent", GetModuleHandleW(nullptr));
  EXPECT_EQ(std::optional<bool>(false), exitCopyHasCom);

  doubles_.SetNetworkList(NLM_CONNECTIVITY_IPV4_INTERNET);
  for (DWORD options : {0ul, OPT_AUTOSWITCH}) {
    ASSERT_TRUE(WriteSettings(options, 0, 0, 8));
    harness::Program running(stage);
    StartTrayInstance(running, tray_, L"");
    for (int tick = 0; tick < 3; tick++) EXPECT_TRUE(running.Send(harness::Timer(TIMER_POLL)));
    EXPECT_EQ(std::optional<bool>(options != 0), HasCom(running.ProcessId())) << "options " << options;
    EndFromMenu(running);
  }
}

TEST_F(Startup, NoWordsWithRunningCopyShowAlreadyRunningBoxAndExitWithOne) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program running(stage);
  StartTrayInstance(running, tray_, L"");

  harness::Program second(stage);
  ASSERT_TRUE(second.Start(L""));
  harness::BoxWatcher boxes(second.ProcessId());
  std::optional<harness::BoxRecord> box = boxes.WaitForBox(0);
  ASSERT_TRUE(box.has_value()) << "no box from the second copy";
  EXPECT_EQ(L"Corvalent is already running.\n", box->text);
  EXPECT_EQ(L"Corvalent", box->title);
  EXPECT_EQ(harness::BoxIcon::Warning, box->icon) << harness::BoxIconName(box->icon);
  EXPECT_TRUE(box->OnlyOk()) << ::testing::PrintToString(*box);
  EXPECT_TRUE(box->owner == nullptr || box->owner == GetDesktopWindow()) << box->owner;
  EXPECT_EQ(std::optional<DWORD>(1), second.WaitForExit());
  EXPECT_EQ(1u, boxes.Count());
  EXPECT_EQ(1u, CountOf(tray_, NIM_ADD)) << "the second copy added a tray icon";

  EXPECT_TRUE(running.Running()) << "the running copy ended";
  EndFromMenu(running);
}

TEST_F(Startup, OptionsWordWithRunningCopyOpensItsOptionsDialogAndEndsAtOnceWithZero) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program running(stage);
  StartTrayInstance(running, tray_, L"");

  harness::Program second(stage);
  ASSERT_TRUE(second.Start(L"options"));
  EXPECT_EQ(std::optional<DWORD>(0), second.WaitForExit()) << "the second copy waited for the dialog";
  HWND dialog = WaitForOptionsDialog(running);
  ASSERT_NE(nullptr, dialog) << "the running copy did not open its Options dialog";
  EXPECT_EQ(nullptr, WaitForOptionsDialog(second));
  CancelOptionsDialog(dialog);
  EXPECT_TRUE(running.Running()) << "the running copy ended with its dialog";
  EndFromMenu(running);
}

TEST_F(Startup, OptionsWordWithoutCopyRunsTrayInstanceAndOpensOptionsDialogAtOnce) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program program(stage);
  StartTrayInstance(program, tray_, L"options");
  HWND dialog = WaitForOptionsDialog(program);
  ASSERT_NE(nullptr, dialog) << "no Options dialog";
  CancelOptionsDialog(dialog);
  EXPECT_TRUE(program.Running());
  EndFromMenu(program);
}

TEST_F(Startup, OptionsAndExitWithRunningCopyOpenItsDialogAndLeaveItRunning) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program running(stage);
  StartTrayInstance(running, tray_, L"");

  EXPECT_EQ(std::optional<DWORD>(0), RunToEnd(stage, L"options exit"));
  HWND dialog = WaitForOptionsDialog(running);
  ASSERT_NE(nullptr, dialog) << "the running copy did not open its Options dialog";
  EXPECT_TRUE(running.Running()) << "\"exit\" beside \"options\" ended the running copy";
  CancelOptionsDialog(dialog);
  EXPECT_TRUE(running.Running());
  EXPECT_EQ(0u, CountOf(tray_, NIM_DELETE));
  EndFromMenu(running);
}

// "exit" beside any other word, without a running copy: nothing at all, not even an uninstall.
TEST_F(Startup, ExitWordWithoutCopyEndsWithZeroAndDoesNothingElse) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  for (const wchar_t* words : {L"exit", L"options exit", L"exit uninstall", L"startup uninstall exit"}) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(words)));
    ASSERT_TRUE(WriteSettings(OPT_EXIT_AFTERWARDS, STARTUP_OFFLINE, 0, 8));
    harness::Program program(stage);
    ASSERT_TRUE(program.Start(words));
    harness::BoxWatcher boxes(program.ProcessId());
    EXPECT_EQ(std::optional<DWORD>(0), program.WaitForExit());
    EXPECT_EQ(0u, tray_.Count());
    EXPECT_EQ(0u, boxes.Count());
    EXPECT_TRUE(SettingsKeyExists()) << "uninstalled";
    EXPECT_EQ(0, doubles_.WinInet().setCount) << "applied the start-up mode";
  }
}

TEST_F(Startup, ExitAndUninstallWithRunningCopyOnlyEndItAndKeepTheSettings) {
  ASSERT_TRUE(WriteSettings(0, 0, 0, 8));
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program running(stage);
  StartTrayInstance(running, tray_, L"");

  EXPECT_EQ(std::optional<DWORD>(0), RunToEnd(stage, L"exit uninstall"));
  EXPECT_EQ(std::optional<DWORD>(0), running.WaitForExit()) << "the running copy did not end";
  EXPECT_TRUE(tray_.WaitForMatch(Call(NIM_DELETE, running.MainWindow())).has_value());
  EXPECT_TRUE(SettingsKeyExists()) << "\"exit uninstall\" uninstalled";
  EXPECT_EQ(0, doubles_.WinInet().setCount) << "the exit changed the working state";
}

TEST_F(Startup, UninstallWordWithRunningCopyRemovesSettingsAndEndsTheCopy) {
  ASSERT_TRUE(WriteSettings(0, 0, 0, 8));
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program running(stage);
  StartTrayInstance(running, tray_, L"");
  doubles_.SetWorkingOffline(true);

  EXPECT_EQ(std::optional<DWORD>(0), RunToEnd(stage, L"uninstall"));
  EXPECT_FALSE(doubles_.WorkingOffline()) << "uninstalled while offline";
  // The sender waits until the copy has uninstalled and closed its window.
  EXPECT_FALSE(SettingsKeyExists()) << "the settings key is still there";
  EXPECT_EQ(std::optional<DWORD>(0), running.WaitForExit()) << "the running copy did not end";
  EXPECT_TRUE(tray_.WaitForMatch(Call(NIM_DELETE, running.MainWindow())).has_value());
}

TEST_F(Startup, UninstallWordWithoutCopyRemovesSettingsAndEndsWithZeroWithoutTray) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  for (const wchar_t* words : {L"uninstall", L"startup options uninstall"}) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(words)));
    ASSERT_TRUE(WriteSettings(OPT_EXIT_AFTERWARDS, STARTUP_OFFLINE, 0, 8));
    doubles_.Reset();
    doubles_.SetWorkingOffline(true);
    EXPECT_EQ(std::optional<DWORD>(0), RunToEnd(stage, words));
    EXPECT_FALSE(SettingsKeyExists()) << "the settings key is still there";
    EXPECT_EQ(0u, tray_.Count()) << "an uninstall built a tray";
    EXPECT_EQ(1, doubles_.WinInet().setCount) << "not just the one set online";
    EXPECT_FALSE(doubles_.WorkingOffline()) << "uninstalled while offline";
  }
}

TEST_F(Startup, UnknownWordWithoutCopyIsReportedAndExitsWithOne) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program program(stage);
  ASSERT_TRUE(program.Start(L"options bogus"));
  harness::BoxWatcher boxes(program.ProcessId());
  std::optional<harness::BoxRecord> box = boxes.WaitForBox(0);
  ASSERT_TRUE(box.has_value()) << "no box for an unknown word";
  EXPECT_EQ(L"Corvalent doesn't know what \"bogus\" means.", box->text);
  EXPECT_EQ(L"Corvalent Bad Command", box->title);
  EXPECT_EQ(harness::BoxIcon::Warning, box->icon) << harness::BoxIconName(box->icon);
  EXPECT_TRUE(box->OnlyOk()) << ::testing::PrintToString(*box);
  EXPECT_EQ(nullptr, box->owner);
  EXPECT_EQ(std::optional<DWORD>(1), program.WaitForExit());
  EXPECT_EQ(1u, boxes.Count());
  EXPECT_EQ(0u, tray_.Count());
}

TEST_F(Startup, UnknownWordAfterExitLeavesRunningCopyAlone) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program running(stage);
  StartTrayInstance(running, tray_, L"");

  harness::Program second(stage);
  ASSERT_TRUE(second.Start(L"exit Bogus"));
  harness::BoxWatcher boxes(second.ProcessId());
  std::optional<harness::BoxRecord> box = boxes.WaitForBox(0);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(L"Corvalent doesn't know what \"Bogus\" means.", box->text);
  EXPECT_EQ(std::optional<DWORD>(1), second.WaitForExit());
  EXPECT_TRUE(running.Running()) << "the running copy ended on a refused command line";
  EndFromMenu(running);
}

TEST_F(Startup, StartupWordWithExitAfterwardsAppliesModeAndEndsWithoutTray) {
  ASSERT_TRUE(WriteSettings(OPT_EXIT_AFTERWARDS, STARTUP_OFFLINE, 0, 8));
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program program(stage);
  ASSERT_TRUE(program.Start(L"startup"));
  harness::BoxWatcher boxes(program.ProcessId());
  EXPECT_EQ(std::optional<DWORD>(0), program.WaitForExit());
  EXPECT_TRUE(doubles_.WorkingOffline()) << "the start-up mode was not applied";
  EXPECT_EQ(1, doubles_.WinInet().setCount);
  EXPECT_EQ(0u, CountOf(tray_, NIM_ADD)) << "a tray icon was added";
  EXPECT_EQ(0u, boxes.Count());
}

TEST_F(Startup, StartupWordWhileCopyRunsStartsSecondTrayInstance) {
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program first(stage);
  StartTrayInstance(first, tray_, L"");

  harness::Program second(stage);
  ASSERT_TRUE(second.Start(L"startup"));
  harness::BoxWatcher boxes(second.ProcessId());
  HWND secondWindow = second.WaitForMainWindow();
  ASSERT_NE(nullptr, secondWindow) << "the second instance made no window";
  EXPECT_EQ(1u, harness::TopWindows(second.ProcessId(), L"Corvalent").size());
  EXPECT_NE(first.MainWindow(), secondWindow);
  EXPECT_TRUE(tray_.WaitForMatch(Call(NIM_ADD, secondWindow)).has_value()) << "no NIM_ADD of the second window";
  EXPECT_EQ(2u, CountOf(tray_, NIM_ADD));
  EXPECT_EQ(0u, boxes.Count()) << "the second instance showed a box";
  EXPECT_TRUE(second.Running());
  EXPECT_TRUE(first.Running());

  PostMessageW(secondWindow, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
  EXPECT_EQ(std::optional<DWORD>(0), second.WaitForExit());
  EndFromMenu(first);
}

TEST_F(Startup, DelayedSettingAppliesModeAtOnceAndAgainAfterDelayThenEndsByItself) {
  ASSERT_TRUE(WriteSettings(OPT_DELAYED_SETTING | OPT_EXIT_AFTERWARDS, STARTUP_OFFLINE, 0, 1));
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program program(stage);
  StartTrayInstance(program, tray_, L"startup");
  ULONGLONG added = GetTickCount64();
  EXPECT_TRUE(doubles_.WorkingOffline()) << "the mode was not applied at once";
  EXPECT_EQ(1, doubles_.WinInet().setCount) << "the mode was not applied once before the tray";

  EXPECT_EQ(std::optional<DWORD>(0), program.WaitForExit(4000)) << "did not end by itself after the delay";
  ULONGLONG ran = GetTickCount64() - added;
  EXPECT_GE(ran, 700u) << "ended before the delay of one second";
  EXPECT_EQ(2, doubles_.WinInet().setCount) << "the mode was not applied a second time";
  EXPECT_EQ(INTERNET_STATE_DISCONNECTED_BY_USER, doubles_.WinInet().lastSetState);
  EXPECT_TRUE(tray_.WaitForMatch(Call(NIM_DELETE, program.MainWindow())).has_value()) << "no NIM_DELETE";
}

// 4294968 seconds in milliseconds overflow 32 bits to 704: the delay must not become 0.7 s.
TEST_F(Startup, DelayTooLongForTimerMillisecondsDoesNotEndTheProgramEarly) {
  ASSERT_TRUE(WriteSettings(OPT_DELAYED_SETTING | OPT_EXIT_AFTERWARDS, STARTUP_OFFLINE, 0, 4294968));
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program program(stage);
  StartTrayInstance(program, tray_, L"startup");
  harness::BoxWatcher boxes(program.ProcessId());

  EXPECT_FALSE(program.WaitForExit(3000).has_value()) << "ended early: the delay overflowed";
  EXPECT_EQ(1, doubles_.WinInet().setCount) << "the delayed setting ran early";
  EXPECT_EQ(0u, boxes.Count()) << "a box was shown";

  EXPECT_EQ(std::optional<DWORD>(0), RunToEnd(stage, L"exit"));
  EXPECT_EQ(std::optional<DWORD>(0), program.WaitForExit());
}

TEST_F(Startup, OptionsAndStartupStartDelayedSettingOnlyAfterOptionsDialogCloses) {
  ASSERT_TRUE(WriteSettings(OPT_DELAYED_SETTING | OPT_EXIT_AFTERWARDS, STARTUP_OFFLINE, 0, 1));
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program program(stage);
  StartTrayInstance(program, tray_, L"options startup");
  HWND dialog = WaitForOptionsDialog(program);
  ASSERT_NE(nullptr, dialog) << "no Options dialog";

  EXPECT_FALSE(program.WaitForExit(2000).has_value()) << "the delay ran while the dialog was open";
  EXPECT_EQ(1, doubles_.WinInet().setCount);
  CancelOptionsDialog(dialog);
  EXPECT_EQ(std::optional<DWORD>(0), program.WaitForExit(4000)) << "did not end by itself after the dialog";
  EXPECT_EQ(2, doubles_.WinInet().setCount);
}

TEST_F(Startup, LibraryMissingAtStartShowsOneMissingDllBoxAndStillRuns) {
  harness::StageOptions options;
  options.library = harness::Library::Absent;
  harness::Stage stage(options);
  ASSERT_TRUE(stage.Ready());
  harness::Program program(stage);
  ASSERT_TRUE(program.Start(L""));
  harness::BoxWatcher boxes(program.ProcessId());
  std::optional<harness::BoxRecord> box = boxes.WaitForBox(0);
  ASSERT_TRUE(box.has_value()) << "no box for the missing library";
  EXPECT_EQ(L"Couldn't load CVConfig.DLL\n\nPlease re-install Corvalent.", box->text);
  EXPECT_EQ(L"Missing Corvalent DLL file", box->title);
  EXPECT_EQ(harness::BoxIcon::Warning, box->icon) << harness::BoxIconName(box->icon);
  EXPECT_TRUE(box->OnlyOk()) << ::testing::PrintToString(*box);

  ASSERT_NE(nullptr, program.WaitForMainWindow()) << "the program did not go on without its library";
  EXPECT_TRUE(tray_.WaitForMatch(Call(NIM_ADD, program.MainWindow())).has_value()) << "no NIM_ADD";
  EXPECT_EQ(1u, boxes.Count());
  EXPECT_TRUE(program.Running());
  EndFromMenu(program);
  EXPECT_EQ(1u, boxes.Count());
}

TEST_F(Startup, UninstallWithoutLibraryShowsMissingDllBoxAndEndsWithZero) {
  ASSERT_TRUE(WriteSettings(0, 0, 0, 8));
  harness::StageOptions options;
  options.library = harness::Library::Absent;
  harness::Stage stage(options);
  ASSERT_TRUE(stage.Ready());
  harness::Program program(stage);
  ASSERT_TRUE(program.Start(L"uninstall"));
  harness::BoxWatcher boxes(program.ProcessId());
  std::optional<harness::BoxRecord> box = boxes.WaitForBox(0);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(L"Missing Corvalent DLL file", box->title);
  EXPECT_EQ(std::optional<DWORD>(0), program.WaitForExit());
  EXPECT_EQ(1u, boxes.Count());
  EXPECT_EQ(0u, tray_.Count());
  EXPECT_TRUE(SettingsKeyExists()) << "the key went although the library could not be loaded";
}

// ---- Many copies at once.

using Copies = std::vector<std::unique_ptr<harness::Program>>;

// Starts one copy per word, one right after the other, without waiting for any.
void StartCopies(const harness::Stage& stage, const std::vector<const wchar_t*>& words, Copies* copies) {
  for (const wchar_t* word : words) {
    copies->push_back(std::make_unique<harness::Program>(stage));
    ASSERT_TRUE(copies->back()->Start(word)) << ::testing::PrintToString(copies->back()->Error());
  }
}

void ExpectAllEndWithZero(const Copies& copies) {
  for (size_t index = 0; index < copies.size(); index++) {
    EXPECT_EQ(std::optional<DWORD>(0), copies[index]->WaitForExit()) << "copy " << index << " hangs or failed";
  }
}

TEST_F(Startup, ManyCopiesAtOnceReachTheRunningCopyWithoutHangingOrASecondOptionsDialog) {
  ASSERT_TRUE(WriteSettings(OPT_EXIT_AFTERWARDS, STARTUP_OFFLINE, 0, 8));
  harness::Stage stage;
  ASSERT_TRUE(stage.Ready());
  harness::Program first(stage);
  StartTrayInstance(first, tray_, L"");
  harness::BoxWatcher boxes(first.ProcessId());

  Copies copies;
  StartCopies(stage, {L"options", L"startup", L"options", L"startup", L"options", L"startup", L"options",
                      L"startup", L"options startup", L"startup options"},
              &copies);
  ExpectAllEndWithZero(copies);
  EXPECT_TRUE(doubles_.WorkingOffline()) << "the start-up runs did not apply their mode";

  // The copies posted their requests before they ended; a poll tick posted now is handled after
  // all of them, and shows itself as a WinInet query.
  LONG queries = doubles_.WinInet().queryCount;
  ASSERT_TRUE(first.Post(harness::Timer(TIMER_POLL)));
  ASSERT_TRUE(doubles_.WaitFor([&](const DoubleStateBlock& block) { return block.wininet.queryCount > queries; }));
  HWND dialog = WaitForOptionsDialog(first);
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(1u, harness::TopWindows(0, L"Corvalent").size()) << "more than one tray instance";
  size_t optionsDialogs = 0;
  for (HWND window : harness::TopWindows(0, L"#32770")) optionsDialogs += harness::WindowText(window) == kOptionsTitle;
  EXPECT_EQ(1u, optionsDialogs);
  EXPECT_EQ(1u, CountOf(tray_, NIM_ADD));
  CancelOptionsDialog(dialog);

  Copies exits;
  StartCopies(stage, {L"exit", L"exit", L"exit", L"exit"}, &exits);
  ExpectAllEndWithZero(exits);
  EXPECT_EQ(std::optional<DWORD>(0), first.WaitForExit());
  EXPECT_EQ(0u, harness::TopWindows(0, L"Corvalent").size());
  EXPECT_EQ(1u, CountOf(tray_, NIM_DELETE)) << "the icon was removed more than once";
  EXPECT_EQ(0u, boxes.Count());
}

}  // namespace
