// Captures of the test's own scroll target, made the way a person makes them and finished every
// way the program offers: each format through the save dialog, the desktop, the clipboard, a
// cancel, the row limit, a second run, a converter of the other pointer size.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "e2e_support.h"
#include "output/finish_core.h"
#include "range/rect.h"

TEST_F(EndToEnd, EachFormatThroughTheSaveDialog) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), "tall"));
  const struct {
    int format;
    std::string typed;
    std::vector<std::string> files;
  } runs[] = {
      {kPng, folder + "\\tall.png", {"tall.png"}},
      {kBmp, folder + "\\tall.bmp", {"tall.bmp"}},
      {kJpg, folder + "\\tall.jpg", {"tall.jpg"}},
      // The same stem again: numbered, and the number carries over to each of the three.
      {kAllThree, folder + "\\tall.bmp", {"tall001.bmp", "tall001.png", "tall001.jpg"}},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(kFormatItems[run.format].text);
    int start = 0;
    ASSERT_TRUE(CaptureOnTarget(run.format, start));
    // Down, up a little, down again.
    ASSERT_TRUE(ScrollAndFollow(12, start));
    ASSERT_TRUE(ScrollAndFollow(-4, start));
    ASSERT_TRUE(ScrollAndFollow(9, start));
    shots.Shot("scrolled");
    const int rows = RowsFollowed(start);
    std::string title;
    ASSERT_TRUE(FinishThroughDialog(run.typed, &title));
    EXPECT_EQ(title, kSaveDialogTitle);
    for (const std::string& file : run.files) ExpectFaithful(folder + "\\" + file, TargetRows(start), RangeWidth(), rows);
  }
}

TEST_F(EndToEnd, OnTheDesktopAndAgainWithTheSameRange) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  // Not ending in digits, which the numbering would take for its counter.
  const std::string name = "tallsnap-e2e-" + std::to_string(GetCurrentProcessId()) + "-desk";
  onDesktop = {name + ".png", name + "001.png"};
  ASSERT_TRUE(NameForTheDesktop(name));
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  EXPECT_FALSE(Shows(kIdSameRangeButton));  // no range yet
  ASSERT_TRUE(PickFormat(kPng));
  int start = target.Offset();
  ASSERT_TRUE(DragRange(kRangeX0, kRangeY0, kRangeX1, kRangeY1));
  ASSERT_TRUE(ScrollAndFollow(10, start));
  int rows = RowsFollowed(start);
  ASSERT_TRUE(Finish());  // no dialog: straight to the desktop
  ExpectFaithful(Desktop() + "\\" + name + ".png", TargetRows(start), RangeWidth(), rows);

  // "前と同じ範囲で": the same rectangle, no drag. The name typed this time is one Windows refuses
  // ("12:30" would be a stream of a file "12" on NTFS): the message names the character, and once
  // it is closed the name box is there beside "終わる" to put the name right. The name is taken,
  // so it is numbered.
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), "12:30"));
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdSameRangeButton));
  shots.Shot("same-range-offered");
  start = target.Offset();
  ASSERT_TRUE(PressAndSee(kIdSameRangeButton, kIdFinishButton));
  ASSERT_TRUE(ScrollAndFollow(7, start));
  rows = RowsFollowed(start);
  Press(kIdFinishButton);
  std::string said;
  const HWND message = MessageShown(said);
  ASSERT_NE(message, nullptr);
  EXPECT_NE(said.find("「:」"), std::string::npos) << said;
  shots.Shot("a-name-refused");
  const POINT ok = CentreOf(FindWindowExA(message, nullptr, "Button", nullptr));
  ClickAt(ok.x, ok.y);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(message); }, 5000));
  EXPECT_TRUE(Shows(kIdFinishButton) && Shows(kIdDesktopCheck) && Shows(kIdFormatBox));
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), name));
  shots.Shot("the-name-put-right");
  ASSERT_TRUE(Finish());
  EXPECT_FALSE(Exists(Desktop() + "\\12"));
  ExpectFaithful(Desktop() + "\\" + name + "001.png", TargetRows(start), RangeWidth(), rows);
}

TEST_F(EndToEnd, CancelMidwayWritesNothing) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), "dropped"));
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kBmp, start));
  ASSERT_TRUE(ScrollAndFollow(8, start));
  ASSERT_TRUE(PressAndSee(kIdCancelButton, kIdReadyButton));
  shots.Shot("cancelled");
  EXPECT_TRUE(PumpUntil([&] { return Band() == RGB(0, 255, 255); }, 5000));
  // Nothing was written, here or on the desktop.
  WIN32_FIND_DATAA found;
  for (const std::string& pattern : {folder + "\\dropped*", Desktop() + "\\dropped*"}) {
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
  }

  // The next capture starts afresh and is whole.
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdSameRangeButton));
  start = target.Offset();
  ASSERT_TRUE(PressAndSee(kIdSameRangeButton, kIdFinishButton));
  ASSERT_TRUE(ScrollAndFollow(5, start));
  const int rows = RowsFollowed(start);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\dropped.bmp"));
  ExpectFaithful(folder + "\\dropped.bmp", TargetRows(start), RangeWidth(), rows);
  EXPECT_FALSE(Exists(folder + "\\dropped001.bmp"));
}

TEST_F(EndToEnd, TheRowLimitStopsTheImage) {
  // A tall window scrolled far: 48 pixels a notch, as a text view moving three lines.
  constexpr int kPerNotch = 48;
  ASSERT_TRUE(target.Start(600, 100, 500, 900, kPerNotch));
  ASSERT_TRUE(StartTallSnap());
  Press(kIdDesktopCheck);
  const std::string name = "tallsnap-limit-" + std::to_string(GetCurrentProcessId()) + "-top";
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), name));
  onDesktop = {name + ".bmp"};
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  const int start = target.Offset();
  ASSERT_TRUE(DragRange(620, 110, 1080, 990));
  const int h = RangeHeight();
  // Bursts while far from the limit, then a notch at a time, each taken in before the next.
  int rows = RowsFollowed(start);
  while (Band() == RGB(255, 0, 0) && target.Offset() < kContentRows - target.height) {
    const int notches = rows + 4 * kPerNotch <= 4000 - h ? 4 : 1;
    ASSERT_TRUE(target.Scroll(notches, kPerNotch));
    const bool caughtUp = PreviewShows(TargetRows(start), RowsFollowed(start), 3000);
    if (!caughtUp) break;  // the limit: the image did not follow
    rows = RowsFollowed(start);
  }
  shots.Shot("limit");
  ASSERT_TRUE(PumpUntil([&] { return Band() == RGB(0, 255, 255); }, 5000));
  EXPECT_GT(rows, 4000 - h);
  EXPECT_LE(rows, 4000);
  // It stays as it was, whatever is scrolled after.
  ASSERT_TRUE(target.Scroll(2, kPerNotch));
  EXPECT_TRUE(PreviewShows(TargetRows(start), rows, 2000));
  ASSERT_TRUE(Finish());
  ExpectFaithful(Desktop() + "\\" + name + ".bmp", TargetRows(start), RangeWidth(), rows);
}

// Users may drop a rebuilt converter beside an older program: the 32-bit program with the
// x86_64 Kelvo.exe (the x86_64 program with the shipped one) exchange the save location and
// convert a JPEG as a matched pair does.
TEST_F(EndToEnd, AConverterOfTheOtherPointerSize) {
  const std::string other = OtherSizeKelvo();
  ASSERT_FALSE(other.empty()) << "TALLSNAP_WIN64_DIR and TALLSNAP_PACKAGE_DIR must name both builds";
  ASSERT_TRUE(CopyFileA(other.c_str(), (folder + "\\Kelvo.exe").c_str(), FALSE)) << other;
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  DWORD kelvoPid = 0;
  GetWindowThreadProcessId(FindWindowA(nullptr, kKelvoTitle), &kelvoPid);
  auto underWow64 = [](DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    BOOL wow64 = FALSE;
    EXPECT_TRUE(process != nullptr && IsWow64Process(process, &wow64)) << pid;
    if (process != nullptr) CloseHandle(process);
    return wow64 != FALSE;
  };
  EXPECT_NE(underWow64(tallsnap.pi.dwProcessId), underWow64(kelvoPid));
  ASSERT_TRUE(TypeInto(Control(kIdNameBox), "mixed"));
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kJpg, start));
  ASSERT_TRUE(ScrollAndFollow(8, start));
  const int rows = RowsFollowed(start);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\mixed.jpg"));
  ExpectFaithful(folder + "\\mixed.jpg", TargetRows(start), RangeWidth(), rows);
}

// As many programs scroll: the window's own pixels copied up on the screen, so that whatever is
// drawn over them travels with the content, and the uncovered rows painted 20 to 80 ms later.
// Quick bursts of wheel notches, now and then back up: the image holds no frame and no
// half-painted rows.
TEST_F(EndToEnd, AFooterThatStandsStillAppearsOnceAtTheEnd) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH, kPixelsPerNotch, "footer"));
  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox) && PickFormat(kBmp));
  const int start = target.Offset();
  // The range down to the window's bottom edge, the status bar inside it.
  ASSERT_TRUE(DragRange(kRangeX0, kRangeY0, kRangeX1, kTargetY + kTargetH));
  // The content scrolled from start, then the bar where the range's last rows show it.
  const auto rows = [&] {
    const int moved = target.Offset() - start, dx = range_.left - target.x, dy = start + range_.top - target.y;
    const int barFrom = moved + RangeHeight() - kFooterRows;
    return ImageRows([=](int x, int y) { return y < barFrom ? ContentPixel(dx + x, dy + y) : FooterPixel(dx + x, y - barFrom); });
  };
  for (int burst = 0; burst < 12; ++burst) {
    const int notches = (burst % 6 == 5 ? -1 : 1) * (3 + burst % 3);
    ASSERT_TRUE(target.Burst(notches, 50 + (burst * 13) % 31)) << burst;
    EXPECT_TRUE(PreviewShows(rows(), RowsFollowed(start))) << burst;
  }
  shots.Shot("scrolled");
  const int height = RowsFollowed(start);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\footer.bmp"));
  ExpectFaithful(folder + "\\footer.bmp", rows(), RangeWidth(), height);
}

TEST_F(EndToEnd, ATargetThatCopiesItsPixelsAndPaintsLate) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH, kPixelsPerNotch, "late"));
  ASSERT_TRUE(StartTallSnap());
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kBmp, start));
  // The frame shows round the range as ever, in windows of its own.
  for (const FrameBlock& b : DashedFrameBlocks(range_.left - 3, range_.top - 3, range_.right + 3, range_.bottom + 3, 2))
    EXPECT_EQ(ScreenPixel(b.x + b.w / 2, b.y + b.h / 2), b.black ? RGB(0, 0, 0) : RGB(255, 255, 255))
        << b.x << "," << b.y;
  for (int burst = 0; burst < 20; ++burst) {
    const int notches = (burst % 6 == 5 ? -1 : 1) * (3 + burst % 3);
    ASSERT_TRUE(target.Burst(notches, 50 + (burst * 13) % 31)) << burst;
    EXPECT_TRUE(PreviewShows(TargetRows(start), RowsFollowed(start))) << burst;
  }
  shots.Shot("scrolled");
  const int rows = RowsFollowed(start);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\late.bmp"));
  ExpectFaithful(folder + "\\late.bmp", TargetRows(start), RangeWidth(), rows);
}

TEST_F(EndToEnd, TheClipboardGetsTheImage) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kClipboard, start));
  ASSERT_TRUE(ScrollAndFollow(6, start));
  const int rows = RowsFollowed(start);
  ASSERT_TRUE(Finish());
  EXPECT_FALSE(Exists(folder + "\\clpbd.bmp"));  // the file it went through is gone

  Picture picture;
  ASSERT_TRUE(ClipboardPicture(picture));
  const Fidelity f = CompareWith(picture, TargetRows(start), RangeWidth(), rows);
  std::printf("fidelity %s clipboard: %d rows x %d, %d mismatched rows\n", shots.name.c_str(), f.rows, RangeWidth(),
              f.mismatchedRows);
  EXPECT_EQ(f.rows, rows);
  EXPECT_EQ(f.mismatchedRows, 0);
}

TEST_F(EndToEnd, AFlickPastTheRangeAndBackLeavesNoSeam) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kPng, start));
  ASSERT_TRUE(ScrollAndFollow(6, start));
  const int before = RowsFollowed(start);
  // Too far at once: nothing of the image is in view, it waits, and the band and the
  // instruction say so.
  const auto told = [&](COLORREF band, const char* note) {
    char shown[512] = {};
    return PumpUntil(
        [&] { return Band() == band && GetDlgItemTextA(main, kIdCaptureNote, shown, sizeof shown) > 0 &&
                     std::string(shown) == note; },
        5000);
  };
  ASSERT_TRUE(told(RGB(255, 0, 0), kCaptureNoteText));
  ASSERT_TRUE(target.Flick());
  EXPECT_TRUE(told(RGB(255, 255, 0), kLostNoteText));
  shots.Shot("flicked");
  EXPECT_TRUE(PreviewShows(TargetRows(start), before, 2000));
  // Back up until the image's end is in view again: it continues from there, and says so.
  const int overlapAt = start + before - RangeHeight() + 3 + 60;  // 60 rows of the image in view
  ASSERT_TRUE(ScrollAndFollow(-((target.Offset() - overlapAt) / kPixelsPerNotch), start));
  EXPECT_TRUE(told(RGB(255, 0, 0), kCaptureNoteText));
  ASSERT_TRUE(ScrollAndFollow(15, start));
  const int rows = RowsFollowed(start);
  EXPECT_GT(rows, before + 100);
  ASSERT_TRUE(FinishThroughDialog(folder + "\\flick.png"));
  ExpectFaithful(folder + "\\flick.png", TargetRows(start), RangeWidth(), rows);
}

TEST_F(EndToEnd, ASecondRunRemembersFolderFormatAndPlace) {
  ASSERT_TRUE(target.Start(kTargetX, kTargetY, kTargetW, kTargetH));
  ASSERT_TRUE(StartTallSnap());
  const std::string saved = MakeTempFolder();
  int start = 0;
  ASSERT_TRUE(CaptureOnTarget(kBmp, start));
  ASSERT_TRUE(ScrollAndFollow(3, start));
  ASSERT_TRUE(FinishThroughDialog(saved + "\\first.bmp"));
  EXPECT_TRUE(Exists(saved + "\\first.bmp"));
  // The window dragged by its caption to another place (straight down, where the target never
  // covers its preview), then closed with its button.
  const POINT caption = NonClientPoint(HTCAPTION);
  ASSERT_GE(caption.x, 0);
  RECT before{};
  GetWindowRect(main, &before);
  Xdotool("mousemove " + std::to_string(caption.x) + " " + std::to_string(caption.y) +
          " sleep 0.1 mousedown 1 sleep 0.1 mousemove " + std::to_string(caption.x) + " " +
          std::to_string(caption.y + 500) + " sleep 0.1 mousemove " + std::to_string(caption.x) + " " +
          std::to_string(caption.y + 860) + " sleep 0.1 mouseup 1");
  RECT moved{};
  ASSERT_TRUE(PumpUntil([&] { GetWindowRect(main, &moved); return moved.top == before.top + 860; }, 5000));
  shots.Shot("moved");
  CloseTallSnap();

  ASSERT_TRUE(StartTallSnap());
  RECT again{};
  GetWindowRect(main, &again);
  EXPECT_EQ(again.left, moved.left);
  EXPECT_EQ(again.top, moved.top);
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  EXPECT_EQ(TextOf(Control(kIdFormatBox)), kFormatItems[kBmp].text);
  EXPECT_FALSE(Shows(kIdSameRangeButton));  // the range is not kept between runs
  start = target.Offset();
  ASSERT_TRUE(DragRange(kRangeX0, kRangeY0, kRangeX1, kRangeY1));
  ASSERT_TRUE(ScrollAndFollow(3, start));
  const int rows = RowsFollowed(start);
  // The save dialog cancelled, as to change the format: the image stays, and the cancel
  // forgets nothing.
  const auto remembered = [&] {
    std::ifstream in(folder + "\\TallSnap個人設定\\FileHozonPath.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const std::string folderBefore = remembered();
  EXPECT_NE(folderBefore.find(saved), std::string::npos) << folderBefore;
  ASSERT_TRUE(FinishAndCancelTheDialog());
  EXPECT_EQ(remembered(), folderBefore);
  // "キャンセル" would throw the kept image away: it asks as closing does, and "いいえ" keeps it.
  Press(kIdCancelButton);
  std::string said;
  const HWND asked = MessageShown(said);
  ASSERT_NE(asked, nullptr);
  EXPECT_NE(said.find("保存しないで終わりますか"), std::string::npos) << said;
  shots.Shot("cancel-asks");
  const POINT no = CentreOf(GetDlgItem(asked, IDNO));
  ClickAt(no.x, no.y);
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(asked); }, 5000));
  EXPECT_TRUE(Shows(kIdFinishButton) && Shows(kIdFormatBox) && !Shows(kIdReadyButton));
  ASSERT_TRUE(PickFormat(kPng));
  // A bare name: the dialog opens in the folder chosen last time.
  ASSERT_TRUE(FinishThroughDialog("second.png"));
  ExpectFaithful(saved + "\\second.png", TargetRows(start), RangeWidth(), rows);
  RemoveFolderTree(saved);
}
