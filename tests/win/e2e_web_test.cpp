// Web pages of the test's in Debian's chromium, captured to their end and checked against the
// same page shown whole in a window as tall as the page.
#include <windows.h>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

// Debian's chromium in app mode showing a page of the test's: no frame, so the window is the
// page's viewport, exactly at the place and size asked for, on screen `screen` of the test's
// display (1 is the tall second screen). Started from a shell script and ended by its pid. Its
// smooth scrolling stays on, as it ships; the rest keeps it quiet and its pixels alike in every
// window: no infobar, no LCD text (which a layer of its own, such as a sticky bar's, would draw
// otherwise than the page under it), one colour profile.
struct Chromium {
  std::string dir;     // a Linux folder for its profile and files
  std::string pid;
  std::string window;  // its X window
  int x = 0, y = 0, width = 0, height = 0;

  bool Start(const std::string& url, int screen, int left, int top, int w, int h, bool scrollBar = false) {
    x = left, y = top, width = w, height = h;
    dir = "/tmp/tallsnap-chromium-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    CreateDirectoryA(WindowsPathOf(dir).c_str(), nullptr);
    const std::string display = "export DISPLAY=\"${DISPLAY%%.*}." + std::to_string(screen) + "\"\n";
    WriteFileBytes(WindowsPathOf(dir + "/start.sh"),
                   display + "/usr/bin/chromium --no-sandbox --test-type --app='" + url + "' --window-position=" +
                       std::to_string(x) + "," + std::to_string(y) + " --window-size=" + std::to_string(w) + "," +
                       std::to_string(h) + " --user-data-dir=" + dir +
                       "/profile --no-first-run --no-default-browser-check --disable-gpu "
                       "--force-device-scale-factor=1 " + (scrollBar ? "" : "--hide-scrollbars ") +
                       "--disable-lcd-text --force-color-profile=srgb "
                       "--disable-background-networking --disable-component-update --disable-sync --disable-quic "
                       "--disable-default-apps --disable-extensions --disable-breakpad --no-pings --mute-audio "
                       "--password-store=basic --disable-features=Translate,MediaRouter,OptimizationHints "
                       "--disable-backgrounding-occluded-windows --disable-renderer-backgrounding "
                       "--disable-background-timer-throttling >" + dir + "/log 2>&1 &\n"
                       "echo $! > " + dir + "/pid\n"
                       // A search can fail outright while chromium makes and drops windows of its own.
                       "i=0; while [ $i -lt 300 ]; do\n"
                       "  w=$(/usr/bin/xdotool search --screen " + std::to_string(screen) +
                       " --name '^tallsnap ' 2>/dev/null | head -n 1)\n"
                       "  [ -n \"$w\" ] && echo $w > " + dir + "/window && break\n"
                       "  sleep 0.1; i=$((i + 1))\n"
                       "done\n");
    WriteFileBytes(WindowsPathOf(dir + "/title.sh"), "/usr/bin/xdotool getwindowname $(cat " + dir + "/window) > " +
                                                         dir + "/title.part && mv " + dir + "/title.part " + dir + "/title\n");
    // In colour even when the page has none: a grey PNG is not one the tests decode.
    WriteFileBytes(WindowsPathOf(dir + "/shot.sh"),
                   display + "/usr/bin/import -window root -crop \"$1\" +repage \"PNG24:$2\"\n");
    const int started = RunUnix("/bin/sh " + dir + "/start.sh", 40000);
    pid = Line(dir + "/pid");
    window = Line(dir + "/window");
    return started == 0 && !window.empty();
  }
  ~Chromium() {
    if (dir.empty()) return;
    WriteFileBytes(WindowsPathOf(dir + "/stop.sh"), "kill " + pid + "; i=0\nwhile kill -0 " + pid +
                                                        " 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done\n"
                                                        "rm -rf " + dir + "\n");
    RunUnix("/bin/sh " + dir + "/stop.sh", 20000);
  }
  static std::string Line(const std::string& file) {
    std::string text = ReadFileBytes(WindowsPathOf(file));
    if (text == "<missing>") return std::string();
    text.erase(text.find_last_not_of("\r\n") + 1);
    return text;
  }
  std::string Title() const {
    DeleteFileA(WindowsPathOf(dir + "/title").c_str());
    RunUnix("/bin/sh " + dir + "/title.sh", 10000);
    return Line(dir + "/title");
  }
  // Where the page stands, as it tells in its title; -1 before it tells.
  int ScrollY() const {
    int at = -1;
    std::sscanf(Title().c_str(), "tallsnap %d", &at);
    return at;
  }
  // Whether the page stands at `at` with nothing in it still appearing.
  bool StandsStillAt(int at) const {
    int y = -1, appearing = 0;
    std::sscanf(Title().c_str(), "tallsnap %d %d", &y, &appearing);
    return y == at && appearing == 0;
  }
  std::string Pointer() const {
    return "mousemove " + std::to_string(x + width / 2) + " " + std::to_string(y + height / 2);
  }
  // This rectangle of its screen, in its screen's coordinates.
  bool Screenshot(const RECT& r, Picture& picture) const {
    const std::string file = dir + "/shot.png";
    DeleteFileA(WindowsPathOf(file).c_str());
    const std::string crop = std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
                             std::to_string(r.left) + "+" + std::to_string(r.top);
    return RunUnix("/bin/sh " + dir + "/shot.sh " + crop + " " + file, 30000) == 0 &&
           DecodeImageFile(WindowsPathOf(file), picture);
  }
};

// A web page of the test's: what it shows, then its script. Scrolled, it tells where it stands in
// its title, and how many of its transitions (a block fading in) are running; shown whole
// (#truth), it tells its height, the height of its sticky bar (#sticky), the rectangle of its
// animated box or of what no screen shows (#box), 0 where it has none, and whether the page shows
// through the bar (1) or not (0).
std::string WebPage(const std::string& style, const std::string& body) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>tallsnap 0</title><style>"
         "html, body { margin: 0; background: #fff; color: #222; font: 15px/24px sans-serif; }" +
         style + "</style></head><body>" + body +
         "<script>\n"
         "let appearing = 0;\n"
         "const tell = () => { document.title = 'tallsnap ' + scrollY + ' ' + appearing; };\n"
         "addEventListener('scroll', tell);\n"
         "addEventListener('transitionrun', () => { ++appearing; tell(); });\n"
         "for (const end of ['transitionend', 'transitioncancel'])\n"
         "  addEventListener(end, () => { appearing = Math.max(0, appearing - 1); tell(); });\n"
         "addEventListener('load', () => {\n"
         "  if (location.hash != '#truth') return;\n"
         "  const none = {left: 0, top: 0, right: 0, bottom: 0, height: 0};\n"
         "  const at = id => document.getElementById(id) ? document.getElementById(id).getBoundingClientRect() : none;\n"
         "  const box = at('box'), sticky = document.getElementById('sticky');\n"
         "  const clear = sticky && (getComputedStyle(sticky).backgroundColor.startsWith('rgba(') ||\n"
         "    getComputedStyle(sticky).opacity < 1) ? 1 : 0;\n"
         "  document.title = ['tallsnap truth', Math.ceil(document.documentElement.getBoundingClientRect().height),\n"
         "    Math.ceil(at('sticky').height), Math.floor(box.left), Math.floor(box.top), Math.ceil(box.right),\n"
         "    Math.ceil(box.bottom), clear].join(' ');\n"
         "});\n"
         "</script></body></html>";
}

}  // namespace

// The page shown twice: scrolled in a window of the usual screen, which TallSnap captures, and
// whole in a window as tall as the page on the second screen, whose screenshot is the picture the
// capture must equal (chromium's, not TallSnap's, idea of the page). The range lies over the
// view's whole height, sticky bar included, from its top, so that image row y is page row y;
// the wheel goes down in bursts of 3 to 5 notches 50 to 100 ms apart until the page's end.
void EndToEnd::CaptureWebPage(const std::string& html, bool scrollBar, RECT floating) {
  constexpr int kViewX = 640, kViewY = 120, kViewW = 600, kViewH = 640, kTruthH = 4000, kPerNotch = 120;
  // Chromium's scroll bar, at the view's right edge: the page shown whole is as wide as the
  // view's content beside it, so that both lay the page out alike.
  const int barW = scrollBar ? 15 : 0;
  const std::string page = "/tmp/tallsnap-page-" + std::to_string(GetCurrentProcessId()) + "-" + shots.name + ".html";
  WriteFileBytes(WindowsPathOf(page), html);
  const TempFile removed{page};
  Chromium whole, view;
  ASSERT_TRUE(whole.Start("file://" + page + "#truth", 1, 0, 0, kViewW - barW, kTruthH));
  int pageH = 0, stickyH = 0, seeThrough = 0;
  RECT box{};
  ASSERT_TRUE(PumpUntil([&] {
    return std::sscanf(whole.Title().c_str(), "tallsnap truth %d %d %ld %ld %ld %ld %d", &pageH, &stickyH, &box.left,
                       &box.top, &box.right, &box.bottom, &seeThrough) == 7;
  }, 20000)) << whole.Title();
  // The capture stops once the image holds its row limit less a range: the page ends before.
  ASSERT_LE(pageH, kTruthH - kViewH);
  ASSERT_TRUE(view.Start("file://" + page, 0, kViewX, kViewY, kViewW, kViewH, scrollBar));
  // People drag over the whole window when it shows its scroll bar.
  const RECT range = scrollBar ? RECT{kViewX, kViewY, kViewX + kViewW, kViewY + kViewH}
                               : RECT{kViewX + 8, kViewY, kViewX + kViewW - 8, kViewY + kViewH};
  // Pixels judged by nobody: the animated box, the page where a stuck sidebar hid it and the scroll
  // bar show whatever they show.
  const auto unjudged = [&](int x, int y) {
    return (x >= box.left && x < box.right && y >= box.top && y < box.bottom) || x >= kViewW - barW;
  };
  // Rows of the range on the screen unlike the page shown whole, when the view stands at scrollY
  // (the sticky bar over the top); the animated box is left out, and so is a see-through bar once
  // the page has scrolled: the rows under it show the page passing through it, which the page
  // shown whole shows nowhere.
  Picture truth;
  const auto truthPixel = [&](int x, int y) -> uint32_t {
    if (x < 0 || y < 0 || x >= static_cast<int>(truth.width) || y >= static_cast<int>(truth.height)) return 0xFF000000u;
    const BYTE* p = &truth.bgr[(static_cast<size_t>(y) * truth.width + x) * 3];
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
  };
  const auto rowsUnlikeTruth = [&](int scrollY) {
    const ScreenRows shown = RangeRows(range);
    int unlike = 0;
    for (int v = 0; v < static_cast<int>(shown.size()); ++v) {
      const int y = range.top - kViewY + v, pageY = y < stickyH ? y : y + scrollY;
      if (y < stickyH && seeThrough != 0 && scrollY != 0) continue;
      for (int u = 0; u < static_cast<int>(shown[v].size()); ++u) {
        const int pageX = range.left - kViewX + u;
        const bool floats = pageX >= floating.left && pageX < floating.right && y >= floating.top && y < floating.bottom;
        if (!floats && !unjudged(pageX, pageY) && shown[v][u] != truthPixel(pageX, pageY)) {
          ++unlike;
          break;
        }
      }
    }
    return unlike;
  };
  // Trusted only once both windows draw the page alike: each is shot again until they do, which
  // also waits for them to be painted.
  int unlike = -1;
  PumpUntil([&] { return whole.Screenshot(RECT{0, 0, kViewW, pageH}, truth) && (unlike = rowsUnlikeTruth(0)) == 0; },
            20000);
  std::printf("page %s: %d rows, a sticky bar of %d%s, the box at %ld,%ld-%ld,%ld; %d rows of the view unlike it\n",
              shots.name.c_str(), pageH, stickyH, seeThrough != 0 ? " (see-through)" : "", box.left, box.top,
              box.right, box.bottom, unlike);
  // Kept beside the screenshots of each step, to hold the image against.
  char artefacts[MAX_PATH] = {};
  if (GetEnvironmentVariableA("TALLSNAP_ARTEFACTS", artefacts, sizeof artefacts) != 0)
    CopyFileA(WindowsPathOf(whole.dir + "/shot.png").c_str(),
              WindowsPathOf(std::string(artefacts) + "/" + shots.name + "-whole-page.png").c_str(), FALSE);
  if (unlike != 0) shots.Shot("view-unlike-the-whole-page");
  ASSERT_EQ(unlike, 0) << "chromium draws the page otherwise in a window as tall as the page";

  ASSERT_TRUE(StartTallSnap());
  ASSERT_TRUE(PressAndSee(kIdReadyButton, kIdFormatBox));
  ASSERT_TRUE(PickFormat(kBmp));
  ASSERT_TRUE(DragRange(range.left, range.top, range.right, range.bottom));
  shots.Shot("capturing");
  // Bursts until the page no longer moves; each waited for through the title, with what came into
  // view done appearing.
  const int end = pageH - kViewH;
  int at = 0;
  for (int burst = 0; burst < 50; ++burst) {
    const int notches = 3 + burst % 3, delay = 50 + (burst * 23) % 51;
    Xdotool(view.Pointer() + " click --repeat " + std::to_string(notches) + " --delay " + std::to_string(delay) + " 5");
    const int want = std::min(at + notches * kPerNotch, end);
    // As a person does, who looks at what came into view before wheeling on.
    ASSERT_TRUE(PumpUntil([&] { return view.StandsStillAt(want); }, 10000))
        << "the page stands at " << view.ScrollY() << ", not " << want << ", or still shows something appearing";
    if (want == at) break;
    at = want;
    if (burst == 1) shots.Shot("scrolled");
  }
  ASSERT_EQ(at, end);
  shots.Shot("at-the-end");
  // The view at the page's end is the whole page's end under the same sticky bar.
  ASSERT_EQ(rowsUnlikeTruth(end), 0);
  // The buttons over it as the screen shows them once they hold still (one fades in).
  ScreenRows lastScreen;
  ASSERT_TRUE(PumpUntil([&] {
    ScreenRows now = RangeRows(range);
    const bool still = now == lastScreen;
    lastScreen = std::move(now);
    return still;
  }, 10000));

  const int dx = range.left - kViewX, dy = range.top - kViewY;
  const ImageRows page0 = [&](int x, int y) { return truthPixel(dx + x, dy + y); };
  const int rows = end + RangeHeight() - 3;
  // The preview ends with the last screen, buttons and all, and what no screen shows as it shows
  // it: where they are, the file written is judged instead.
  if (!scrollBar && floating.right == floating.left && box.bottom <= end) {
    EXPECT_TRUE(PreviewShows(page0, rows));
  }
  const std::string file = folder + "\\" + shots.name + ".bmp";
  ASSERT_TRUE(FinishThroughDialog(file));
  if (artefacts[0] != '\0')
    CopyFileA(file.c_str(), WindowsPathOf(std::string(artefacts) + "/" + shots.name + "-image.bmp").c_str(), FALSE);
  // The box's pixels are whatever the image holds there.
  Picture written;
  ASSERT_TRUE(DecodeImageFile(file, written));
  const auto writtenPixel = [&](int x, int y) {
    const BYTE* p = &written.bgr[(static_cast<size_t>(y) * written.width + x) * 3];
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
  };
  const auto floatsAtTheEnd = [&](int x, int y) {
    const int viewY = dy + y - end;
    return dx + x >= floating.left && dx + x < floating.right && viewY >= floating.top && viewY < floating.bottom;
  };
  const ImageRows expected = [&](int x, int y) {
    if (floatsAtTheEnd(x, y)) return lastScreen[static_cast<size_t>(y - end)][static_cast<size_t>(x)];
    // The scroll bar shows once, as at the page's end: its up arrow at the top, then its track
    // (the thumb lies lower), then the last screen's thumb and down arrow.
    if (dx + x >= kViewW - barW) {
      const int v = y >= end + kViewH / 4 ? y - end : y < barW ? y : kViewH / 4;
      return lastScreen[static_cast<size_t>(v)][static_cast<size_t>(x)];
    }
    return unjudged(dx + x, dy + y) && y < static_cast<int>(written.height) ? writtenPixel(x, y) : page0(x, y);
  };
  // Its last rows are the page's last (but the three the finish leaves out), whatever its height.
  constexpr int kEndRows = 48;
  int endRows = 0;
  for (int k = 1; k <= kEndRows && k <= static_cast<int>(written.height); ++k) {
    bool same = true;
    for (int x = 0; x < RangeWidth() && same; ++x)
      same = unjudged(dx + x, pageH - 3 - k) || floatsAtTheEnd(x, pageH - dy - 3 - k) ||
             writtenPixel(x, static_cast<int>(written.height) - k) == page0(x, pageH - dy - 3 - k);
    endRows += same;
  }
  std::printf("end %s: %d of the page's last %d rows end the image\n", shots.name.c_str(), endRows, kEndRows);
  EXPECT_EQ(endRows, kEndRows);
  ExpectFaithful(file, expected, RangeWidth(), rows);
}

// Lines of prose, each a paragraph of one row.
static std::string Paragraphs(int lines, uint32_t seed) {
  std::string body;
  const std::string prose = ProseText(lines, seed);
  for (size_t from = 0; from < prose.size();) {
    const size_t to = prose.find('\n', from);
    body += "<p>" + prose.substr(from, to - from) + "</p>";
    from = to + 1;
  }
  return body;
}
const char kParagraphStyle[] = "p { margin: 0; padding: 0 16px; height: 24px; white-space: nowrap; overflow: hidden; }";

// A page with a bar that sticks to the top of the view and a box whose picture changes every
// frame, halfway down: the image holds the bar once, at its top, and the page under it whole.
TEST_F(EndToEnd, ChromiumStickyHeaderAndAnimatedBox) {
  std::string lines[2];
  const std::string prose = ProseText(120, 31);
  for (size_t from = 0, k = 0; from < prose.size(); ++k) {
    const size_t to = prose.find('\n', from);
    lines[k < 60 ? 0 : 1] += "<p>" + prose.substr(from, to - from) + "</p>";
    from = to + 1;
  }
  CaptureWebPage(WebPage(
      "#sticky { position: sticky; top: 0; height: 80px; box-sizing: border-box; padding: 0 16px;"
      "  background: #e3ebf7; border-bottom: 4px solid #2a5599; font: bold 22px/76px sans-serif; }"
      "p { margin: 0; padding: 0 16px; height: 24px; white-space: nowrap; overflow: hidden; }"
      "#box { margin: 16px 40px; width: 240px; height: 160px; text-align: center; font: bold 48px/160px monospace;"
      "  background: repeating-linear-gradient(90deg, #f60 0 12px, #fd0 12px 24px);"
      "  animation: slide 0.4s linear infinite; }"
      "@keyframes slide { to { background-position: 24px 0; } }",
      "<div id=\"sticky\">TallSnap: a bar that sticks to the top</div>" + lines[0] + "<div id=\"box\"></div>" +
          lines[1] + "<p>-- the end of the page --</p>"
          "<script>const box = document.getElementById('box'); let frame = 0;"
          "const tick = () => { box.textContent = frame++; requestAnimationFrame(tick); };"
          "requestAnimationFrame(tick);</script>"));
}

// A landing page: prose with cards that fade and slide into place as they come into view; or,
// with `buttons`, prose under a chat button that floats at the view's bottom right and a
// back-to-top button that fades in over it once the page has scrolled.
static std::string LandingPage(bool buttons) {
  const std::string prose = ProseText(80, 37);
  std::string body;
  for (size_t from = 0, k = 0; from < prose.size(); ++k) {
    const size_t to = prose.find('\n', from);
    body += "<p>" + prose.substr(from, to - from) + "</p>";
    if (!buttons && k % 12 == 11)
      body += "<div class=\"card\"><h2>Card " + std::to_string(k / 12 + 1) + "</h2><p>It fades and slides in.</p></div>";
    from = to + 1;
  }
  if (buttons)
    body += "<div id=\"chat\" class=\"float\">?</div><div id=\"top\" class=\"float\">^</div>";
  return WebPage("p { margin: 0; padding: 0 16px; height: 24px; white-space: nowrap; overflow: hidden; }"
                 ".card { margin: 12px 40px; padding: 8px 16px; height: 96px; box-sizing: border-box;"
                 "  background: #2a5599; color: #fff; border-radius: 8px;"
                 "  opacity: 0; transform: translateY(24px); transition: opacity 0.4s, transform 0.4s; }"
                 ".card.in { opacity: 1; transform: none; }"
                 ".card h2 { margin: 0; font: bold 24px/40px sans-serif; } .card p { padding: 0; }"
                 ".float { position: fixed; right: 20px; border-radius: 50%; background: #e04040; color: #fff;"
                 "  font: bold 20px/1 sans-serif; display: flex; align-items: center; justify-content: center; }"
                 "#chat { bottom: 20px; width: 56px; height: 56px; }"
                 "#top { bottom: 90px; width: 44px; height: 44px; opacity: 0; transition: opacity 0.3s; }"
                 "#top.in { opacity: 1; }"
                 "body.truth .float { display: none; } body.truth .card { transition: none; }",
                 body + "<p>-- the end of the page --</p>"
                        "<script>if (location.hash == '#truth') document.body.classList.add('truth');\n"
                        "const seen = new IntersectionObserver(es => es.forEach(e => {"
                        "  if (e.isIntersecting) e.target.classList.add('in'); }));\n"
                        "document.querySelectorAll('.card').forEach(c => seen.observe(c));\n"
                        "addEventListener('scroll', () => {"
                        "  if (document.getElementById('top')) document.getElementById('top').classList.toggle('in', scrollY > 300); });"
                        "</script>");
}

// The image holds every card as it looks when done, wherever the wheel first brought it in.
TEST_F(EndToEnd, ChromiumCardsThatFadeAndSlideIn) { CaptureWebPage(LandingPage(false)); }

// The buttons only where the last screen shows them, though bursts move the page past their
// distance to the view's edge, so that rows are appended with the buttons over them.
TEST_F(EndToEnd, ChromiumFloatingButtons) { CaptureWebPage(LandingPage(true), false, RECT{520, 500, 600, 640}); }

// A long table of rows alike but for their number, striped.
TEST_F(EndToEnd, ChromiumLongStripedTable) {
  std::string rows;
  for (int i = 1; i <= 110; ++i)
    rows += "<tr><td>" + std::to_string(i) + "</td><td>alike</td><td>the same text in every row</td><td>ok</td></tr>";
  CaptureWebPage(WebPage(
      "table { border-collapse: collapse; margin: 8px 12px; width: 576px; font: 14px/26px sans-serif; }"
      "th, td { border: 1px solid #b8c0cc; padding: 0 8px; white-space: nowrap; text-align: left; }"
      "th { background: #334466; color: #fff; }"
      "tbody tr:nth-child(even) { background: #eef2f8; }",
      "<table><thead><tr><th>#</th><th>kind</th><th>text</th><th>state</th></tr></thead><tbody>" + rows +
          "</tbody></table>"));
}

// A ledger between paragraphs: rows alike in every column but for a short item number, a
// coloured separator and a run of empty rows halfway down.
static std::string LedgerPage() {
  std::string prose, rows;
  for (int i = 0; i < 6; ++i) prose += "<p>A paragraph line " + std::to_string(i) + " about the ledger, whose rows are alike.</p>";
  for (int i = 1; i <= 90; ++i) {
    rows += "<tr><td>" + std::to_string(i) + "</td><td>widget</td><td>the same description in every row</td>"
            "<td>12.00</td></tr>";
    if (i == 45) {
      rows += "<tr class=\"separator\"><td colspan=\"4\"></td></tr>";
      for (int k = 0; k < 14; ++k) rows += "<tr><td></td><td></td><td></td><td></td></tr>";
    }
  }
  return WebPage(
      "table { border-collapse: collapse; margin: 8px 12px; width: 560px; font: 14px/26px sans-serif; }"
      "th, td { border: 1px solid #b8c0cc; padding: 0 8px; height: 26px; white-space: nowrap; text-align: left; }"
      "th { background: #334466; color: #fff; }"
      "tr.separator td { background: #e07020; height: 6px; padding: 0; }"
      "p { margin: 0; padding: 0 16px; height: 24px; white-space: nowrap; overflow: hidden; }",
      prose + "<table><thead><tr><th>#</th><th>item</th><th>description</th><th>price</th></tr></thead><tbody>" +
          rows + "</tbody></table>" + prose);
}
TEST_F(EndToEnd, ChromiumLedgerOfAlikeRows) { CaptureWebPage(LedgerPage()); }
// The same with chromium's scroll bar in the range, as people drag over the whole window: its
// thumb moves by less than the page does.
TEST_F(EndToEnd, ChromiumLedgerWithTheScrollBar) { CaptureWebPage(LedgerPage(), true); }

// Prose beside a sidebar taller than the view, which scrolls with the page until its end reaches
// the view's bottom (where the first burst leaves the page) and sticks there until the prose beside
// it ends. A person stops to read the sidebar: the page counts the 300 ms after it last moved as
// something still appearing, so that the wheel waits, and the ticks see the sidebar's end in its
// place before it sticks. Where it stood, the page
// under it never showed: those pixels are left unjudged (as #box), and so are the sidebar's last
// three rows, which stick in the range's last three, which no image takes. The rest of the
// sidebar's own place, which the wheel brought in before it stuck, and every pixel of the prose
// are judged.
TEST_F(EndToEnd, ChromiumSidebarThatSticksLate) {
  const std::string prose = ProseText(110, 43);
  std::string lines[2], links;
  for (size_t from = 0, k = 0; from < prose.size(); ++k) {
    const size_t to = prose.find('\n', from);
    lines[k < 96 ? 0 : 1] += "<p>" + prose.substr(from, to - from) + "</p>";
    from = to + 1;
  }
  for (int i = 1; i <= 30; ++i) links += "<li>Section " + std::to_string(i) + "</li>";
  CaptureWebPage(WebPage(
      "p { margin: 0; padding: 0 16px; height: 24px; white-space: nowrap; overflow: hidden; }"
      "h1 { margin: 0; height: 60px; padding: 0 16px; font: bold 26px/60px sans-serif; }"
      "#columns { display: flex; align-items: flex-start; }"
      "#main { width: 440px; }"
      "#side { position: sticky; top: -300px; width: 120px; height: 940px; margin-left: 20px; box-sizing: border-box;"
      "  background: #eef3fa; border: 2px solid #2a5599; }"
      "#side ul { margin: 0; padding: 6px 10px; list-style: none; font: 14px/29px sans-serif; }"
      "body.truth #side { position: static; }",
      "<h1>A sidebar that sticks late</h1><div id=\"columns\"><div id=\"main\">" + lines[0] +
          "</div><div id=\"side\"><ul>" + links + "</ul></div></div>" + lines[1] +
          "<p>-- the end of the page --</p>"
          "<script>let reading = 0;\n"
          "addEventListener('scroll', () => {\n"
          "  if (!reading++) ++appearing;\n"
          "  setTimeout(() => { if (!--reading) { --appearing; tell(); } }, 300);\n"
          "});\n"
          "if (location.hash == '#truth') {\n"
          "  document.body.classList.add('truth');\n"
          "  const side = document.getElementById('side').getBoundingClientRect();\n"
          "  const end = document.getElementById('columns').getBoundingClientRect().bottom, top = side.bottom - 3;\n"
          "  const box = document.createElement('div');\n"
          "  box.id = 'box';\n"
          "  box.style.cssText = 'position: absolute; visibility: hidden; left: ' + side.left + 'px; top: ' +\n"
          "    top + 'px; width: ' + side.width + 'px; height: ' + (end - top) + 'px';\n"
          "  document.body.appendChild(box);\n"
          "}</script>"));
}

// A bar that sticks to the top of the view and lets the page show through it, tinted, with its
// words over it: the image holds the bar once, at its top, over the page's first rows as the first
// screen shows it, and below it the page itself, nothing of the tint or of the text seen through.
// The bar is a layer of its own in both windows, as in the scrolled one it is anyway: chromium
// draws words over a see-through layer otherwise than over the page.
TEST_F(EndToEnd, ChromiumSeeThroughStickyHeader) {
  CaptureWebPage(WebPage(
      std::string("#sticky { position: sticky; top: 0; height: 80px; box-sizing: border-box; padding: 0 16px;"
                  "  background: rgba(200, 216, 245, 0.7); border-bottom: 4px solid #2a5599; color: #102040;"
                  "  font: bold 22px/76px sans-serif; will-change: transform; }"
                  "p:nth-of-type(7n) { background: #ffe08a; }") + kParagraphStyle,
      "<div id=\"sticky\">TallSnap: the page shows through this bar</div>" + Paragraphs(120, 43) +
          "<p>-- the end of the page --</p>"));
}

// Prose with two pictures that show a grey placeholder until they have been in view for 400 ms,
// as pictures that load late do; the wheel first brings each in partly, at the view's bottom, so
// that rows of the placeholder are taken before the picture shows. The image holds the pictures.
TEST_F(EndToEnd, ChromiumPicturesThatShowLate) {
  // Cells of a colour each, shaded down and across, with their number: every row differs from the
  // next, and the same in every window.
  const std::string script =
      "<script>\n"
      "const draw = c => {\n"
      "  const g = c.getContext('2d'), image = g.createImageData(c.width, c.height), seed = Number(c.dataset.seed);\n"
      "  const cell = (x, y) => Math.floor(y / 25) * 16 + Math.floor(x / 35) + seed;\n"
      "  for (let y = 0; y < c.height; ++y)\n"
      "    for (let x = 0; x < c.width; ++x) {\n"
      "      const n = cell(x, y), i = (y * c.width + x) * 4, edge = x % 35 == 0 || y % 25 == 0;\n"
      "      image.data[i] = edge ? n * 7 % 90 : n * 67 % 180 + 60;\n"
      "      image.data[i + 1] = edge ? n * 5 % 90 : (n * 131 + y % 25 * 5) % 200 + 40;\n"
      "      image.data[i + 2] = edge ? n * 3 % 90 : (n * 29 + x % 35 * 3) % 180 + 60;\n"
      "      image.data[i + 3] = 255;\n"
      "    }\n"
      "  g.putImageData(image, 0, 0);\n"
      "  g.font = 'bold 13px monospace';\n"
      "  g.fillStyle = '#fff';\n"
      "  for (let y = 0; y < c.height; y += 25)\n"
      "    for (let x = 0; x < c.width; x += 35) g.fillText(cell(x, y), x + 4, y + 17);\n"
      "};\n"
      "const truth = location.hash == '#truth', pictures = [...document.querySelectorAll('canvas')];\n"
      "if (truth) pictures.forEach(draw);\n"
      // Looked at before the page tells where it stands, so that it never tells a picture in view
      // done before it began.
      "addEventListener('scroll', () => pictures.forEach(c => {\n"
      "  const r = c.getBoundingClientRect();\n"
      "  if (truth || c.dataset.seen || r.top >= innerHeight || r.bottom <= 0) return;\n"
      "  c.dataset.seen = 1;\n"
      "  ++appearing;\n"
      // Told done once the picture is on the screen: two frames after it was drawn.
      "  setTimeout(() => { draw(c); requestAnimationFrame(() => requestAnimationFrame(() => {\n"
      "    --appearing; tell(); })); }, 400);\n"
      "}));\n"
      "</script>";
  const auto picture = [](int seed) {
    return "<canvas width=\"564\" height=\"300\" data-seed=\"" + std::to_string(seed) + "\"></canvas>";
  };
  // Lines of 24 rows and pictures of 328 with their margins: the first picture's top at row 1308,
  // which the second burst's end (the page at 840) shows at the view's bottom by 172 rows; the
  // second's at 2332, 108 rows of it at the bottom once the fourth burst ends at 1800.
  CaptureWebPage(WebPage(
      std::string("canvas { display: block; margin: 12px 16px; border: 2px solid #9aa0a8; background: #e4e6ea; }") +
          kParagraphStyle,
      Paragraphs(54, 51) + picture(0) + Paragraphs(29, 52) + picture(300) + Paragraphs(24, 53) +
          "<p>-- the end of the page --</p>" + script));
}
