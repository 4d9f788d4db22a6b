#include "converters/convert_win.h"

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <vector>

#include "shared/handoff_files.h"

namespace {

// The largest BMP read: a maximal image with its header, and room for a 32-bit one.
constexpr uint64_t kMaxBmpFileBytes = kMaxImagePixels * 4 + 4096;

template <typename T>
void Release(T*& p) {
  if (p != nullptr) p->Release();
  p = nullptr;
}

std::wstring Wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
  wide.resize(wide.size() - 1);
  return wide;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot open " + path;
    return false;
  }
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart <= static_cast<LONGLONG>(kMaxBmpFileBytes);
  if (!ok) error = "cannot read the size of " + path + ", or it is too large";
  if (ok) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t total = 0;
    while (ok && total < bytes.size()) {
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - total, 1u << 30));
      ok = ReadFile(file, bytes.data() + total, want, &got, nullptr) && got > 0;
      total += got;
    }
    if (!ok) error = "cannot read " + path;
  }
  CloseHandle(file);
  return ok;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  return ok;
}

// Encodes through WIC into path. Every interface is released on every path.
bool EncodeWithWic(const Image& image, const std::string& path, const GUID& container, int quality) {
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  IPropertyBag2* options = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
  if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(Wide(path).c_str(), GENERIC_WRITE);
  if (SUCCEEDED(hr)) hr = factory->CreateEncoder(container, nullptr, &encoder);
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
  if (SUCCEEDED(hr) && container == GUID_ContainerFormatJpeg) {
    PROPBAG2 option{};
    option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = static_cast<float>(quality) / 100.0f;
    options->Write(1, &option, &value);  // a codec without the option keeps its own quality
  }
  if (SUCCEEDED(hr)) hr = frame->Initialize(options);
  if (SUCCEEDED(hr)) hr = frame->SetSize(image.width, image.height);
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
  if (SUCCEEDED(hr) && format != GUID_WICPixelFormat24bppBGR) hr = E_FAIL;
  if (SUCCEEDED(hr))
    hr = frame->WritePixels(image.height, image.width * 3, static_cast<UINT>(image.bgr.size()),
                            const_cast<BYTE*>(image.bgr.data()));
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  Release(options);
  Release(frame);
  Release(encoder);
  Release(stream);  // closes the file
  Release(factory);
  return SUCCEEDED(hr);
}

std::string TemporaryPathBeside(const std::string& path) {
  static LONG counter = 0;
  return FolderPart(path) + "~kelvo-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(InterlockedIncrement(&counter)) + ".tmp";
}

}  // namespace

int ReadQualityFile() {
  HANDLE file = CreateFileA(kQualityFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 100;
  char text[16] = {};
  DWORD got = 0;
  ReadFile(file, text, sizeof text - 1, &got, nullptr);
  CloseHandle(file);
  return QualityFromText(std::string(text, got));
}

bool WriteImageFile(const Image& image, const std::string& path, OutputFormat format, int quality,
                    std::string& error) {
  if (format == OutputFormat::Unknown) {
    error = "unknown output format: " + path;
    return false;
  }
  if (path.empty() || path.size() >= kMaxPathBytes) {
    error = "output path empty or too long";
    return false;
  }
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    error = "output exists already: " + path;
    return false;
  }
  const std::string temp = TemporaryPathBeside(path);
  bool ok = format == OutputFormat::Bmp ? WriteWholeFile(temp, EncodeBmp(image))
                                        : EncodeWithWic(image, temp,
                                                        format == OutputFormat::Jpeg ? GUID_ContainerFormatJpeg
                                                                                     : GUID_ContainerFormatPng,
                                                        quality);
  if (!ok) error = "cannot write " + path;
  if (ok && !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
    error = "cannot move the finished file into place: " + path;
    ok = false;
  }
  if (!ok) DeleteFileA(temp.c_str());
  return ok;
}

bool ConvertBmpFile(const std::string& bmpPath, const std::string& outPath, int quality, std::string& error) {
  const OutputFormat format = FormatForPath(outPath);
  if (format == OutputFormat::Unknown) {
    error = "unknown output format: " + outPath;
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(bmpPath, bytes, error)) return false;
  Image image;
  if (!ParseBmp(bytes.data(), bytes.size(), image, error)) return false;
  bytes.clear();
  bytes.shrink_to_fit();
  return WriteImageFile(image, outPath, format, quality, error);
}
