// quillon-thumbnailer -s SIZE IN OUT: writes the thumbnail of a PDT picture
// as a PNG, as file managers ask for it (see quillon.thumbnailer).
#include <charconv>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "files/files.h"
#include "names/names.h"
#include "thumbnailer/thumbnail.h"

#ifndef QUILLON_VERSION
#define QUILLON_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage = "usage: quillon-thumbnailer -s SIZE IN.pdt OUT.png\n";

constexpr const char* kHelp =
    "Writes the thumbnail of the PDT picture IN as the PNG file OUT, its longer side\n"
    "at most SIZE pixels, smoothly scaled down and never enlarged. A file already\n"
    "at OUT is replaced only by a complete thumbnail.\n"
    "\n"
    "  -s SIZE            the longest side of the thumbnail, a whole number from 1\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Exit status: 0 when the thumbnail was written, 1 when it could not be, 2 when\n"
    "the command line was not understood.\n";

int Usage(const std::string& reason) {
  std::fprintf(
      stderr, "quillon-thumbnailer: %s\n%sTry 'quillon-thumbnailer --help' for more information.\n",
      reason.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  for (const std::string_view arg : args) {
    if (arg == "--") break;
    if (arg == "-h" || arg == "--help") {
      std::printf("%s\n%s", kUsage, kHelp);
      return 0;
    }
    if (arg == "--version") {
      std::printf("quillon-thumbnailer (Quillon) %s\n", QUILLON_VERSION);
      return 0;
    }
  }
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string_view arg = args[k];
    const bool size_value = k == 1 && args[0] == "-s";
    if (arg.size() > 1 && arg[0] == '-' && arg != "-s" && !size_value) {
      return Usage("unknown option '" + std::string(arg) + "'");
    }
  }
  if (args.size() != 4 || args[0] != "-s") return Usage("expected -s SIZE IN OUT");
  const std::string_view text = args[1];
  std::int32_t size = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
  if (ec != std::errc() || end != text.data() + text.size() || size < 1) {
    return Usage("bad size '" + std::string(text) + "' (a whole number from 1)");
  }
  // A file manager stops a thumbnailer that takes too long; what it was
  // writing is removed.
  files::ExitOnInterrupt(nullptr);
  std::string reason;
  try {
    reason = thumbnailer::WriteThumbnail(argv[3], argv[4], size);
  } catch (const std::bad_alloc&) {
    reason = "not enough memory for the picture";
  }
  if (!reason.empty()) {
    std::fprintf(stderr, "quillon-thumbnailer: %s: %s\n", names::ReadablePath(argv[3]).c_str(),
                 reason.c_str());
    return 1;
  }
  return 0;
}
