// The tray icon's 32-bit BMP reader: any bytes are refused, or give a null
// image, or an image of the size the header states.
#include <cstdint>
#include <cstdlib>

#include "shell/qt/tray_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<QImage> image = veska::DecodeRgb32Bmp(data, size);
  if (!image || image->isNull()) return 0;
  const auto width = static_cast<int32_t>(
      data[18] | data[19] << 8 | data[20] << 16 | uint32_t(data[21]) << 24);
  if (image->width() != width) std::abort();
  return 0;
}
