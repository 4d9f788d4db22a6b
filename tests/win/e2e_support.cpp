#include "e2e_support.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <map>

bool ChildProcess::Start(const std::string& commandLine, const std::string& folder, HANDLE output) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  if (output != nullptr) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = si.hStdError = output;
  }
  std::string line = commandLine;
  return CreateProcessA(nullptr, &line[0], nullptr, nullptr, output != nullptr, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi) != FALSE;
}

void ChildProcess::Stop() {
  if (pi.hProcess == nullptr) return;
  if (Running()) {
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 10000);
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  pi = PROCESS_INFORMATION{};
}

bool ChildProcess::Running() const {
  return pi.hProcess != nullptr && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT;
}

void Artefacts::Shot(const std::string& step, const RECT* area) {
  char folder[MAX_PATH] = {};
  if (GetEnvironmentVariableA("TALLSNAP_ARTEFACTS", folder, sizeof folder) == 0) return;
  const int dpi = ScreenDpi();
  const std::string scale = dpi == 96 ? "" : "-" + std::to_string(dpi) + "dpi";
  char file[MAX_PATH * 2];
  std::snprintf(file, sizeof file, "%s/%s%s-%02d-%s.png", folder, name.c_str(), scale.c_str(), ++count, step.c_str());
  std::string crop;
  if (area != nullptr)
    crop = "-crop " + std::to_string(area->right - area->left) + "x" + std::to_string(area->bottom - area->top) + "+" +
           std::to_string(area->left) + "+" + std::to_string(area->top) + " +repage ";
  RunUnix("/usr/bin/import -window root " + crop + std::string(file), 20000);
}

namespace {

std::string WindowsFolderNamedBy(const char* variable) {
  char folder[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA(variable, folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return std::string();
  return WindowsPathOf(folder);
}

}  // namespace

std::string ProgramFolder() {
  const std::string named = WindowsFolderNamedBy("TALLSNAP_PROGRAMS_DIR");
  return named.empty() ? ExeFolder() : named;
}

std::string OtherSizeKelvo() {
  const bool shippedSize = sizeof(void*) == 4;
  const std::string folder = WindowsFolderNamedBy(shippedSize ? "TALLSNAP_WIN64_DIR" : "TALLSNAP_PACKAGE_DIR");
  return folder.empty() ? folder : folder + "\\Kelvo.exe";
}

void Xdotool(const std::string& args) { RunUnix("/usr/bin/xdotool " + args, 60000); }

void ClickAt(int x, int y) {
  Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y) + " sleep 0.05 click 1");
}

POINT CentreOf(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

std::string TextOf(HWND window) {
  char text[1024] = {};
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                      nullptr);
  return text;
}

namespace {

// A 32-bit DIB section; height > 0 is bottom-up, as the program's surfaces are.
HBITMAP MakeDib(int width, int height, uint32_t*& bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* view = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &view, nullptr, 0);
  bits = static_cast<uint32_t*>(view);
  return bitmap;
}

}  // namespace

std::vector<uint32_t> ScreenPixels(int x, int y, int width, int height) {
  std::vector<uint32_t> pixels;
  uint32_t* bits = nullptr;
  HBITMAP bitmap = MakeDib(width, -height, bits);
  if (bitmap == nullptr) return pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
  GdiFlush();
  pixels.assign(bits, bits + static_cast<size_t>(width) * height);
  for (uint32_t& p : pixels) p &= 0x00FFFFFFu;
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  DeleteObject(bitmap);
  return pixels;
}

bool ClipboardPicture(Picture& picture) {
  if (!OpenClipboard(nullptr)) return false;
  HBITMAP bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
  BITMAP shape{};
  const bool found = bitmap != nullptr && GetObjectA(bitmap, sizeof shape, &shape) != 0;
  if (found) {
    picture.width = static_cast<UINT>(shape.bmWidth);
    picture.height = static_cast<UINT>(shape.bmHeight);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = shape.bmWidth;
    info.bmiHeader.biHeight = -shape.bmHeight;  // top-down, as Picture is
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    const size_t stride = (static_cast<size_t>(shape.bmWidth) * 3 + 3) & ~static_cast<size_t>(3);
    std::vector<BYTE> rows(stride * shape.bmHeight);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, static_cast<UINT>(shape.bmHeight), rows.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    picture.bgr.clear();
    for (int y = 0; y < shape.bmHeight; ++y)
      picture.bgr.insert(picture.bgr.end(), rows.begin() + static_cast<ptrdiff_t>(y * stride),
                         rows.begin() + static_cast<ptrdiff_t>(y * stride + shape.bmWidth * 3));
  }
  CloseClipboard();
  return found;
}

std::vector<uint32_t> ExpectedPreview(const ImageRows& image, int rangeWidth, int rangeHeight, int used,
                                      int previewHeight, SIZE& size) {
  // The same surface shape and the same stretch as the program's painting: the sampling of a
  // shrinking stretch depends on both.
  constexpr int kSurfaceRows = 4006;
  const int width = rangeWidth + 6;
  const float scale = static_cast<float>(previewHeight) / static_cast<float>(rangeHeight);
  size.cx = static_cast<int>(scale * static_cast<float>(width));
  size.cy = static_cast<int>(scale * static_cast<float>(rangeHeight));
  std::vector<uint32_t> preview;
  uint32_t *source = nullptr, *target = nullptr;
  HBITMAP sourceBitmap = MakeDib(width, kSurfaceRows, source);
  HBITMAP targetBitmap = MakeDib(size.cx, -size.cy, target);
  if (sourceBitmap != nullptr && targetBitmap != nullptr) {
    for (int y = used - rangeHeight > 0 ? used - rangeHeight : 0; y < used; ++y)
      for (int x = 0; x < rangeWidth; ++x)
        source[static_cast<size_t>(kSurfaceRows - 1 - y) * width + x] = image(x, y);
    HDC sourceDc = CreateCompatibleDC(nullptr), targetDc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldSource = SelectObject(sourceDc, sourceBitmap), oldTarget = SelectObject(targetDc, targetBitmap);
    SetStretchBltMode(targetDc, COLORONCOLOR);
    StretchBlt(targetDc, 0, 0, size.cx, size.cy, sourceDc, 0, used - rangeHeight, width, rangeHeight, SRCCOPY);
    GdiFlush();
    preview.assign(target, target + static_cast<size_t>(size.cx) * size.cy);
    for (uint32_t& p : preview) p &= 0x00FFFFFFu;
    SelectObject(sourceDc, oldSource);
    SelectObject(targetDc, oldTarget);
    DeleteDC(sourceDc);
    DeleteDC(targetDc);
  }
  if (sourceBitmap != nullptr) DeleteObject(sourceBitmap);
  if (targetBitmap != nullptr) DeleteObject(targetBitmap);
  return preview;
}

Picture PictureOf(const ImageRows& image, int width, int height) {
  Picture p;
  p.width = static_cast<UINT>(width);
  p.height = static_cast<UINT>(height);
  p.bgr.reserve(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t c = image(x, y);
      p.bgr.push_back(static_cast<BYTE>(c));
      p.bgr.push_back(static_cast<BYTE>(c >> 8));
      p.bgr.push_back(static_cast<BYTE>(c >> 16));
    }
  return p;
}

Fidelity CompareWith(const Picture& picture, const ImageRows& image, int width, int height) {
  Fidelity f;
  if (picture.width != static_cast<UINT>(width) || picture.height != static_cast<UINT>(height)) {
    f.rows = static_cast<int>(picture.height);  // the height it has, for the message
    f.mismatchedRows = -1;
    return f;
  }
  const Picture expected = PictureOf(image, width, height);
  const size_t stride = static_cast<size_t>(width) * 3;
  f.rows = height;
  // Luma only: JPEG keeps a row's brightness apart from its neighbours', while its chroma is
  // shared by pairs of rows.
  auto luma = [](const BYTE* p) { return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]; };
  // Squared luma distance between row a of one picture and row b of another.
  auto distance = [&](const Picture& one, int a, const Picture& other, int b) {
    double sum = 0;
    for (int x = 0; x < width; ++x) {
      const double d = luma(&one.bgr[a * stride + x * 3]) - luma(&other.bgr[b * stride + x * 3]);
      sum += d * d;
    }
    return sum;
  };
  for (int y = 0; y < height; ++y) {
    f.mismatchedRows += std::memcmp(&picture.bgr[y * stride], &expected.bgr[y * stride], stride) != 0;
    const double own = distance(picture, y, expected, y);
    // Only neighbours that differ from the row itself tell a shift; bands of nearly equal rows
    // don't.
    for (int other = std::max(0, y - 8); other <= std::min(height - 1, y + 8); ++other)
      if (other != y && distance(expected, y, expected, other) > 100.0 * width &&
          distance(picture, y, expected, other) < own) {
        ++f.misplacedRows;
        break;
      }
  }
  f.psnr = Psnr(expected, picture);
  return f;
}

RowAccount AccountRows(const Picture& picture, const ImageRows& image, int width, int height) {
  RowAccount a;
  if (picture.width != static_cast<UINT>(width)) return a;
  const Picture expected = PictureOf(image, width, height);
  const size_t stride = static_cast<size_t>(width) * 3;
  auto row = [&](const Picture& p, int y) { return std::string(reinterpret_cast<const char*>(&p.bgr[y * stride]), stride); };
  std::map<std::string, int> want, seen;
  for (int y = 0; y < height; ++y) ++want[row(expected, y)];
  for (int y = 0; y < static_cast<int>(picture.height); ++y) {
    const std::string r = row(picture, y);
    ++seen[r];
    if (y < height && r == row(expected, y)) ++a.inPlace;
    if (want.count(r) == 0) ++a.foreign;
  }
  for (const auto& [content, count] : seen)
    if (want.count(content) != 0 && count > want[content]) a.repeated += count - want[content];
  for (const auto& [content, count] : want)
    if (seen.count(content) == 0) a.missing += count;
  return a;
}

ScreenRows RangeRows(const RECT& range) {
  const int w = range.right - range.left, h = range.bottom - range.top;
  const std::vector<uint32_t> pixels = ScreenPixels(range.left, range.top, w, h);
  ScreenRows rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y)
    rows[y].assign(pixels.begin() + static_cast<ptrdiff_t>(y) * w, pixels.begin() + static_cast<ptrdiff_t>(y + 1) * w);
  return rows;
}

std::string ProseText(int lines, uint32_t seed) {
  static const char* const kWords[] = {"tall", "snap", "window", "scroll", "the", "a", "of", "image", "row",
                                       "stitch", "grab", "quick", "brown", "fox", "jumps", "over", "lazy", "dog",
                                       "Kelvo", "Tarvin", "wheel", "notch", "page", "line", "text", "view", "i", "l"};
  std::string text;
  for (int i = 0; i < lines; ++i) {
    std::string line = std::to_string(i) + ":";
    while (line.size() < static_cast<size_t>(40 + i % 31)) {
      seed = seed * 1103515245u + 12345u;
      line += std::string(" ") + kWords[(seed >> 16) % (sizeof kWords / sizeof kWords[0])];
    }
    text += line + "\n";
  }
  return text;
}
