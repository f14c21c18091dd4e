// End-to-end tests of the working state, the tray icon with its pictures and tooltips, and the tray menu.
// Runs the real Corvalent.exe against the WinInet double and a recording notification area (e2e_tray).
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>
#include <netlistmgr.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "../../resources/cvconfig_res.h"

using namespace harness;

namespace {

// The program's own numbers that these tests write, send and expect.
constexpr DWORD OPT_EXIT_AFTERWARDS = 0x02;
constexpr DWORD OPT_AUTOSWITCH = 0x04;
constexpr DWORD OPT_AUTOSWITCH_TOOLTIPS = 0x10;
constexpr DWORD OPT_METERED_OFFLINE = 0x80;
constexpr DWORD STARTUP_DEFAULT = 0;
constexpr DWORD STARTUP_OFFLINE = 1;
constexpr DWORD STARTUP_ONLINE = 2;
constexpr DWORD STARTUP_AUTO = 3;
constexpr WORD IDM_ABOUT = 40001;
constexpr WORD IDM_WORK_OFFLINE = 40002;
constexpr WORD IDM_WORK_ONLINE = 40003;
constexpr WORD IDM_CANCEL = 40004;
constexpr WORD IDM_EXIT = 40006;
constexpr WORD IDM_OPTIONS = 40007;
constexpr UINT MSG_SHOW_OPTIONS = WM_USER + 1;
constexpr UINT MSG_EXIT = WM_USER + 2;
constexpr UINT_PTR TIMER_POLL = 101;
constexpr UINT_PTR TIMER_DELAYED_SETTING = 108;
constexpr UINT TRAY_ADD_FLAGS = NIF_MESSAGE | NIF_ICON | NIF_TIP;
constexpr UINT TRAY_MODIFY_FLAGS = NIF_ICON | NIF_TIP;
constexpr DWORD DEFAULT_DELAY = 8;

// Picture index: 0 offline, 1 online; +2 AutoSwitch and not connected, +4 AutoSwitch and connected.
constexpr WORD PICTURE_IDS[6] = {102, 101, 103, 105, 106, 104};
constexpr int OFFLINE = 0;
constexpr int ONLINE = 1;
constexpr int AUTO_NOT_CONNECTED = 2;
constexpr int AUTO_CONNECTED = 4;

// The refresh runs every second; a change must show within one refresh.
constexpr DWORD ONE_REFRESH_MS = 2500;
// With AutoSwitch on, the connection is looked at every third refresh.
constexpr DWORD AUTOSWITCH_POLL_MS = 5000;


// Writes the program's settings as the configuration library stores them: four 4-byte binary values.
bool WriteSettings(DWORD options, DWORD startupMode) {
  return harness::WriteSettingsKey(options, startupMode);
}

void DeleteSettings() {
  harness::DeleteSettingsKey();
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow += c < 128 ? static_cast<char>(c) : '?';
  return narrow;
}

class TrayTest : public ::testing::Test {
 protected:
  explicit TrayTest(const StageOptions& options = StageOptions()) : stage(options) {}

  void SetUp() override {
    ASSERT_TRUE(doubles.Ready());
    ASSERT_TRUE(tray.Ready());
    ASSERT_TRUE(stage.Ready()) << Narrow(stage.Error());
    for (int index = 0; index < 6; index++) {
      std::optional<IconPicture> picture = PictureOfResource(stage.ProgramPath(), PICTURE_IDS[index]);
      ASSERT_TRUE(picture) << "icon resource " << PICTURE_IDS[index];
      pictures[index] = *picture;
    }
  }

  void TearDown() override {
    if (program.Running()) {
      program.Send(Command(IDM_EXIT));
      program.WaitForExit();
    }
    program.Kill();
    DeleteSettings();
    EXPECT_EQ(doubles.WinInet().violationCount, 0) << "violation kinds " << doubles.WinInet().violationKinds;
    EXPECT_EQ(doubles.WinInet().unzeroedQueryCount, 0) << "a state query's buffer was not zeroed";
  }

  // Writes the settings, starts the program and waits for its window and for the three calls of
  // the icon's start: the add, the refresh of the AutoSwitch priming and the add's own refresh.
  // Then waits for the first tick of the poll timer, so that start-up is over: a message sent
  // earlier could be handled inside the program's last shell call, before its timer exists.
  ::testing::AssertionResult StartTray(DWORD options, bool offline, BOOL connected = TRUE,
                                      DWORD startupMode = STARTUP_DEFAULT) {
    doubles.SetWorkingOffline(offline);
    doubles.SetConnection(connected, connected ? INTERNET_CONNECTION_LAN : 0);
    if (!WriteSettings(options, startupMode)) return ::testing::AssertionFailure() << "settings not written";
    if (!program.Start()) return ::testing::AssertionFailure() << Narrow(program.Error());
    if (!program.WaitForMainWindow()) return ::testing::AssertionFailure() << "no \"Corvalent\" window";
    if (!tray.WaitForCount(3)) return ::testing::AssertionFailure() << tray.Count() << " tray calls at start";
    // Each refresh reads the state, and the third call's read came before the call itself.
    LONG startQueries = doubles.WinInet().queryCount;
    if (!doubles.WaitFor([&](const DoubleStateBlock& block) { return block.wininet.queryCount > startQueries; })) {
      return ::testing::AssertionFailure() << "no refresh by the poll timer";
    }
    return ::testing::AssertionSuccess();
  }

  // Sends a message and waits until the program has handled it.
  void Handle(const Message& message) {
    ASSERT_TRUE(program.Send(message)) << "message " << message.message << " not handled";
  }

  // The record shows the program's icon with the picture of index and the tooltip.
  void ExpectShows(const TrayRecord& record, int pictureIndex, const wchar_t* tip) {
    EXPECT_EQ(record.window, program.MainWindow());
    EXPECT_EQ(record.id, kTrayIconId);
    EXPECT_EQ(record.tip, tip);
    EXPECT_EQ(record.icon, pictures[pictureIndex]) << "expected icon " << PICTURE_IDS[pictureIndex];
  }

  void ExpectModify(const TrayRecord& record, int pictureIndex, const wchar_t* tip) {
    EXPECT_EQ(record.message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(record.flags, TRAY_MODIFY_FLAGS);
    ExpectShows(record, pictureIndex, tip);
  }

  void ExpectAdd(const TrayRecord& record, int pictureIndex, const wchar_t* tip) {
    EXPECT_EQ(record.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(record.flags, TRAY_ADD_FLAGS);
    EXPECT_EQ(record.callbackMessage, kTrayMessage);
    ExpectShows(record, pictureIndex, tip);
  }

  // The first modify at index from or later, waited for.
  std::optional<TrayRecord> NextModify(size_t from, DWORD timeoutMs = kWaitMs) {
    return tray.WaitForMatch(IsModify, from, timeoutMs);
  }

  // The first modify from index on that shows the picture, waited for; its index in *at.
  std::optional<TrayRecord> ModifyShowing(int pictureIndex, size_t from, DWORD timeoutMs, size_t* at = nullptr) {
    const IconPicture& picture = pictures[pictureIndex];
    std::optional<TrayRecord> found = tray.WaitForMatch(
        [&](const TrayRecord& record) { return IsModify(record) && record.icon == picture; }, from, timeoutMs);
    if (found && at) {
      std::vector<TrayRecord> records = tray.Records();
      for (size_t index = from; index < records.size(); index++) {
        if (IsModify(records[index]) && records[index].icon == picture) {
          *at = index;
          break;
        }
      }
    }
    return found;
  }

  LONG SetCount() { return doubles.WinInet().setCount; }

  void ExpectLastSetOffline() {
    EXPECT_EQ(doubles.WinInet().lastSetState, static_cast<LONG>(INTERNET_STATE_DISCONNECTED_BY_USER));
    EXPECT_EQ(doubles.WinInet().lastSetFlags, static_cast<LONG>(ISO_FORCE_DISCONNECTED));
    EXPECT_EQ(doubles.WinInet().lastSetLength, static_cast<LONG>(sizeof(INTERNET_CONNECTED_INFO)));
  }

  void ExpectLastSetOnline() {
    EXPECT_EQ(doubles.WinInet().lastSetState, static_cast<LONG>(INTERNET_STATE_CONNECTED));
    EXPECT_EQ(doubles.WinInet().lastSetFlags, 0);
    EXPECT_EQ(doubles.WinInet().lastSetLength, static_cast<LONG>(sizeof(INTERNET_CONNECTED_INFO)));
  }

  DoubleState doubles;
  TrayRecorder tray;
  Stage stage;
  Program program{stage};
  IconPicture pictures[6];
};

TEST_F(TrayTest, IconIsAddedForTheMainWindowThenForcedAndRemovedAtExit) {
  ASSERT_TRUE(StartTray(0, false));
  std::vector<TrayRecord> records = tray.Records();
  ASSERT_EQ(records.size(), 3u);
  ExpectAdd(records[0], ONLINE, L"Working Online");
  ExpectModify(records[1], ONLINE, L"Working Online");
  ExpectModify(records[2], ONLINE, L"Working Online");
  EXPECT_EQ(SetCount(), 0);

  Handle(Command(IDM_EXIT));
  std::optional<DWORD> code = program.WaitForExit();
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, 0u);
  records = tray.Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[3].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(records[3].id, kTrayIconId);
  EXPECT_EQ(records[3].window, program.MainWindow());
  EXPECT_EQ(records[3].flags, 0u);
}

TEST_F(TrayTest, UnforcedRefreshWithoutChangeLeavesTheShellAlone) {
  ASSERT_TRUE(StartTray(0, true));
  for (int tick = 0; tick < 4; tick++) Handle(Timer(TIMER_POLL));
  EXPECT_EQ(tray.Count(), 3u);
  EXPECT_EQ(SetCount(), 0);
}

TEST_F(TrayTest, PlainIconFollowsAnotherProgramWithinOneRefresh) {
  ASSERT_TRUE(StartTray(0, true));
  std::vector<TrayRecord> records = tray.Records();
  ExpectAdd(records[0], OFFLINE, L"Working Offline");
  ExpectModify(records[2], OFFLINE, L"Working Offline");

  doubles.SetWorkingOffline(false);
  std::optional<TrayRecord> online = NextModify(3, ONE_REFRESH_MS);
  ASSERT_TRUE(online) << "no redraw within one refresh after going online";
  ExpectModify(*online, ONLINE, L"Working Online");

  size_t count = tray.Count();
  doubles.SetWorkingOffline(true);
  std::optional<TrayRecord> offline = NextModify(count, ONE_REFRESH_MS);
  ASSERT_TRUE(offline) << "no redraw within one refresh after going offline";
  ExpectModify(*offline, OFFLINE, L"Working Offline");

  // Without AutoSwitch the connection is neither asked for nor shown.
  count = tray.Count();
  doubles.SetConnection(FALSE, 0);
  for (int tick = 0; tick < 3; tick++) Handle(Timer(TIMER_POLL));
  EXPECT_EQ(tray.Count(), count);
  EXPECT_EQ(doubles.WinInet().connectedCheckCount, 0);
  EXPECT_EQ(SetCount(), 0);
}

TEST_F(TrayTest, TipOptionAloneSaysAutoSwitchOffWithThePlainPictures) {
  ASSERT_TRUE(StartTray(OPT_AUTOSWITCH_TOOLTIPS, false));
  std::vector<TrayRecord> records = tray.Records();
  ExpectAdd(records[0], ONLINE, L"Working Online. AutoSwitch Off");
  ExpectModify(records[2], ONLINE, L"Working Online. AutoSwitch Off");

  doubles.SetWorkingOffline(true);
  std::optional<TrayRecord> offline = NextModify(3, ONE_REFRESH_MS);
  ASSERT_TRUE(offline);
  ExpectModify(*offline, OFFLINE, L"Working Offline. AutoSwitch Off");
}

// The shell gets the pictures' frame of its small-icon size at the DPI of the taskbar: first a helper's
// at the program's scale, then the recorder's at this process's. Each way of announcing a scale change
// (WM_DPICHANGED from a monitor of another scale than the taskbar's) moves them to the new one, and
// the next change of state shows it too. The dialogs' icons have the large-icon size of their DPI.
struct ScaleCase {
  DWORD logPixels;
  UINT size;
  Message (*announcement)();
};

void PrintTo(const ScaleCase& scale, std::ostream* out) {
  *out << scale.logPixels << " DPI";
}

StageOptions AtDpi(DWORD logPixels) {
  StageOptions options;
  options.logPixels = logPixels;
  return options;
}

StageOptions Helper() {
  StageOptions options;
  options.program = JoinPath(TestsFolder(), L"harness_helper.exe");
  return options;
}

using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
const GetDpiForWindowProc getDpiForWindow = reinterpret_cast<GetDpiForWindowProc>(
    reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));

class ScaleTrayTest : public TrayTest, public ::testing::WithParamInterface<ScaleCase> {
 protected:
  ScaleTrayTest() : TrayTest(AtDpi(GetParam().logPixels)) {}

  void ExpectPictureOfSize(const TrayRecord& record, UINT size, int pictureIndex = OFFLINE) {
    std::optional<IconPicture> frame = PictureOfResource(stage.ProgramPath(), PICTURE_IDS[pictureIndex], size);
    ASSERT_TRUE(frame);
    EXPECT_EQ(record.icon.width, size);
    EXPECT_EQ(record.icon.height, size);
    EXPECT_EQ(record.icon.colour, frame->colour);
    // Of a mask that the shell's copy cuts short, the rows that came.
    ASSERT_LE(record.icon.mask.size(), frame->mask.size());
    EXPECT_TRUE(std::equal(record.icon.mask.begin(), record.icon.mask.end(), frame->mask.begin()));
  }

  // Opens the dialog from the menu command, checks the size of each of its icon statics, found by
  // its id, and closes it. A per-monitor-aware window has its monitor's DPI, which a helper at the
  // program's scale tells: Wine 8 answers GetDpiForWindow of another process's window with 96.
  void ExpectDialogIcons(WORD command, const wchar_t* title, std::initializer_list<int> icons) {
    ASSERT_TRUE(program.Post(Command(command)));
    HWND dialog = WaitForShownDialog(program.ProcessId(), title, kWaitMs, program.Process());
    ASSERT_TRUE(dialog) << "no dialog " << Narrow(title);
    Stage helperStage(Helper());
    Program helper(helperStage);
    ASSERT_TRUE(helper.Start(L"dpi " + std::to_wstring(reinterpret_cast<ULONG_PTR>(dialog))));
    LONG size = MulDiv(32, helper.WaitForExit().value_or(0), 96);
    for (int id : icons) {
      RECT rect = {};
      GetClientRect(GetDlgItem(dialog, id), &rect);
      EXPECT_EQ(rect.right, size) << Narrow(title) << " icon " << id;
      EXPECT_EQ(rect.bottom, size) << Narrow(title) << " icon " << id;
    }
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, program.Process()));
  }
};

TEST_P(ScaleTrayTest, PicturesHaveTheIconSizesOfTheTaskbarsScaleAndFollowEachAnnouncedChange) {
  Stage shellStage(Helper());
  Program shell(shellStage);
  ASSERT_TRUE(getDpiForWindow && shell.Start(L"tray") && WaitForTopWindow(shell.ProcessId(), L"Shell_TrayWnd", nullptr));
  ASSERT_TRUE(StartTray(0, true));
  std::vector<TrayRecord> records = tray.Records();
  ExpectPictureOfSize(records[0], GetParam().size);

  shell.Kill();
  ASSERT_TRUE(WaitUntil([&] { return tray.Ready(); })) << "the recorder is not the taskbar";
  UINT size = MulDiv(16, getDpiForWindow(tray.Window()), 96);
  size_t count = tray.Count();
  Handle(GetParam().announcement());
  ASSERT_GT(tray.Count(), count) << "no redraw after the scale changed";
  ExpectPictureOfSize(tray.Records()[count], size);
  Handle(TrayCallback(WM_LBUTTONDOWN));
  ExpectPictureOfSize(tray.Records().back(), size, ONLINE);

  // The dialogs take the scale of the display they are on.
  ExpectDialogIcons(IDM_ABOUT, L"About Corvalent", {IDC_ABOUT_ONLINE_ICON, IDC_ABOUT_OFFLINE_ICON});
  ExpectDialogIcons(IDM_OPTIONS, L"Corvalent Options", {IDC_AUTOMATION_ICON, IDC_AUTOSWITCH_ICON, IDC_KEYBOARD_ICON});
}

INSTANTIATE_TEST_SUITE_P(Scales, ScaleTrayTest,
                         ::testing::Values(ScaleCase{144, 24, [] { return TaskbarCreated(); }},
                                           ScaleCase{168, 28, [] { return Message{WM_DPICHANGED, MAKEWPARAM(192, 192), 0}; }},
                                           ScaleCase{192, 32, [] { return Message{WM_SETTINGCHANGE, 0, 0}; }}),
                         [](const ::testing::TestParamInfo<ScaleCase>& info) {
                           return "At" + std::to_string(info.param.logPixels) + "Dpi";
                         });

// With AutoSwitch on, one run shows all four connection pictures: it starts offline with a
// connection (the priming keeps it offline), another program goes online, then the connection
// ends and AutoSwitch goes offline: that refresh shows the new connection with the old state.
struct AutoSwitchRows {
  const wchar_t* offlineConnected;
  const wchar_t* onlineConnected;
  const wchar_t* onlineNotConnected;
  const wchar_t* offlineNotConnected;
};

class AutoSwitchTrayTest : public TrayTest {
 protected:
  void ShowsEveryConnectionRow(DWORD options, const AutoSwitchRows& tips) {
    ASSERT_TRUE(StartTray(options, true, TRUE));
    std::vector<TrayRecord> records = tray.Records();
    ExpectModify(records[1], AUTO_CONNECTED + OFFLINE, tips.offlineConnected);
    ExpectModify(records[2], AUTO_CONNECTED + OFFLINE, tips.offlineConnected);
    EXPECT_EQ(SetCount(), 0) << "the priming must keep the state offline";

    doubles.SetWorkingOffline(false);
    std::optional<TrayRecord> online = NextModify(3, ONE_REFRESH_MS);
    ASSERT_TRUE(online);
    ExpectModify(*online, AUTO_CONNECTED + ONLINE, tips.onlineConnected);
    EXPECT_EQ(SetCount(), 0);

    size_t count = tray.Count();
    doubles.SetConnection(FALSE, 0);
    size_t at = 0;
    std::optional<TrayRecord> dropped = ModifyShowing(AUTO_NOT_CONNECTED + ONLINE, count, AUTOSWITCH_POLL_MS, &at);
    ASSERT_TRUE(dropped) << "the end of the connection was not shown";
    EXPECT_EQ(at, count) << "the first redraw after the drop must show it";
    ExpectModify(*dropped, AUTO_NOT_CONNECTED + ONLINE, tips.onlineNotConnected);
    EXPECT_EQ(SetCount(), 1);
    ExpectLastSetOffline();

    std::optional<TrayRecord> offline = NextModify(at + 1, ONE_REFRESH_MS);
    ASSERT_TRUE(offline);
    ExpectModify(*offline, AUTO_NOT_CONNECTED + OFFLINE, tips.offlineNotConnected);
  }
};

TEST_F(AutoSwitchTrayTest, AutoSwitchPicturesShowTheConnectionWhileTipsStayPlain) {
  ShowsEveryConnectionRow(OPT_AUTOSWITCH,
                          {L"Working Offline", L"Working Online", L"Working Online", L"Working Offline"});
}

TEST_F(AutoSwitchTrayTest, AutoSwitchTipsNameTheConnection) {
  ShowsEveryConnectionRow(OPT_AUTOSWITCH | OPT_AUTOSWITCH_TOOLTIPS,
                          {L"Working Offline. AutoSwitch On (Connected)", L"Working Online. AutoSwitch On (Connected)",
                           L"Working Online. AutoSwitch On (Not Connected)",
                           L"Working Offline. AutoSwitch On (Not Connected)"});
}

// AutoSwitch turned off in the Options dialog, and on again once the network has become metered:
// the refresh after the dialog says so, whatever the polls before it left.
TEST_F(TrayTest, AutoSwitchTurnedOnOnAMeteredNetworkSaysSoAtOnce) {
  doubles.SetNetworkList(NLM_CONNECTIVITY_IPV4_INTERNET, NLM_CONNECTION_COST_UNRESTRICTED);
  ASSERT_TRUE(StartTray(OPT_AUTOSWITCH | OPT_AUTOSWITCH_TOOLTIPS | OPT_METERED_OFFLINE, true));
  std::vector<std::wstring> tips;
  for (LONG cost : {NLM_CONNECTION_COST_UNRESTRICTED, NLM_CONNECTION_COST_FIXED}) {
    doubles.NetworkList().cost = cost;
    ASSERT_TRUE(program.Post(Command(IDM_OPTIONS)));
    HWND dialog = WaitForShownDialog(program.ProcessId(), L"Corvalent Options");
    ASSERT_NE(dialog, nullptr);
    SendMessageW(GetDlgItem(dialog, IDC_AUTOSWITCH), BM_CLICK, 0, 0);
    // Turned off right after a poll, AutoSwitch would leave two refreshes to wait before the next.
    LONG polls = doubles.NetworkList().connectivityCount;
    for (int tick = 0; tick < 3 && tips.empty() && doubles.NetworkList().connectivityCount == polls; tick++)
      Handle(Timer(TIMER_POLL));
    size_t from = tray.Count();
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OPTIONS_OK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDC_OPTIONS_OK));
    std::optional<TrayRecord> shown = NextModify(from);
    ASSERT_TRUE(shown);
    tips.push_back(shown->tip);
  }
  EXPECT_EQ(tips, (std::vector<std::wstring>{L"Working Offline. AutoSwitch Off", L"Working Offline. AutoSwitch On (Metered)"}));
}

TEST_F(TrayTest, LeftButtonDownTogglesAndRedrawsAtOnce) {
  ASSERT_TRUE(StartTray(0, false));
  Handle(TrayCallback(WM_LBUTTONDOWN));
  EXPECT_EQ(SetCount(), 1);
  ExpectLastSetOffline();
  EXPECT_TRUE(doubles.WorkingOffline());
  std::vector<TrayRecord> records = tray.Records();
  ASSERT_EQ(records.size(), 4u) << "the redraw must come before the call-back returns";
  ExpectModify(records[3], OFFLINE, L"Working Offline");

  Handle(TrayCallback(WM_LBUTTONDOWN));
  EXPECT_EQ(SetCount(), 2);
  ExpectLastSetOnline();
  records = tray.Records();
  ASSERT_EQ(records.size(), 5u);
  ExpectModify(records[4], ONLINE, L"Working Online");
}

TEST_F(TrayTest, OtherMouseMessagesChangeNothing) {
  ASSERT_TRUE(StartTray(0, false));
  // A menu opened by any of these would keep the call-back from returning.
  for (UINT mouse : {WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_MOUSEMOVE, WM_MBUTTONDOWN}) {
    Handle(TrayCallback(mouse));
    EXPECT_EQ(SetCount(), 0) << "mouse message " << mouse;
  }
  EXPECT_EQ(tray.Count(), 3u);
  EXPECT_FALSE(doubles.WorkingOffline());
  EXPECT_FALSE(FindTopWindow(program.ProcessId(), L"#32768", nullptr) &&
               IsWindowVisible(FindTopWindow(program.ProcessId(), L"#32768", nullptr)));
}

TEST_F(TrayTest, StateCommandsSetEvenTheStateAlreadySetAndCancelDoesNothing) {
  ASSERT_TRUE(StartTray(0, true));
  Handle(Command(IDM_WORK_OFFLINE));
  EXPECT_EQ(SetCount(), 1);
  ExpectLastSetOffline();
  std::vector<TrayRecord> records = tray.Records();
  ASSERT_EQ(records.size(), 4u) << "the command must force a redraw";
  ExpectModify(records[3], OFFLINE, L"Working Offline");

  Handle(Command(IDM_WORK_ONLINE));
  EXPECT_EQ(SetCount(), 2);
  ExpectLastSetOnline();
  records = tray.Records();
  ASSERT_EQ(records.size(), 5u);
  ExpectModify(records[4], ONLINE, L"Working Online");

  Handle(Command(IDM_WORK_ONLINE));
  EXPECT_EQ(SetCount(), 3);
  ExpectLastSetOnline();
  records = tray.Records();
  ASSERT_EQ(records.size(), 6u);
  ExpectModify(records[5], ONLINE, L"Working Online");

  Handle(Command(IDM_CANCEL));
  EXPECT_EQ(SetCount(), 3);
  EXPECT_EQ(tray.Count(), 6u);
  EXPECT_TRUE(program.Running());
}

TEST_F(TrayTest, HotKeyWithAnyIdToggles) {
  ASSERT_TRUE(StartTray(0, false));
  Handle(HotKey(0));
  EXPECT_EQ(SetCount(), 1);
  ExpectLastSetOffline();
  ASSERT_EQ(tray.Count(), 4u);
  ExpectModify(tray.Records()[3], OFFLINE, L"Working Offline");

  Handle(HotKey(0x7ABC, MOD_ALT, 'Q'));
  EXPECT_EQ(SetCount(), 2);
  ExpectLastSetOnline();
  ASSERT_EQ(tray.Count(), 5u);
  ExpectModify(tray.Records()[4], ONLINE, L"Working Online");
}

// The stored mode is offline: a tick of the delayed-setting timer applies it (also in a copy that
// did not start it), and only the next refresh shows it; a timer of another id reads nothing.
TEST_F(TrayTest, ForeignTimerDoesNothingAndTheDelayedSettingShowsAtTheNextRefresh) {
  ASSERT_TRUE(StartTray(0, false, TRUE, STARTUP_OFFLINE));
  LONG queries = doubles.WinInet().queryCount;
  Handle(Timer(5));
  EXPECT_EQ(doubles.WinInet().queryCount, queries) << "a foreign timer read the state";
  EXPECT_EQ(SetCount(), 0);
  EXPECT_EQ(tray.Count(), 3u);

  Handle(Timer(TIMER_DELAYED_SETTING));
  EXPECT_EQ(SetCount(), 1);
  ExpectLastSetOffline();
  EXPECT_EQ(tray.Count(), 3u) << "the delayed setting redrew the icon at once";
  EXPECT_TRUE(program.Running()) << "ended without Exit afterwards";

  Handle(Timer(TIMER_POLL));
  ASSERT_EQ(tray.Count(), 4u);
  ExpectModify(tray.Records()[3], OFFLINE, L"Working Offline");
}

// A refused state query reads as online, so a click sets offline; a refused set leaves the state
// as it was, and the redraw of that click, forced although nothing changed, shows it.
TEST_F(TrayTest, RefusedQueryReadsAsOnlineAndRefusedSetLeavesTheState) {
  doubles.WinInet().queryFails = 1;
  ASSERT_TRUE(StartTray(0, true));
  ExpectModify(tray.Records()[2], ONLINE, L"Working Online");
  Handle(TrayCallback(WM_LBUTTONDOWN));
  EXPECT_EQ(SetCount(), 1);
  ExpectLastSetOffline();

  doubles.WinInet().queryFails = 0;
  Handle(Timer(TIMER_POLL));
  ExpectModify(tray.Records().back(), OFFLINE, L"Working Offline");
  doubles.WinInet().setFails = 1;
  size_t count = tray.Count();
  Handle(TrayCallback(WM_LBUTTONDOWN));
  EXPECT_EQ(SetCount(), 2);
  ExpectLastSetOnline();
  EXPECT_TRUE(doubles.WorkingOffline());
  ASSERT_EQ(tray.Count(), count + 1);
  ExpectModify(tray.Records()[count], OFFLINE, L"Working Offline");
  EXPECT_TRUE(program.Running());
}

TEST_F(TrayTest, TaskbarCreatedAddsTheIconAgainAndForcesAModify) {
  ASSERT_TRUE(StartTray(0, true));
  Handle(TaskbarCreated());
  std::vector<TrayRecord> records = tray.Records();
  ASSERT_EQ(records.size(), 6u);
  ExpectAdd(records[3], OFFLINE, L"Working Offline");
  ExpectModify(records[4], OFFLINE, L"Working Offline");
  ExpectModify(records[5], OFFLINE, L"Working Offline");
  EXPECT_EQ(SetCount(), 0);
}

// Holds the program inside its NIM_DELETE: the recorder's window procedure, wrapped, records the
// call and then waits, so the program sits in WM_DESTROY with its close begun, still handling the
// messages sent to it.
class DeleteHold {
 public:
  explicit DeleteHold(HWND recorder) : recorder_(recorder) {
    reached = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(recorder, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DeleteHold::Proc)));
  }
  ~DeleteHold() {
    SetWindowLongPtrW(recorder_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    SetEvent(release);
  }
  DeleteHold(const DeleteHold&) = delete;
  DeleteHold& operator=(const DeleteHold&) = delete;

  bool Reached() const { return WaitForSingleObject(reached, kWaitMs) == WAIT_OBJECT_0; }
  void Release() const { SetEvent(release); }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = CallWindowProcW(original, window, message, wParam, lParam);
    if (message == WM_COPYDATA && reinterpret_cast<const COPYDATASTRUCT*>(lParam)->dwData == NIM_DELETE) {
      SetEvent(reached);
      WaitForSingleObject(release, 2 * kWaitMs);
    }
    return result;
  }

  HWND recorder_;
  static WNDPROC original;
  static HANDLE reached;
  static HANDLE release;
};
WNDPROC DeleteHold::original;
HANDLE DeleteHold::reached;
HANDLE DeleteHold::release;

TEST_F(TrayTest, AfterTheCloseHasBegunAboutOptionsAndASecondCloseDoNothing) {
  ASSERT_TRUE(StartTray(0, false));
  {
    DeleteHold hold(tray.Window());
    ASSERT_TRUE(program.Post(Command(IDM_EXIT)));
    ASSERT_TRUE(hold.Reached()) << "no NIM_DELETE";
    for (const Message& request :
         {Command(IDM_ABOUT), Command(IDM_OPTIONS), Message{MSG_SHOW_OPTIONS, 0, 0}, Message{MSG_EXIT, 0, 0}}) {
      EXPECT_TRUE(program.Send(request, 2000)) << "message " << request.message << ", " << request.wParam;
    }
    EXPECT_EQ(TopWindows(program.ProcessId(), L"#32770").size(), 0u) << "a dialog opened during the close";
    hold.Release();
  }
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
  std::vector<TrayRecord> records = tray.Records();
  ASSERT_EQ(records.size(), 4u) << "one NIM_DELETE and nothing after it";
  EXPECT_EQ(records[3].message, static_cast<DWORD>(NIM_DELETE));
}

// A busy shell refuses the add and the modify that asks whether the icon exists after all: the
// next poll tries again, then the state shows, AutoSwitch runs and the icon is deleted at the end.
TEST_F(TrayTest, RefusedAddIsTriedAgainByThePollUntilTheIconShows) {
  tray.RefuseNext(2);
  doubles.SetWorkingOffline(false);
  ASSERT_TRUE(WriteSettings(OPT_AUTOSWITCH, STARTUP_DEFAULT));
  ASSERT_TRUE(program.Start()) << Narrow(program.Error());
  ASSERT_TRUE(program.WaitForMainWindow());
  ASSERT_TRUE(tray.WaitForCount(2));
  EXPECT_EQ(tray.Records()[0].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(tray.Records()[1].message, static_cast<DWORD>(NIM_MODIFY)) << "no ask whether the icon exists";
  EXPECT_EQ(tray.Records()[1].flags, TRAY_ADD_FLAGS);
  std::optional<TrayRecord> add = tray.WaitForMatch(
      [](const TrayRecord& record) { return record.message == NIM_ADD; }, 2, 2 * ONE_REFRESH_MS);
  ASSERT_TRUE(add) << "the add was not tried again within two refreshes";
  ExpectAdd(*add, AUTO_CONNECTED + ONLINE, L"Working Online");
  ASSERT_TRUE(ModifyShowing(AUTO_CONNECTED + ONLINE, 3, ONE_REFRESH_MS)) << "the state was not shown";

  doubles.SetConnection(FALSE, 0);
  ASSERT_TRUE(ModifyShowing(AUTO_NOT_CONNECTED + ONLINE, 4, AUTOSWITCH_POLL_MS)) << "AutoSwitch does not run";
  EXPECT_EQ(SetCount(), 1);
  ExpectLastSetOffline();
  Handle(Command(IDM_EXIT));
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(tray.Records().back().message, static_cast<DWORD>(NIM_DELETE));
}

// An icon that the shell may still add after refusing is deleted at the end all the same.
TEST_F(TrayTest, IconWhoseAddsWereRefusedIsDeletedAtExit) {
  tray.SetAnswer(FALSE);
  ASSERT_TRUE(program.Start()) << Narrow(program.Error());
  ASSERT_TRUE(program.WaitForMainWindow());
  ASSERT_TRUE(tray.WaitForCount(2));
  Handle(Command(IDM_EXIT));
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(tray.Records().back().message, static_cast<DWORD>(NIM_DELETE));
}

// A refused modify means the icon may be gone (a shell restart that sent no "TaskbarCreated"): the
// next poll adds it again, and draws it.
TEST_F(TrayTest, RefusedModifyIsAddedAgainByTheNextPoll) {
  ASSERT_TRUE(StartTray(0, false));
  tray.RefuseNext(1);
  doubles.SetWorkingOffline(true);
  size_t at = 0;
  ASSERT_TRUE(ModifyShowing(OFFLINE, 3, ONE_REFRESH_MS, &at));
  std::optional<TrayRecord> add = tray.WaitForRecord(at + 1, ONE_REFRESH_MS);
  ASSERT_TRUE(add && add->message == NIM_ADD) << "the icon was not added again";
  ExpectAdd(*add, OFFLINE, L"Working Offline");
  EXPECT_TRUE(NextModify(at + 2, ONE_REFRESH_MS)) << "the icon added again was not drawn";
}

// ---- The tray menu, read from the screen: the program's menu cannot be asked from another process.

struct ScreenArea {
  int width = 0;
  int height = 0;
  std::vector<DWORD> pixels;  // 0x00RRGGBB, rows top-down
  bool Dark(int x, int y) const {
    DWORD pixel = pixels[static_cast<size_t>(y) * width + x];
    return ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF) < 3 * 80;
  }
};

ScreenArea CaptureScreen(const RECT& area) {
  ScreenArea shot;
  shot.width = area.right - area.left;
  shot.height = area.bottom - area.top;
  if (shot.width <= 0 || shot.height <= 0) return ScreenArea();
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = shot.width;
  info.bmiHeader.biHeight = -shot.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, shot.width, shot.height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    const DWORD* pixels = static_cast<const DWORD*>(bits);
    shot.pixels.assign(pixels, pixels + static_cast<size_t>(shot.width) * shot.height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (shot.pixels.empty()) return ScreenArea();
  return shot;
}

struct Band {
  int top;
  int bottom;  // inclusive
};

// Rows that hold dark pixels between the columns, grouped; gaps of up to two rows join
// (underlined mnemonics), so each band is the text of one menu item.
std::vector<Band> DarkBands(const ScreenArea& shot, int left, int right) {
  std::vector<Band> bands;
  for (int y = 0; y < shot.height; y++) {
    bool dark = false;
    for (int x = left; x < right && !dark; x++) dark = shot.Dark(x, y);
    if (!dark) continue;
    if (!bands.empty() && y - bands.back().bottom <= 3) {
      bands.back().bottom = y;
    } else {
      bands.push_back({y, y});
    }
  }
  return bands;
}

// What the open menu shows: its item texts as bands, and which items carry a check mark.
struct MenuPicture {
  RECT rect = {};
  size_t items = 0;
  std::vector<size_t> checked;  // item positions counted without separators
};

MenuPicture ReadMenu(HWND menu) {
  MenuPicture picture;
  GetWindowRect(menu, &picture.rect);
  ScreenArea shot = CaptureScreen(picture.rect);
  if (shot.pixels.empty()) return picture;
  int checkRight = 2 + GetSystemMetrics(SM_CXMENUCHECK);
  std::vector<Band> texts = DarkBands(shot, checkRight + 2, shot.width - 3);
  picture.items = texts.size();
  for (const Band& mark : DarkBands(shot, 2, checkRight)) {
    int middle = (mark.top + mark.bottom) / 2;
    for (size_t item = 0; item < texts.size(); item++) {
      if (middle >= texts[item].top - 3 && middle <= texts[item].bottom + 3) picture.checked.push_back(item);
    }
  }
  return picture;
}

// Item positions of the menu without its separators: &Cancel, Work O&ffline, Work &Online,
// &Options, &About Corvalent, &Exit Corvalent.
constexpr size_t MENU_ITEMS = 6;
constexpr size_t ITEM_WORK_OFFLINE = 1;
constexpr size_t ITEM_WORK_ONLINE = 2;
constexpr int CURSOR_X = 700;
constexpr int CURSOR_Y = 500;

class TrayMenuTest : public TrayTest {
 protected:
  HWND VisibleMenu() {
    for (HWND window : TopWindows(program.ProcessId(), L"#32768")) {
      if (IsWindowVisible(window)) return window;
    }
    return nullptr;
  }

  // Opens the menu as a right click does and waits until it is painted with all its items.
  bool OpenMenu(MenuPicture* picture) {
    SetCursorPos(CURSOR_X, CURSOR_Y);
    if (!program.Post(TrayCallback(WM_RBUTTONDOWN))) return false;
    ULONGLONG deadline = GetTickCount64() + kWaitMs;
    while (GetTickCount64() < deadline) {
      HWND menu = VisibleMenu();
      if (menu) {
        *picture = ReadMenu(menu);
        if (picture->items == MENU_ITEMS && !picture->checked.empty()) return true;
      }
      if (!PauseWhileRunning()) return false;
    }
    return false;
  }

  // Nothing tells another process that a menu has been painted or closed: look again after
  // 20 ms. False when the program has ended.
  bool PauseWhileRunning() { return WaitForSingleObject(program.Process(), 20) == WAIT_TIMEOUT; }

  bool WaitForMenuClosed() {
    ULONGLONG deadline = GetTickCount64() + kWaitMs;
    while (VisibleMenu()) {
      if (GetTickCount64() >= deadline || !PauseWhileRunning()) return false;
    }
    return true;
  }

  // The one shell call since count, waited for: the focus handed back to the notification area.
  void ExpectFocusHandedBack(size_t count) {
    std::optional<TrayRecord> focus = tray.WaitForRecord(count);
    ASSERT_TRUE(focus) << "no shell call after the menu closed";
    EXPECT_EQ(focus->message, static_cast<DWORD>(NIM_SETFOCUS));
    EXPECT_EQ(focus->window, program.MainWindow());
    EXPECT_EQ(focus->id, kTrayIconId);
    EXPECT_EQ(tray.Count(), count + 1);
  }
};

TEST_F(TrayMenuTest, MenuOpensAtTheCursorWithTheCheckOnTheWorkingState) {
  ASSERT_TRUE(StartTray(0, true));
  MenuPicture menu;
  ASSERT_TRUE(OpenMenu(&menu)) << "menu with " << menu.items << " items, " << menu.checked.size() << " marks";
  EXPECT_EQ(menu.rect.right, CURSOR_X) << "the right edge sits at the cursor";
  EXPECT_EQ(menu.checked, std::vector<size_t>{ITEM_WORK_OFFLINE});

  // Escape closes the menu, hands the focus back to the notification area and changes nothing.
  size_t count = tray.Count();
  PostMessageW(VisibleMenu(), WM_KEYDOWN, VK_ESCAPE, 0);
  ASSERT_TRUE(WaitForMenuClosed());
  Handle(Timer(TIMER_POLL));
  EXPECT_EQ(SetCount(), 0);
  ExpectFocusHandedBack(count);

  Handle(Command(IDM_WORK_ONLINE));
  ASSERT_TRUE(OpenMenu(&menu));
  EXPECT_EQ(menu.checked, std::vector<size_t>{ITEM_WORK_ONLINE});

  // Choosing "Work O&ffline" by its key sends the command that sets offline.
  LONG sets = SetCount();
  count = tray.Count();
  PostMessageW(VisibleMenu(), WM_CHAR, 'f', 0);
  ASSERT_TRUE(doubles.WaitFor([&](const DoubleStateBlock& block) { return block.wininet.setCount > sets; }));
  ASSERT_TRUE(WaitForMenuClosed());
  ExpectLastSetOffline();
  std::vector<TrayRecord> shown = tray.Records();
  EXPECT_TRUE(std::none_of(shown.begin() + count, shown.end(), [](const TrayRecord& r) { return r.message == NIM_SETFOCUS; }))
      << "the focus went back to the shell although a command was chosen";

  // "&Cancel" closes the menu and does nothing else.
  ASSERT_TRUE(OpenMenu(&menu));
  EXPECT_EQ(menu.checked, std::vector<size_t>{ITEM_WORK_OFFLINE});
  sets = SetCount();
  count = tray.Count();
  PostMessageW(VisibleMenu(), WM_CHAR, 'c', 0);
  ASSERT_TRUE(WaitForMenuClosed());
  Handle(Timer(TIMER_POLL));
  EXPECT_EQ(SetCount(), sets);
  ExpectFocusHandedBack(count);
  EXPECT_TRUE(program.Running());

  // The shell hands Enter, Space and the menu key on the icon over as a right click; in the menu
  // the arrow keys pass over the separators and Enter chooses "Work &Online".
  ASSERT_TRUE(OpenMenu(&menu));
  for (WPARAM key : {VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}) PostMessageW(VisibleMenu(), WM_KEYDOWN, key, 0);
  ASSERT_TRUE(doubles.WaitFor([&](const DoubleStateBlock& block) { return block.wininet.setCount > sets; }));
  ASSERT_TRUE(WaitForMenuClosed());
  ExpectLastSetOnline();
}

// ---- The start-up mode, applied by a copy started with "startup" that exits right afterwards.

struct StartupCase {
  const char* name;
  DWORD mode;
  bool startOffline;
  BOOL connected;
  bool sets;          // a set call is expected
  bool endsOffline;   // the working state afterwards
  LONG networkList = 0;  // the network list's connectivity bits; 0: no network list
  LONG cost = 0;         // its connection cost; 0: none answered
  DWORD options = 0;     // besides Exit afterwards
};

void PrintTo(const StartupCase& startupCase, std::ostream* out) {
  *out << startupCase.name;
}

class StartupModeTest : public TrayTest, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(StartupModeTest, SetsTheChosenStateAndExitsWithoutIcon) {
  const StartupCase& startupCase = GetParam();
  doubles.SetWorkingOffline(startupCase.startOffline);
  doubles.SetConnection(startupCase.connected, startupCase.connected ? INTERNET_CONNECTION_LAN : 0);
  if (startupCase.networkList) doubles.SetNetworkList(startupCase.networkList, startupCase.cost);
  ASSERT_TRUE(WriteSettings(OPT_EXIT_AFTERWARDS | startupCase.options, startupCase.mode));
  ASSERT_TRUE(program.Start(L"startup")) << Narrow(program.Error());
  std::optional<DWORD> code = program.WaitForExit();
  ASSERT_TRUE(code) << "the program did not end by itself";
  EXPECT_EQ(*code, 0u);
  EXPECT_EQ(tray.Count(), 0u);
  EXPECT_EQ(doubles.WorkingOffline(), startupCase.endsOffline);
  if (!startupCase.sets) {
    EXPECT_EQ(SetCount(), 0);
    return;
  }
  EXPECT_EQ(SetCount(), 1);
  if (startupCase.endsOffline) {
    ExpectLastSetOffline();
  } else {
    ExpectLastSetOnline();
  }
  if (startupCase.mode == STARTUP_AUTO && startupCase.networkList) {
    EXPECT_EQ(doubles.WinInet().connectedCheckCount, 0) << "WinInet asked although the network list answered";
    EXPECT_EQ(doubles.NetworkList().liveCount, 0) << "the network list was not released";
  } else if (startupCase.mode == STARTUP_AUTO) {
    EXPECT_EQ(doubles.WinInet().connectedCheckCount, 1);
    EXPECT_EQ(doubles.WinInet().lastFlagsOnEntry,
              static_cast<LONG>(INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY));
  }
}

const StartupCase STARTUP_CASES[] = {
    {"OfflineFromOnline", STARTUP_OFFLINE, false, TRUE, true, true},
    {"OnlineFromOffline", STARTUP_ONLINE, true, TRUE, true, false},
    {"AutoWithConnectionGoesOnline", STARTUP_AUTO, true, TRUE, true, false},
    {"AutoWithoutConnectionGoesOffline", STARTUP_AUTO, false, FALSE, true, true},
    {"AutoByTheNetworkListGoesOnline", STARTUP_AUTO, true, FALSE, true, false, NLM_CONNECTIVITY_IPV4_LOCALNETWORK},
    {"AutoOnlyOnASubnetGoesOffline", STARTUP_AUTO, false, TRUE, true, true, NLM_CONNECTIVITY_IPV4_SUBNET},
    {"AutoOnAMeteredConnectionGoesOffline", STARTUP_AUTO, false, TRUE, true, true, NLM_CONNECTIVITY_IPV4_INTERNET,
     NLM_CONNECTION_COST_FIXED, 0x80},
    {"DefaultLeavesOffline", STARTUP_DEFAULT, true, FALSE, false, true},
    {"FourLeavesOnline", 4, false, TRUE, false, false},
    {"MinusOneLeavesOffline", 0xFFFFFFFF, true, TRUE, false, true},
};

INSTANTIATE_TEST_SUITE_P(Modes, StartupModeTest, ::testing::ValuesIn(STARTUP_CASES),
                         [](const ::testing::TestParamInfo<StartupCase>& info) { return info.param.name; });

}  // namespace
