// What the viewer's command line asks for, and the start-up services that
// come before the window: Qt's own translations.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <string>
#include <vector>

class QCoreApplication;
class QTranslator;

namespace quillon {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;

struct StartOptions {
  bool help = false;
  bool version = false;
  // The folder or PDT file to start in, as the file system names it; empty
  // for the current directory.
  std::filesystem::path path;
  // Why the command line was not understood; empty when it was.
  QString error;
};

// Reads the arguments after the program's name, once Qt has taken its own
// options out: -h/--help, --version, "--" ends the options, and at most one
// path.
StartOptions ParseStartOptions(const std::vector<std::string>& args);

// Whether `args` (the whole argv after the program's name) asks for the help
// or the version, which need no display.
bool WantsHelpOrVersion(const QStringList& args);

// Whether `args` (the whole argv after the program's name) name a platform
// plugin or a display with Qt's -platform or -display option.
bool ChoosesDisplay(const QStringList& args);

// The usage lines, the help text and the version line, as printed.
QString UsageText();
QString HelpText();
QString VersionText();

// Installs Qt's own translations for `locale` (standard dialog buttons, the
// text box's menu), so they follow the desktop's language. The window's own
// texts are not translated. Returns the installed translator, owned by `app`,
// or null when Qt has no translation for that language.
QTranslator* InstallQtTranslations(QCoreApplication& app, const QLocale& locale);

}  // namespace quillon
