#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "converters/bmp_image.h"
#include "converters/kelvo_core.h"
#include "shared/bmp.h"

namespace {

// A width x height image whose every pixel differs from its neighbours.
Image Pattern(uint32_t width, uint32_t height) {
  Image image;
  image.width = width;
  image.height = height;
  image.bgr.resize(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < image.bgr.size(); ++i) image.bgr[i] = static_cast<uint8_t>(i * 7 + i / 3);
  return image;
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

bool Parses(const std::vector<uint8_t>& bytes) {
  Image image;
  std::string error;
  return ParseBmp(bytes.data(), bytes.size(), image, error);
}

}  // namespace

TEST(Bmp24Layout, HeaderAndPaddedBottomUpRows) {
  // A 32-bit bottom-up source as a surface holds it: memory row 0 is the bottom row.
  const uint32_t src[] = {0x11223344u};
  const auto file = Bmp24FileBytes(reinterpret_cast<const uint8_t*>(src), 4, 4, 1, 1, 0);
  ASSERT_EQ(file.size(), 58u);
  const uint8_t header[] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0};
  EXPECT_EQ(std::memcmp(file.data(), header, sizeof header), 0);
  for (size_t i = sizeof header; i < 54; ++i) EXPECT_EQ(file[i], 0) << i;
  EXPECT_EQ(file[54], 0x44);
  EXPECT_EQ(file[55], 0x33);
  EXPECT_EQ(file[56], 0x22);
  EXPECT_EQ(file[57], 0);  // pad

  for (uint32_t w = 4; w <= 7; ++w) {
    EXPECT_EQ(Bmp24RowBytes(w), 3 * w + (4 - 3 * w % 4) % 4);
    const Image image = Pattern(w, 3);
    const auto bytes = EncodeBmp(image);
    EXPECT_EQ(bytes.size(), 54 + 3 * Bmp24RowBytes(w));
    // The file's first row is the image's bottom row.
    EXPECT_EQ(std::memcmp(bytes.data() + 54, image.bgr.data() + 2 * 3 * w, 3 * w), 0);
  }
}

TEST(ParseBmp, RoundTripsEveryLayoutWeAccept) {
  for (uint32_t w : {1u, 4u, 5u, 6u, 7u, 33u}) {
    const Image source = Pattern(w, 5);
    const auto bytes = EncodeBmp(source);
    Image back;
    std::string error;
    ASSERT_TRUE(ParseBmp(bytes.data(), bytes.size(), back, error)) << error;
    EXPECT_EQ(back.width, w);
    EXPECT_EQ(back.height, 5u);
    EXPECT_EQ(back.bgr, source.bgr);
  }
  // 32-bit top-down, as other programs write them.
  const Image source = Pattern(3, 2);
  std::vector<uint8_t> bytes(54 + 3 * 2 * 4, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  Put32(bytes, 10, 54);
  Put32(bytes, 14, 40);
  Put32(bytes, 18, 3);
  Put32(bytes, 22, static_cast<uint32_t>(-2));
  bytes[26] = 1;
  bytes[28] = 32;
  for (size_t p = 0; p < 6; ++p) std::memcpy(&bytes[54 + 4 * p], &source.bgr[3 * p], 3);
  Image back;
  std::string error;
  ASSERT_TRUE(ParseBmp(bytes.data(), bytes.size(), back, error)) << error;
  EXPECT_EQ(back.bgr, source.bgr);
}

TEST(ParseBmp, RefusesWhatItCannotReadWhole) {
  const std::vector<uint8_t> good = EncodeBmp(Pattern(5, 4));
  ASSERT_TRUE(Parses(good));
  auto with = [&](size_t at, uint32_t v, int bytes = 4) {
    std::vector<uint8_t> b = good;
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return b;
  };
  EXPECT_FALSE(Parses({}));
  EXPECT_FALSE(Parses(std::vector<uint8_t>(good.begin(), good.begin() + 30)));
  EXPECT_FALSE(Parses(std::vector<uint8_t>(good.begin(), good.end() - 1)));  // truncated pixels
  EXPECT_FALSE(Parses(with(0, 'X', 1)));                                     // signature
  EXPECT_FALSE(Parses(with(14, 12)));                                        // old core header
  EXPECT_FALSE(Parses(with(14, 0xFFFFFFFF)));                                // header larger than the file
  EXPECT_FALSE(Parses(with(26, 2, 2)));                                      // planes
  EXPECT_FALSE(Parses(with(28, 8, 2)));                                      // palette images
  EXPECT_FALSE(Parses(with(28, 16, 2)));
  EXPECT_FALSE(Parses(with(30, 1)));                                         // RLE
  EXPECT_FALSE(Parses(with(30, 3)));                                         // bit fields on 24 bits
  EXPECT_FALSE(Parses(with(18, 0)));                                         // no width
  EXPECT_FALSE(Parses(with(18, static_cast<uint32_t>(-5))));
  EXPECT_FALSE(Parses(with(22, 0)));
  EXPECT_FALSE(Parses(with(22, 0x80000000u)));                               // -2^31 rows
  EXPECT_FALSE(Parses(with(18, 0x7FFFFFFF)));                                // size overflows
  EXPECT_FALSE(Parses(with(22, 0x7FFFFFFF)));
  EXPECT_FALSE(Parses(with(10, 20)));                                        // pixels inside the header
  EXPECT_FALSE(Parses(with(10, 0xFFFFFFF0u)));                               // pixels past the end
}

TEST(ParseBmp, RandomDamageNeverReadsOutOfBounds) {
  const std::vector<uint8_t> good = EncodeBmp(Pattern(9, 7));
  std::mt19937 random(12345);
  int accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> b = good;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) b[random() % 54] = static_cast<uint8_t>(random());
    b.resize(random() % (b.size() + 1));
    Image image;
    std::string error;
    if (ParseBmp(b.data(), b.size(), image, error)) {
      ++accepted;
      ASSERT_EQ(image.bgr.size(), static_cast<size_t>(image.width) * image.height * 3);
    }
  }
  EXPECT_LT(accepted, 20000);
}

TEST(KelvoCore, FormatsFolderAndQuality) {
  EXPECT_EQ(FormatForPath("C:\\out\\a.jpg"), OutputFormat::Jpeg);
  EXPECT_EQ(FormatForPath("C:\\out\\a.JPEG"), OutputFormat::Jpeg);
  EXPECT_EQ(FormatForPath("a.Png"), OutputFormat::Png);
  EXPECT_EQ(FormatForPath("clpbd.bmp"), OutputFormat::Bmp);
  EXPECT_EQ(FormatForPath("a.gif"), OutputFormat::Unknown);
  EXPECT_EQ(FormatForPath("C:\\x.png\\noext"), OutputFormat::Unknown);
  EXPECT_EQ(FormatForPath("xjpg"), OutputFormat::Unknown);
  // ソ ends in the byte of "\": it is part of the name, not a separator.
  EXPECT_EQ(FolderPart("C:\\ソ\\a.png"), "C:\\ソ\\");
  EXPECT_EQ(FolderPart("C:\\dirソ.png"), "C:\\");
  EXPECT_EQ(FolderPart("a.png"), "");

  EXPECT_EQ(QualityFromText("100"), 100);
  EXPECT_EQ(QualityFromText("80"), 80);
  EXPECT_EQ(QualityFromText("75\r\n"), 75);
  EXPECT_EQ(QualityFromText("1"), 1);
  EXPECT_EQ(QualityFromText("0"), 100);
  EXPECT_EQ(QualityFromText("101"), 100);
  EXPECT_EQ(QualityFromText("99999"), 100);
  EXPECT_EQ(QualityFromText(""), 100);
  EXPECT_EQ(QualityFromText("abc"), 100);
}

TEST(KelvoCore, SaveRequestItemsInTheirOrder) {
  const uint64_t owner = 0x2004C;
  EXPECT_EQ(ClassifyCopyData(1, owner, 40), CopyItem::Filter);
  EXPECT_EQ(ClassifyCopyData(2, owner, 6), CopyItem::DefaultName);
  EXPECT_EQ(ClassifyCopyData(3, owner, 6), CopyItem::Folder);
  EXPECT_EQ(ClassifyCopyData(0, owner, 6), CopyItem::Title);
  EXPECT_EQ(ClassifyCopyData(owner, owner, 4), CopyItem::Owner);
  EXPECT_EQ(ClassifyCopyData(5, owner, 3), CopyItem::Start);
  EXPECT_EQ(ClassifyCopyData(owner, owner, 260), CopyItem::OutputPath);
  EXPECT_EQ(ClassifyCopyData(owner, owner, 300), CopyItem::Unknown);
  EXPECT_EQ(ClassifyCopyData(9, owner, 3), CopyItem::Unknown);

  const std::string filter("JPG(*.jpg)\0*.jpg\0すべてのファイル(*)\0*\0\0", 40);
  const uint32_t ownerValue = static_cast<uint32_t>(owner);
  SaveRequest r;
  EXPECT_EQ(AcceptSaveItem(r, CopyItem::Filter, filter.data(), filter.size()), SaveStep::Stored);
  EXPECT_EQ(AcceptSaveItem(r, CopyItem::DefaultName, "shot\0\0", 6), SaveStep::Stored);
  EXPECT_EQ(AcceptSaveItem(r, CopyItem::Folder, "C:\\a\0\0", 6), SaveStep::Stored);
  EXPECT_EQ(AcceptSaveItem(r, CopyItem::Title, "title", 5), SaveStep::Stored);  // no zero byte: taken whole
  EXPECT_EQ(AcceptSaveItem(r, CopyItem::Owner, &ownerValue, 4), SaveStep::Stored);
  EXPECT_EQ(AcceptSaveItem(r, CopyItem::Start, "1\0\0", 3), SaveStep::Start);
  EXPECT_EQ(r.filter.substr(0, 40), filter);
  EXPECT_EQ(r.defaultName, "shot");
  EXPECT_EQ(r.folder, "C:\\a");
  EXPECT_EQ(r.title, "title");
  EXPECT_EQ(r.owner, ownerValue);

  // Out of order: refused, and the request starts over.
  SaveRequest s;
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::DefaultName, "x", 1), SaveStep::Refused);
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::Filter, filter.data(), filter.size()), SaveStep::Stored);
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::Folder, "C:\\a", 4), SaveStep::Refused);
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::DefaultName, "x", 1), SaveStep::Refused);
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::Start, "1", 2), SaveStep::Refused);
  // Malformed items: an owner of the wrong size, a name longer than a path.
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::Filter, filter.data(), filter.size()), SaveStep::Stored);
  const std::string longName(300, 'n');
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::DefaultName, longName.data(), longName.size()), SaveStep::Refused);
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::Filter, filter.data(), filter.size()), SaveStep::Stored);
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::DefaultName, "", 0), SaveStep::Stored);
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::Folder, "", 0), SaveStep::Stored);
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::Title, "", 0), SaveStep::Stored);
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::Owner, "abcdef", 6), SaveStep::Refused);
  // A filter block without its final zeros gets them.
  EXPECT_EQ(AcceptSaveItem(s, CopyItem::Filter, "A\0*", 3), SaveStep::Stored);
  EXPECT_EQ(s.filter, std::string("A\0*\0\0", 5));
}
