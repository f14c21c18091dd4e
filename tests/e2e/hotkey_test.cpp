// End-to-end tests of the hot key: the real Corvalent.exe takes the combination of its settings,
// toggles on WM_HOTKEY, retries after the Options dialog and lets go. Part of the e2e_hotkey test program.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <optional>
#include <string>

#include "harness.h"
#include "../../config/cvconfig.h"
#include "../../resources/cvconfig_res.h"

using namespace harness;

namespace {

const DWORD CTRL_ALT_T = (HOTKEYF_CONTROL | HOTKEYF_ALT) << 8 | 'T';  // 0x0654
const UINT CTRL_ALT = MOD_CONTROL | MOD_ALT;
const int PROBE_ID = 3;
// Menu commands of Corvalent.exe (its resource header clashes with the library's icon ids).
const WORD IDM_EXIT = 40006;
const WORD IDM_OPTIONS = 40007;

void DeleteSettings() {
  harness::DeleteSettingsKey();
}

bool WriteSettings(const Settings& record) {
  return harness::WriteSettingsKey(record.options, record.startupMode, record.hotKey, record.delay);
}

class HotKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doubles.Ready());
    ASSERT_TRUE(tray.Ready());
    probe = CreateWindowExW(0, L"Static", L"hot key probe", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(probe);
    DeleteSettings();
    ASSERT_TRUE(WriteSettings(Settings{OPT_HOTKEY, 0, CTRL_ALT_T, 8}));
  }

  void TearDown() override {
    if (probeHolds) UnregisterHotKey(probe, PROBE_ID);
    DestroyWindow(probe);
    DeleteSettings();
  }

  // True when some window holds the combination: the probe can't register it.
  bool Held(UINT modifiers, UINT virtualKey) {
    if (!RegisterHotKey(probe, PROBE_ID, modifiers, virtualKey)) return true;
    UnregisterHotKey(probe, PROBE_ID);
    return false;
  }

  bool WaitForOffline(bool offline) {
    return doubles.WaitFor([&](const DoubleStateBlock&) { return doubles.WorkingOffline() == offline; });
  }

  // Starts the program and waits until its message loop runs: a posted message is handled only
  // there, after start-up has registered the hot key. The toggle it causes is the sign.
  HWND StartAndToggleOnce(Program* program) {
    if (!program->Start()) {
      ADD_FAILURE() << std::string(program->Error().begin(), program->Error().end());
      return nullptr;
    }
    boxes.emplace(program->ProcessId());
    HWND main = program->WaitForMainWindow();
    if (!main) return nullptr;
    EXPECT_FALSE(doubles.WorkingOffline());
    if (!program->Post(HotKey(0x2A))) return nullptr;
    EXPECT_TRUE(WaitForOffline(true)) << "WM_HOTKEY did not set offline";
    return main;
  }

  // Opens the Options dialog from the menu command and waits until it is shown, which the
  // dialog box does only once its controls exist and are filled in.
  HWND OpenOptions(Program* program) {
    if (!program->Post(Command(IDM_OPTIONS))) return nullptr;
    HWND dialog =
        WaitForShownDialog(program->ProcessId(), L"Corvalent Options", kWaitMs, program->Process());
    if (!dialog || !WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; }, program->Process())) return nullptr;
    return dialog;
  }

  // Presses a button of the dialog and waits for the dialog and the tray refresh after it.
  void CloseOptionsWith(Program* program, HWND dialog, int button) {
    size_t before = tray.Count();
    ASSERT_TRUE(PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, button))));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, program->Process()));
    // UpdateHotKey runs before the refresh, so the key is settled once the refresh arrives.
    ASSERT_TRUE(tray.WaitForMatch(IsModify, before));
  }

  void Exit(Program* program) {
    EXPECT_TRUE(program->Send(Command(IDM_EXIT)));
    EXPECT_EQ(program->WaitForExit(), std::optional<DWORD>(0));
  }

  DoubleState doubles;
  TrayRecorder tray;
  std::optional<BoxWatcher> boxes;
  HWND probe = nullptr;
  bool probeHolds = false;
};

TEST_F(HotKeyTest, CombinationOfTheSettingsIsHeldTogglesWhateverTheIdAndIsReleasedOnExit) {
  Stage stage;
  ASSERT_TRUE(stage.Ready());
  Program program(stage);
  ASSERT_TRUE(StartAndToggleOnce(&program));
  EXPECT_TRUE(Held(CTRL_ALT, 'T'));

  ASSERT_TRUE(program.Post(HotKey(0)));
  EXPECT_TRUE(WaitForOffline(false)) << "WM_HOTKEY with id 0 did not set online";
  ASSERT_TRUE(program.Post(HotKey(-1, MOD_SHIFT, VK_F5)));
  EXPECT_TRUE(WaitForOffline(true)) << "WM_HOTKEY with a foreign id did not toggle";

  Exit(&program);
  EXPECT_FALSE(Held(CTRL_ALT, 'T'));
  EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(HotKeyTest, CombinationHeldElsewhereFailsSilentlyAndIsTakenAfterACancelledOptionsDialog) {
  probeHolds = RegisterHotKey(probe, PROBE_ID, CTRL_ALT, 'T') != 0;
  ASSERT_TRUE(probeHolds);
  Stage stage;
  ASSERT_TRUE(stage.Ready());
  Program program(stage);
  ASSERT_TRUE(StartAndToggleOnce(&program));
  EXPECT_EQ(boxes->Count(), 0u);

  ASSERT_TRUE(UnregisterHotKey(probe, PROBE_ID));
  probeHolds = false;
  EXPECT_FALSE(Held(CTRL_ALT, 'T')) << "the program took the key after its registration failed";

  HWND dialog = OpenOptions(&program);
  ASSERT_TRUE(dialog);
  CloseOptionsWith(&program, dialog, IDC_OPTIONS_CANCEL);
  EXPECT_TRUE(Held(CTRL_ALT, 'T')) << "the Options dialog did not retry the key";

  Exit(&program);
  EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(HotKeyTest, OptionsAcceptedWithHotKeyUncheckedReleasesTheKey) {
  Stage stage;
  ASSERT_TRUE(stage.Ready());
  Program program(stage);
  ASSERT_TRUE(StartAndToggleOnce(&program));
  ASSERT_TRUE(Held(CTRL_ALT, 'T'));

  HWND dialog = OpenOptions(&program);
  ASSERT_TRUE(dialog);
  HWND enable = GetDlgItem(dialog, IDC_ENABLE_HOTKEY);
  ASSERT_TRUE(enable);
  ASSERT_EQ(SendMessageW(enable, BM_GETCHECK, 0, 0), BST_CHECKED);
  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutW(enable, BM_CLICK, 0, 0, SMTO_NORMAL, kWaitMs, &result));
  ASSERT_EQ(SendMessageW(enable, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  CloseOptionsWith(&program, dialog, IDC_OPTIONS_OK);
  EXPECT_FALSE(Held(CTRL_ALT, 'T')) << "the key stays registered with the option off";

  Exit(&program);
  EXPECT_EQ(boxes->Count(), 0u);
}

}  // namespace
