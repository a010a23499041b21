// Reads PDT pictures for QImage and QImageReader through the project's own
// loader: the size from the header before decoding, scaled reads straight from
// the decoded pixels, and QImageReader's allocation limit.
#pragma once

#include <optional>

#include <QImageIOHandler>
#include <QSize>
#include <QString>

#include "pdt/mdl_pdt.h"

class PdtHandler : public QImageIOHandler {
 public:
  bool canRead() const override;
  bool read(QImage* image) override;
  QVariant option(ImageOption option) const override;
  void setOption(ImageOption option, const QVariant& value) override;
  bool supportsOption(ImageOption option) const override;

  // True when the device's first 32 bytes hold a header whose signature
  // holds "PDT10", the test the loader makes; the device is only peeked at.
  static bool canRead(QIODevice* device);

  // Why the last read() failed; empty after a successful one.
  const QString& lastError() const { return error_; }

 private:
  // The header peeked from the device, read once.
  const std::optional<mdl_pdt::PdtHeader>& PeekHeader() const;
  bool Fail(const QString& reason);

  QSize scaled_size_;
  QString error_;
  mutable bool header_peeked_ = false;
  mutable std::optional<mdl_pdt::PdtHeader> header_;
};
