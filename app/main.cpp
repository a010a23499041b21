// Quillon: shows PDT pictures and saves them as BMP files.
#include <QApplication>
#include <cstdio>

#include "platform/window_metrics.h"
#include "viewer/frm_main.h"

int main(int argc, char* argv[]) {
  // Without a display Qt would abort; say what to do instead.
  if (!platform::DisplayAvailable()) {
    std::fprintf(stderr,
                 "quillon: no display found (DISPLAY and WAYLAND_DISPLAY are unset); run it "
                 "under a virtual display: xvfb-run -a %s\n",
                 argc > 0 ? argv[0] : "quillon");
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillon"));
  platform::InstallFontSubstitutes();
  frm_main window;
  window.show();
  return QApplication::exec();
}
