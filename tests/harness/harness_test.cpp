// Self-test of the tray recorder, the icon pictures and the build paths: Shell_NotifyIconA calls
// decoded the way Wine 8 and Wine 10 send them. Part of harness_test; fails first if Wine's icon
// record changes.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "harness.h"

using namespace harness;

namespace {

const COLORREF RED = RGB(255, 0, 0);
const COLORREF BLUE = RGB(0, 0, 255);

// A 16x16 icon whose upper half is top, lower half bottom, and whose four left columns are transparent.
HICON MakeIcon(COLORREF top, COLORREF bottom) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = 16;
  info.bmiHeader.biHeight = -16;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  DWORD* pixels = static_cast<DWORD*>(bits);
  for (int y = 0; y < 16; y++) {
    COLORREF c = y < 8 ? top : bottom;
    for (int x = 0; x < 16; x++) pixels[y * 16 + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
  }
  BYTE maskBits[32];
  for (int row = 0; row < 16; row++) {
    maskBits[row * 2] = 0xF0;
    maskBits[row * 2 + 1] = 0x00;
  }
  HBITMAP mask = CreateBitmap(16, 16, 1, 1, maskBits);
  ICONINFO icon = {TRUE, 0, 0, mask, colour};
  HICON handle = CreateIconIndirect(&icon);
  DeleteObject(colour);
  DeleteObject(mask);
  return handle;
}

NOTIFYICONDATAA IconData(HWND window, UINT flags, HICON icon, const char* tip) {
  NOTIFYICONDATAA data = {};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;  // 88, the form the program uses
  data.hWnd = window;
  data.uID = kTrayIconId;
  data.uFlags = flags;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = icon;
  lstrcpynA(data.szTip, tip, sizeof(data.szTip));
  return data;
}

class TrayRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = CreateWindowExW(0, L"Static", L"tray owner", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    red = MakeIcon(RED, RED);
    blue = MakeIcon(BLUE, RED);
    ASSERT_TRUE(window && red && blue);
    ASSERT_TRUE(recorder.Ready());
  }
  void TearDown() override {
    DestroyIcon(red);
    DestroyIcon(blue);
    DestroyWindow(window);
  }
  BOOL Notify(DWORD message, UINT flags, HICON icon, const char* tip) {
    NOTIFYICONDATAA data = IconData(window, flags, icon, tip);
    return Shell_NotifyIconA(message, &data);
  }

  TrayRecorder recorder;
  HWND window = nullptr;
  HICON red = nullptr;
  HICON blue = nullptr;
};

TEST_F(TrayRecorderTest, IsTheTrayWindowThatTheShellFinds) {
  EXPECT_EQ(FindWindowW(L"Shell_TrayWnd", nullptr), recorder.Window());
}

TEST_F(TrayRecorderTest, AddRecordsEveryFieldOfTheIconData) {
  ASSERT_TRUE(Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP, red, "Working Offline"));
  std::optional<TrayRecord> add = recorder.WaitForRecord(0);
  ASSERT_TRUE(add);
  EXPECT_EQ(add->message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(add->window, window);
  EXPECT_EQ(add->id, kTrayIconId);
  EXPECT_EQ(add->flags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(add->callbackMessage, kTrayMessage);
  EXPECT_EQ(add->tip, L"Working Offline");
  EXPECT_EQ(recorder.Count(), 1u);
}

TEST_F(TrayRecorderTest, IconArrivesAsTheSamePixelsAsTheHandleHas) {
  ASSERT_TRUE(Notify(NIM_ADD, NIF_ICON, blue, ""));
  std::optional<TrayRecord> add = recorder.WaitForRecord(0);
  ASSERT_TRUE(add);
  std::optional<IconPicture> expected = PictureOfIcon(blue);
  ASSERT_TRUE(expected);
  EXPECT_EQ(add->icon, *expected);
  EXPECT_EQ(add->icon.width, 16u);
  EXPECT_EQ(add->icon.height, 16u);
  EXPECT_EQ(add->icon.planes, 1u);
  EXPECT_EQ(add->icon.mask.size(), 32u);
  // Checked pixel by pixel, not only against the harness's own reading of the handle.
  EXPECT_EQ(add->icon.PixelAt(8, 0), BLUE);
  EXPECT_EQ(add->icon.PixelAt(15, 7), BLUE);
  EXPECT_EQ(add->icon.PixelAt(8, 8), RED);
  EXPECT_EQ(add->icon.PixelAt(15, 15), RED);
  EXPECT_TRUE(add->icon.Transparent(0, 0));
  EXPECT_TRUE(add->icon.Transparent(3, 15));
  EXPECT_FALSE(add->icon.Transparent(4, 0));
  EXPECT_FALSE(add->icon.Transparent(15, 15));
}

TEST_F(TrayRecorderTest, ModifyAndDeleteFollowTheAddInOrder) {
  ASSERT_TRUE(Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP, red, "Working Offline"));
  ASSERT_TRUE(Notify(NIM_MODIFY, NIF_ICON | NIF_TIP, blue, "Working Online. AutoSwitch On (Not Connected)"));
  ASSERT_TRUE(Notify(NIM_DELETE, 0, nullptr, ""));
  ASSERT_TRUE(recorder.WaitForCount(3));
  std::vector<TrayRecord> records = recorder.Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(records[0].icon, *PictureOfIcon(red));
  EXPECT_EQ(records[1].message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(records[1].flags, static_cast<UINT>(NIF_ICON | NIF_TIP));
  EXPECT_EQ(records[1].tip, L"Working Online. AutoSwitch On (Not Connected)");
  EXPECT_EQ(records[1].icon, *PictureOfIcon(blue));
  EXPECT_NE(records[1].icon, records[0].icon);
  EXPECT_EQ(records[2].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(records[2].flags, 0u);
  EXPECT_EQ(records[2].id, kTrayIconId);
  EXPECT_TRUE(records[2].icon.Empty());
}

TEST_F(TrayRecorderTest, LongestTipOfTheFirstRecordFormArrivesWhole) {
  std::string tip(63, 'x');
  ASSERT_TRUE(Notify(NIM_ADD, NIF_TIP, nullptr, tip.c_str()));
  std::optional<TrayRecord> add = recorder.WaitForRecord(0);
  ASSERT_TRUE(add);
  EXPECT_EQ(add->tip, std::wstring(63, L'x'));
}

TEST_F(TrayRecorderTest, RefusingRecorderMakesTheShellCallFail) {
  recorder.SetAnswer(FALSE);
  EXPECT_FALSE(Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP, red, "Working Offline"));
  EXPECT_TRUE(recorder.WaitForCount(1));
  recorder.SetAnswer(TRUE);
  EXPECT_TRUE(Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP, red, "Working Offline"));
}

TEST_F(TrayRecorderTest, WaitForMatchSkipsEarlierRecords) {
  ASSERT_TRUE(Notify(NIM_ADD, NIF_TIP, nullptr, "Working Online"));
  ASSERT_TRUE(Notify(NIM_MODIFY, NIF_TIP, nullptr, "Working Offline"));
  ASSERT_TRUE(Notify(NIM_MODIFY, NIF_TIP, nullptr, "Working Online"));
  auto online = [](const TrayRecord& record) { return record.tip == L"Working Online"; };
  std::optional<TrayRecord> later = recorder.WaitForMatch(online, 1);
  ASSERT_TRUE(later);
  EXPECT_EQ(later->message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_FALSE(recorder.WaitForMatch([](const TrayRecord& record) { return record.tip == L"Never"; }, 0, 50));
}

TEST_F(TrayRecorderTest, WaitForRecordGivesUpAtTheTimeout) {
  ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(recorder.WaitForRecord(0, 200));
  EXPECT_GE(GetTickCount64() - start, 190u);
}

TEST_F(TrayRecorderTest, SecondRecorderTakesOverAndTheFirstGetsNothing) {
  TrayRecorder second;
  ASSERT_TRUE(second.Ready());
  ASSERT_TRUE(Notify(NIM_ADD, NIF_TIP, nullptr, "Working Online"));
  EXPECT_TRUE(second.WaitForCount(1));
  EXPECT_EQ(recorder.Count(), 0u);
}

// Both Wines' forms of a record of a 1x1 red icon, written out by hand: Wine 8's (tip at 16, the
// icon's size at 944, its bits from 960) and Wine 10's (the size at 16, tip at 32, bits from 976).
class RecordForms : public ::testing::TestWithParam<std::array<size_t, 3>> {};

TEST_P(RecordForms, TipIdAndPixelsAreRead) {
  auto [tip, size, bits] = GetParam();
  std::vector<BYTE> data(bits + 2 + 4);
  const UINT icon[] = {1, 1, 1, 32};
  memcpy(&data[4], &kTrayIconId, 4);
  memcpy(&data[size], icon, sizeof(icon));
  memcpy(&data[tip], L"Working Online", 15 * sizeof(wchar_t));
  data[bits + 4] = 0xFF;  // the colour (blue, green, red) after the mask
  TrayRecord record = DecodeTrayRecord(NIM_MODIFY, data.data(), static_cast<DWORD>(data.size()));
  EXPECT_EQ(record.id, kTrayIconId);
  EXPECT_EQ(record.tip, L"Working Online");
  EXPECT_EQ(record.icon.PixelAt(0, 0), RED);
  data.push_back(0);  // one byte more fits neither form: nothing but the message is read
  record = DecodeTrayRecord(NIM_MODIFY, data.data(), static_cast<DWORD>(data.size()));
  EXPECT_TRUE(record.message == NIM_MODIFY && record.tip.empty() && record.icon.Empty() && record.id == 0);
}

INSTANTIATE_TEST_SUITE_P(Wine8AndWine10, RecordForms,
                         ::testing::Values(std::array<size_t, 3>{16, 944, 960}, std::array<size_t, 3>{32, 16, 976}));

std::wstring User32Path() {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  return JoinPath(system, L"user32.dll");
}

const WORD USER32_WARNING_ICON = 32515;
const WORD USER32_INFORMATION_ICON = 32516;

TEST_F(TrayRecorderTest, ResourcePictureEqualsWhatTheShellSendsForThatResource) {
  // Loaded the way the program loads its tray icons.
  HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(L"user32.dll"), MAKEINTRESOURCEW(USER32_WARNING_ICON),
                                             IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  ASSERT_TRUE(icon);
  ASSERT_TRUE(Notify(NIM_ADD, NIF_ICON, icon, ""));
  std::optional<TrayRecord> add = recorder.WaitForRecord(0);
  ASSERT_TRUE(add);
  std::optional<IconPicture> warning = PictureOfResource(User32Path(), USER32_WARNING_ICON);
  std::optional<IconPicture> information = PictureOfResource(User32Path(), USER32_INFORMATION_ICON);
  ASSERT_TRUE(warning && information);
  EXPECT_EQ(add->icon, *warning);
  EXPECT_NE(add->icon, *information);
  DestroyIcon(icon);
}

TEST(IconPicture, MissingResourceHasNoPicture) {
  EXPECT_FALSE(PictureOfResource(User32Path(), 1));
  EXPECT_FALSE(PictureOfResource(L"C:\\no\\such\\module.dll", USER32_WARNING_ICON));
}

TEST(Paths, BuildFoldersSurroundTheTestPrograms) {
  EXPECT_TRUE(FileExists(JoinPath(TestsFolder(), L"harness_test.exe")));
  EXPECT_TRUE(FileExists(JoinPath(TestsFolder(), L"harness_helper.exe")));
  EXPECT_TRUE(FileExists(JoinPath(DoublesFolder(), L"wininet.dll")));
  EXPECT_TRUE(FileExists(JoinPath(DoublesFolder(), L"rasapi32.dll")));
  EXPECT_TRUE(FileExists(JoinPath(DoublesFolder(), L"noentry\\CVConfig.dll")));
  EXPECT_EQ(BinFolder(), JoinPath(BuildFolder(), L"bin"));
  EXPECT_FALSE(FileExists(JoinPath(BinFolder(), L"wininet.dll")));
}

}  // namespace
