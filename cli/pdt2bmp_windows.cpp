// pdt2bmp on Windows: the arguments come as UTF-16 and are handed on as
// UTF-8, and messages go out as UTF-8 to the console.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cli/convert.h"
#include "names/names.h"

namespace {

// Whether `handle` is a console that can show the progress bar, which moves
// the cursor with escape sequences.
bool IsConsoleWithEscapes(HANDLE handle) {
  DWORD mode = 0;
  if (!GetConsoleMode(handle, &mode)) return false;  // a file, a pipe or NUL
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Through the wide arguments, names reach the program whole even where the
  // manifest's UTF-8 code page is not honoured (before Windows 10 1903).
  std::vector<std::string> text;
  for (int k = 1; k < argc; ++k) text.push_back(names::PathBytes(std::filesystem::path(argv[k])));
  const std::vector<std::string_view> args(text.begin(), text.end());

  const UINT old_code_page = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  const int status =
      pdt2bmp::Run(args, stdout, stderr, IsConsoleWithEscapes(GetStdHandle(STD_ERROR_HANDLE)));
  std::fflush(stdout);
  std::fflush(stderr);
  if (old_code_page != 0) SetConsoleOutputCP(old_code_page);
  return status;
}
