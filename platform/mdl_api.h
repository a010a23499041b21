// The drawing call the window paints with: a 32-bit device-independent bitmap
// scaled into a rectangle of a device context.
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <span>
#include <vector>

#include "bmp/bmp.h"

namespace mdl_api {

// Colour usage: the bitmap holds literal RGB values.
inline constexpr std::uint32_t DIB_RGB_COLORS = 0;
// Raster operation: copy the source over the destination.
inline constexpr std::uint32_t SRCCOPY = 0xCC0020;

// A drawing kept as the bitmaps drawn into it rather than as pixels: showing
// it reads the bitmaps again, so a picture shown at its full size costs no
// copy, and a scaled one is scaled only where it is seen. The bitmaps must
// stay unchanged until KeepPixels is called.
class Drawing {
 public:
  Drawing() = default;
  Drawing(const Drawing&) = delete;
  Drawing& operator=(const Drawing&) = delete;

  // Size in pixels; what lies outside it is not shown. Resizing keeps what
  // was drawn where it still fits.
  QSize Size() const { return size_; }
  void SetSize(QSize size) { size_ = size; }
  // Colour of what nothing has been drawn over.
  void SetBackground(std::uint32_t rgb) { background_ = rgb; }

  // Renders the part of the drawing that starts at `origin` into `out`, a
  // 32-bit image of the part's size; pixels outside the drawing get the
  // background colour.
  void Render(QImage& out, QPoint origin) const;

  // Replaces every bitmap by its pixels within `area` (the rest is dropped),
  // so the bitmaps may then change or go. Costs at most `area`'s size.
  void KeepPixels(const QRect& area);

  // One StretchDIBits call, or pixels kept by KeepPixels.
  struct Layer {
    QRect dest;
    QRect src;
    std::span<const std::uint32_t> bits;
    std::int32_t width = 0;  // of the bitmap
    std::int32_t height = 0;
    bool bottom_up = true;
    QImage kept;  // when not null, the layer is these pixels at dest
  };
  void Add(Layer layer);

 private:
  QSize size_;
  std::uint32_t background_ = 0xFF000000u;
  std::vector<Layer> layers_;
};

// A drawing surface that keeps what is painted into it: a raster image whose
// top-left pixel is `origin` of the drawing's coordinates (calls draw there at
// once, only what falls inside it), or a picture box's Drawing (calls are
// kept and drawn when shown). It owns neither.
class DeviceContext {
 public:
  explicit DeviceContext(QImage& surface, QPoint origin = {})
      : surface_(&surface), origin_(origin) {}
  explicit DeviceContext(Drawing& drawing) : drawing_(&drawing) {}
  QImage* Surface() const { return surface_; }
  QPoint Origin() const { return origin_; }
  Drawing* KeptDrawing() const { return drawing_; }

 private:
  QImage* surface_ = nullptr;
  QPoint origin_;
  Drawing* drawing_ = nullptr;
};

// Scales the source rectangle of the bitmap `bits`, described by `info`, into
// the destination rectangle of `hdc`. The bitmap is 32 bits per pixel,
// uncompressed, rows bottom first when biHeight is positive (top first when
// negative); the source rectangle is given in the bitmap's own row order
// (YSrc counts from its first row in memory). Smooth resampling when the
// sizes differ, pixel-exact at 1:1. A picture box's context keeps the call
// and draws it whenever the box is shown (see Drawing). Returns the number of source rows drawn,
// 0 when nothing was drawn: an unsupported format, arguments outside the
// bitmap, or `bits` too small for the size `info` announces.
int StretchDIBits(const DeviceContext& hdc, int XDest, int YDest, int DestWidth, int DestHeight,
                  int XSrc, int YSrc, int SrcWidth, int SrcHeight,
                  std::span<const std::uint32_t> bits, const bmp::BITMAPINFO& info,
                  std::uint32_t iUsage, std::uint32_t rop);

}  // namespace mdl_api
