// Tests of where the tray menu opens: at the pointer, or at the middle of the icon when the pointer
// is elsewhere and the shell tells where the icon is, beside the icon. Part of tray_units.
#include <gtest/gtest.h>

#include <windows.h>

#include "window.h"

namespace {

const RECT ICON = {400, 300, 416, 316};

struct AnchorCase {
  const char* name;
  POINT pointer;
  const RECT* icon;  // null: the shell can't tell (before Windows 7, or it refused)
  POINT menu;
};

class TrayMenuPointTest : public ::testing::TestWithParam<AnchorCase> {};

TEST_P(TrayMenuPointTest, MenuOpensAtThePointerOrAtTheIconWhenThePointerIsElsewhereButNeverOverTheIcon) {
  POINT at = TrayMenuPoint(GetParam().pointer, GetParam().icon);
  EXPECT_EQ(at.x, GetParam().menu.x);
  EXPECT_EQ(at.y, GetParam().menu.y);
  TPMPARAMS params = {};
  const TPMPARAMS* exclusion = TrayMenuExclusion(GetParam().icon, &params);
  ASSERT_EQ(exclusion != nullptr, GetParam().icon != nullptr) << "the icon's rectangle is kept clear when known";
  if (exclusion) EXPECT_TRUE(exclusion->cbSize == sizeof params && EqualRect(&exclusion->rcExclude, GetParam().icon));
}

INSTANTIATE_TEST_SUITE_P(Anchors, TrayMenuPointTest,
                         ::testing::Values(AnchorCase{"PointerElsewhere", {700, 500}, &ICON, {408, 308}},
                                           AnchorCase{"PointerOnTheIcon", {402, 313}, &ICON, {402, 313}},
                                           AnchorCase{"PointerJustPastTheIcon", {416, 316}, &ICON, {408, 308}},
                                           AnchorCase{"IconPlaceUnknown", {700, 500}, nullptr, {700, 500}}),
                         [](const ::testing::TestParamInfo<AnchorCase>& info) { return info.param.name; });

}  // namespace
