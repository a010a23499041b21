// The entry points the web app's Worker calls: the project's own PDT loader
// and BMP records behind a small C interface, so that JavaScript only moves
// bytes in and out of the module's memory.
//
// A picture object holds one decoded picture at a time and reuses its
// memory for the next, as the viewer's LoadedPicture does.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>
#include <vector>

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

#include "bmp/bmp.h"
#include "pdt/kernel.h"
#include "pdt/mdl_pdt.h"

namespace {

// A picture in either of two layouts, made from the other on request:
// `pixels` as the BMP file holds them (bottom row first, bytes B, G, R, 0xFF)
// and `rgba` as a canvas wants them (top row first, bytes R, G, B, 0xFF: the
// module's memory is little-endian, so these are words 0xFFBBGGRR).
// A picture to be shown is decoded straight into `rgba`, one to be saved
// into `pixels`, so that neither pays for a layout it does not use.
struct WebPicture {
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  mdl_pdt::PixelBuffer rgba;
  bool has_pixels = false;
  bool has_rgba = false;
  mdl_pdt::PdtStatus status = mdl_pdt::PdtStatus::NotPdt10;
  std::array<std::uint8_t, bmp::kBmpHeadersSize> bmp_headers{};
};

bool Held(const WebPicture* p) {
  return p != nullptr && p->status == mdl_pdt::PdtStatus::Ok;
}

// One row from either layout into the other: R and B swap places in every
// pixel, and alpha is 0xFF. Four pixels at a time in one byte shuffle.
void SwapRow(const std::uint32_t* from, std::uint32_t* to, std::size_t width) {
  std::size_t x = 0;
#if defined(__wasm_simd128__)
  const v128_t alpha = wasm_i32x4_splat(static_cast<std::int32_t>(0xFF000000u));
  for (; x + 4 <= width; x += 4) {
    const v128_t v = wasm_v128_load(from + x);
    wasm_v128_store(to + x, wasm_v128_or(wasm_i8x16_shuffle(v, v, 2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8,
                                                            11, 14, 13, 12, 15),
                                         alpha));
  }
#endif
  for (; x < width; ++x) {
    const std::uint32_t v = from[x];
    to[x] = 0xFF000000u | (v & 0x0000FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
  }
}

// The whole picture from either layout into the other: rows in reverse
// order, each swapped (the change is its own inverse).
void SwapPicture(const std::uint32_t* from, std::uint32_t* to, std::size_t width,
                 std::size_t height) {
  for (std::size_t y = 0; y < height; ++y) {
    SwapRow(from + (height - 1 - y) * width, to + y * width, width);
  }
}

// The picture's other layout, made from the one it has the first time it is
// asked for.
void MakeLayout(const WebPicture& p, const mdl_pdt::PixelBuffer& from, mdl_pdt::PixelBuffer& to,
                bool& made) {
  if (made) return;
  const auto width = static_cast<std::size_t>(p.header.Width);
  const auto height = static_cast<std::size_t>(p.header.Height);
  to.clear();
  to.resize(width * height);
  SwapPicture(from.data(), to.data(), width, height);
  made = true;
}

// Receives the decoded rows, top row first, straight into `rgba`.
class RgbaRows final : public mdl_pdt::RowSink {
 public:
  explicit RgbaRows(mdl_pdt::PixelBuffer& rgba) : rgba_(rgba) {}
  void Begin(const mdl_pdt::PdtHeader& header) override {
    width_ = static_cast<std::size_t>(header.Width);
    // Built without exception catching: memory that cannot be had stops the
    // module, and the Worker starts a fresh one.
    rgba_.clear();  // its memory is kept, but nothing is copied when it grows
    rgba_.resize(width_ * static_cast<std::size_t>(header.Height));
  }
  void Row(std::size_t index, std::span<const std::uint32_t> row) override {
    SwapRow(row.data(), rgba_.data() + index * width_, row.size());
  }

 private:
  mdl_pdt::PixelBuffer& rgba_;
  std::size_t width_ = 0;
};

void Finish(WebPicture* p) {
  if (p->status == mdl_pdt::PdtStatus::Ok) {
    bmp::BITMAPINFO info{};
    bmp::BITMAPFILEHEADER file_header{};
    bmp::FillInfoHeader(info, p->header.Width, p->header.Height);
    bmp::FillFileHeader(file_header, info);
    p->bmp_headers = bmp::SerializeBmpHeaders(file_header, info);
  } else {
    p->header = {};
    p->pixels.clear();
    p->rgba.clear();
    p->has_pixels = p->has_rgba = false;
  }
}

}  // namespace

extern "C" {

// Memory for the bytes of a file, to be filled from JavaScript.
EMSCRIPTEN_KEEPALIVE std::uint8_t* qw_alloc(std::size_t bytes) {
  return static_cast<std::uint8_t*>(std::malloc(bytes == 0 ? 1 : bytes));
}
EMSCRIPTEN_KEEPALIVE void qw_free(std::uint8_t* bytes) {
  std::free(bytes);
}

EMSCRIPTEN_KEEPALIVE WebPicture* qw_create() {
  return new (std::nothrow) WebPicture;
}
EMSCRIPTEN_KEEPALIVE void qw_destroy(WebPicture* p) {
  delete p;
}

// Loads a whole PDT file held in memory; returns its status (0 when a picture
// is held). `for_canvas` decodes it into the canvas's layout, else into the
// BMP file's; the BMP headers are made at once.
EMSCRIPTEN_KEEPALIVE int qw_load(WebPicture* p, const std::uint8_t* file, std::size_t size,
                                 int for_canvas) {
  if (p == nullptr) return -1;
  const std::span bytes(file, size);
  if (for_canvas != 0) {
    RgbaRows sink(p->rgba);
    p->status = mdl_pdt::DecodeRowsMemory(bytes, p->header, sink);
    p->has_rgba = true;
    p->has_pixels = false;
  } else {
    p->status = mdl_pdt::LoadPdtMemory(bytes, p->header, p->pixels);
    p->has_pixels = true;
    p->has_rgba = false;
  }
  Finish(p);
  return static_cast<int>(p->status);
}

// The reason for a status in plain words, e.g. "not a PDT10 file".
EMSCRIPTEN_KEEPALIVE const char* qw_describe(int status) {
  return mdl_pdt::Describe(static_cast<mdl_pdt::PdtStatus>(status));
}

// The decoding kernel in use, e.g. "simd128".
EMSCRIPTEN_KEEPALIVE const char* qw_kernel() {
  return mdl_pdt::KernelInUse();
}

EMSCRIPTEN_KEEPALIVE int qw_width(const WebPicture* p) {
  return Held(p) ? p->header.Width : 0;
}
EMSCRIPTEN_KEEPALIVE int qw_height(const WebPicture* p) {
  return Held(p) ? p->header.Height : 0;
}

// The BMP file is these 58 bytes followed by the pixel buffer as it stands in
// memory (the module's memory is little-endian, so each pixel's bytes are
// already B, G, R, 0xFF, bottom row first): the same bytes WriteBmp writes.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* qw_bmp_headers(const WebPicture* p) {
  return Held(p) ? p->bmp_headers.data() : nullptr;
}
EMSCRIPTEN_KEEPALIVE const std::uint32_t* qw_bmp_pixels(WebPicture* p) {
  if (!Held(p)) return nullptr;
  MakeLayout(*p, p->rgba, p->pixels, p->has_pixels);
  return p->pixels.data();
}

// The picture as a canvas wants it: top row first, bytes R, G, B, 0xFF.
// Null when nothing is held.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* qw_rgba(WebPicture* p) {
  if (!Held(p)) return nullptr;
  MakeLayout(*p, p->pixels, p->rgba, p->has_rgba);
  return reinterpret_cast<const std::uint8_t*>(p->rgba.data());
}

}  // extern "C"
