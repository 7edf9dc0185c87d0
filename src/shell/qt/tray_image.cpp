#include "shell/qt/tray_image.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace veska {
namespace {

// Tray images are tiny; anything far larger is not one worth reading whole.
constexpr uintmax_t kMaxFileBytes = 64u << 20;
constexpr int64_t kMaxSide = 16384;

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::error_code error;
  const std::filesystem::path file(path);
  if (!std::filesystem::is_regular_file(file, error)) return false;
  const uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size > kMaxFileBytes) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bytes->resize(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(bytes->data()),
          static_cast<std::streamsize>(bytes->size()));
  return static_cast<size_t>(in.gcount()) == bytes->size();
}

bool AllAlphaZero(const QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) != 0) return false;
    }
  }
  return true;
}

}  // namespace

std::optional<QImage> DecodeRgb32Bmp(const uint8_t* data, size_t size) {
  constexpr size_t kFileHeader = 14;
  constexpr size_t kInfoHeader = 40;
  if (data == nullptr || size < kFileHeader + kInfoHeader) return std::nullopt;
  if (data[0] != 'B' || data[1] != 'M') return std::nullopt;
  const uint32_t header_size = ReadU32(data + 14);
  const uint16_t bits = ReadU16(data + 28);
  const uint32_t compression = ReadU32(data + 30);
  if (header_size < kInfoHeader || bits != 32 || compression != 0) {
    return std::nullopt;
  }

  const int64_t width = static_cast<int32_t>(ReadU32(data + 18));
  const int64_t signed_height = static_cast<int32_t>(ReadU32(data + 22));
  const bool top_down = signed_height < 0;
  const int64_t height = top_down ? -signed_height : signed_height;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
    return QImage();
  }
  const uint64_t offset = ReadU32(data + 10);
  const uint64_t stride = static_cast<uint64_t>(width) * 4;
  if (offset > size || stride * static_cast<uint64_t>(height) > size - offset) {
    return QImage();
  }

  QImage image(static_cast<int>(width), static_cast<int>(height),
               QImage::Format_ARGB32);
  if (image.isNull()) return QImage();
  bool any_alpha = false;
  for (int64_t row = 0; row < height; ++row) {
    const uint8_t* src = data + offset + static_cast<uint64_t>(row) * stride;
    const int y = static_cast<int>(top_down ? row : height - 1 - row);
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int64_t x = 0; x < width; ++x, src += 4) {
      dst[x] = qRgba(src[2], src[1], src[0], src[3]);
      any_alpha = any_alpha || src[3] != 0;
    }
  }
  // An unused alpha channel is all zeros; read literally it would make the
  // whole icon invisible.
  if (!any_alpha) return image.convertToFormat(QImage::Format_RGB32);
  return image;
}

QImage LoadTrayImage(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes) || bytes.empty()) return QImage();
  if (std::optional<QImage> bmp = DecodeRgb32Bmp(bytes.data(), bytes.size())) {
    return *bmp;
  }
  QImage image;
  if (bytes.size() > static_cast<size_t>(INT_MAX) ||
      !image.loadFromData(bytes.data(), static_cast<int>(bytes.size()))) {
    return QImage();
  }
  // As above, an all-zero alpha channel is an unused one. Only straight
  // (not premultiplied) pixels still hold their colour to show.
  if (image.format() == QImage::Format_ARGB32 && AllAlphaZero(image)) {
    image = image.convertToFormat(QImage::Format_RGB32);
  }
  return image;
}

}  // namespace veska
