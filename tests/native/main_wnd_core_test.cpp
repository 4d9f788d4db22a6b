#include "app/main_wnd_core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "output/finish_core.h"
#include "shared/converter_protocol.h"

namespace {
bool Shows(const std::vector<LayoutStep>& steps, int id) {
  for (const LayoutStep& s : steps)
    if (s.id == id) return true;
  return false;
}
}  // namespace

TEST(Layouts, SameRangeButtonNeedsAWideStoredRange) {
  EXPECT_FALSE(Shows(LayoutSteps(Layout::Range, 0, 0), kIdSameRangeButton));
  EXPECT_FALSE(Shows(LayoutSteps(Layout::Range, 20, 120), kIdSameRangeButton));
  EXPECT_TRUE(Shows(LayoutSteps(Layout::Range, 20, 121), kIdSameRangeButton));
  const auto steps = LayoutSteps(Layout::Range, 20, 121);
  ASSERT_EQ(steps.size(), 13u);
  EXPECT_EQ(steps[8].id, kIdSameRangeButton);
  EXPECT_TRUE(steps[8].show);
  EXPECT_EQ(steps[9].id, kIdCancelButton);
}

TEST(Layouts, NoLayoutShowsTwoControlsThatShareAPlace) {
  // Controls placed over each other; at most one of each group may be visible, whatever layouts
  // came before: a layout leaves the controls it does not name as they were.
  const std::vector<std::vector<int>> groups = {{kIdCaptureNote, kIdFormatLabel, kIdNameLabel},
                                                {kIdTopNote, kIdRangeNote},
                                                {kIdCancelButton, kIdNameBox},
                                                {kIdDesktopCheck, kIdSameRangeButton, kIdFinishButton},
                                                {kIdFinishButton, kIdRangeButton, kIdReadyButton}};
  const Layout layouts[] = {Layout::Start, Layout::Range, Layout::Capture, Layout::Kept};
  for (int stored : {50, 500})
    for (Layout a : layouts)
      for (Layout b : layouts)
        for (Layout c : layouts) {
          std::map<int, bool> shown;  // the worst start: every control visible
          for (int id = kIdRangeButton; id <= kIdDesktopCheck; ++id) shown[id] = true;
          for (Layout now : {a, b, c}) {
            for (const LayoutStep& s : LayoutSteps(now, 0, stored)) shown[s.id] = s.show;
            if (now == Layout::Kept) {
              // Its own places: exactly what the user may change, and the two buttons.
              for (int id = kIdRangeButton; id <= kIdDesktopCheck; ++id)
                EXPECT_EQ(shown[id], id == kIdFormatBox || id == kIdNameBox || id == kIdDesktopCheck ||
                                         id == kIdCancelButton || id == kIdFinishButton || id == kIdLatestButton)
                    << id;
              continue;
            }
            for (const auto& group : groups) {
              int visible = 0;
              for (int id : group) visible += shown[id] ? 1 : 0;
              EXPECT_LE(visible, 1) << static_cast<int>(a) << static_cast<int>(b) << static_cast<int>(c) << " "
                                    << group[0] << "," << group[1];
            }
          }
        }
}

TEST(FormatList, KeysAreBytes) {
  EXPECT_EQ(FormatItemForKey('j'), &kFormatItems[0]);
  EXPECT_EQ(FormatItemForKey('p'), &kFormatItems[1]);
  EXPECT_EQ(FormatItemForKey('b'), &kFormatItems[2]);
  EXPECT_EQ(FormatItemForKey('3'), &kFormatItems[3]);
  EXPECT_EQ(FormatItemForKey('B'), &kFormatItems[4]);
  EXPECT_EQ(FormatItemForKey(0), nullptr);
  EXPECT_EQ(FormatItemForKey('J'), nullptr);
  EXPECT_EQ(FormatItemForKey(0x83), nullptr);
  EXPECT_EQ(std::string(kFormatItems[0].text).substr(0, 5), "jpg (");
}

TEST(ReplyStore, BoundedAndTerminated) {
  static char buf[kReplyBufBytes];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(StoreReplyBytes(buf, sizeof buf, "C:\\a", 4), 4u);
  EXPECT_STREQ(buf, "C:\\a");
  for (size_t i = 4; i < kReplyClearBytes; ++i) ASSERT_EQ(buf[i], '\0') << i;

  // A payload longer than the buffer is cut, and a zero byte still follows it.
  const std::string big(kReplyBufBytes + 500, 'y');
  EXPECT_EQ(StoreReplyBytes(buf, sizeof buf, big.data(), big.size()), kReplyBufBytes - 1);
  EXPECT_EQ(buf[kReplyBufBytes - 1], '\0');

  // An unterminated payload of exactly the clearing size still ends in a zero byte.
  const std::string k(kReplyClearBytes, 'z');
  EXPECT_EQ(StoreReplyBytes(buf, sizeof buf, k.data(), k.size()), kReplyClearBytes);
  EXPECT_EQ(buf[kReplyClearBytes], '\0');

  EXPECT_EQ(StoreReplyBytes(buf, sizeof buf, nullptr, 50), 0u);
  EXPECT_EQ(buf[0], '\0');
}

TEST(DpiScaling, LengthsToTheNearestPixelAnd96Unchanged) {
  for (int dpi : {96, 0, -1})
    for (int length : {613, 80, -12, 0, 1, 666}) EXPECT_EQ(ScaleToDpi(length, dpi), length) << dpi;
  // 125 %, 150 % and 200 %; halves go away from zero, for the negative font height too.
  EXPECT_EQ(ScaleToDpi(613, 120), 766);
  EXPECT_EQ(ScaleToDpi(-12, 120), -15);
  EXPECT_EQ(ScaleToDpi(613, 144), 920);
  EXPECT_EQ(ScaleToDpi(5, 144), 8);
  EXPECT_EQ(ScaleToDpi(-3, 144), -5);
  EXPECT_EQ(ScaleToDpi(-12, 144), -18);
  EXPECT_EQ(ScaleToDpi(613, 192), 1226);
}

TEST(DpiScaling, RectanglesKeepWhereTheyMeet) {
  const ControlRect same = ScaleRectToDpi({322, 22, 93, 20}, 96);
  EXPECT_EQ(same.x, 322);
  EXPECT_EQ(same.w, 93);
  // 93 x 1.5 = 139.5, yet the right edge 415 x 1.5 = 622.5 decides: 623 - 483.
  const ControlRect wide = ScaleRectToDpi({322, 22, 93, 20}, 144);
  EXPECT_EQ(wide.x, 483);
  EXPECT_EQ(wide.y, 33);
  EXPECT_EQ(wide.w, 140);
  EXPECT_EQ(wide.h, 30);
  // The name label ends where the name box begins, at every scale.
  for (int dpi : {120, 144, 168, 192}) {
    const ControlRect label = ScaleRectToDpi({5, 6, 264, 12}, dpi), box = ScaleRectToDpi({269, 0, 263, 666}, dpi);
    EXPECT_EQ(label.x + label.w, box.x) << dpi;
  }
}
