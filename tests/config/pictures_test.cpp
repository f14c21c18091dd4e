// Tests of what the pictures of both deliverables show: the six tray icons of Corvalent.exe by their
// marks (lamp, line, cross, letter A) and the About box's icons of CVConfig.dll. Part of config_dialogs.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <optional>
#include <tuple>
#include <vector>
#include <string>

#include "harness.h"

namespace {

const COLORREF kGreen = RGB(0x00, 0xFF, 0x00);
const COLORREF kRed = RGB(0xFF, 0x00, 0x00);
const COLORREF kYellow = RGB(0xFF, 0xFF, 0x00);
const COLORREF kBlack = RGB(0x00, 0x00, 0x00);
const COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

// Where each mark is drawn: a lamp pixel on the box, a pixel of the line clear of the cross and
// the A, a pixel of the cross below the line (transparent without it), and the A's crossbar at the
// lower left. The 48-pixel frames are the 16-pixel ones with every pixel three times as large.
struct Marks {
  int size;
  POINT lamp, line, cross, letter;
};
const Marks kMarks[] = {{16, {3, 6}, {7, 11}, {9, 13}, {2, 12}},
                        {20, {4, 7}, {8, 14}, {11, 17}, {2, 16}},
                        {24, {5, 9}, {9, 17}, {14, 20}, {3, 18}},
                        {28, {5, 10}, {9, 19}, {15, 24}, {3, 22}},
                        {32, {6, 10}, {9, 22}, {19, 27}, {3, 25}},
                        {48, {10, 19}, {22, 34}, {28, 40}, {7, 37}}};

struct PictureCase {
  WORD id;
  COLORREF lamp;
  COLORREF line;
  bool cross;
  bool letter;
};
const PictureCase kPictures[] = {{101, kGreen, kBlack, false, false}, {102, kRed, kBlack, true, false},
                                 {103, kRed, kBlack, true, true},     {104, kGreen, kYellow, false, true},
                                 {105, kGreen, kBlack, false, true},  {106, kRed, kYellow, true, true}};

class TrayPictureTest : public ::testing::TestWithParam<std::tuple<PictureCase, Marks>> {};

TEST_P(TrayPictureTest, ShowsItsLampLineCrossAndLetter) {
  const PictureCase& expected = std::get<0>(GetParam());
  const Marks& marks = std::get<1>(GetParam());
  std::optional<harness::IconPicture> picture = harness::PictureOfResource(
      harness::JoinPath(harness::BinFolder(), L"Corvalent.exe"), expected.id, marks.size);
  ASSERT_TRUE(picture) << "no such icon resource";
  ASSERT_EQ(picture->width, static_cast<UINT>(marks.size));
  ASSERT_EQ(picture->bitsPerPixel, 32u) << "the pixels can be read from 32-bit pictures only";
  auto opaque = [&](POINT at) { return picture->Transparent(at.x, at.y) ? CLR_INVALID : picture->PixelAt(at.x, at.y); };
  EXPECT_EQ(opaque(marks.lamp), expected.lamp) << "lamp";
  EXPECT_EQ(opaque(marks.line), expected.line) << "line";
  EXPECT_EQ(opaque(marks.cross) == kRed, expected.cross) << "red cross";
  if (!expected.cross) EXPECT_TRUE(picture->Transparent(marks.cross.x, marks.cross.y)) << "nothing below the line";
  EXPECT_EQ(opaque(marks.letter) == kWhite, expected.letter) << "white A";
}

INSTANTIATE_TEST_SUITE_P(
    Icons, TrayPictureTest, ::testing::Combine(::testing::ValuesIn(kPictures), ::testing::ValuesIn(kMarks)),
    [](const ::testing::TestParamInfo<std::tuple<PictureCase, Marks>>& info) {
      return std::to_string(std::get<0>(info.param).id) + "At" + std::to_string(std::get<1>(info.param).size);
    });

// The frame sizes that the icon resource holds, as its group directory lists them.
std::vector<int> FrameSizes(const std::wstring& modulePath, WORD id) {
  std::vector<int> sizes;
  HMODULE module = LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(id), RT_GROUP_ICON) : nullptr;
  const BYTE* group = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
  // A 6-byte header with the count at offset 4, then 14-byte entries starting with the width.
  if (group && SizeofResource(module, found) >= 6) {
    WORD count = *reinterpret_cast<const WORD*>(group + 4);
    for (WORD entry = 0; entry < count && 6u + 14u * (entry + 1) <= SizeofResource(module, found); entry++) {
      sizes.push_back(group[6 + 14 * entry]);
    }
  }
  if (module) FreeLibrary(module);
  std::sort(sizes.begin(), sizes.end());
  return sizes;
}

TEST(FrameSizesTest, EveryIconHasAFrameForEachScale) {
  const std::vector<int> every = {16, 20, 24, 28, 32, 48};
  const std::vector<int> withAbout = {16, 20, 24, 28, 32, 40, 48, 56, 64};
  const std::wstring program = harness::JoinPath(harness::BinFolder(), L"Corvalent.exe");
  const std::wstring library = harness::JoinPath(harness::BinFolder(), L"CVConfig.dll");
  for (WORD id : {101, 102}) EXPECT_EQ(FrameSizes(program, id), withAbout) << "tray icon " << id;
  for (WORD id : {103, 104, 105, 106}) EXPECT_EQ(FrameSizes(program, id), every) << "tray icon " << id;
  for (WORD id : {102, 103, 105, 110, 111}) EXPECT_EQ(FrameSizes(library, id), withAbout) << "library icon " << id;
}

TEST(AboutPictureTest, AboutIconsAreTheOnlineAndOfflineTrayPicturesInEverySize) {
  const std::wstring program = harness::JoinPath(harness::BinFolder(), L"Corvalent.exe");
  const std::wstring library = harness::JoinPath(harness::BinFolder(), L"CVConfig.dll");
  const struct {
    WORD about, tray;
  } pairs[] = {{110, 101}, {111, 102}};
  for (const auto& pair : pairs) {
    for (int size : {16, 20, 24, 28, 32, 40, 48, 56, 64}) {
      SCOPED_TRACE(testing::Message() << "icon " << pair.about << " at " << size);
      std::optional<harness::IconPicture> about = harness::PictureOfResource(library, pair.about, size);
      std::optional<harness::IconPicture> tray = harness::PictureOfResource(program, pair.tray, size);
      ASSERT_TRUE(about && tray);
      EXPECT_EQ(about->width, static_cast<UINT>(size));
      EXPECT_EQ(*about, *tray);
    }
  }
}

}  // namespace
