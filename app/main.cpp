// Quillon: shows PDT pictures and saves them as BMP files.
#include <QApplication>
#include <QLocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/start_options.h"
#include "names/names.h"
#include "platform/window_metrics.h"
#include "viewer/frm_main.h"

namespace {

void Print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
  std::fflush(stream);
}

int Answer(const quillon::StartOptions& options) {
  if (options.help) {
    Print(stdout, quillon::UsageText() + QLatin1Char('\n') + quillon::HelpText());
  } else {
    Print(stdout, quillon::VersionText());
  }
  return quillon::kExitOk;
}

}  // namespace

int main(int argc, char* argv[]) {
  // The help and the version need no display.
  QStringList raw;
  for (int k = 1; k < argc; ++k) raw.push_back(QString::fromLocal8Bit(argv[k]));
  if (quillon::WantsHelpOrVersion(raw)) {
    const quillon::StartOptions options =
        quillon::ParseStartOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help || options.version) return Answer(options);
  }
  // Without a display Qt would abort; say what to do instead.
  if (!platform::DisplayAvailable() && !quillon::ChoosesDisplay(raw)) {
    std::fprintf(stderr,
                 "quillon: no display found (DISPLAY and WAYLAND_DISPLAY are unset); run it "
                 "under a virtual display: xvfb-run -a %s\n",
                 argc > 0 ? argv[0] : "quillon");
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillon"));
  // Qt has taken its own options (-platform, -style, ...) out of argv; the
  // rest are read as bytes, so that a path keeps its name exactly.
  const quillon::StartOptions options =
      quillon::ParseStartOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!options.error.isEmpty()) {
    Print(stderr, QStringLiteral("quillon: ") + options.error + QLatin1Char('\n') +
                      quillon::UsageText() +
                      QStringLiteral("Try 'quillon --help' for more information.\n"));
    return quillon::kExitUsage;
  }
  if (options.help || options.version) return Answer(options);
  quillon::InstallQtTranslations(app, QLocale());
  platform::InstallFontSubstitutes();
  frm_main window;
  if (!options.path.empty()) {
    const QString reason = window.OpenPath(options.path);
    if (!reason.isEmpty()) {
      Print(stderr, QStringLiteral("quillon: %1: %2\n")
                        .arg(QString::fromStdString(names::ReadablePath(options.path)), reason));
    }
  }
  window.show();
  return QApplication::exec();
}
