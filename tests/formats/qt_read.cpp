// qt_read FILE...: opens each PDT file through QImageReader, the way any Qt
// program does (no plugin path of its own), and compares the pixels with
// LoadPdt's. Exit status 0 when every file matched.
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>

#include "pdt/mdl_pdt.h"

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  int status = 0;
  for (int k = 1; k < argc; ++k) {
    QImageReader reader(QString::fromLocal8Bit(argv[k]));
    const QImage image = reader.read();
    mdl_pdt::PdtHeader header;
    mdl_pdt::PixelBuffer pixels;
    if (image.isNull() || !mdl_pdt::LoadPdt(argv[k], header, pixels)) {
      std::printf("%s: not read (%s)\n", argv[k], qPrintable(reader.errorString()));
      status = 1;
      continue;
    }
    bool same = image.width() == header.Width && image.height() == header.Height;
    for (int y = 0; same && y < header.Height; ++y) {
      for (int x = 0; same && x < header.Width; ++x) {
        same = image.pixel(x, y) == pixels[static_cast<std::size_t>(header.Height - 1 - y) *
                                               static_cast<std::size_t>(header.Width) +
                                           static_cast<std::size_t>(x)];
      }
    }
    std::printf("%s: %s %dx%d %s\n", argv[k], reader.format().constData(), image.width(),
                image.height(), same ? "same pixels as LoadPdt" : "OTHER PIXELS than LoadPdt");
    if (!same) status = 1;
  }
  return status;
}
