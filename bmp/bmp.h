// BMP records describing a decoded picture, and the writer of 32-bit BMP files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <span>

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

// Why a write failed; Ok when it did not.
enum class WriteStatus {
  Ok,
  BadPicture,        // the pixel buffer does not match the size the headers announce
  NoName,            // the name is empty or names no file
  IsFolder,          // a folder has that name
  NoFolder,          // the folder it would go into does not exist
  PermissionDenied,  // the folder or the old file may not be written
  ReadOnly,          // the file system is mounted read-only
  NoSpace,           // no space left on the device (or over the quota)
  NameTooLong,       // the name is longer than the file system allows
  WriteError,        // any other failure while writing or replacing
};

// A short phrase in plain words, e.g. "no space left on the device".
const char* Describe(WriteStatus status);

// Fills `info`'s header for a Width × Height picture (32 bits per pixel, one
// plane, biSizeImage = Width × Height × 4); the other fields keep their values.
void FillInfoHeader(BITMAPINFO& info, std::int32_t width, std::int32_t height);

// Fills `file_header` for the picture `info` describes: the "BM" type, the
// pixels right after the 58 header bytes, the file's whole size.
void FillFileHeader(BITMAPFILEHEADER& file_header, const BITMAPINFO& info);

// Fills `file_header` (FillFileHeader) and writes the BMP file: headers, then `pixels` in index
// order (each 0xFF000000 | R << 16 | G << 8 | B, written as B, G, R, 0xFF). The
// file is written under a temporary name in the target's folder and renamed
// over `path` only when complete, so a failure never leaves a partial file
// under `path` nor disturbs a file already there. A replaced file's permission
// bits and group carry over to the new one.
WriteStatus WriteBmp(const std::filesystem::path& path, BITMAPFILEHEADER& file_header,
                     const BITMAPINFO& info, std::span<const std::uint32_t> pixels);

// Writes a file the way WriteBmp does, for any format: `write` fills the new
// file (opened for binary writing) and returns false on a failed write. The
// file replaces `path` only when `write` succeeded and it was closed without
// error.
WriteStatus ReplaceFile(const std::filesystem::path& path,
                        const std::function<bool(std::FILE*)>& write);

}  // namespace bmp
