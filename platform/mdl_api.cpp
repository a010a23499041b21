#include "platform/mdl_api.h"

#include <QImage>
#include <QRect>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace mdl_api {
namespace {

bool IsPlain32Bit(const QImage& image) {
  const QImage::Format f = image.format();
  return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 ||
         f == QImage::Format_ARGB32_Premultiplied;
}

// Copies `from` (a rectangle of `image`) to `surface` at `to`, one row at a
// time, reversing the row order when `flip` is set. Rows and columns outside
// the surface are skipped.
void CopyRows(QImage& surface, QPoint to, const QImage& image, const QRect& from, bool flip) {
  const QRect target = QRect(to, from.size()).intersected(surface.rect());
  if (target.isEmpty()) return;
  const int dx = target.left() - to.x();  // columns cut off at the left
  const auto bytes = static_cast<std::size_t>(target.width()) * 4;
  for (int y = target.top(); y <= target.bottom(); ++y) {
    const int row = y - to.y();  // 0 … from.height() − 1
    const int src_row = flip ? from.bottom() - row : from.top() + row;
    const uchar* src =
        image.constScanLine(src_row) + static_cast<std::size_t>(from.left() + dx) * 4;
    uchar* dst = surface.scanLine(y) + static_cast<std::size_t>(target.left()) * 4;
    std::memcpy(dst, src, bytes);
  }
}

}  // namespace

int StretchDIBits(const DeviceContext& hdc, int XDest, int YDest, int DestWidth, int DestHeight,
                  int XSrc, int YSrc, int SrcWidth, int SrcHeight,
                  std::span<const std::uint32_t> bits, const BITMAPINFO& info, std::uint32_t iUsage,
                  std::uint32_t rop) {
  const BITMAPINFOHEADER& h = info.bmiHeader;
  if (iUsage != DIB_RGB_COLORS || rop != SRCCOPY) return 0;
  if (h.biBitCount != 32 || h.biCompression != 0 || h.biWidth < 1 || h.biHeight == 0) return 0;
  const std::int64_t width = h.biWidth;
  const std::int64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  if (width * 4 > INT32_MAX || height > INT32_MAX) return 0;
  if (static_cast<std::uint64_t>(bits.size()) < static_cast<std::uint64_t>(width * height))
    return 0;
  if (DestWidth < 1 || DestHeight < 1 || SrcWidth < 1 || SrcHeight < 1) return 0;
  if (XSrc < 0 || YSrc < 0 || XSrc > width - SrcWidth || YSrc > height - SrcHeight) return 0;
  QImage& surface = hdc.Surface();
  if (surface.isNull() || !IsPlain32Bit(surface)) return 0;

  // The pixels are wrapped, not copied: their bytes B, G, R, 0xFF are Qt's RGB32.
  const auto w = static_cast<int>(width);
  const QImage source(reinterpret_cast<const uchar*>(bits.data()), w, static_cast<int>(height),
                      w * 4, QImage::Format_RGB32);
  const QRect from(XSrc, YSrc, SrcWidth, SrcHeight);
  const bool bottom_up = h.biHeight > 0;
  const QPoint to(XDest, YDest);

  if (SrcWidth == DestWidth && SrcHeight == DestHeight) {
    CopyRows(surface, to, source, from, bottom_up);
    return SrcHeight;
  }
  // Resample only the rectangle needed, into an image of the destination's size.
  const QImage part = from == source.rect() ? source : source.copy(from);
  QImage scaled =
      part.scaled(DestWidth, DestHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  if (!IsPlain32Bit(scaled)) scaled = scaled.convertToFormat(QImage::Format_RGB32);
  CopyRows(surface, to, scaled, scaled.rect(), bottom_up);
  return SrcHeight;
}

}  // namespace mdl_api
