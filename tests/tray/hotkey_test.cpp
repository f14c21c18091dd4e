// Tests of the hot-key part of the tray program: the split of the hot-key word and the system-wide
// registration for mainWindow, in-process with windows of the test's own. Part of tray_units.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "harness.h"
#include "hotkey.h"
#include "startup.h"
#include "window.h"

using namespace harness;

namespace {

const DWORD CTRL_ALT_T = (HOTKEYF_CONTROL | HOTKEYF_ALT) << 8 | 'T';  // 0x0654
const DWORD SHIFT_F5 = HOTKEYF_SHIFT << 8 | VK_F5;                    // 0x0174
const UINT CTRL_ALT = MOD_CONTROL | MOD_ALT;                          // 0x0003
const int PROBE_ID = 7;

struct Split {
  DWORD modifiers;
  DWORD virtualKey;
};

Split SplitOf(DWORD value) {
  Split split = {0xDEAD, 0xBEEF};
  SplitHotKey(value, &split.modifiers, &split.virtualKey);
  return split;
}

TEST(SplitHotKeyTest, CtrlAltTGivesControlAndAltWithVirtualKeyT) {
  Split split = SplitOf(0x0654);
  EXPECT_EQ(split.modifiers, 0x0003u);
  EXPECT_EQ(split.virtualKey, 0x54u);
}

TEST(SplitHotKeyTest, ShiftF5GivesShiftWithVirtualKeyF5) {
  Split split = SplitOf(0x0174);
  EXPECT_EQ(split.modifiers, 0x0004u);
  EXPECT_EQ(split.virtualKey, 0x74u);
}

TEST(SplitHotKeyTest, AltAloneGivesModAlt) {
  Split split = SplitOf(0x0441);
  EXPECT_EQ(split.modifiers, static_cast<DWORD>(MOD_ALT));
  EXPECT_EQ(split.virtualKey, 0x41u);
}

TEST(SplitHotKeyTest, ExtendedFlagIsDropped) {
  Split alone = SplitOf(0x0824);
  EXPECT_EQ(alone.modifiers, 0u);
  EXPECT_EQ(alone.virtualKey, 0x24u);
  Split withOthers = SplitOf(0x0E54);
  EXPECT_EQ(withOthers.modifiers, 0x0003u);
  EXPECT_EQ(withOthers.virtualKey, 0x54u);
}

TEST(SplitHotKeyTest, AllThreeModifiersAreMapped) {
  Split split = SplitOf(0x0741);
  EXPECT_EQ(split.modifiers, static_cast<DWORD>(MOD_ALT | MOD_CONTROL | MOD_SHIFT));
  EXPECT_EQ(split.virtualKey, 0x41u);
}

TEST(SplitHotKeyTest, KeyWithoutModifiersGivesNone) {
  Split split = SplitOf(0x0070);
  EXPECT_EQ(split.modifiers, 0u);
  EXPECT_EQ(split.virtualKey, 0x70u);
}

TEST(SplitHotKeyTest, HighBitsAreIgnoredAndNeverGiveModWin) {
  Split split = SplitOf(0xABCDF654);
  EXPECT_EQ(split.modifiers, 0x0003u);
  EXPECT_EQ(split.virtualKey, 0x54u);
  Split unknownFlags = SplitOf(0xFFFFF000 | 0x70);
  EXPECT_EQ(unknownFlags.modifiers, 0u);
  EXPECT_EQ(unknownFlags.virtualKey, 0x70u);
}

// mainWindow is a hidden window of the test; a second window probes who holds a combination.
class SetHotKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedMainWindow = mainWindow;
    savedSettings = settings;
    window = CreateWindowExW(0, L"Static", L"hot key owner", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    probe = CreateWindowExW(0, L"Static", L"hot key probe", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window && probe);
    mainWindow = window;
    SetHotKey(0);  // whatever an earlier test left registered
  }

  void TearDown() override {
    SetHotKey(0);
    if (probeHolds) UnregisterHotKey(probe, PROBE_ID);
    mainWindow = savedMainWindow;
    settings = savedSettings;
    DestroyWindow(probe);
    DestroyWindow(window);
  }

  // True when some window holds the combination: the probe can't register it.
  bool Held(UINT modifiers, UINT virtualKey) {
    if (!RegisterHotKey(probe, PROBE_ID, modifiers, virtualKey)) return true;
    UnregisterHotKey(probe, PROBE_ID);
    return false;
  }

  void ProbeTakes(UINT modifiers, UINT virtualKey) {
    probeHolds = RegisterHotKey(probe, PROBE_ID, modifiers, virtualKey) != 0;
    ASSERT_TRUE(probeHolds);
  }

  void ProbeReleases() {
    ASSERT_TRUE(UnregisterHotKey(probe, PROBE_ID));
    probeHolds = false;
  }

  HWND savedMainWindow = nullptr;
  Settings savedSettings = {};
  HWND window = nullptr;
  HWND probe = nullptr;
  bool probeHolds = false;
};

TEST_F(SetHotKeyTest, RegisteredCombinationIsHeldByMainWindowUnderIdZero) {
  SetHotKey(CTRL_ALT_T);
  EXPECT_TRUE(Held(CTRL_ALT, 'T'));
  EXPECT_TRUE(UnregisterHotKey(window, 0));
  EXPECT_FALSE(Held(CTRL_ALT, 'T'));
}

TEST_F(SetHotKeyTest, ZeroReleasesTheRegisteredCombination) {
  SetHotKey(CTRL_ALT_T);
  ASSERT_TRUE(Held(CTRL_ALT, 'T'));
  SetHotKey(0);
  EXPECT_FALSE(Held(CTRL_ALT, 'T'));
  EXPECT_FALSE(UnregisterHotKey(window, 0));
}

TEST_F(SetHotKeyTest, NewCombinationReplacesTheOldOne) {
  SetHotKey(CTRL_ALT_T);
  SetHotKey(SHIFT_F5);
  EXPECT_FALSE(Held(CTRL_ALT, 'T'));
  EXPECT_TRUE(Held(MOD_SHIFT, VK_F5));
}

TEST_F(SetHotKeyTest, CombinationHeldElsewhereFailsSilentlyAndTheSameValueRetries) {
  BoxWatcher boxes;
  ProbeTakes(CTRL_ALT, 'T');
  SetHotKey(CTRL_ALT_T);
  EXPECT_FALSE(UnregisterHotKey(window, 0)) << "the main window must not hold a key it could not get";
  ProbeReleases();
  EXPECT_FALSE(Held(CTRL_ALT, 'T'));

  SetHotKey(CTRL_ALT_T);
  EXPECT_TRUE(Held(CTRL_ALT, 'T'));
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(SetHotKeyTest, SameValueAgainMakesNoSystemCall) {
  SetHotKey(CTRL_ALT_T);
  ASSERT_TRUE(UnregisterHotKey(window, 0));  // behind the program's back
  SetHotKey(CTRL_ALT_T);
  EXPECT_FALSE(Held(CTRL_ALT, 'T'));
}

TEST_F(SetHotKeyTest, ValueDifferingOnlyInExtendedFlagRegistersAgain) {
  SetHotKey(CTRL_ALT_T);
  ASSERT_TRUE(UnregisterHotKey(window, 0));  // behind the program's back
  SetHotKey(CTRL_ALT_T | HOTKEYF_EXT << 8);
  EXPECT_TRUE(Held(CTRL_ALT, 'T'));
  SetHotKey(CTRL_ALT_T);
  EXPECT_TRUE(Held(CTRL_ALT, 'T'));
}

TEST_F(SetHotKeyTest, UpdateWithUnchangedSettingsMakesNoSystemCall) {
  settings.options = OPT_HOTKEY;
  settings.hotKey = CTRL_ALT_T;
  UpdateHotKey();
  ASSERT_TRUE(UnregisterHotKey(window, 0));  // behind the program's back
  UpdateHotKey();
  EXPECT_FALSE(Held(CTRL_ALT, 'T')) << "the same key was released and registered again";
}

// WM_DESTROY itself lets the key go: the window still exists when it is handled, and the system
// frees a destroyed window's keys only afterwards.
TEST_F(SetHotKeyTest, DestroyMessageReleasesTheKeyBeforeTheWindowIsGone) {
  SetHotKey(CTRL_ALT_T);
  ASSERT_TRUE(Held(CTRL_ALT, 'T'));
  EXPECT_EQ(MainWndProc(window, WM_DESTROY, 0, 0), 0);
  MSG quit;
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "no quit message posted";
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(Held(CTRL_ALT, 'T'));
  EXPECT_FALSE(UnregisterHotKey(window, 0));
}

TEST_F(SetHotKeyTest, UpdateRegistersTheKeyWhenTheOptionIsSet) {
  settings.options = OPT_HOTKEY;
  settings.hotKey = CTRL_ALT_T;
  UpdateHotKey();
  EXPECT_TRUE(Held(CTRL_ALT, 'T'));
}

TEST_F(SetHotKeyTest, UpdateRegistersNothingWhenTheOptionIsClear) {
  settings.options = OPT_AUTOSWITCH | OPT_AUTOSWITCH_TOOLTIPS;
  settings.hotKey = CTRL_ALT_T;
  UpdateHotKey();
  EXPECT_FALSE(Held(CTRL_ALT, 'T'));
  EXPECT_FALSE(UnregisterHotKey(window, 0));
}

TEST_F(SetHotKeyTest, UpdateReleasesTheKeyWhenTheOptionIsCleared) {
  settings.options = OPT_HOTKEY;
  settings.hotKey = CTRL_ALT_T;
  UpdateHotKey();
  ASSERT_TRUE(Held(CTRL_ALT, 'T'));
  settings.options = 0;
  UpdateHotKey();
  EXPECT_FALSE(Held(CTRL_ALT, 'T'));
}

TEST_F(SetHotKeyTest, UpdateWithTheOptionSetAndNoKeyRegistersNothing) {
  BoxWatcher boxes;
  settings.options = OPT_HOTKEY;
  settings.hotKey = CTRL_ALT_T;
  UpdateHotKey();
  ASSERT_TRUE(Held(CTRL_ALT, 'T'));
  settings.hotKey = 0;
  UpdateHotKey();
  EXPECT_FALSE(Held(CTRL_ALT, 'T'));
  EXPECT_FALSE(Held(0, 0));
  EXPECT_FALSE(UnregisterHotKey(window, 0));
  EXPECT_EQ(boxes.Count(), 0u);
}

}  // namespace
