// quillon-thumbnailer -s SIZE IN OUT: writes the thumbnail of a PDT picture
// as a PNG, as file managers ask for it (see quillon.thumbnailer).
#include <charconv>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "thumbnailer/thumbnail.h"

namespace {

constexpr const char* kUsage = "usage: quillon-thumbnailer -s SIZE IN.pdt OUT.png\n";

int Usage(const std::string& reason) {
  std::fprintf(stderr, "quillon-thumbnailer: %s\n%s", reason.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || std::string_view(argv[1]) != "-s") return Usage("expected -s SIZE IN OUT");
  const std::string_view text = argv[2];
  std::int32_t size = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
  if (ec != std::errc() || end != text.data() + text.size() || size < 1) {
    return Usage("bad size '" + std::string(text) + "' (a whole number from 1)");
  }
  std::string reason;
  try {
    reason = thumbnailer::WriteThumbnail(argv[3], argv[4], size);
  } catch (const std::bad_alloc&) {
    reason = "not enough memory for the picture";
  }
  if (!reason.empty()) {
    std::fprintf(stderr, "quillon-thumbnailer: %s: %s\n", argv[3], reason.c_str());
    return 1;
  }
  return 0;
}
