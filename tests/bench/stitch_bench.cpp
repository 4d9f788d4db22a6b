// One stitching tick on a 1914 x 1074 range over text-like content, by the indexed search and
// by the literal one, beside one memcpy of the grab: the figures the 100 ms period is measured
// against.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "capture/stitch.h"

namespace {

constexpr int kW = 1914, kH = 1074;

// A document: white page, 200+ pixel margins, sparse dark pixels on text lines, blank leading.
uint32_t Document(int x, int k) {
  if (x < 220 || x >= kW - 230) return 0x00FFFFFFu;
  if ((k / 6) % 3 == 2) return 0x00FFFFFFu;  // space between lines
  uint32_t h = static_cast<uint32_t>(k) * 2654435761u ^ static_cast<uint32_t>(x) * 40503u;
  h ^= h >> 15;
  h *= 2246822519u;
  h ^= h >> 13;
  return h % 11 == 0 ? 0x00202020u : 0x00FFFFFFu;
}

struct Tick {
  std::vector<uint32_t> imagePixels, grabPixels;
  PixelView image{}, grab{};
  int scrollY = 0;
  StitchRows rows;

  // The image holds document rows 0 .. height - 1; the grab shows the document from row top.
  Tick(int height, int top) : imagePixels(static_cast<size_t>(kW + 6) * 4006), grabPixels(static_cast<size_t>(kW + 6) * (kH + 6)) {
    image = PixelView{imagePixels.data(), kW + 6, 4006};
    grab = PixelView{grabPixels.data(), kW + 6, kH + 6};
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < kW; ++x) ViewRow(image, y)[x] = Document(x, y);
    for (int j = 0; j < kH; ++j)
      for (int x = 0; x < kW; ++x) ViewRow(grab, j)[x] = Document(x, top + j);
    scrollY = height;
    ResetStitchRows(rows, image, kW, kH, height, 1);
  }
  // The row limit is lifted so that the search over a 3990-row image is measured too (a range
  // 1074 rows high stops growing at 2926 rows).
  void Run(bool literal = false) {
    const int32_t bytes = 40 + 4 * (kW + 6) * 4006;
    const StitchDecision d = literal ? DecideStitchLiteral(image, grab, kW, kH, scrollY, 4000 + kH, bytes)
                                     : DecideStitch(image, grab, kW, kH, scrollY, 4000 + kH, bytes, rows);
    benchmark::DoNotOptimize(d);
    if (d.outcome != StitchOutcome::Append) return;
    if (literal) ApplyStitchLiteral(image, grab, kW, kH, d.keyRow, d.matchRow);
    else ApplyStitch(image, grab, kW, kH, d.keyRow, d.matchRow, rows);
  }
};

// After an append the image ends at grab row H - 4; a scroll of a few rows moves that up.
void SmallScroll(benchmark::State& state) {
  const int height = static_cast<int>(state.range(0));
  Tick t(height, height - (kH - 3) + 24);
  for (auto _ : state) t.Run();
}
void NothingMoved(benchmark::State& state) {
  const int height = static_cast<int>(state.range(0));
  Tick t(height, height - (kH - 3));
  for (auto _ : state) t.Run();
}
// Scrolled too far at once: the grab shares no row with the image, every key row is tried.
void NoMatch(benchmark::State& state) {
  const int height = static_cast<int>(state.range(0));
  Tick t(height, height + 2 * kH);
  for (auto _ : state) t.Run();
}
void SmallScrollLiteral(benchmark::State& state) {
  const int height = static_cast<int>(state.range(0));
  Tick t(height, height - (kH - 3) + 24);
  for (auto _ : state) t.Run(true);
}
void NoMatchLiteral(benchmark::State& state) {
  const int height = static_cast<int>(state.range(0));
  Tick t(height, height + 2 * kH);
  for (auto _ : state) t.Run(true);
}
void MemcpyOfTheGrab(benchmark::State& state) {
  std::vector<uint32_t> from(static_cast<size_t>(kW) * kH, 0x00FFFFFFu), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size() * sizeof(uint32_t));
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(SmallScroll)->Arg(1074)->Arg(2000)->Arg(3990)->Unit(benchmark::kMillisecond);
BENCHMARK(NothingMoved)->Arg(1074)->Arg(2000)->Arg(3990)->Unit(benchmark::kMillisecond);
BENCHMARK(NoMatch)->Arg(1074)->Arg(2000)->Arg(3990)->Unit(benchmark::kMillisecond);
BENCHMARK(SmallScrollLiteral)->Arg(1074)->Arg(3990)->Unit(benchmark::kMillisecond);
BENCHMARK(NoMatchLiteral)->Arg(1074)->Arg(2000)->Arg(3990)->Unit(benchmark::kMillisecond);
BENCHMARK(MemcpyOfTheGrab)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
