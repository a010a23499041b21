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

#include "bmp/bmp.h"
#include "pdt/kernel.h"
#include "pdt/mdl_pdt.h"

namespace {

struct WebPicture {
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;  // bottom row first, bytes B, G, R, 0xFF
  mdl_pdt::PdtStatus status = mdl_pdt::PdtStatus::NotPdt10;
  std::array<std::uint8_t, bmp::kBmpHeadersSize> bmp_headers{};
  std::vector<std::uint8_t, mdl_pdt::DefaultInitAllocator<std::uint8_t>>
      rgba;  // top row first, R, G, B, 0xFF
};

bool Held(const WebPicture* p) {
  return p != nullptr && p->status == mdl_pdt::PdtStatus::Ok;
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
// is held). The BMP headers are made at once; the RGBA copy only on request.
EMSCRIPTEN_KEEPALIVE int qw_load(WebPicture* p, const std::uint8_t* file, std::size_t size) {
  if (p == nullptr) return -1;
  p->rgba.clear();
  p->status = mdl_pdt::LoadPdtMemory(std::span(file, size), p->header, p->pixels);
  if (p->status == mdl_pdt::PdtStatus::Ok) {
    bmp::BITMAPINFO info{};
    bmp::BITMAPFILEHEADER file_header{};
    bmp::FillInfoHeader(info, p->header.Width, p->header.Height);
    bmp::FillFileHeader(file_header, info);
    p->bmp_headers = bmp::SerializeBmpHeaders(file_header, info);
  } else {
    p->header = {};
    p->pixels.clear();
  }
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
EMSCRIPTEN_KEEPALIVE const std::uint32_t* qw_bmp_pixels(const WebPicture* p) {
  return Held(p) ? p->pixels.data() : nullptr;
}

// The picture as a canvas wants it: top row first, bytes R, G, B, 0xFF.
// Null when nothing is held.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* qw_rgba(WebPicture* p) {
  if (!Held(p)) return nullptr;
  const auto width = static_cast<std::size_t>(p->header.Width);
  const auto height = static_cast<std::size_t>(p->header.Height);
  if (p->rgba.size() != width * height * 4) {
    // Built without exception catching: memory that cannot be had stops the
    // module, and the Worker starts a fresh one.
    p->rgba.resize(width * height * 4);
    // Whole words, so that the compiler turns the loop into vector code: the
    // module's memory is little-endian, so R and B swap places in each word.
    std::uint32_t* out = reinterpret_cast<std::uint32_t*>(p->rgba.data());
    for (std::size_t y = 0; y < height; ++y) {
      const std::uint32_t* src = p->pixels.data() + (height - 1 - y) * width;
      std::uint32_t* dst = out + y * width;
      for (std::size_t x = 0; x < width; ++x) {
        const std::uint32_t v = src[x];
        dst[x] = 0xFF000000u | (v & 0x0000FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
      }
    }
  }
  return p->rgba.data();
}

}  // extern "C"
