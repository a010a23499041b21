#include "qtplugin/pdt_handler.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include <QIODevice>
#include <QImage>
#include <QImageReader>
#include <QLoggingCategory>
#include <QVariant>

#include "scale/scale.h"

Q_LOGGING_CATEGORY(lcPdt, "quillon.imageformats.pdt")

namespace {

constexpr qint64 kChunk = qint64{1} << 20;
constexpr int kWaitMs = 30000;

// Reads up to `count` more bytes from `device` onto `bytes`, waiting on
// devices that deliver data over time (pipes, sockets); stops at the end.
void ReadUpTo(QIODevice* device, std::vector<std::uint8_t>& bytes, std::size_t count) {
  const std::size_t goal = bytes.size() + count;
  while (bytes.size() < goal) {
    const std::size_t start = bytes.size();
    const std::size_t step = std::min<std::size_t>(goal - start, kChunk);
    bytes.resize(start + step);
    const qint64 got =
        device->read(reinterpret_cast<char*>(bytes.data() + start), static_cast<qint64>(step));
    bytes.resize(start + static_cast<std::size_t>(std::max<qint64>(got, 0)));
    if (got < 0) return;
    // Nothing now: files are at their end, pipes and sockets may send more.
    if (got == 0 && !device->waitForReadyRead(kWaitMs)) return;
  }
}

// Hands decoded rows to a QImage of RGB32 pixels, whose values they already
// are: copied at full size, otherwise scaled, as they come.
class ImageRows : public mdl_pdt::RowSink {
 public:
  ImageRows(QImage& image, scale::Size full, scale::Size target)
      : scaler_(full, target, reinterpret_cast<std::uint32_t*>(image.bits()),
                image.bytesPerLine() / 4) {}
  void Begin(const mdl_pdt::PdtHeader& /*header*/) override {}
  void Row(std::size_t /*index*/, std::span<const std::uint32_t> pixels) override {
    scaler_.AddRow(pixels);
  }

 private:
  scale::RowScaler scaler_;
};

}  // namespace

bool PdtHandler::canRead(QIODevice* device) {
  if (device == nullptr) return false;
  const QByteArray head = device->peek(static_cast<qint64>(mdl_pdt::kHeaderSize));
  mdl_pdt::PdtHeader header;
  return mdl_pdt::ParseHeader(std::span(reinterpret_cast<const std::uint8_t*>(head.constData()),
                                        static_cast<std::size_t>(head.size())),
                              header) == mdl_pdt::PdtStatus::Ok;
}

bool PdtHandler::canRead() const {
  if (!canRead(device())) return false;
  setFormat("pdt");
  return true;
}

const std::optional<mdl_pdt::PdtHeader>& PdtHandler::PeekHeader() const {
  if (!header_peeked_ && device() != nullptr) {
    header_peeked_ = true;
    const QByteArray head = device()->peek(static_cast<qint64>(mdl_pdt::kHeaderSize));
    mdl_pdt::PdtHeader header;
    if (mdl_pdt::ParseHeader(std::span(reinterpret_cast<const std::uint8_t*>(head.constData()),
                                       static_cast<std::size_t>(head.size())),
                             header) == mdl_pdt::PdtStatus::Ok &&
        header.Width > 0 && header.Height > 0) {
      header_ = header;
    }
  }
  return header_;
}

bool PdtHandler::Fail(const QString& reason) {
  error_ = reason;
  qCWarning(lcPdt, "cannot read the PDT picture: %s", qUtf8Printable(reason));
  return false;
}

bool PdtHandler::read(QImage* image) {
  error_.clear();
  QIODevice* dev = device();
  if (dev == nullptr || image == nullptr) return Fail(QStringLiteral("no device"));

  std::vector<std::uint8_t> file;
  ReadUpTo(dev, file, mdl_pdt::kHeaderSize);
  mdl_pdt::PdtHeader header;
  mdl_pdt::PdtStatus status = mdl_pdt::ParseHeader(file, header);
  if (status == mdl_pdt::PdtStatus::Ok) {
    // Sizes are judged before the payload is read or anything is allocated.
    const std::size_t announced =
        header.FileSize > static_cast<std::int32_t>(mdl_pdt::kHeaderSize)
            ? static_cast<std::size_t>(header.FileSize) - mdl_pdt::kHeaderSize
            : 0;
    status = mdl_pdt::CheckHeader(header, announced);
  }
  if (status != mdl_pdt::PdtStatus::Ok) return Fail(QString::fromUtf8(mdl_pdt::Describe(status)));

  const QSize full(header.Width, header.Height);
  const QSize target = scaled_size_.isValid() && !scaled_size_.isEmpty() ? scaled_size_ : full;
  // The limit is on the image made: a scaled read never holds the whole
  // picture, so a thumbnail of a huge one stays within it.
  const int limit_mb = QImageReader::allocationLimit();
  const qint64 target_bytes = qint64{target.width()} * target.height() * 4;
  if (limit_mb > 0 && target_bytes > qint64{limit_mb} * 1024 * 1024) {
    return Fail(QStringLiteral("a %1 × %2 image is over the allocation limit of %3 MB")
                    .arg(target.width())
                    .arg(target.height())
                    .arg(limit_mb));
  }
  // Only what the device really holds counts: a header may claim a payload,
  // and so a picture, far larger than the file.
  ReadUpTo(dev, file, static_cast<std::size_t>(header.FileSize) - mdl_pdt::kHeaderSize);
  status = mdl_pdt::CheckHeader(header, file.size() - mdl_pdt::kHeaderSize);
  if (status != mdl_pdt::PdtStatus::Ok) return Fail(QString::fromUtf8(mdl_pdt::Describe(status)));
  QImage out;
  if (!QImageIOHandler::allocateImage(target, QImage::Format_RGB32, &out)) {
    return Fail(
        QStringLiteral("cannot allocate a %1 × %2 image").arg(target.width()).arg(target.height()));
  }

  // Rows go straight into the image as they are decoded, scaled on the way
  // when asked: no full-size copy of the picture is made.
  ImageRows rows(out, {header.Width, header.Height}, {target.width(), target.height()});
  try {
    status = mdl_pdt::DecodeRowsMemory(file, header, rows);
  } catch (const std::bad_alloc&) {
    return Fail(QStringLiteral("not enough memory for the picture"));
  }
  if (status != mdl_pdt::PdtStatus::Ok) return Fail(QString::fromUtf8(mdl_pdt::Describe(status)));
  *image = std::move(out);
  return true;
}

QVariant PdtHandler::option(ImageOption option) const {
  switch (option) {
    case Size:
      if (const auto& header = PeekHeader()) return QSize(header->Width, header->Height);
      return {};
    case ScaledSize:
      return scaled_size_;
    case ImageFormat:
      return QImage::Format_RGB32;
    case Description:
      // QImageReader::text("Error") shows why the last read failed.
      if (!error_.isEmpty()) return QStringLiteral("Error: ") + error_;
      return {};
    default:
      return {};
  }
}

void PdtHandler::setOption(ImageOption option, const QVariant& value) {
  if (option == ScaledSize) scaled_size_ = value.toSize();
}

bool PdtHandler::supportsOption(ImageOption option) const {
  return option == Size || option == ScaledSize || option == ImageFormat || option == Description;
}
