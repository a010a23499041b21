// BMP records describing a decoded picture, and the writer of 32-bit BMP files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "files/files.h"

namespace bmp {

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

// File header (14) + info header (40) + one colour-table entry (4).
inline constexpr std::size_t kBmpHeadersSize = 58;

// The 58 header bytes exactly as they stand at the start of the file.
std::array<std::uint8_t, kBmpHeadersSize> SerializeBmpHeaders(const BITMAPFILEHEADER& file_header,
                                                              const BITMAPINFO& info);

// Why a write failed (files::Status, shared by every writer); Ok when it did not.
using WriteStatus = files::Status;

// Fills `info`'s header for a Width × Height picture (32 bits per pixel, one
// plane, biSizeImage = Width × Height × 4); the other fields keep their values.
void FillInfoHeader(BITMAPINFO& info, std::int32_t width, std::int32_t height);

// Fills `file_header` for the picture `info` describes: the "BM" type, the
// pixels right after the 58 header bytes, the file's whole size.
void FillFileHeader(BITMAPFILEHEADER& file_header, const BITMAPINFO& info);

// Fills `file_header` (FillFileHeader) and writes the BMP file: headers, then
// `pixels` in index order (each 0xFF000000 | R << 16 | G << 8 | B, written as
// B, G, R, 0xFF), through files::WriteFile: complete before it takes the name
// `path`, and replacing a file there only with Replace::Allowed. BadContent
// when the pixels do not match the headers.
WriteStatus WriteBmp(const std::filesystem::path& path, BITMAPFILEHEADER& file_header,
                     const BITMAPINFO& info, std::span<const std::uint32_t> pixels,
                     files::Replace replace = files::Replace::Allowed);

}  // namespace bmp
