#include "app/start_options.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "names/names.h"

#ifndef QUILLON_VERSION
#define QUILLON_VERSION "unknown"
#endif

namespace quillon {

StartOptions ParseStartOptions(const std::vector<std::string>& args) {
  StartOptions options;
  bool operands_only = false;
  std::vector<std::string> operands;
  for (const std::string& arg : args) {
    if (operands_only || arg == "-" || !arg.starts_with('-')) {
      operands.push_back(arg);
    } else if (arg == "--") {
      operands_only = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    } else if (arg == "--version") {
      options.version = true;
    } else {
      options.error = QStringLiteral("unknown option '%1'")
                          .arg(QString::fromStdString(names::ReadableName(arg)));
      return options;
    }
  }
  if (operands.size() > 1) {
    options.error = QStringLiteral("more than one path given ('%1')")
                        .arg(QString::fromStdString(names::ReadableName(operands[1])));
  } else if (!operands.empty()) {
    options.path = operands.front();
  }
  return options;
}

bool WantsHelpOrVersion(const QStringList& args) {
  for (const QString& arg : args) {
    if (arg == QLatin1String("--")) return false;
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h") ||
        arg == QLatin1String("--version"))
      return true;
  }
  return false;
}

bool ChoosesDisplay(const QStringList& args) {
  for (qsizetype k = 0; k + 1 < args.size(); ++k) {
    const QString& arg = args[k];
    if (arg == QLatin1String("--")) return false;
    for (const char* option : {"-platform", "--platform", "-display", "--display"}) {
      if (arg == QLatin1String(option) && !args[k + 1].isEmpty()) return true;
    }
  }
  return false;
}

QString UsageText() {
  return QStringLiteral("usage: quillon [PATH]\n");
}

QString HelpText() {
  return QStringLiteral(
      "Shows PDT pictures and saves them as 32-bit BMP files.\n"
      "\n"
      "PATH may be a folder, where the lists start, or a PDT file, which is\n"
      "selected and shown at once. Without PATH the lists start in the current\n"
      "directory. A PATH that cannot be opened is reported on standard error and\n"
      "the lists start in the current directory.\n"
      "\n"
      "  -h, --help         show this help and exit\n"
      "      --version      show the version and exit\n"
      "\n"
      "Qt's own options (-platform, -display, -style, ...) are understood as well.\n");
}

QString VersionText() {
  return QStringLiteral("quillon (Quillon) " QUILLON_VERSION "\n");
}

QTranslator* InstallQtTranslations(QCoreApplication& app, const QLocale& locale) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

}  // namespace quillon
