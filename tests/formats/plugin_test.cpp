// The "pdt" image plugin as Qt programs meet it: loaded by its path, found by
// QImageReader, and read over files, buffers and a device that hands out a
// few bytes at a time like a pipe. Its pixels are compared with the loader's.
#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPluginLoader>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"
#include "pdt/mdl_pdt.h"
#include "tests/support/scratch_files.h"

namespace {

namespace fs = std::filesystem;

// A sequential device that gives at most `step` bytes per read.
class TrickleDevice : public QIODevice {
 public:
  TrickleDevice(QByteArray data, qint64 step) : data_(std::move(data)), step_(step) {
    open(QIODevice::ReadOnly);
  }
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override {
    return data_.size() - pos_ + QIODevice::bytesAvailable();
  }

 protected:
  qint64 readData(char* out, qint64 max) override {
    const qint64 n = std::min({max, step_, data_.size() - pos_});
    std::copy_n(data_.constData() + pos_, n, out);
    pos_ += n;
    return n;
  }
  qint64 writeData(const char* /*data*/, qint64 /*len*/) override { return -1; }

 private:
  QByteArray data_;
  qint64 step_;
  qint64 pos_ = 0;
};

QByteArray Bytes(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

// The picture the loader makes of `file`, turned top row first as a QImage.
QImage Expected(const std::vector<std::uint8_t>& file) {
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  if (mdl_pdt::LoadPdtMemory(file, header, pixels) != mdl_pdt::PdtStatus::Ok) return {};
  QImage image(header.Width, header.Height, QImage::Format_RGB32);
  for (int y = 0; y < header.Height; ++y) {
    std::copy_n(pixels.data() + static_cast<std::size_t>(header.Height - 1 - y) *
                                    static_cast<std::size_t>(header.Width),
                header.Width, reinterpret_cast<std::uint32_t*>(image.scanLine(y)));
  }
  return image;
}

std::vector<std::uint8_t> Art(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  const pdtgen::Picture art = pdtgen::DrawGameArt(width, height, seed);
  return pdtgen::EncodePdt(art.pixels, width, height);
}

class PdtPlugin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    QLoggingCategory::setFilterRules(QStringLiteral("quillon.imageformats.pdt.warning=false"));
    QCoreApplication::addLibraryPath(QStringLiteral(QUILLON_PLUGIN_ROOT));
  }

  // The plugin loaded straight from its file, as a Qt program loads it.
  static QImageIOPlugin* Plugin() {
    static QPluginLoader loader(QStringLiteral(QUILLON_PLUGIN_PATH));
    return qobject_cast<QImageIOPlugin*>(loader.instance());
  }

  // Reads through the plugin's handler; `error` receives its reason.
  static bool ReadWithHandler(QIODevice* device, QImage& image, QString* error = nullptr) {
    std::unique_ptr<QImageIOHandler> handler(Plugin()->create(device, "pdt"));
    const bool ok = handler->read(&image);
    if (error != nullptr) {
      *error = handler->option(QImageIOHandler::Description).toString();
    }
    return ok;
  }
};

TEST_F(PdtPlugin, LoadsByPathAndAnnouncesFormatAndMimeType) {
  QPluginLoader loader(QStringLiteral(QUILLON_PLUGIN_PATH));
  ASSERT_NE(loader.instance(), nullptr) << loader.errorString().toStdString();
  const QJsonObject meta = loader.metaData().value(QStringLiteral("MetaData")).toObject();
  EXPECT_EQ(meta.value(QStringLiteral("Keys")).toArray().first().toString(), "pdt");
  EXPECT_EQ(meta.value(QStringLiteral("MimeTypes")).toArray().first().toString(), "image/x-pdt");
  EXPECT_TRUE(QImageReader::supportedImageFormats().contains("pdt"));
  EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("image/x-pdt"));
}

// Every way in gives LoadPdt's pixels: a file found by content alone, a
// buffer, and a device that trickles a few bytes per read.
TEST_F(PdtPlugin, ReadsTheSamePixelsAsLoadPdt) {
  testsupport::TempDir dir;
  std::vector<std::vector<std::uint8_t>> files = {Art(97, 61, 1), Art(1, 1, 2), Art(3, 40, 3),
                                                  Art(320, 3, 4)};
  const pdtgen::Picture noise = pdtgen::DrawNoise(33, 17, 5);
  files.push_back(pdtgen::EncodePdt(noise.pixels, noise.width, noise.height));
  for (std::size_t k = 0; k < files.size(); ++k) {
    SCOPED_TRACE(k);
    const QImage expected = Expected(files[k]);
    ASSERT_FALSE(expected.isNull());
    // No suffix: the format is found from the content.
    const fs::path path = dir / ("picture" + std::to_string(k));
    testsupport::WriteBytes(path, files[k]);
    QImageReader reader(QString::fromStdString(path.string()));
    EXPECT_EQ(reader.format(), "pdt");
    EXPECT_EQ(reader.size(), expected.size());
    EXPECT_EQ(reader.read(), expected) << reader.errorString().toStdString();

    EXPECT_EQ(QImage::fromData(Bytes(files[k])), expected);

    TrickleDevice trickle(Bytes(files[k]), 5);
    QImage image;
    EXPECT_TRUE(ReadWithHandler(&trickle, image));
    EXPECT_EQ(image, expected);
  }
}

// A scaled read averages the picture's pixels straight from the decoded
// buffer: each output pixel is the mean of the block it covers.
TEST_F(PdtPlugin, ScaledReadAveragesBlocks) {
  const std::vector<std::uint8_t> file = Art(120, 64, 7);
  const QImage full = Expected(file);
  QBuffer buffer;
  buffer.setData(Bytes(file));
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "pdt");
  reader.setScaledSize(QSize(30, 16));
  const QImage scaled = reader.read();
  ASSERT_EQ(scaled.size(), QSize(30, 16)) << reader.errorString().toStdString();
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 30; ++x) {
      int sum[3] = {0, 0, 0};
      for (int dy = 0; dy < 4; ++dy) {
        for (int dx = 0; dx < 4; ++dx) {
          const QRgb p = full.pixel(x * 4 + dx, y * 4 + dy);
          sum[0] += qRed(p);
          sum[1] += qGreen(p);
          sum[2] += qBlue(p);
        }
      }
      const QRgb got = scaled.pixel(x, y);
      // The mean, rounded half up (+8 before dividing by 16).
      ASSERT_EQ(qRed(got), (sum[0] + 8) / 16) << x << "," << y;
      ASSERT_EQ(qGreen(got), (sum[1] + 8) / 16) << x << "," << y;
      ASSERT_EQ(qBlue(got), (sum[2] + 8) / 16) << x << "," << y;
    }
  }
}

// Damaged input fails with a reason, wherever it is cut and however it
// arrives; a picture over the allocation limit is refused before decoding,
// unless it is read scaled to a size within it.
TEST_F(PdtPlugin, BadInputFailsWithAReason) {
  const std::vector<std::uint8_t> file = Art(40, 30, 8);
  for (std::size_t cut = 0; cut < file.size(); cut += cut < 64 ? 1 : 37) {
    const std::vector<std::uint8_t> part(file.begin(), file.begin() + static_cast<long>(cut));
    QBuffer buffer;
    buffer.setData(Bytes(part));
    buffer.open(QIODevice::ReadOnly);
    QImage image;
    QString error;
    EXPECT_FALSE(ReadWithHandler(&buffer, image, &error)) << cut;
    EXPECT_TRUE(error.startsWith(QStringLiteral("Error: "))) << cut;
    TrickleDevice trickle(Bytes(part), 3);
    EXPECT_FALSE(ReadWithHandler(&trickle, image)) << cut;
  }

  const int old_limit = QImageReader::allocationLimit();
  QImageReader::setAllocationLimit(1);  // megabytes
  QBuffer big;
  big.setData(Bytes(Art(1024, 512, 9)));  // 2 MB of pixels
  big.open(QIODevice::ReadOnly);
  QImageReader reader(&big, "pdt");
  EXPECT_EQ(reader.size(), QSize(1024, 512));
  EXPECT_TRUE(reader.read().isNull());
  EXPECT_TRUE(reader.text(QStringLiteral("Error")).contains(QStringLiteral("allocation limit")))
      << reader.text(QStringLiteral("Error")).toStdString();
  big.seek(0);
  QImageReader scaled(&big, "pdt");
  scaled.setScaledSize(QSize(256, 128));
  EXPECT_EQ(scaled.read().size(), QSize(256, 128)) << scaled.errorString().toStdString();
  QImageReader::setAllocationLimit(old_limit);
}

}  // namespace
