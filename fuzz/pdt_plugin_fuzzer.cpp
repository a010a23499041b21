// Feeds arbitrary bytes to the Qt image plugin's handler, whole or cut short,
// at full size or scaled, and checks what must hold: a read either fails with
// a reason or gives an image of the announced (or asked-for) size, and a full
// read agrees with LoadPdtMemory.
#include <QBuffer>
#include <QImage>
#include <QLoggingCategory>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "pdt/mdl_pdt.h"
#include "qtplugin/pdt_handler.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "pdt_plugin_fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  QLoggingCategory::setFilterRules(QStringLiteral("quillon.imageformats.pdt.warning=false"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The whole input is the file, so that the loader's seeds serve here too;
  // its length picks the scaled size (0: full size).
  const int scaled = size % 8 == 0 ? 0 : static_cast<int>(size % 8) * 3;
  const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QBuffer buffer;
  buffer.setData(file);
  buffer.open(QIODevice::ReadOnly);
  PdtHandler handler;
  handler.setDevice(&buffer);
  if (scaled > 0) handler.setOption(QImageIOHandler::ScaledSize, QSize(scaled, scaled / 2 + 1));
  QImage image;
  const bool ok = handler.read(&image);
  if (!ok) {
    if (handler.lastError().isEmpty()) Fail("a failed read gave no reason");
    return 0;
  }
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  const auto bytes = std::span(data, size);
  if (mdl_pdt::LoadPdtMemory(bytes, header, pixels) != mdl_pdt::PdtStatus::Ok) {
    Fail("the plugin read what LoadPdtMemory rejects");
  }
  const QSize expected =
      scaled > 0 ? QSize(scaled, scaled / 2 + 1) : QSize(header.Width, header.Height);
  if (image.size() != expected) Fail("the image has another size");
  if (scaled == 0) {
    for (int y = 0; y < header.Height; ++y) {
      const auto* line = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
      for (int x = 0; x < header.Width; ++x) {
        if (line[x] != pixels[static_cast<std::size_t>(header.Height - 1 - y) *
                                  static_cast<std::size_t>(header.Width) +
                              static_cast<std::size_t>(x)]) {
          Fail("a pixel differs from LoadPdtMemory's");
        }
      }
    }
  }
  return 0;
}
