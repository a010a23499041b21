// ExitOnInterrupt on Windows: the console's control handler runs on a thread
// of its own, which may lock, print and remove files as any thread can.
// Ctrl-C exits with 130 as SIGINT does on POSIX systems; Ctrl-Break, closing
// the console, logging off and shutting down with 143, as SIGTERM.
#include <windows.h>

#include <cstdlib>
#include <utility>

#include "files/files.h"
#include "files/unfinished.h"

namespace files {
namespace {

std::function<void(int)>& Report() {
  static std::function<void(int)> report;
  return report;
}

BOOL WINAPI OnControl(DWORD event) {
  unfinished::RemoveAllAndStop();
  const int status = event == CTRL_C_EVENT ? 130 : 143;
  if (Report()) Report()(status);
  std::_Exit(status);
}

}  // namespace

void ExitOnInterrupt(std::function<void(int exit_status)> report) {
  Report() = std::move(report);
  SetConsoleCtrlHandler(OnControl, TRUE);
}

}  // namespace files
