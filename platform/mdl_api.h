// The drawing call the window paints with: a 32-bit device-independent bitmap
// scaled into a rectangle of a device context.
#pragma once

#include <cstdint>
#include <span>

#include "bmp/bmp.h"

class QImage;

namespace mdl_api {

// Colour usage: the bitmap holds literal RGB values.
inline constexpr std::uint32_t DIB_RGB_COLORS = 0;
// Raster operation: copy the source over the destination.
inline constexpr std::uint32_t SRCCOPY = 0xCC0020;

// A drawing surface that keeps what is painted into it; a picture box hands
// out one over its kept surface. It does not own the surface.
class DeviceContext {
 public:
  explicit DeviceContext(QImage& surface) : surface_(&surface) {}
  QImage& Surface() const { return *surface_; }

 private:
  QImage* surface_;
};

// Scales the source rectangle of the bitmap `bits`, described by `info`, into
// the destination rectangle of `hdc`. The bitmap is 32 bits per pixel,
// uncompressed, rows bottom first when biHeight is positive (top first when
// negative); the source rectangle is given in the bitmap's own row order
// (YSrc counts from its first row in memory). Smooth resampling when the
// sizes differ, pixel-exact at 1:1. Returns the number of source rows drawn,
// 0 when nothing was drawn: an unsupported format, arguments outside the
// bitmap, or `bits` too small for the size `info` announces.
int StretchDIBits(const DeviceContext& hdc, int XDest, int YDest, int DestWidth, int DestHeight,
                  int XSrc, int YSrc, int SrcWidth, int SrcHeight,
                  std::span<const std::uint32_t> bits, const bmp::BITMAPINFO& info, std::uint32_t iUsage,
                  std::uint32_t rop);

}  // namespace mdl_api
