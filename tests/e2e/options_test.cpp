// End-to-end tests of what the tray does around its Options dialog: the calls it refuses while the
// dialog is open, the icon and the delayed setting that follow the record as edited. Part of e2e_options.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <optional>
#include <string>

#include "harness.h"
#include "../../config/cvconfig.h"
#include "../../resources/cvconfig_res.h"

using namespace harness;

namespace {

// Commands and messages of Corvalent.exe (its resource header clashes with the library's ids).
const WORD IDM_ABOUT = 40001;
const WORD IDM_EXIT = 40006;
const WORD IDM_OPTIONS = 40007;
const UINT MSG_SHOW_OPTIONS = WM_USER + 1;
const UINT_PTR TIMER_POLL = 101;
// Icon resources of Corvalent.exe: AutoSwitch on and connected, offline and online.
const WORD CONNECTED_OFFLINE_PICTURE = 106;
const WORD CONNECTED_ONLINE_PICTURE = 104;

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doubles.Ready());
    ASSERT_TRUE(tray.Ready());
    ASSERT_TRUE(stage.Ready());
    DeleteSettingsKey();
  }

  void TearDown() override {
    if (program.Running()) {
      program.Post(Command(IDM_EXIT));
      program.WaitForExit();
    }
    program.Kill();
    DeleteSettingsKey();
    EXPECT_EQ(doubles.WinInet().violationCount, 0) << "kinds " << doubles.WinInet().violationKinds;
  }

  // Starts the program with the words and waits for its Options dialog, shown and filled in.
  HWND StartWithOptions(const wchar_t* words) {
    if (!program.Start(words)) {
      ADD_FAILURE() << std::string(program.Error().begin(), program.Error().end());
      return nullptr;
    }
    boxes.emplace(program.ProcessId());
    if (!program.WaitForMainWindow()) return nullptr;
    return WaitForOptions();
  }

  HWND WaitForOptions() {
    HWND dialog = WaitForShownDialog(program.ProcessId(), L"Corvalent Options", kWaitMs, program.Process());
    if (!dialog || !WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; }, program.Process())) return nullptr;
    return dialog;
  }

  static void Check(HWND dialog, int box, bool checked) {
    SendMessageW(GetDlgItem(dialog, box), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }

  // Presses the button and waits until the dialog is gone.
  void Press(HWND dialog, int button) {
    ASSERT_TRUE(PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, button))));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, program.Process()));
  }

  // The text of a control of the program's dialog: asked of the control itself, since the text
  // of an edit box is its own and not the window text that another process can read.
  static std::wstring ControlText(HWND dialog, int id) {
    wchar_t text[64] = {};
    SendMessageW(GetDlgItem(dialog, id), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text));
    return text;
  }

  static void SetControlText(HWND dialog, int id, const wchar_t* text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  }

  IconPicture Picture(WORD id) const {
    std::optional<IconPicture> picture = PictureOfResource(stage.ProgramPath(), id);
    return picture ? *picture : IconPicture();
  }

  DoubleState doubles;
  TrayRecorder tray;
  Stage stage;
  Program program{stage};
  std::optional<BoxWatcher> boxes;
};

// While the dialog is open, a second Options (by menu or by another copy) and About are refused
// before they reach the library: no refresh, no hot-key work, no second dialog. After OK the
// tray follows the record at once: AutoSwitch switched on finds the connection new (nothing has
// polled since start-up) and goes online, and the tip names it.
TEST_F(OptionsTest, OptionsAndAboutAreRefusedWhileItIsOpenAndTheTrayFollowsTheRecordAfterOk) {
  doubles.SetWorkingOffline(true);
  doubles.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  ASSERT_TRUE(WriteSettingsKey(0));
  HWND dialog = StartWithOptions(L"options");
  ASSERT_TRUE(dialog);
  size_t records = tray.Count();
  ASSERT_GE(records, 3u);

  EXPECT_TRUE(program.Send(Command(IDM_OPTIONS))) << "Options while Options is open was not refused";
  EXPECT_TRUE(program.Send(Message{MSG_SHOW_OPTIONS, 0, 0}));
  EXPECT_TRUE(program.Send(Command(IDM_ABOUT))) << "About while Options is open was not refused";
  EXPECT_EQ(tray.Count(), records) << "a refused Options call refreshed the tray";
  EXPECT_EQ(TopWindows(program.ProcessId(), L"#32770").size(), 1u);
  EXPECT_EQ(doubles.WinInet().connectedCheckCount, 0);
  EXPECT_EQ(doubles.WinInet().setCount, 0);

  Check(dialog, IDC_AUTOSWITCH, true);
  Check(dialog, IDC_AUTOSWITCH_TOOLTIPS, true);
  ASSERT_NO_FATAL_FAILURE(Press(dialog, IDC_OPTIONS_OK));
  std::optional<TrayRecord> after = tray.WaitForMatch(IsModify, records);
  ASSERT_TRUE(after) << "no refresh after the dialog";
  EXPECT_EQ(after->tip, L"Working Offline. AutoSwitch On (Connected)");
  EXPECT_EQ(after->icon, Picture(CONNECTED_OFFLINE_PICTURE));
  EXPECT_EQ(doubles.WinInet().setCount, 1);
  EXPECT_FALSE(doubles.WorkingOffline()) << "the connection found after the dialog did not go online";
  EXPECT_TRUE(program.Send(Timer(TIMER_POLL)));
  TrayRecord online = tray.Records().back();
  EXPECT_EQ(online.tip, L"Working Online. AutoSwitch On (Connected)");
  EXPECT_EQ(online.icon, Picture(CONNECTED_ONLINE_PICTURE));
  EXPECT_EQ(boxes->Count(), 0u);
}

// The words "options startup": the delayed setting starts after the dialog, with the options,
// the mode and the delay as edited there. Without a settings key the record starts with delay 8.
TEST_F(OptionsTest, WithoutSettingsTheDelayIsEightAndTheDelayedSettingTakesTheDialogsChanges) {
  doubles.SetWorkingOffline(false);
  HWND dialog = StartWithOptions(L"options startup");
  ASSERT_TRUE(dialog);
  EXPECT_EQ(ControlText(dialog, IDC_DELAY), L"8");
  Check(dialog, IDC_DELAYED_SETTING, true);
  Check(dialog, IDC_EXIT_AFTERWARDS, true);
  SendMessageW(GetDlgItem(dialog, IDC_STARTUP_MODE), CB_SETCURSEL, STARTUP_OFFLINE, 0);
  SetControlText(dialog, IDC_DELAY, L"2");
  ASSERT_EQ(ControlText(dialog, IDC_DELAY), L"2");
  ASSERT_NO_FATAL_FAILURE(Press(dialog, IDC_OPTIONS_OK));
  ULONGLONG closed = GetTickCount64();
  EXPECT_EQ(doubles.WinInet().setCount, 0) << "the stored default mode set something";

  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0)) << "did not end after the edited delay";
  EXPECT_GE(GetTickCount64() - closed, 1500u) << "ended before the edited delay of 2 s";
  EXPECT_EQ(doubles.WinInet().setCount, 1);
  EXPECT_TRUE(doubles.WorkingOffline()) << "the edited mode was not applied";
  EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(OptionsTest, ExitAfterwardsSwitchedOffBeforeTheDelayedSettingKeepsTheProgramRunning) {
  doubles.SetWorkingOffline(false);
  ASSERT_TRUE(WriteSettingsKey(OPT_DELAYED_SETTING | OPT_EXIT_AFTERWARDS, STARTUP_OFFLINE, 0, 1));
  HWND dialog = StartWithOptions(L"options startup");
  ASSERT_TRUE(dialog);
  EXPECT_EQ(doubles.WinInet().setCount, 1) << "the mode is applied once before the tray";
  Check(dialog, IDC_EXIT_AFTERWARDS, false);
  ASSERT_NO_FATAL_FAILURE(Press(dialog, IDC_OPTIONS_OK));

  EXPECT_TRUE(doubles.WaitFor([](const DoubleStateBlock& block) { return block.wininet.setCount == 2; }))
      << "the delayed setting did not run";
  EXPECT_EQ(program.WaitForExit(1500), std::nullopt) << "ended although Exit afterwards was switched off";
  EXPECT_EQ(doubles.WinInet().setCount, 2) << "the delayed setting ran more than once";
  EXPECT_EQ(boxes->Count(), 0u);
}

}  // namespace
