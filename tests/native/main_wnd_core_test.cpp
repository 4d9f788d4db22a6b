#include "app/main_wnd_core.h"

#include <gtest/gtest.h>

#include <cstring>

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
  // Controls placed over each other; at most one of each group may be visible.
  const int groups[][3] = {{kIdCaptureNote, kIdFormatLabel, kIdNameLabel},
                           {kIdTopNote, kIdRangeNote, 0},
                           {kIdCancelButton, kIdNameBox, 0},
                           {kIdDesktopCheck, kIdSameRangeButton, 0}};
  for (Layout layout : {Layout::Start, Layout::Range, Layout::Capture}) {
    for (const auto& group : groups) {
      int shown = 0;
      for (const LayoutStep& s : LayoutSteps(layout, 0, 500))
        for (int id : group)
          if (id != 0 && s.id == id && s.show) ++shown;
      EXPECT_LE(shown, 1) << static_cast<int>(layout) << " " << group[0];
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
