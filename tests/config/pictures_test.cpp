// Tests of what the pictures of both deliverables show: the six tray icons of Corvalent.exe by their
// marks (lamp, line, cross, letter A) and the About box's icons of CVConfig.dll. Part of config_dialogs.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "harness.h"

namespace {

const COLORREF kGreen = RGB(0x00, 0xFF, 0x00);
const COLORREF kRed = RGB(0xFF, 0x00, 0x00);
const COLORREF kYellow = RGB(0xFF, 0xFF, 0x00);
const COLORREF kBlack = RGB(0x00, 0x00, 0x00);
const COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

// Where each mark is drawn: a lamp pixel on the box, a pixel of the line clear of the cross, a pixel
// of the cross below the line (transparent without it), and the A's crossbar at the lower left.
struct Marks {
  POINT lamp, line, cross, letter;
};
const Marks kMarks16 = {{3, 6}, {7, 11}, {9, 13}, {2, 12}};
const Marks kMarks32 = {{6, 10}, {7, 22}, {19, 27}, {3, 24}};

struct PictureCase {
  WORD id;
  int size;
  COLORREF lamp;
  COLORREF line;
  bool cross;
  bool letter;
};

void PrintTo(const PictureCase& picture, std::ostream* out) {
  *out << "icon " << picture.id << " " << picture.size << "x" << picture.size;
}

class TrayPictureTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(TrayPictureTest, ShowsItsLampLineCrossAndLetter) {
  const PictureCase& expected = GetParam();
  const Marks& marks = expected.size == 16 ? kMarks16 : kMarks32;
  std::optional<harness::IconPicture> picture = harness::PictureOfResource(
      harness::JoinPath(harness::BinFolder(), L"Corvalent.exe"), expected.id, expected.size);
  ASSERT_TRUE(picture) << "no such icon resource";
  ASSERT_EQ(picture->width, static_cast<UINT>(expected.size));
  ASSERT_EQ(picture->bitsPerPixel, 32u) << "the pixels can be read from 32-bit pictures only";
  auto opaque = [&](POINT at) { return picture->Transparent(at.x, at.y) ? CLR_INVALID : picture->PixelAt(at.x, at.y); };
  EXPECT_EQ(opaque(marks.lamp), expected.lamp) << "lamp";
  EXPECT_EQ(opaque(marks.line), expected.line) << "line";
  EXPECT_EQ(opaque(marks.cross) == kRed, expected.cross) << "red cross";
  if (!expected.cross) EXPECT_TRUE(picture->Transparent(marks.cross.x, marks.cross.y)) << "nothing below the line";
  EXPECT_EQ(opaque(marks.letter) == kWhite, expected.letter) << "white A";
}

INSTANTIATE_TEST_SUITE_P(
    Icons, TrayPictureTest,
    ::testing::Values(PictureCase{101, 16, kGreen, kBlack, false, false},
                      PictureCase{102, 16, kRed, kBlack, true, false},
                      PictureCase{103, 16, kRed, kBlack, true, true},
                      PictureCase{104, 16, kGreen, kYellow, false, true},
                      PictureCase{105, 16, kGreen, kBlack, false, true},
                      PictureCase{106, 16, kRed, kYellow, true, true},
                      PictureCase{101, 32, kGreen, kBlack, false, false},
                      PictureCase{102, 32, kRed, kBlack, true, false}),
    [](const ::testing::TestParamInfo<PictureCase>& info) {
      return std::to_string(info.param.id) + "At" + std::to_string(info.param.size);
    });

TEST(AboutPictureTest, AboutIconsAreTheOnlineAndOfflineTrayPicturesInBothSizes) {
  const std::wstring program = harness::JoinPath(harness::BinFolder(), L"Corvalent.exe");
  const std::wstring library = harness::JoinPath(harness::BinFolder(), L"CVConfig.dll");
  const struct {
    WORD about, tray;
  } pairs[] = {{110, 101}, {111, 102}};
  for (const auto& pair : pairs) {
    for (int size : {16, 32}) {
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
