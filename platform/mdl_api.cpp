#include "platform/mdl_api.h"

#include <QImage>
#include <QRect>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// One source sample of a resampled axis: its index and its weight in 1/256.
struct Tap {
  int index = 0;
  int weight = 0;
};

// Samples along one axis: `per` taps for each destination position, whose
// weights add up to 256. Shrinking averages 2 or `most` (a power of two)
// evenly spread samples of the position's footprint, with equal weights;
// enlarging interpolates linearly between the two nearest source pixels.
// Every index lies in 0 … src − 1.
struct AxisTaps {
  int per = 1;
  bool shrinks = false;
  std::vector<Tap> taps;
  const Tap* At(int d) const { return taps.data() + static_cast<std::size_t>(d) * per; }
};

AxisTaps MakeTaps(int src, int dst, int most) {
  AxisTaps axis;
  const double scale = static_cast<double>(src) / dst;
  axis.shrinks = src > dst;
  axis.per = axis.shrinks ? (scale > 2 ? most : 2) : (src < dst ? 2 : 1);
  axis.taps.reserve(static_cast<std::size_t>(dst) * static_cast<std::size_t>(axis.per));
  for (int d = 0; d < dst; ++d) {
    if (axis.shrinks) {
      for (int i = 0; i < axis.per; ++i) {
        const double at = (d + (i + 0.5) / axis.per) * scale;
        axis.taps.push_back({std::clamp(static_cast<int>(at), 0, src - 1), 256 / axis.per});
      }
    } else if (src < dst) {
      const double at = std::max(0.0, (d + 0.5) * scale - 0.5);
      const int i0 = std::min(static_cast<int>(at), src - 1);
      const int frac = static_cast<int>(std::lround((at - i0) * 256));
      axis.taps.push_back({i0, 256 - frac});
      axis.taps.push_back({std::min(i0 + 1, src - 1), frac});
    } else {
      axis.taps.push_back({d, 256});
    }
  }
  return axis;
}

const std::uint32_t* Row(const QImage& image, const QRect& from, int index) {
  return reinterpret_cast<const std::uint32_t*>(image.constScanLine(from.top() + index)) +
         from.left();
}

// Shrinking in both directions: the PX × PY equally weighted samples (a
// power of two) are summed two channels at a time and divided by a shift.
template <int PX, int PY>
void ShrinkBoth(const QImage& source, const QRect& from, const AxisTaps& xs, const AxisTaps& ys,
                QPoint at, QImage& out) {
  constexpr int kShift = PX * PY == 8 ? 3 : 2;
  constexpr std::uint32_t kHalf = 1u << (kShift - 1);
  std::vector<int> columns;
  columns.reserve(xs.taps.size());
  for (const Tap& tap : xs.taps) columns.push_back(tap.index);
  const int width = out.width();
  const int height = out.height();
  for (int dy = 0; dy < height; ++dy) {
    const Tap* ty = ys.At(at.y() + dy);
    const std::uint32_t* rows[PY];
    for (int j = 0; j < PY; ++j) rows[j] = Row(source, from, ty[j].index);
    auto* dst = reinterpret_cast<std::uint32_t*>(out.scanLine(dy));
    const int* cx = columns.data() + static_cast<std::size_t>(at.x()) * PX;
    for (int dx = 0; dx < width; ++dx, cx += PX) {
      std::uint32_t rb = kHalf * 0x00010001u;  // red and blue, 16 bits each
      std::uint32_t g = kHalf << 8;
      for (int j = 0; j < PY; ++j) {
        for (int i = 0; i < PX; ++i) {
          const std::uint32_t p = rows[j][cx[i]];
          rb += p & 0x00FF00FFu;
          g += p & 0x0000FF00u;
        }
      }
      dst[dx] = 0xFF000000u | ((rb >> kShift) & 0x00FF00FFu) | ((g >> kShift) & 0x0000FF00u);
    }
  }
}

// Any other combination: every tap weighted, one channel at a time.
void Weighted(const QImage& source, const QRect& from, const AxisTaps& xs, const AxisTaps& ys,
              QPoint at, QImage& out) {
  for (int dy = 0; dy < out.height(); ++dy) {
    auto* dst = reinterpret_cast<std::uint32_t*>(out.scanLine(dy));
    const Tap* ty = ys.At(at.y() + dy);
    for (int dx = 0; dx < out.width(); ++dx) {
      const Tap* tx = xs.At(at.x() + dx);
      std::uint32_t r = 0, g = 0, b = 0;
      for (int j = 0; j < ys.per; ++j) {
        const std::uint32_t* row = Row(source, from, ty[j].index);
        for (int i = 0; i < xs.per; ++i) {
          const std::uint32_t p = row[tx[i].index];
          const auto w = static_cast<std::uint32_t>(ty[j].weight * tx[i].weight);
          r += ((p >> 16) & 0xFF) * w;
          g += ((p >> 8) & 0xFF) * w;
          b += (p & 0xFF) * w;
        }
      }
      dst[dx] =
          0xFF000000u | ((r + 32768) >> 16) << 16 | ((g + 32768) >> 16) << 8 | ((b + 32768) >> 16);
    }
  }
}

// Scales the rectangle `from` of `source` to `size`, smoothly, in one pass
// over the destination (rows stay in the source's order), and returns the
// part `part` of the result: only what is shown is computed. Done here rather
// than by Qt's scaler, which reads every source pixel and hands the work to
// helper threads; a few samples per destination pixel are enough.
QImage Resample(const QImage& source, const QRect& from, QSize size, const QRect& part) {
  // Fewer rows than columns: each sampled row is read from memory whole.
  const AxisTaps xs = MakeTaps(from.width(), size.width(), 4);
  const AxisTaps ys = MakeTaps(from.height(), size.height(), 2);
  QImage out(part.size(), QImage::Format_RGB32);
  if (out.isNull()) return out;
  const QPoint at = part.topLeft();
  if (xs.shrinks && ys.shrinks) {
    if (xs.per == 4 && ys.per == 2) ShrinkBoth<4, 2>(source, from, xs, ys, at, out);
    if (xs.per == 2 && ys.per == 2) ShrinkBoth<2, 2>(source, from, xs, ys, at, out);
  } else {
    Weighted(source, from, xs, ys, at, out);
  }
  return out;
}

// Draws `layer` into `surface`, whose top-left pixel is `origin` of the
// drawing: only the part that falls inside the surface is read or scaled.
// Returns false when memory for the scaled part cannot be had.
bool DrawLayer(QImage& surface, QPoint origin, const Drawing::Layer& layer) {
  const QRect visible = layer.dest.intersected(QRect(origin, surface.size()));
  if (visible.isEmpty()) return true;
  if (!layer.kept.isNull()) {
    CopyRows(surface, layer.dest.topLeft() - origin, layer.kept, layer.kept.rect(), false);
    return true;
  }
  // The pixels are wrapped, not copied: their bytes B, G, R, 0xFF are Qt's RGB32.
  const QImage source(reinterpret_cast<const uchar*>(layer.bits.data()), layer.width, layer.height,
                      static_cast<qsizetype>(layer.width) * 4, QImage::Format_RGB32);
  if (layer.src.size() == layer.dest.size()) {
    CopyRows(surface, layer.dest.topLeft() - origin, source, layer.src, layer.bottom_up);
    return true;
  }
  // The visible part in the destination's own rows, then in the order the
  // scaled rows come in (the source's: bottom first for a bottom-up bitmap).
  QRect part = visible.translated(-layer.dest.topLeft());
  if (layer.bottom_up) part.moveTop(layer.dest.height() - part.bottom() - 1);
  const QImage scaled = Resample(source, layer.src, layer.dest.size(), part);
  if (scaled.isNull()) return false;
  CopyRows(surface, visible.topLeft() - origin, scaled, scaled.rect(), layer.bottom_up);
  return true;
}

}  // namespace

int StretchDIBits(const DeviceContext& hdc, int XDest, int YDest, int DestWidth, int DestHeight,
                  int XSrc, int YSrc, int SrcWidth, int SrcHeight,
                  std::span<const std::uint32_t> bits, const bmp::BITMAPINFO& info,
                  std::uint32_t iUsage, std::uint32_t rop) {
  const bmp::BITMAPINFOHEADER& h = info.bmiHeader;
  if (iUsage != DIB_RGB_COLORS || rop != SRCCOPY) return 0;
  if (h.biBitCount != 32 || h.biCompression != 0 || h.biWidth < 1 || h.biHeight == 0) return 0;
  const std::int64_t width = h.biWidth;
  const std::int64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  if (width * 4 > INT32_MAX || height > INT32_MAX) return 0;
  if (static_cast<std::uint64_t>(bits.size()) < static_cast<std::uint64_t>(width * height))
    return 0;
  if (DestWidth < 1 || DestHeight < 1 || SrcWidth < 1 || SrcHeight < 1) return 0;
  if (XSrc < 0 || YSrc < 0 || XSrc > width - SrcWidth || YSrc > height - SrcHeight) return 0;
  Drawing::Layer layer;
  layer.dest = QRect(XDest, YDest, DestWidth, DestHeight);
  layer.src = QRect(XSrc, YSrc, SrcWidth, SrcHeight);
  layer.bits = bits.first(static_cast<std::size_t>(width * height));
  layer.width = static_cast<std::int32_t>(width);
  layer.height = static_cast<std::int32_t>(height);
  layer.bottom_up = h.biHeight > 0;
  if (Drawing* drawing = hdc.KeptDrawing()) {
    if (drawing->Size().isEmpty()) return 0;
    drawing->Add(std::move(layer));
    return SrcHeight;
  }
  QImage* surface = hdc.Surface();
  if (surface == nullptr || surface->isNull() || !IsPlain32Bit(*surface)) return 0;
  return DrawLayer(*surface, hdc.Origin(), layer) ? SrcHeight : 0;
}

void Drawing::Add(Layer layer) {
  // A layer wholly covered by the new one can never show again.
  std::erase_if(layers_, [&](const Layer& old) { return layer.dest.contains(old.dest); });
  layers_.push_back(std::move(layer));
}

void Drawing::Render(QImage& out, QPoint origin) const {
  out.fill(background_);
  // Only the drawing's own area shows its layers.
  const QRect inside = QRect(QPoint(0, 0), size_).translated(-origin).intersected(out.rect());
  if (inside.isEmpty()) return;
  if (inside == out.rect()) {
    for (const Layer& layer : layers_) DrawLayer(out, origin, layer);
    return;
  }
  QImage part = out.copy(inside);
  for (const Layer& layer : layers_) DrawLayer(part, origin + inside.topLeft(), layer);
  CopyRows(out, inside.topLeft(), part, part.rect(), false);
}

void Drawing::KeepPixels(const QRect& area) {
  const QRect keep = area.intersected(QRect(QPoint(0, 0), size_));
  std::vector<Layer> kept_layers;
  if (!keep.isEmpty() && !layers_.empty()) {
    Layer kept;
    kept.dest = keep;
    kept.kept = QImage(keep.size(), QImage::Format_RGB32);
    if (!kept.kept.isNull()) {
      Render(kept.kept, keep.topLeft());
      kept_layers.push_back(std::move(kept));
    }
  }
  layers_ = std::move(kept_layers);
}

}  // namespace mdl_api
