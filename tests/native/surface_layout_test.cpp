#include "state/surface_layout.h"

#include <gtest/gtest.h>

TEST(SurfaceLayout, SizesOfTheTallImage) {
  EXPECT_EQ(SurfaceMappingBytes(506, 4006), 8109144);
  EXPECT_EQ(SurfaceDibBytes(506, 4006), 8108184);
  EXPECT_TRUE(SurfaceSizeValid(506, 4006));
  EXPECT_FALSE(SurfaceSizeValid(0, 10));
  EXPECT_FALSE(SurfaceSizeValid(10, -1));
  EXPECT_FALSE(SurfaceSizeValid(30000, 30000));  // beyond a signed 32-bit byte count
  EXPECT_TRUE(SurfaceSizeValid(23000, 23000));
}

TEST(SurfaceLayout, RowsAreBottomUp) {
  EXPECT_EQ(PixelOffset(506, 4006, 0, 0), 4u * 506 * 4005);
  EXPECT_EQ(PixelOffset(506, 4006, 0, 4005), 0u);
  EXPECT_EQ(PixelOffset(506, 4006, 505, 4005), 4u * 505);
  EXPECT_EQ(PixelOffset(10, 3, 2, 1), 4u * (10 * 1 + 2));
}

TEST(SurfaceLayout, Names) {
  EXPECT_EQ(SurfaceFileName("TallSnap_glBufDC", 0), "ファイルマップフォルダ\\TallSnap_glBufDC0.txt");
  EXPECT_EQ(SurfaceMappingName("TallSnap_glBufDC", 0), "TallSnap_glBufDC0");
  EXPECT_EQ(SurfaceFileName(std::string(400, 'n'), 0).size(), kPathBufBytes - 1);
}
