#include "shell/win32/tray_icon.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace veska {
namespace {

// Top-down BGRA rows of the bitmap, alpha kept for a 32-bit DIB section.
bool ReadPixels(HBITMAP bitmap, int* width, int* height,
                std::vector<uint32_t>* pixels) {
  DIBSECTION dib{};
  if (GetObjectW(bitmap, sizeof(dib), &dib) != sizeof(dib)) return false;
  *width = dib.dsBm.bmWidth;
  *height = dib.dsBm.bmHeight;
  if (*width <= 0 || *height <= 0 || *width > 4096 || *height > 4096) {
    return false;
  }
  pixels->assign(static_cast<size_t>(*width) * *height, 0);
  if (dib.dsBm.bmBitsPixel == 32 && dib.dsBm.bmBits != nullptr) {
    // Read directly: a conversion through the system may drop the alpha.
    const bool bottom_up = dib.dsBmih.biHeight > 0;
    const auto* bits = static_cast<const uint8_t*>(dib.dsBm.bmBits);
    for (int y = 0; y < *height; ++y) {
      const int row = bottom_up ? *height - 1 - y : y;
      std::memcpy(&(*pixels)[static_cast<size_t>(y) * *width],
                  bits + static_cast<size_t>(row) * dib.dsBm.bmWidthBytes,
                  static_cast<size_t>(*width) * 4);
    }
    return true;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = *width;
  info.bmiHeader.biHeight = -*height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, bitmap, 0, *height, pixels->data(), &info,
                             DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != *height) return false;
  for (uint32_t& p : *pixels) p &= 0x00FFFFFFu;  // no alpha at other depths
  return true;
}

}  // namespace

HICON LoadTrayIcon(const std::wstring& path) {
  HBITMAP bitmap =
      static_cast<HBITMAP>(LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                                      LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (bitmap == nullptr) return nullptr;
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  const bool read = ReadPixels(bitmap, &width, &height, &pixels);
  DeleteObject(bitmap);
  if (!read) return nullptr;

  bool has_alpha = false;
  for (uint32_t p : pixels) has_alpha = has_alpha || (p >> 24) != 0;
  // Mask rows are padded to 16 bits; a set bit is a transparent pixel.
  const int mask_stride = ((width + 15) / 16) * 2;
  std::vector<uint8_t> mask(static_cast<size_t>(mask_stride) * height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t& p = pixels[static_cast<size_t>(y) * width + x];
      if (!has_alpha) {
        p |= 0xFF000000u;
      } else if ((p >> 24) == 0) {
        mask[static_cast<size_t>(y) * mask_stride + x / 8] |=
            static_cast<uint8_t>(0x80 >> (x % 8));
        p = 0;
      }
    }
  }

  BITMAPV5HEADER header{};
  header.bV5Size = sizeof(header);
  header.bV5Width = width;
  header.bV5Height = -height;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP color =
      CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                       DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (color == nullptr) return nullptr;
  std::memcpy(bits, pixels.data(), pixels.size() * 4);
  HBITMAP mask_bitmap = CreateBitmap(width, height, 1, 1, mask.data());
  ICONINFO icon_info{};
  icon_info.fIcon = TRUE;
  icon_info.hbmMask = mask_bitmap;
  icon_info.hbmColor = color;
  HICON icon =
      mask_bitmap != nullptr ? CreateIconIndirect(&icon_info) : nullptr;
  DeleteObject(color);
  if (mask_bitmap != nullptr) DeleteObject(mask_bitmap);
  return icon;
}

}  // namespace veska
