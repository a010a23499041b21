// The image-format plugin that makes PDT pictures readable in every Qt program.
#include <QImageIOPlugin>

#include "qtplugin/pdt_handler.h"

class PdtPlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "pdt.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override {
    if (format == "pdt") return CanRead;
    if (!format.isEmpty()) return {};
    if (device != nullptr && device->isReadable() && PdtHandler::canRead(device)) return CanRead;
    return {};
  }

  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override {
    auto* handler = new PdtHandler;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? QByteArray("pdt") : format);
    return handler;
  }
};

#include "pdt_plugin.moc"
