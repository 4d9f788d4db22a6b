#include <gtest/gtest.h>

#include <cstring>

#include "state/state.h"
#include "state/surface.h"
#include "win_test_support.h"

namespace {

class SurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    SetCurrentDirectoryA(folder.c_str());
    CreateDirectoryA("ファイルマップフォルダ", nullptr);
  }
  void TearDown() override {
    ReleaseSurface(a);
    ReleaseSurface(b);
    SetCurrentDirectoryA(ExeFolder().c_str());
    RemoveFolderTree(folder);
  }
  std::string folder;
  Surface a{};
  Surface b{};
};

ULONGLONG FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

TEST_F(SurfaceTest, TallImageSurfaceOnARealMapping) {
  ASSERT_EQ(CreateSurface(a, "TallSnap_glBufDC", 0, 506, 4006, 32), 1);
  EXPECT_EQ(a.width, 506);
  EXPECT_EQ(a.height, 4006);
  EXPECT_EQ(a.dibBytes, 8108184);
  EXPECT_EQ(FileSize(folder + "\\ファイルマップフォルダ\\TallSnap_glBufDC0.txt"), 8109144u);

  // A new surface is black through and through, spare bytes included.
  const auto* bytes = static_cast<const unsigned char*>(a.view);
  size_t nonzero = 0;
  for (size_t i = 0; i < 8109144u; ++i) nonzero += bytes[i] != 0;
  EXPECT_EQ(nonzero, 0u);

  // What GDI draws is what the view holds, bottom-up.
  SetPixel(a.memDC, 0, 0, RGB(1, 2, 3));
  SetPixel(a.memDC, 5, 4005, RGB(200, 100, 50));
  GdiFlush();
  EXPECT_EQ(*SurfacePixel(a, 0, 0), 0x00010203u);
  EXPECT_EQ(*reinterpret_cast<const uint32_t*>(bytes + 4u * 506 * 4005), 0x00010203u);
  EXPECT_EQ(*reinterpret_cast<const uint32_t*>(bytes + 4 * 5), 0x00C86432u);
  // And what is written through the view is what GDI reads.
  *SurfacePixel(a, 7, 9) = 0x00112233;
  EXPECT_EQ(GetPixel(a.memDC, 7, 9), RGB(0x11, 0x22, 0x33));

  // The mapping object carries the surface's name.
  HANDLE named = OpenFileMappingA(FILE_MAP_READ, FALSE, "TallSnap_glBufDC0");
  EXPECT_NE(named, nullptr);
  if (named != nullptr) CloseHandle(named);
}

TEST_F(SurfaceTest, CreateTwiceReleaseTwice) {
  ASSERT_EQ(CreateSurface(a, "TallSnap_glSmallBufDC", 0, 20, 10, 32), 1);
  const Surface first = a;
  *SurfacePixel(a, 1, 1) = 0x00ABCDEF;
  EXPECT_EQ(CreateSurface(a, "TallSnap_glSmallBufDC", 0, 40, 40, 32), 0);
  EXPECT_EQ(std::memcmp(&a, &first, sizeof a), 0);
  EXPECT_EQ(*SurfacePixel(a, 1, 1), 0x00ABCDEFu);

  EXPECT_EQ(ReleaseSurface(a), 1);
  EXPECT_EQ(a.memDC, nullptr);
  EXPECT_EQ(a.view, nullptr);
  EXPECT_EQ(a.mapping, nullptr);
  EXPECT_EQ(a.file, nullptr);
  EXPECT_EQ(ReleaseSurface(a), 0);
  EXPECT_EQ(ReleaseSurface(b), 0);  // never created

  // The backing file stays after release and is reused, cleared, by the next creation.
  ASSERT_EQ(CreateSurface(a, "TallSnap_glSmallBufDC", 0, 20, 10, 32), 1);
  EXPECT_EQ(*SurfacePixel(a, 1, 1), 0u);
}

TEST_F(SurfaceTest, FailedCreationLeavesAnEmptyRecordAndSaysSo) {
  DialogAnswerer answerer;
  RemoveDirectoryA("ファイルマップフォルダ");  // no backing file can be made
  EXPECT_EQ(CreateSurface(a, "TallSnap_glBufDC", 0, 100, 100, 32), 0);
  EXPECT_EQ(a.memDC, nullptr);
  EXPECT_EQ(a.view, nullptr);
  EXPECT_EQ(a.file, nullptr);
  EXPECT_EQ(CreateSurface(b, "TallSnap_glBufDC", 0, 0, 100, 32), 0);  // no such size
  EXPECT_EQ(b.memDC, nullptr);
  ASSERT_TRUE(answerer.WaitForCount(2, 5000));
  for (const SeenDialog& d : answerer.Seen()) {
    EXPECT_EQ(d.caption, "<(_ _)>");
    EXPECT_EQ(d.text, "メモリが不足しています。\r\n");
  }

  CreateDirectoryA("ファイルマップフォルダ", nullptr);
  EXPECT_EQ(CreateSurface(a, "TallSnap_glBufDC", 0, 100, 100, 32), 1);
}

TEST_F(SurfaceTest, ASecondCopysSameNameNeverSharesPixels) {
  ASSERT_EQ(CreateSurface(a, "TallSnap_glBufDC", 0, 30, 30, 32), 1);
  // Another working folder, as a second running copy started elsewhere would have.
  const std::string other = MakeTempFolder();
  SetCurrentDirectoryA(other.c_str());
  CreateDirectoryA("ファイルマップフォルダ", nullptr);
  ASSERT_EQ(CreateSurface(b, "TallSnap_glBufDC", 0, 30, 30, 32), 1);
  *SurfacePixel(b, 3, 3) = 0x00FFFFFF;
  EXPECT_EQ(*SurfacePixel(a, 3, 3), 0u);
  *SurfacePixel(a, 4, 4) = 0x00123456;
  EXPECT_EQ(*SurfacePixel(b, 4, 4), 0u);
  ReleaseSurface(b);
  SetCurrentDirectoryA(folder.c_str());
  RemoveFolderTree(other);
}
