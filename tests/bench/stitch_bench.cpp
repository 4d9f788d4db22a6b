// One stitching tick on a 1914 x 1074 range, by the shipped search and by the literal one,
// beside one memcpy of the grab: the figures the 100 ms period is measured against. Ends with a
// table of every case. With --one-tick=CASE/HEIGHT/new|literal it runs exactly one tick (after
// one that lets the record learn the image) inside MeasuredTick, for callgrind's
// --toggle-collect; scripts/bench.sh shows how.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "capture/last_look.h"
#include "capture/stitch.h"
#include "capture/stitch_rows.h"

namespace {

constexpr int kW = 1914, kH = 1074;
constexpr int kLastSampled = (kW - 1) / 4 * 4;

// A document: white page, 200+ pixel margins, sparse dark pixels on text lines, blank leading.
uint32_t TextPixel(int x, int k) {
  if (x < 220 || x >= kW - 230) return 0x00FFFFFFu;
  if ((k / 6) % 3 == 2) return 0x00FFFFFFu;  // space between lines
  uint32_t h = static_cast<uint32_t>(k) * 2654435761u ^ static_cast<uint32_t>(x) * 40503u;
  h ^= h >> 15;
  h *= 2246822519u;
  h ^= h >> 13;
  return h % 11 == 0 ? 0x00202020u : 0x00FFFFFFu;
}
// Against the literal search and a weak index: one pattern in every row, told apart only by the
// last sampled column, so that every comparison reads the whole row.
uint32_t LastColumnPixel(int x, int k) { return x == kLastSampled ? static_cast<uint32_t>(k) : 0x00010101u * (x % 5); }
// Many genuinely equal rows: the image is one row repeated, the grab another, the two differing
// in the last sampled column only; in the grab's index they all share one hash.
uint32_t EqualRowsPixel(int x, int k) { return x == kLastSampled ? (k < 8000 ? 1u : 2u) : 0x00010101u * (x % 5); }

// Repeated structure: the same text line (and a ruled row under it) every 30 rows, among lines
// that differ, so that a key row there has a candidate a period away in every direction.
uint32_t RepeatedPixel(int x, int k) {
  if (k % 30 == 7) return x % 200 == 0 ? 0x00404040u : 0x00E0E0E0u;
  return TextPixel(x, k % 30 < 7 ? k % 30 : k);
}

// A long table of alike rows: a rule every 24 rows, the same cells in every row but for a
// number in the first one.
uint32_t TablePixel(int x, int k) {
  const int line = k / 24, inLine = k % 24;
  if (inLine == 0 || x == 300) return 0x00404040u;
  if (inLine < 6 || inLine >= 16) return line % 2 ? 0x00F4F4F4u : 0x00FFFFFFu;
  if (x >= 40 && x < 240) return (static_cast<uint32_t>(line) * 2654435761u >> (x % 29)) & 1 ? 0x00202020u : 0x00FFFFFFu;
  return x > 320 && x < kW - 200 && (x * 7 + inLine * 3) % 11 < 3 ? 0x00202020u : line % 2 ? 0x00F4F4F4u : 0x00FFFFFFu;
}

// An empty grid, as of a spreadsheet: a rule every 30 rows and every 200 columns, and nothing
// else, so that its rows repeat exactly over more than the range.
uint32_t GridPixel(int x, int k) { return k % 30 == 0 || x % 200 == 0 ? 0x00C8C8C8u : 0x00FFFFFFu; }

// Rows that repeat exactly every 30 rows, each unlike the others of its period.
uint32_t PeriodPixel(int x, int k) { return TextPixel(x, k % 30); }

// A status bar that does not scroll: grey, two dividers down its whole height, text in its
// upper half.
uint32_t FooterPixel(int x, int j, int rows) {
  if (x == kW / 2 || x == kW / 2 + 40) return 0x00404040u;
  return 2 * j < rows && x > 300 && x < 900 ? TextPixel(x, j) & 0x00C0C0C0u : 0x00C0C0C0u;
}

using Content = uint32_t (*)(int x, int k);

struct Case {
  const char* name;
  Content content;
  // Where the grab shows the document, given the image's height: after an append the image
  // ends at grab row H - 4, so a scroll by s shows the document from height - (H - 3) + s.
  int scroll;
  std::vector<int> heights;
  int footer = 0;  // rows of a fixed band over the bottom of the range
  int header = 0;  // rows of a fixed band over the top of the range, as the first grab showed it
  bool region = false;  // a third of the range tall and half of it wide changed by itself
  bool scrollBar = false;  // a browser's scroll bar at the right, its thumb moved since the first grab
  // Image rows that changed (a caret, a blinking cursor) where the place of the true move and
  // the places one and two periods further disagree so that each disagrees less than the next on
  // the rows those two share, the third less than the first.
  bool cycle = false;
  // A button floating over the grab's bottom right, left in the image where the grab before the
  // move showed it.
  bool floating = false;
  // A block halfway down the grab that faded in since the image took it paler.
  bool fading = false;
  // A see-through bar over the grab's top: the page tinted, as under it now and, in the image's
  // first rows, as under it when the first grab was taken.
  bool seeThrough = false;
};

constexpr int kTooFar = 2 * kH;
constexpr int kLargest = kH - 26;  // the largest move that still matches
constexpr int kBeyond = 9000;      // a grab past every row of the image (EqualRows: the other row)

const Case kCases[] = {
    {"usual: scroll 24", TextPixel, 24, {1074, 2000, 3990}},
    {"usual, last column", LastColumnPixel, 24, {1074, 3990}},
    {"nothing moved", TextPixel, 0, {1074, 2000, 3990}},
    {"unchanged", TextPixel, -3, {2000, 3990}},
    {"no match, text", TextPixel, kTooFar, {1074, 2000, 3990}},
    {"largest move, text", TextPixel, kLargest, {1074, 2000}},
    {"no match, last column", LastColumnPixel, kTooFar, {1074, 2000, 3990}},
    {"no match, equal rows", EqualRowsPixel, kBeyond, {1074, 3990}},
    {"largest move, last column", LastColumnPixel, kLargest, {1074, 2000}},
    {"usual, repeated lines", RepeatedPixel, 24, {1074, 3990}},
    {"one period, repeated lines", RepeatedPixel, 30, {1074, 3990}},
    {"no match, repeated lines", RepeatedPixel, kTooFar, {1074, 2926, 3990}},
    {"fixed footer 40: scroll 24", TextPixel, 24, {1074, 3990}, 40},
    {"fixed footer 200: scroll 24", TextPixel, 24, {1074, 3990}, 200},
    {"fixed footer 40: nothing moved", TextPixel, 0, {1074, 3990}, 40},
    {"header 200: scroll 24", TextPixel, 24, {1074, 3990}, 0, 200},
    {"header 537: scroll 24", TextPixel, 24, {1074, 3990}, 0, kH / 2},
    {"header 200: no match", TextPixel, kTooFar, {1074, 3990}, 0, 200},
    {"moving region: scroll 24", TextPixel, 24, {1074, 3990}, 0, 0, true},
    {"moving region: largest move", TextPixel, kLargest - kH / 3, {1074, 2000}, 0, 0, true},
    {"table: scroll 24", TablePixel, 24, {1074, 3990}},
    {"table: scroll 30", TablePixel, 30, {1074, 3990}},
    {"table: no match", TablePixel, kTooFar, {1074, 3990}},
    {"scroll bar: scroll 24", TextPixel, 24, {1074, 3990}, 0, 0, false, true},
    {"scroll bar: no match", TextPixel, kTooFar, {1074, 3990}, 0, 0, false, true},
    {"empty grid: scroll 24", GridPixel, 24, {1074, 3990}},
    {"empty grid: one period", GridPixel, 30, {1074, 3990}},
    {"cycle of places", PeriodPixel, 24, {1074, 3990}, 0, 0, false, false, true},
    {"floating button: scroll 24", TextPixel, 24, {1074, 3990}, 0, 0, false, false, false, true},
    {"floating button: scroll 200", TextPixel, 200, {1074, 3990}, 0, 0, false, false, false, true},
    {"fade-in: scroll 24", TextPixel, 24, {1074, 3990}, 0, 0, false, false, false, false, true},
    {"see-through header: scroll 24", TextPixel, 24, {1074, 3990}, 0, 0, false, false, false, false, false, true},
};

// A scroll bar 17 columns wide down the range's right edge: a light track, and a dark thumb
// 100 rows long from row `thumb`.
void PaintScrollBar(const PixelView& v, int from, int to, int thumb) {
  for (int j = from; j < to; ++j)
    for (int x = kW - 17; x < kW; ++x)
      ViewRow(v, j)[x] = j - from >= thumb && j - from < thumb + 100 && x > kW - 15 ? 0x008B8B8Bu : 0x00FCFCFCu;
}

struct Tick {
  std::vector<uint32_t> imagePixels, grabPixels;
  PixelView image{}, grab{};
  int height;
  StitchRows rows;
  // The screen before the move, as the last append saw it, which tells the decision what stands;
  // each tick starts from it again.
  LastLook look, lookBefore;

  // The image holds document rows 0 .. height - 1, as after an append; the grab shows the
  // document from height - (H - 3) + scroll.
  Tick(const Case& c, int imageHeight)
      : imagePixels(static_cast<size_t>(kW + 6) * 4006),
        grabPixels(static_cast<size_t>(kW + 6) * (kH + 6)),
        height(imageHeight) {
    image = PixelView{imagePixels.data(), kW + 6, 4006};
    grab = PixelView{grabPixels.data(), kW + 6, kH + 6};
    const int top = c.content == EqualRowsPixel ? c.scroll : height - (kH - 3) + c.scroll;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < kW; ++x) ViewRow(image, y)[x] = c.content(x, y);
    for (int j = 0; j < kH; ++j)
      for (int x = 0; x < kW; ++x) ViewRow(grab, j)[x] = c.content(x, top + j);
    // A band over the grab's first rows, as the first grab (the image's first rows) showed it.
    for (int j = 0; j < c.header; ++j)
      for (int x = 0; x < kW; ++x) ViewRow(grab, j)[x] = ViewRow(image, j)[x] = FooterPixel(x, j, c.header);
    if (c.scrollBar) {
      PaintScrollBar(image, 0, height, height);  // the track beside every row the appends took
      PaintScrollBar(image, 0, kH, 17);          // the first grab, the page at its top
      PaintScrollBar(grab, 0, kH, 317);          // the page scrolled on since
    }
    // Rows x of the true place's overlap (image row top + x) that changed: three in each of its
    // first two periods and four in its last, which the places a period and two further down
    // meet at rows 30 and 60 higher.
    const int last = height - 1 - top;
    for (const int x : {5, 15, 25, 35, 45, 55, last - 25, last - 18, last - 11, last - 4})
      for (int px = 220; px < kW - 230 && c.cycle; ++px) ViewRow(image, top + x)[px] ^= 0x00555555u;
    // Something animating in the grab's middle, above the rows an append takes.
    for (int j = kH / 4; j < kH / 4 + kH / 3 && c.region; ++j)
      for (int x = kW / 4; x < kW / 4 + kW / 2; ++x) ViewRow(grab, j)[x] = static_cast<uint32_t>(x * 2654435761u ^ j);
    // The button over the grab's bottom right, and in the image where the grab before showed it.
    for (int j = 0; j < 56 && c.floating; ++j)
      for (int x = kW - 76; x < kW - 20; ++x)
        ViewRow(grab, kH - 76 + j)[x] = ViewRow(image, height - 73 + j)[x] = 0x00E04040u;
    // The block as the grab shows it now, and paler in the image.
    for (int j = kH / 2; j < kH / 2 + 120 && c.fading; ++j)
      for (int x = 40; x < kW - 40; ++x) ViewRow(image, top + j)[x] |= 0x00808080u;
    for (int j = 0; j < 80 && c.seeThrough; ++j)
      for (int x = 0; x < kW; ++x) {
        ViewRow(grab, j)[x] |= 0x00404040u;
        ViewRow(image, j)[x] |= 0x00404040u;
      }
    // The band stands over the grab's last rows and ends the image as the last append left it.
    for (int j = 0; j < c.footer; ++j)
      for (int x = 0; x < kW; ++x) {
        ViewRow(grab, kH - c.footer + j)[x] = FooterPixel(x, j, c.footer);
        if (j < c.footer - 3) ViewRow(image, height - (c.footer - 3) + j)[x] = FooterPixel(x, j, c.footer);
      }
    ResetStitchRows(rows, image, kW, kH, height, 1);
    // The screen the last append took: the image's end, as the grab before the move showed it.
    std::vector<uint32_t> beforePixels(static_cast<size_t>(kW + 6) * (kH + 6));
    const PixelView before{beforePixels.data(), kW + 6, kH + 6};
    for (int j = 0; j < kH; ++j) {
      const int y = height - (kH - 3) + j;
      for (int x = 0; x < kW; ++x)
        ViewRow(before, j)[x] = j < c.header ? FooterPixel(x, j, c.header)
                                : y >= 0 && y < height ? ViewRow(image, y)[x] : c.content(x, y < 0 ? 0 : y);
    }
    StartLastLook(lookBefore, before, kW, kH, image.height);
    lookBefore.offset = height - (kH - 3);
    // As appends by 24 rows leave it, each row below the first screen was taken from one of the
    // 24 screen rows above the border, and the look reads in the image the rows the image holds
    // as it showed them.
    for (int y = kH; y < height; ++y)
      lookBefore.from[static_cast<size_t>(y)] = y - lookBefore.offset + 24 * ((height - 1 - y) / 24);
    // A row settles once a later tick shows it alike at another place, unless it is blank: all but
    // the last append's rows and the blank ones, where no block fades in.
    for (int y = kH; y < height - 24 && !c.fading; ++y)
      lookBefore.settled[static_cast<size_t>(y)] =
          stitching::IsUniform(ViewRow(image, y), stitching::Span{0, kW}) ? 0 : 1;
    for (int j = 0; j < kH; ++j) {
      const int y = j + lookBefore.offset;
      lookBefore.inImage[static_cast<size_t>(j)] =
          y >= 0 && y < height && std::equal(ViewRow(before, j), ViewRow(before, j) + kW, ViewRow(image, y)) ? 1 : 0;
    }
    look = lookBefore;
  }
  // The rewind copies the look's pixels, 8 MB, which no tick of a running session does: that
  // pushes the image's end and the grab out of the cache, where the tick before left them and
  // where the memcpy the tick is set against keeps its own buffers. A line of each is read back.
  void Rewind() {
    look = lookBefore;
    uint32_t sum = 0;
    for (int y = std::max(0, height - kH); y < height; ++y)
      for (int x = 0; x < kW; x += 16) sum += ViewRow(image, y)[x];
    for (int j = 0; j < kH; ++j)
      for (int x = 0; x < kW; x += 16) sum += ViewRow(grab, j)[x];
    benchmark::DoNotOptimize(sum);
  }
  // Every tick starts from the same image height: an append rewrote the rows from its key row
  // down with the document rows they held already. The row limit is lifted so that the search
  // over a 3990-row image is measured too (a range 1074 rows high stops growing at 2926 rows).
  bool indexed = false;  // the last new tick indexed the grab
  StitchOutcome Run(bool literal) {
    const int32_t bytes = 40 + 4 * (kW + 6) * 4006;
    const uint32_t builds = rows.indexBuilds;
    const StitchDecision d = literal ? DecideStitchLiteral(image, grab, kW, kH, height, 4000 + kH, bytes)
                                     : DecideStitch(image, grab, kW, kH, height, 4000 + kH, bytes, rows,
                                                    SeenBy(look, image));
    indexed = rows.indexBuilds != builds;
    if (literal) {
      if (d.outcome == StitchOutcome::Append) ApplyStitchLiteral(image, grab, kW, kH, d.keyRow, d.matchRow);
      return d.outcome;
    }
    // What the session does with each outcome.
    LookAtTick(image, grab, kW, kH, d, d.outcome == StitchOutcome::Append, height, rows, look);
    return d.outcome;
  }
};

const char* OutcomeName(StitchOutcome o) {
  switch (o) {
    case StitchOutcome::Unchanged: return "unchanged";
    case StitchOutcome::LimitReached: return "limit";
    case StitchOutcome::NoMatch: return "no match";
    case StitchOutcome::Append: return "append";
  }
  return "?";
}

std::string Name(const Case& c, int height, bool literal) {
  return std::string(c.name) + "/" + std::to_string(height) + (literal ? "/literal" : "/new");
}

void MemcpyOfTheGrab(benchmark::State& state) {
  std::vector<uint32_t> from(static_cast<size_t>(kW) * kH, 0x00FFFFFFu), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size() * sizeof(uint32_t));
    benchmark::ClobberMemory();
  }
}

// Keeps every time (ms) for the table, which shows the median of a benchmark's repetitions:
// another process on the machine slows single runs down.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, std::vector<double>> ms;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        ms[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
    ConsoleReporter::ReportRuns(runs);
  }
  bool Median(const std::string& name, double& out) {
    auto found = ms.find(name);
    if (found == ms.end()) return false;
    std::vector<double>& v = found->second;
    std::sort(v.begin(), v.end());
    out = v[v.size() / 2];
    return true;
  }
};

}  // namespace

// Out of line, so that callgrind can count this one tick alone.
__attribute__((noipa)) StitchOutcome MeasuredTick(Tick& t, bool literal) { return t.Run(literal); }

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--one-tick=", 0) != 0) continue;
    const std::string which = arg.substr(11);
    for (const Case& c : kCases)
      for (int height : c.heights)
        for (bool literal : {false, true}) {
          if (Name(c, height, literal) != which) continue;
          Tick t(c, height);
          if (!literal) t.Run(false);  // the record learns the image, as in a running session
          t.Rewind();
          const StitchOutcome outcome = MeasuredTick(t, literal);
          std::printf("%s: %s%s\n", which.c_str(), OutcomeName(outcome), t.indexed ? ", indexed" : "");
          return 0;
        }
    std::fprintf(stderr, "no such tick: %s\n", which.c_str());
    return 2;
  }

  benchmark::RegisterBenchmark("memcpy of the grab", MemcpyOfTheGrab)->Unit(benchmark::kMillisecond);
  for (const Case& c : kCases)
    for (int height : c.heights)
      for (bool literal : {false, true})
        benchmark::RegisterBenchmark(Name(c, height, literal).c_str(),
                                     [&c, height, literal](benchmark::State& state) {
                                       Tick t(c, height);
                                       StitchOutcome outcome{};
                                       for (auto _ : state) {
                                         outcome = t.Run(literal);
                                         state.PauseTiming();
                                         t.Rewind();
                                         state.ResumeTiming();
                                       }
                                       state.SetLabel(std::string(OutcomeName(outcome)) +
                                                      (t.indexed ? ", indexed" : ""));
                                     })
            ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  double memcpyMs;
  if (!reporter.Median("memcpy of the grab", memcpyMs)) return 0;
  std::printf("\n%-26s %6s %11s %8s %10s %11s %12s\n", "case", "height", "literal ms", "new ms", "memcpy ms",
              "new/memcpy", "literal/new");
  for (const Case& c : kCases)
    for (int height : c.heights) {
      double n = 0, l = 0;
      if (!reporter.Median(Name(c, height, false), n)) continue;
      const bool hasLiteral = reporter.Median(Name(c, height, true), l);
      std::printf("%-26s %6d ", c.name, height);
      if (hasLiteral)
        std::printf("%11.3f ", l);
      else
        std::printf("%11s ", "-");
      std::printf("%8.3f %10.3f %11.2f ", n, memcpyMs, n / memcpyMs);
      if (hasLiteral)
        std::printf("%12.0f\n", l / n);
      else
        std::printf("%12s\n", "-");
    }
  return 0;
}
