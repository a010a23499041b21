// BMP records describing a decoded picture, and the writer of 32-bit BMP files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "pdt/mdl_pdt.h"

// The records keep the classic field names; they are serialized field by field,
// never copied as raw structs.
struct BITMAPFILEHEADER {
  std::uint16_t bfType = 0;
  std::uint32_t bfSize = 0;
  std::uint16_t bfReserved1 = 0;
  std::uint16_t bfReserved2 = 0;
  std::uint32_t bfOffBits = 0;
};

struct BITMAPINFOHEADER {
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};

struct RGBQUAD {
  std::uint8_t rgbBlue = 0;
  std::uint8_t rgbGreen = 0;
  std::uint8_t rgbRed = 0;
  std::uint8_t rgbReserved = 0;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

// A picture as the viewer holds it. A Header.FileSize above 0 means a picture
// is held. Everything starts zeroed or empty.
struct LoadedPicture {
  mdl_pdt::PdtHeader Header;
  BITMAPFILEHEADER FileHeader;
  BITMAPINFO Info;
  mdl_pdt::PixelBuffer Pixels;
};

// File header (14) + info header (40) + one colour-table entry (4).
inline constexpr std::size_t kBmpHeadersSize = 58;

// The 58 header bytes exactly as they stand at the start of the file.
std::array<std::uint8_t, kBmpHeadersSize> SerializeBmpHeaders(const BITMAPFILEHEADER& file_header,
                                                              const BITMAPINFO& info);

// Fills Info's header from the picture's Width and Height (32 bits per pixel,
// one plane, biSizeImage = Width × Height × 4); the other fields keep their values.
void FillInfoHeader(LoadedPicture& picture);

// Fills FileHeader and writes the BMP file: headers, then the pixel buffer in
// index order. The file is written under a temporary name in the target's folder
// and renamed over `path` only when complete, so a failure never leaves a
// partial file under `path` nor disturbs a file already there. False on failure
// (including a pixel buffer that does not match Info).
bool WriteBmp(const std::filesystem::path& path, LoadedPicture& picture);
