#include "png/png_writer.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <vector>

#include <png.h>
#include <zlib.h>

namespace png {
namespace {

// libpng reports errors by jumping back to the encoder; nothing is printed.
[[noreturn]] void OnError(png_structp png, png_const_charp /*message*/) {
  png_longjmp(png, 1);
}
void OnWarning(png_structp /*png*/, png_const_charp /*message*/) {}

struct WriteStruct {
  png_structp png = nullptr;
  png_infop info = nullptr;
  WriteStruct() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (png != nullptr) info = png_create_info_struct(png);
  }
  ~WriteStruct() { png_destroy_write_struct(&png, &info); }
  WriteStruct(const WriteStruct&) = delete;
  WriteStruct& operator=(const WriteStruct&) = delete;
};

// Holds only trivial locals, as a longjmp out of libpng skips destructors.
// Rows go out top row first, one at a time through `row`, so no second
// full-size copy of the picture is made.
bool EncodeRows(png_structp png, png_infop info, std::FILE* file, std::uint32_t width,
                std::uint32_t height, const std::uint32_t* pixels, std::uint8_t* row,
                Compression compression) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (compression == Compression::Fast) {
    png_set_compression_level(png, Z_BEST_SPEED);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  }
  png_write_info(png, info);
  for (std::uint32_t y = height; y-- > 0;) {
    const std::uint32_t* src = pixels + std::size_t{y} * width;
    std::uint8_t* out = row;
    for (std::uint32_t x = 0; x < width; ++x, out += 3) {
      const std::uint32_t p = src[x];
      out[0] = static_cast<std::uint8_t>(p >> 16);
      out[1] = static_cast<std::uint8_t>(p >> 8);
      out[2] = static_cast<std::uint8_t>(p);
    }
    png_write_row(png, row);
  }
  png_write_end(png, info);
  return true;
}

}  // namespace

files::Status WritePng(const std::filesystem::path& path, std::int32_t width, std::int32_t height,
                       std::span<const std::uint32_t> pixels, Compression compression,
                       files::Replace replace) {
  if (width < 1 || height < 1) return files::Status::BadContent;
  const auto w = static_cast<std::uint32_t>(width);
  const auto h = static_cast<std::uint32_t>(height);
  if (pixels.size() != std::size_t{w} * h) return files::Status::BadContent;
  std::vector<std::uint8_t> row(std::size_t{w} * 3);
  // The whole of a small file in one write, a large one in few.
  constexpr std::size_t kBufferSize = std::size_t{1} << 16;
  const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
  return files::WriteFile(path, replace, [&](std::FILE* file) {
    if (std::setvbuf(file, buffer.get(), _IOFBF, kBufferSize) != 0) return false;
    WriteStruct writer;
    if (writer.info == nullptr) return false;
    return EncodeRows(writer.png, writer.info, file, w, h, pixels.data(), row.data(), compression);
  });
}

}  // namespace png
