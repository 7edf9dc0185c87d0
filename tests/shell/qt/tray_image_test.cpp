#include "shell/qt/tray_image.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "temp_folder.h"

namespace veska {
namespace {

void PutU16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  out[at] = value & 0xFF;
  out[at + 1] = (value >> 8) & 0xFF;
}

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = (value >> (8 * i)) & 0xFF;
}

struct Bgra {
  uint8_t b, g, r, a;
};

// A 32-bit BMP with a 40-byte header; `rows` are given top row first and
// stored bottom-up unless `top_down`.
std::vector<uint8_t> Bmp32(const std::vector<std::vector<Bgra>>& rows,
                           bool top_down = false, uint32_t compression = 0,
                           uint32_t header_size = 40) {
  const uint32_t height = static_cast<uint32_t>(rows.size());
  const uint32_t width = static_cast<uint32_t>(rows[0].size());
  const uint32_t offset = 14 + header_size;
  std::vector<uint8_t> out(offset + width * height * 4, 0);
  out[0] = 'B';
  out[1] = 'M';
  PutU32(out, 2, static_cast<uint32_t>(out.size()));
  PutU32(out, 10, offset);
  PutU32(out, 14, header_size);
  PutU32(out, 18, width);
  PutU32(
      out, 22,
      top_down ? static_cast<uint32_t>(-static_cast<int32_t>(height)) : height);
  PutU16(out, 26, 1);
  PutU16(out, 28, 32);
  PutU32(out, 30, compression);
  PutU32(out, 34, width * height * 4);
  if (header_size >= 108) {  // channel masks of the larger headers
    PutU32(out, 54, 0x00FF0000);
    PutU32(out, 58, 0x0000FF00);
    PutU32(out, 62, 0x000000FF);
    PutU32(out, 66, 0xFF000000);
    PutU32(out, 70, 0x73524742);  // sRGB
  }
  for (uint32_t i = 0; i < height; ++i) {
    const auto& row = rows[top_down ? i : height - 1 - i];
    size_t at = offset + i * width * 4;
    for (const Bgra& p : row) {
      out[at++] = p.b;
      out[at++] = p.g;
      out[at++] = p.r;
      out[at++] = p.a;
    }
  }
  return out;
}

class TrayImageTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& data) {
    const std::filesystem::path path = folder_.path() / name;
    testing::WriteFile(path, data);
    return path.string();
  }

  testing::TempFolder folder_;
};

const Bgra kRed{0, 0, 255, 255};
const Bgra kGreen{0, 255, 0, 255};
const Bgra kBlue{255, 0, 0, 255};
const Bgra kClear{10, 20, 30, 0};

TEST_F(TrayImageTest, PlainRgb32BmpKeepsItsAlphaAndRowOrder) {
  for (bool top_down : {false, true}) {
    const QImage image = LoadTrayImage(
        Write("alpha.bmp", Bmp32({{kRed, kClear}, {kGreen, kBlue}}, top_down)));
    ASSERT_FALSE(image.isNull());
    ASSERT_EQ(image.size(), QSize(2, 2));
    EXPECT_TRUE(image.hasAlphaChannel());
    EXPECT_EQ(image.pixel(0, 0), qRgba(255, 0, 0, 255)) << top_down;
    EXPECT_EQ(qAlpha(image.pixel(1, 0)), 0) << top_down;
    EXPECT_EQ(image.pixel(0, 1), qRgba(0, 255, 0, 255)) << top_down;
    EXPECT_EQ(image.pixel(1, 1), qRgba(0, 0, 255, 255)) << top_down;
  }
}

TEST_F(TrayImageTest, AllZeroAlphaMeansOpaqueNotInvisible) {
  const Bgra dark_red{0, 0, 128, 0};
  const QImage image =
      LoadTrayImage(Write("noalpha.bmp", Bmp32({{dark_red, kClear}})));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.pixel(0, 0), qRgb(128, 0, 0));
  EXPECT_EQ(image.pixel(1, 0), qRgb(30, 20, 10));
}

TEST_F(TrayImageTest, AlphaFromChannelMaskHeaderIsKept) {
  // A 108-byte header with BI_BITFIELDS and an alpha mask: the toolkit's
  // reader handles this kind itself.
  const std::vector<uint8_t> bytes =
      Bmp32({{kRed, kClear}}, false, /*BI_BITFIELDS*/ 3, 108);
  EXPECT_FALSE(DecodeRgb32Bmp(bytes.data(), bytes.size()).has_value());
  const QImage image = LoadTrayImage(Write("v4.bmp", bytes));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 255);
  EXPECT_EQ(qRed(image.pixel(0, 0)), 255);
  EXPECT_EQ(qAlpha(image.pixel(1, 0)), 0);
}

TEST_F(TrayImageTest, OtherFormatsGoThroughTheToolkitReader) {
  QImage source(3, 2, QImage::Format_RGB888);
  source.fill(qRgb(1, 2, 3));
  QByteArray encoded;
  QBuffer buffer(&encoded);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(source.save(&buffer, "BMP"));  // 24-bit
  const std::vector<uint8_t> bytes(encoded.begin(), encoded.end());
  EXPECT_FALSE(DecodeRgb32Bmp(bytes.data(), bytes.size()).has_value());
  const QImage image = LoadTrayImage(Write("rgb24.bmp", bytes));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(3, 2));
  EXPECT_EQ(image.pixel(2, 1), qRgb(1, 2, 3));
}

TEST_F(TrayImageTest, DamagedRgb32BmpIsRefusedWithoutReadingPastTheData) {
  const std::vector<uint8_t> good = Bmp32({{kRed, kGreen}, {kBlue, kRed}});
  auto expect_refused = [](std::vector<uint8_t> bytes, const char* what) {
    const std::optional<QImage> result =
        DecodeRgb32Bmp(bytes.data(), bytes.size());
    ASSERT_TRUE(result.has_value()) << what;
    EXPECT_TRUE(result->isNull()) << what;
  };
  auto with_u32 = [&good](size_t at, uint32_t value) {
    std::vector<uint8_t> bytes = good;
    PutU32(bytes, at, value);
    return bytes;
  };
  expect_refused({good.begin(), good.end() - 1}, "one pixel byte short");
  expect_refused(with_u32(18, 0x7FFFFFFF), "width far beyond the data");
  expect_refused(with_u32(18, 3), "3 x 2 needs 24 bytes, 16 are there");
  expect_refused(with_u32(10, 0xFFFFFFF0), "pixels beyond the end");
  expect_refused(with_u32(22, 0), "no rows");
  expect_refused(with_u32(22, 0x80000000), "height that cannot be negated");
  EXPECT_TRUE(LoadTrayImage(Write("short.bmp", {good.begin(), good.end() - 1}))
                  .isNull());
  // Too short for a header at all: not this kind of file.
  EXPECT_FALSE(DecodeRgb32Bmp(good.data(), 20).has_value());
  EXPECT_FALSE(DecodeRgb32Bmp(nullptr, 0).has_value());
}

TEST_F(TrayImageTest, MissingOrUnreadableFilesGiveNoImage) {
  EXPECT_TRUE(LoadTrayImage("/nonexistent/VESKA.bmp").isNull());
  EXPECT_TRUE(LoadTrayImage("").isNull());
  EXPECT_TRUE(LoadTrayImage(::testing::TempDir()).isNull());  // a folder
  EXPECT_TRUE(LoadTrayImage(Write("empty.bmp", {})).isNull());
  EXPECT_TRUE(
      LoadTrayImage(Write("text.bmp", {'h', 'e', 'l', 'l', 'o'})).isNull());
  std::vector<uint8_t> header_only(54, 0);
  header_only[0] = 'B';
  header_only[1] = 'M';
  EXPECT_TRUE(LoadTrayImage(Write("header.bmp", header_only)).isNull());
}

}  // namespace
}  // namespace veska
