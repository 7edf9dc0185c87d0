// Reading the tray icon's image file.
#ifndef VESKA_SHELL_QT_TRAY_IMAGE_H_
#define VESKA_SHELL_QT_TRAY_IMAGE_H_

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace veska {

// The image in `path`, transparent where a 32-bit image has alpha 0; a null
// image when the file is missing or cannot be read as an image. A 32-bit
// image whose alpha bytes are all 0 carries no alpha at all and is opaque.
QImage LoadTrayImage(const std::string& path);

// Decodes an uncompressed (BI_RGB) 32-bit BMP file image, keeping its alpha
// bytes, which the toolkit's reader drops for this kind of file. nullopt when
// the bytes are some other kind of image; a null QImage when they are this
// kind but damaged (truncated pixels, absurd sizes).
std::optional<QImage> DecodeRgb32Bmp(const uint8_t* data, size_t size);

}  // namespace veska

#endif  // VESKA_SHELL_QT_TRAY_IMAGE_H_
